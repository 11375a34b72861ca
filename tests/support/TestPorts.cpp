#include "TestPorts.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Below the kernel's ephemeral range (see ip_local_port_range): no outgoing connection of a
// test running beside this one can take a port handed out here between its check and its use.
constexpr quint16 FirstPort = 20000;
constexpr quint16 PortCount = 12000;

// A port is this process's while it holds the lock on its file; the lock goes with the process.
bool claim(quint16 port)
{
    static const QString dir = [] {
        const QString path = QDir::tempPath() + QStringLiteral("/lane-test-ports");
        QDir().mkpath(path);
        return path;
    }();
    const QByteArray path = QFile::encodeName(QStringLiteral("%1/%2").arg(dir).arg(port));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return true; // no lock to be had: the bind check alone decides
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    return true; // kept open, and so locked, until the process ends
}

} // namespace

quint16 freePort()
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = static_cast<quint16>(FirstPort + QRandomGenerator::global()->bounded(PortCount));
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, port) && claim(port))
            return port;
    }
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("no free loopback port: %s", qPrintable(server.errorString()));
    return server.serverPort();
}

} // namespace testsupport
