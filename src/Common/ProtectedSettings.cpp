#include "ProtectedSettings.h"

#include <QRegularExpression>

const QStringList& ProtectedSettings::keys()
{
    static const QStringList list {
        QStringLiteral("gui/settingsPin"),
        QStringLiteral("mqtt/username"),
        QStringLiteral("mqtt/password"),
        QStringLiteral("terminal/deviceId"),
        QStringLiteral("terminal/customsId"),
        QStringLiteral("terminal/locationId"),
        QStringLiteral("card-bo/rootCA"),
        QStringLiteral("card-bo/pubCert"),
        QStringLiteral("card-bo/privKey"),
        QStringLiteral("card-bo/ignoreSslErrors"),
    };
    return list;
}

QString ProtectedSettings::normalized(const QString& key)
{
    // The INI writer folds "a//b" and "/a/b/" into "a/b": so must the check, or a
    // crafted spelling would reach the protected entry. Backslashes count as slashes.
    static const QRegularExpression slashes(QStringLiteral("[/\\\\]+"));
    QString result = key.trimmed();
    result.replace(slashes, QStringLiteral("/"));
    while (result.startsWith(QLatin1Char('/')))
        result.remove(0, 1);
    while (result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

bool ProtectedSettings::contains(const QString& key)
{
    return keys().contains(normalized(key));
}
