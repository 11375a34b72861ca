#include "Logger.h"

#include "LogClock.h"
#include "SyslogSink.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <syslog.h>

namespace manager {

namespace {

const char* const kPlainPattern
    = "%{if-fatal}%{function} at %{file}:%{line} (%{pid}:%{threadid}:%{qthreadptr}) - %{endif}%{message}";

const char* const kColorPattern = "%{if-category}[%{category}] %{endif}"
                                  "%{if-info}%{message}%{endif}"
                                  "%{if-warning}\033[33m%{message}\033[39m%{endif}"
                                  "%{if-debug}\033[35m%{message}\033[39m%{endif}"
                                  "%{if-critical}\033[31m%{message}\033[39m%{endif}"
                                  "%{if-fatal}%{function} at %{file}:%{line} (%{pid}:%{threadid}:%{qthreadptr}) - "
                                  "\033[31m%{message}\033[39m%{endif}";

const char* const kRules[] = {
    "*=true\n*.warning=false\n*.info=false\n*.debug=false\nqt.*=false",
    "*=true\n*.info=false\n*.debug=false\nqt.*=false",
    "*=true\n*.debug=false\nqt.*=false",
    "*=true\nqt.*=false",
    "*=true",
};

// Set while this thread holds the logger's lock: a message raised then (by the toolkit
// inside a setter, or by a sink) must not try to take the lock again.
thread_local bool t_holdingLock = false;

class HeldLock
{
public:
    explicit HeldLock(QMutex* mutex)
        : m_mutex(mutex)
    {
        m_mutex->lock();
        t_holdingLock = true;
    }
    ~HeldLock()
    {
        t_holdingLock = false;
        m_mutex->unlock();
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    QMutex* m_mutex;
};

QByteArray timePrefix(double seconds)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "[%9.03f]", seconds);
    return QByteArray(buffer);
}

// Syslog priority and level tag of a message type.
int syslogPriority(QtMsgType type, const char** tag)
{
    switch (type) {
    case QtDebugMsg:
        *tag = " [debug] ";
        return LOG_DEBUG;
    case QtWarningMsg:
        *tag = " [warning] ";
        return LOG_WARNING;
    case QtCriticalMsg:
        *tag = " [error] ";
        return LOG_CRIT;
    case QtFatalMsg:
        *tag = " [fatal] ";
        return LOG_ERR;
    case QtInfoMsg:
        break;
    }
    *tag = " ";
    return LOG_INFO;
}

void writeStderr(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

Logger* Logger::mInstance = nullptr;

Logger* Logger::instance()
{
    static std::once_flag once;
    std::call_once(once, [] { mInstance = new Logger(); });
    return mInstance;
}

Logger::Logger()
    : m_syslog(true)
    , m_stderr(false)
    , m_clock(new LogClock)
    , m_sink(new SyslogSink)
    , m_startTime(m_clock->millis())
{
    setColor(false);
    setLevel(Info);
    // Last, so no message reaches the handler before the instance is complete.
    qInstallMessageHandler(&Logger::handler);
}

void Logger::setSyslog(bool on)
{
    HeldLock lock(&m_mutex);
    m_syslog = on;
}

void Logger::setStderr(bool on)
{
    HeldLock lock(&m_mutex);
    m_stderr = on;
}

void Logger::setColor(bool on)
{
    HeldLock lock(&m_mutex);
    qSetMessagePattern(QString::fromLatin1(on ? kColorPattern : kPlainPattern));
}

void Logger::setLevel(Level level)
{
    if (level < Errors || level > All)
        return;
    HeldLock lock(&m_mutex);
    QLoggingCategory::setFilterRules(QString::fromLatin1(kRules[level]));
}

void Logger::setLevel(int level)
{
    switch (level) {
    case Errors:
    case Warnings:
    case Debug:
    case All:
        setLevel(static_cast<Level>(level));
        break;
    default:
        setLevel(Info);
        break;
    }
}

QMutex* Logger::getMutex()
{
    return &m_mutex;
}

bool Logger::getSyslog() const
{
    return m_syslog;
}

bool Logger::getStderr() const
{
    return m_stderr;
}

double Logger::getStartTime() const
{
    return m_startTime;
}

void Logger::setClock(std::unique_ptr<LogClock> clock)
{
    if (!clock)
        return;
    HeldLock lock(&m_mutex);
    m_clock = std::move(clock);
    m_startTime = m_clock->millis();
}

void Logger::setSyslogSink(std::unique_ptr<SyslogSink> sink)
{
    if (!sink)
        return;
    HeldLock lock(&m_mutex);
    m_sink = std::move(sink);
}

double Logger::elapsedSeconds() const
{
    return (m_clock->millis() - m_startTime) / 1000.0;
}

void Logger::writeLine(QtMsgType type, const QByteArray& text)
{
    const QByteArray prefix = timePrefix(elapsedSeconds());
    if (m_syslog) {
        const char* tag = nullptr;
        const int priority = syslogPriority(type, &tag);
        m_sink->write(priority, prefix + tag + text);
    }
    if (m_stderr)
        writeStderr(prefix + ' ' + text + '\n');
}

void Logger::writePlain(QtMsgType type, const QString& message)
{
    // This thread already holds the lock, so nothing can change under us; the
    // toolkit's formatter may be the one holding its own lock, so it is not used.
    // The line still goes where every other line goes: on the terminal that is syslog only.
    writeLine(type, message.toUtf8());
    if (type == QtFatalMsg)
        std::abort();
}

void Logger::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Logger* self = instance();
    if (t_holdingLock) {
        self->writePlain(type, message);
        return;
    }

    HeldLock lock(&self->m_mutex);
    self->writeLine(type, qFormatLogMessage(type, context, message).toUtf8());

    if (type == QtFatalMsg)
        std::abort(); // the lock stays held: no other thread writes after a fatal line
}

} // namespace manager
