#pragma once
// The settings that no remote party may change: the maintenance PIN, the broker
// credentials, the identity settings, the back-office certificate paths and TLS switch.

#include <QString>
#include <QStringList>

class ProtectedSettings
{
public:
    // The protected keys, as group and name joined by a slash.
    static const QStringList& keys();
    // True when key, written the way the settings file would store it, is protected.
    static bool contains(const QString& key);
    // The key as the settings file stores it: no leading, trailing or repeated slashes.
    static QString normalized(const QString& key);
};
