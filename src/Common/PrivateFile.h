#pragma once
// Files that hold secrets (settings, the database, the event log, reports) are readable
// and writable by their owner only, whatever the umask.

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
};
