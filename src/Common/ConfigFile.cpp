#include "ConfigFile.h"

#include "PeerText.h"
#include "PrivateFile.h"

#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name the settings library writes as it reads it. It reads "x/" in a group, or "a//b",
// but writes them as other names, or as a line it then skips.
bool isLibraryKey(const QString& key)
{
    return !key.isEmpty() && !key.startsWith(QLatin1Char('/')) && !key.endsWith(QLatin1Char('/'))
        && !key.contains(QLatin1String("//"));
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isNoRoom(int error)
{
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

// Room for size bytes beside the file, tried before the settings library writes: the
// library only says that a write failed, this says why (no space left, a file-size limit).
bool reserveRoom(const QString& path, qint64 size, int* error)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    *error = ::posix_fallocate(fd, 0, qMax<qint64>(size, 1));
    ::close(fd);
    ::unlink(name.constData());
    return *error == 0;
}

// Whether as much again as the file holds, and at least 64 KiB, fits past its end: a write
// the library could not finish for want of room (its escapes make the text longer than
// reserved) left next to none, and the library does not say so. The error, or 0.
int roomPast(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return errno;
    struct stat st = {};
    const int error
        = ::fstat(fd, &st) == 0 ? ::posix_fallocate(fd, st.st_size, qMax<off_t>(st.st_size, 64 * 1024)) : errno;
    ::close(fd);
    return error;
}

// What the settings library gives back of one entry written alone, in a file of its own
// under the folder; false when it gives nothing back.
bool readBackAlone(const QString& folder, int n, const QString& key, const QVariant& value, QVariant* back)
{
    const QString written = QStringLiteral("%1/odd-%2.conf").arg(folder).arg(n);
    const QString check = QStringLiteral("%1/odd-%2.check").arg(folder).arg(n);
    {
        QSettings settings(written, QSettings::defaultFormat());
        settings.setValue(key, value);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return false;
    }
    // Under another name: the library answers a known one from its cache.
    if (std::rename(QFile::encodeName(written).constData(), QFile::encodeName(check).constData()) != 0)
        return false;
    const QSettings settings(check, QSettings::defaultFormat());
    if (!settings.contains(key) || settings.status() != QSettings::NoError)
        return false;
    *back = settings.value(key);
    return true;
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The folder as the system finds it: each link followed before the ".." after it. Folders
// not there yet are named under the part that is.
QString resolvedFolder(const QString& folder)
{
    char real[PATH_MAX];
    if (::realpath(QFile::encodeName(folder).constData(), real))
        return QFile::decodeName(real);
    const int slash = folder.lastIndexOf(QLatin1Char('/'));
    const QString name = folder.mid(slash + 1);
    if (errno != ENOENT || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return folder; // the system cannot find it either
    return joined(resolvedFolder(slash < 0 ? QStringLiteral(".") : folder.left(qMax(slash, 1))), name);
}

// Owner-only and on the disk before it replaces anything.
bool syncFile(const QString& path, int* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && ::fsync(fd) == 0;
    *error = errno;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// So that a rename survives a power cut.
void syncFolder(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A folder of the process's own user, not a link; its mode, or -1.
int ownFolderMode(const QString& path)
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return -1;
    return int(st.st_mode & 07777);
}

// A folder a save made: the process's own, owner-only, holding nothing but files a save
// puts there (the settings library's among them). Anything else is someone's.
bool isSaveFolder(const QString& path)
{
    if (ownFolderMode(path) != S_IRWXU)
        return false;
    static const QRegularExpression saveFile(
        QStringLiteral("^(room|check\\.conf|odd-\\d+\\.check|(new|odd-\\d+)\\.conf(\\.lock|\\.[A-Za-z]{6})?)$"));
    const QFileInfoList entries
        = QDir(path).entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !entry.isFile() || !saveFile.match(entry.fileName()).hasMatch())
            return false;
    }
    return true;
}

// The bytes the value is streamed as; empty for a type that cannot be.
QByteArray streamed(const QVariant& value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    if (!value.isValid() || !QMetaType::save(stream, value.userType(), value.constData()))
        return QByteArray();
    return bytes;
}

} // namespace

ConfigFile::ConfigFile(const QString& fileName)
    : m_fileName(fileName)
{
}

QString ConfigFile::fileName() const
{
    return m_fileName;
}

QString ConfigFile::savePath() const
{
    QString path = m_fileName;
    // As the system follows them: at most 40 links; a loop is left for the write to fail on.
    for (int links = 0;; ++links) {
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        const QString folder = resolvedFolder(slash < 0 ? QStringLiteral(".") : path.left(qMax(slash, 1)));
        path = joined(folder, path.mid(slash + 1));
        char target[PATH_MAX];
        const ssize_t size = links < 40 ? ::readlink(QFile::encodeName(path).constData(), target, sizeof target) : 0;
        if (size <= 0 || size >= ssize_t(sizeof target))
            return path;
        const QString next = QFile::decodeName(QByteArray(target, int(size)));
        path = next.startsWith(QLatin1Char('/')) ? next : joined(folder, next); // from the link's own folder
    }
}

QSettings::Status ConfigFile::parse(QVariantMap* entries)
{
    // The library caches a parsed file by path, size and modification time, so an edit
    // that keeps the size within one clock tick would go unseen. It is read through a link
    // under a path never used before; the link holds no setting, so no copy of a password
    // leaves the file's folder. Without a link the file is read as it is.
    QTemporaryDir linkFolder(QDir(QDir::tempPath()).filePath(QStringLiteral("config-XXXXXX")));
    QString readPath = m_fileName;
    if (linkFolder.isValid()) {
        const QString link = linkFolder.filePath(QStringLiteral("config.ini"));
        if (QFile::link(QFileInfo(m_fileName).absoluteFilePath(), link))
            readPath = link;
    }
    const QSettings settings(readPath, QSettings::defaultFormat());
    const QStringList keys = settings.allKeys(); // parsed on first use: the status comes after
    QSettings::Status status = settings.status();
    if (readPath == m_fileName) {
        // From its cache the library answers without the format error it found before.
        const QFileInfo file(m_fileName);
        if (status == QSettings::FormatError) {
            m_unreadableSize = file.size();
            m_unreadableTime = file.lastModified();
        } else if (file.size() == m_unreadableSize && file.lastModified() == m_unreadableTime) {
            status = QSettings::FormatError;
        }
    }
    for (const QString& key : keys) {
        // Read, but written back as another name: the next save drops it, as a line skipped.
        if (!isLibraryKey(key)) {
            if (status == QSettings::NoError)
                status = QSettings::FormatError;
            continue;
        }
        if (entries)
            entries->insert(key, settings.value(key));
    }
    return status;
}

bool ConfigFile::keepCopy()
{
    QFile file(m_fileName);
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const bool read = file.error() == QFileDevice::NoError;
    if (read && isKept(content))
        return true;
    const QString name = savePath() + QStringLiteral(".unreadable-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'hhmmss.zzz'Z'"));
    QString copy = name;
    for (int n = 1; QFileInfo::exists(copy) || QFileInfo(copy).isSymLink(); ++n)
        copy = name + QLatin1Char('-') + QString::number(n); // another copy of the same millisecond stays
    // The next save drops the lines the library skipped: the operator's text stays here.
    if (!read || !PrivateFile::write(copy, content)) {
        qCritical().noquote().nospace() << "[Config] ERROR: the settings library skips lines of " << m_fileName
                                        << " and no copy of it could be kept; it is not written";
        return false;
    }
    qCritical().noquote().nospace() << "[Config] ERROR: the settings library skips lines of " << m_fileName
                                    << "; kept as it was in " << copy;
    return true;
}

