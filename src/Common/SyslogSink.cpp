#include "SyslogSink.h"

#include <syslog.h>

namespace manager {

SyslogSink::~SyslogSink() = default;

void SyslogSink::write(int priority, const QByteArray& line)
{
    // No openlog: the system's default identity (program name) and facility (user) apply.
    ::syslog(priority, "%s", line.constData());
}

} // namespace manager
