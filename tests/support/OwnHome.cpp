#include "OwnHome.h"

#include <QDir>
#include <QFile>

namespace testsupport {

void useOwnHome(const QString& dir)
{
    QDir().mkpath(dir);
    qputenv("HOME", QFile::encodeName(dir));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir + QStringLiteral("/.config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir + QStringLiteral("/.cache")));
}

} // namespace testsupport