bool ConfigFile::isKept(const QByteArray& content) const
{
    const QFileInfo file(savePath());
    const QDir folder = file.absoluteDir();
    const QFileInfoList copies = folder.entryInfoList(
        { file.fileName() + QStringLiteral(".unreadable-*") }, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& copy : copies) {
        if (copy.size() != content.size())
            continue;
        QFile kept(copy.filePath());
        if (kept.open(QIODevice::ReadOnly) && kept.readAll() == content)
            return true;
    }
    return false;
}

QString ConfigFile::write(QVariantMap* entries, const QVariantMap& inForce)
{
    for (auto it = entries->begin(); it != entries->end();) {
        if (isLibraryKey(it.key())) {
            ++it;
            continue;
        }
        qWarning().noquote().nospace() << "[Config] WARN: " << PeerText::forLog(it.key()) << " is left out of "
                                       << m_fileName << ": the settings library cannot read that name back";
        it = entries->erase(it);
    }
    const QString target = savePath();
    // A file its owner made read-only stays as it is, though a rename could replace it.
    if (::faccessat(AT_FDCWD, QFile::encodeName(target).constData(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        return ConfigFile::statusText(QSettings::AccessError) + QStringLiteral(": ") + systemError(errno);
    // The folder of a link's target may not be there yet (its partition not mounted at the first start).
    QDir().mkpath(QFileInfo(target).absolutePath());

    QStringList odd;
    QString why = writeBeside(target, *entries, &odd);
    // One entry does not stop the others. The file's own is written as the value in force from
    // it, so that a restart finds that value; should that not read back either, it is left out.
    for (int tries = 1; why.isEmpty() && !odd.isEmpty(); ++tries) {
        if (tries == 3)
            return PeerText::forLog(odd.first()) + QStringLiteral(" did not read back as it is");
        bool own = false;
        for (const QString& key : qAsConst(odd)) {
            const QVariant value = tries == 1 ? inForce.value(key) : QVariant();
            own = own || inForce.contains(key);
            if (value.isValid()) {
                qWarning().noquote().nospace()
                    << "[Config] WARN: " << PeerText::forLog(key) << " is written to " << m_fileName
                    << " as the value in force: as the file holds it, it does not read back as it is";
                entries->insert(key, value);
            } else {
                qWarning().noquote().nospace() << "[Config] WARN: " << PeerText::forLog(key) << " is left out of "
                                               << m_fileName << ": its value does not read back as it is";
                entries->remove(key);
            }
        }
        // The operator's line is then in the copy only.
        if (own && !keepCopy())
            return QStringLiteral("no copy of it could be kept");
        odd.clear();
        why = writeBeside(target, *entries, &odd);
    }
    return why;
}

QString ConfigFile::writeBeside(const QString& target, const QVariantMap& entries, QStringList* odd)
{
    qint64 size = 0;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        size += it.key().toUtf8().size() + it.value().toString().toUtf8().size() + 2;
    const auto noRoomOr = [](const QString& path, const QString& why) {
        const int error = roomPast(path);
        return isNoRoom(error) ? QStringLiteral("no room for it: ") + systemError(error) : why;
    };

    // Everything of the new text stays in a folder of the owner's only, removed on return
    // or, after a crash, at the next start.
    const QTemporaryDir folder(target + QStringLiteral(".save-XXXXXX"));
    if (!folder.isValid())
        return QStringLiteral("no folder for the new text beside it: ") + folder.errorString();
    int error = 0;
    if (!reserveRoom(folder.filePath(QStringLiteral("room")), size, &error))
        return QStringLiteral("no room for it: ") + systemError(error);
    const QString written = folder.filePath(QStringLiteral("new.conf"));
    PrivateFile::prepare(written);
    {
        QSettings settings(written, QSettings::defaultFormat());
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            settings.setValue(it.key(), it.value());
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return noRoomOr(
                written, QStringLiteral("the settings library could not write it: ") + statusText(settings.status()));
    }
    // Read back under a name the library has not seen: a known one it answers from its cache.
    const QString check = folder.filePath(QStringLiteral("check.conf"));
    if (std::rename(QFile::encodeName(written).constData(), QFile::encodeName(check).constData()) != 0)
        return QStringLiteral("could not read it back: ") + systemError(errno);
    QVariantMap differ;
    {
        const QSettings back(check, QSettings::defaultFormat());
        const QStringList keys = back.allKeys();
        if (back.status() != QSettings::NoError)
            return noRoomOr(check, QStringLiteral("it read back with a ") + statusText(back.status()));
        const QSet<QString> found(keys.cbegin(), keys.cend());
        for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
            if (!found.contains(it.key()))
                return noRoomOr(check, PeerText::forLog(it.key()) + QStringLiteral(" did not read back as it is"));
            const QVariant value = back.value(it.key());
            if (!isSame(value, it.value()))
                differ.insert(it.key(), value);
        }
    }
    // A value the library gives back otherwise even when written alone is odd; anything else
    // was cut short, for want of room as a rule (the library does not say so).
    for (auto it = differ.cbegin(); it != differ.cend(); ++it) {
        QVariant alone;
        if (!readBackAlone(folder.path(), odd->size() + 1, it.key(), entries.value(it.key()), &alone)
            || !isSame(alone, it.value())) {
            odd->clear();
            return noRoomOr(check, PeerText::forLog(it.key()) + QStringLiteral(" did not read back as it is"));
        }
        odd->append(it.key());
    }
    if (!odd->isEmpty())
        return QString();
    if (!syncFile(check, &error))
        return QStringLiteral("could not sync it: ") + systemError(error);
    if (std::rename(QFile::encodeName(check).constData(), QFile::encodeName(target).constData()) != 0)
        return QStringLiteral("could not put it in place: ") + systemError(errno);
    syncFolder(QFileInfo(target).absolutePath());
    return QString();
}

void ConfigFile::removeSaveLeftovers()
{
    const QFileInfo file(savePath());
    // The library's temporary copy is named after the file, a dot and six random letters,
    // nearly always of both cases: a name of one case ("gui.conf.backup") is more likely
    // someone's copy, and so is anything else ("gui.conf.unreadable-..."). A save's own
    // folder is named after the file, ".save-" and six random letters.
    const QString name = QLatin1Char('^') + QRegularExpression::escape(file.fileName());
    const QRegularExpression temporary(name + QStringLiteral("\\.(?=[A-Za-z]*[a-z])(?=[A-Za-z]*[A-Z])[A-Za-z]{6}$"));
    const QRegularExpression ownFolder(name + QStringLiteral("\\.save-[A-Za-z]{6}$"));
    const QDir folder = file.absoluteDir();
    const QFileInfoList entries
        = folder.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        const QString path = entry.filePath();
        bool removed = false;
        if (!entry.isDir()) {
            if (!temporary.match(entry.fileName()).hasMatch())
                continue;
            removed = QFile::remove(path);
        } else if (!ownFolder.match(entry.fileName()).hasMatch() || ownFolderMode(path) < 0) {
            continue;
        } else if (isSaveFolder(path)) {
            removed = QDir(path).removeRecursively();
        } else {
            // Empty, it is a save's whatever its mode: one cut short between the library's
            // making it (0777 less the umask) and making it owner-only leaves it so. A folder
            // holding anything else is someone's.
            removed = ::rmdir(QFile::encodeName(path).constData()) == 0;
            if (!removed && (errno == ENOTEMPTY || errno == EEXIST))
                continue;
        }
        if (removed)
            qWarning().noquote().nospace() << "[Config] WARN: removed " << path << ", left by a save cut short";
        else
            qWarning().noquote().nospace()
                << "[Config] WARN: could not remove " << path << ", left by a save cut short";
    }
}

bool ConfigFile::isSame(const QVariant& a, const QVariant& b)
{
    if (a == b)
        return true;
    if (a.userType() != b.userType())
        return false;
    const QByteArray bytes = streamed(a);
    return !bytes.isEmpty() && bytes == streamed(b);
}

QString ConfigFile::statusText(QSettings::Status status)
{
    switch (status) {
    case QSettings::NoError:
        return QStringLiteral("no error");
    case QSettings::AccessError:
        return QStringLiteral("access error");
    case QSettings::FormatError:
        return QStringLiteral("format error");
    }
    return QStringLiteral("unknown error");
}
