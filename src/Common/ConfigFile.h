#pragma once
// The settings store's INI file: read through the settings library, kept as a copy when the
// library skips lines of it, and written beside it, read back and synced before it is put in
// place; what a save cut short leaves is removed at start.

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

class ConfigFile
{
public:
    explicit ConfigFile(const QString& fileName);

    QString fileName() const;
    // The file a save replaces: through a link, link by link, to its target, there or not
    // yet, so that the link stays; its folder as the system finds it (links, then "..").
    QString savePath() const;

    // What the settings library makes of the file: its status and, when asked for, every
    // entry it took. An entry whose name it cannot write back counts as a skipped line.
    QSettings::Status parse(QVariantMap* entries);
    // Keeps the file as it is beside it, owner-only, for it has lines the settings library
    // skips and the next save drops; bytes some copy holds already are not kept twice.
    // False when no copy could be made: the file must not be written then.
    bool keepCopy();
    // Writes the entries as the new file; then they are what it holds. One that does not read
    // back as it is is left out with a warning and the rest written. One of the file's own,
    // written back as parse gave it, is written as the value in force from it instead (given
    // in inForce, invalid where none is), and the file is kept as a copy first. Returns why
    // the file was left as it was, or an empty text.
    QString write(QVariantMap* entries, const QVariantMap& inForce);
    // Removes what a save cut short left beside the file: the settings library's temporary
    // copies and the folders of a new text (they hold every setting, the PIN too).
    void removeSaveLeftovers();

    // Equal, or the very same value: a NaN, or a list holding one, equals nothing.
    static bool isSame(const QVariant& a, const QVariant& b);
    static QString statusText(QSettings::Status status);

private:
    // Whether one of the copies holds these bytes, whatever its name says of its time.
    bool isKept(const QByteArray& content) const;
    // One try of write: the keys that read back otherwise go to odd.
    QString writeBeside(const QString& target, const QVariantMap& entries, QStringList* odd);

    QString m_fileName;
    // Size and time of the file when the library last skipped lines of it, read in place.
    qint64 m_unreadableSize = -1;
    QDateTime m_unreadableTime;
};
