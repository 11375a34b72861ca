#pragma once
// Files that hold secrets (settings, the database, the event log, reports) are readable
// and writable by their owner only, whatever the umask.

#include <QByteArray>
#include <QFileDevice>
#include <QString>

class PrivateFile
{
public:
    static constexpr QFileDevice::Permissions Permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

    // Creates the file (and its folder) empty with those permissions when it is missing, and tightens an
    // existing one. Writers that keep an existing file's mode (the settings library,
    // SQLite, QSaveFile) then write it with them too. False when neither could be done.
    static bool prepare(const QString& fileName);
    // Takes the group's and others' rights off an existing file that someone else made
    // (an installer's 0644); never creates one. narrowed tells whether it had any. False
    // when the file is missing or its mode could not be changed.
    static bool tighten(const QString& fileName, bool* narrowed = nullptr);
    // Writes a new file whole with those permissions from the start; a write that fails
    // leaves no file behind. False when it could not be written whole.
    static bool write(const QString& fileName, const QByteArray& content);
};
