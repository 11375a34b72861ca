#include "PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool PrivateFile::prepare(const QString& fileName)
{
    // Its folder made first, as the settings library would.
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    const QByteArray path = QFile::encodeName(fileName);
    // Created by open() with the mode given, so it is never visible with a looser one.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    const bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    ::close(fd);
    return ok;
}

bool PrivateFile::tighten(const QString& fileName, bool* narrowed)
{
    if (narrowed)
        *narrowed = false;
    const QByteArray path = QFile::encodeName(fileName);
    struct stat st = {};
    if (::stat(path.constData(), &st) != 0)
        return false;
    // Only when needed: every chmod is reported to a watcher of the file as a change.
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return true;
    if (::chmod(path.constData(), st.st_mode & S_IRWXU) != 0)
        return false;
    if (narrowed)
        *narrowed = true;
    return true;
}

bool PrivateFile::write(const QString& fileName, const QByteArray& content)
{
    QFile file(fileName);
    if (prepare(fileName) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size() && file.flush()) {
        file.close();
        return true;
    }
    file.close();
    QFile::remove(fileName);
    return false;
}
