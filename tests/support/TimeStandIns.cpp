#include "TimeStandIns.h"

#include <QDir>
#include <QFile>

namespace testsupport {

QString timeStandInDir()
{
    return QStringLiteral(LANE_TIME_STAND_INS);
}

void useTimeStandIns(const QString& stateDir)
{
    const QString dir = timeStandInDir();
    const QString path = qEnvironmentVariable("PATH");
    if (!path.split(QDir::listSeparator()).startsWith(dir))
        qputenv("PATH", QFile::encodeName(dir + QDir::listSeparator() + path));
    qputenv("LANE_TIME_DIR", QFile::encodeName(stateDir));
}

} // namespace testsupport
