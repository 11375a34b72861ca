#pragma once
// Where the logger's syslog lines go: the system's syslog, swappable so tests can
// capture priority and text.

#include <QByteArray>

namespace manager {

class SyslogSink
{
public:
    SyslogSink() = default;
    virtual ~SyslogSink();
    SyslogSink(const SyslogSink&) = delete;
    SyslogSink& operator=(const SyslogSink&) = delete;

    // Sends one finished line. The line is always an argument, never the format,
    // so a '%' in a message is written as it is.
    virtual void write(int priority, const QByteArray& line);
};

} // namespace manager
