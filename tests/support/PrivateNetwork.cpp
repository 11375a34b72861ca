#include "PrivateNetwork.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
bool writeFile(const char* path, const QByteArray& text)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

bool enterPrivateNetwork(QString* error)
{
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    // A user namespace would leave the broker's service user unmapped: as root it is not needed.
    const int flags = uid == 0 ? CLONE_NEWNET : CLONE_NEWNET | CLONE_NEWUSER;
    if (unshare(flags) != 0) {
        *error = systemError("unshare");
        return false;
    }
    if (uid != 0
        && (!writeFile("/proc/self/setgroups", "deny")
            || !writeFile("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1")
            || !writeFile("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1"))) {
        *error = QStringLiteral("cannot map the user into the namespace");
        return false;
    }
    // A new network namespace starts with "lo" down.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = systemError("socket");
        return false;
    }
    ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (!up)
        *error = systemError("bringing lo up");
    close(fd);
    return up;
}

} // namespace testsupport
