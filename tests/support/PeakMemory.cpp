#include "PeakMemory.h"

#include <QByteArray>
#include <QFile>
#include <QList>

namespace testsupport {

namespace {

// One "Name:   1234 kB" line of /proc/self/status, in KiB; -1 when unknown.
qint64 statusKiB(const QByteArray& name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

bool resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && clear.write("5") == 1;
}

qint64 peakMemoryKiB()
{
    return statusKiB("VmHWM");
}

qint64 residentMemoryKiB()
{
    return statusKiB("VmRSS");
}

} // namespace testsupport
