#include "ProgramLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace testsupport {

QString programIn(const QString& program, const QString& dir)
{
    const QString path = QDir(dir).filePath(QFileInfo(program).fileName());
    if (QFileInfo::exists(path))
        return path;
    if (::link(QFile::encodeName(program).constData(), QFile::encodeName(path).constData()) == 0)
        return path;
    return QFile::copy(program, path) ? path : QString();
}

} // namespace testsupport
