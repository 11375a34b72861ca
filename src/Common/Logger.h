#pragma once
// The process's one message handler: formats every message with the active pattern,
// prefixes the seconds since start and writes the line to syslog, standard error or both.

#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace manager {

class LogClock;
class SyslogSink;

class Logger
{
public:
    // Verbosity; each value selects one set of logging filter rules.
    enum Level {
        Errors = 0, // critical and fatal only
        Warnings = 1,
        Info = 2, // the default
        Debug = 3,
        All = 4, // includes the toolkit's own "qt.*" categories
    };

    // The one instance; the first call creates it and installs the handler.
    static Logger* instance();

    void setSyslog(bool on);
    void setStderr(bool on);
    void setColor(bool on);
    void setLevel(Level level);
    // 0, 1, 3 and 4 select that level; anything else selects Info.
    void setLevel(int level);

    QMutex* getMutex();
    bool getSyslog() const;
    bool getStderr() const;
    double getStartTime() const;

    // Outside boundaries, swappable for tests. A new clock restarts the elapsed time.
    void setClock(std::unique_ptr<LogClock> clock);
    void setSyslogSink(std::unique_ptr<SyslogSink> sink);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();

    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);
    double elapsedSeconds() const;
    // To every sink that is on; the caller holds the lock.
    void writeLine(QtMsgType type, const QByteArray& text);
    void writePlain(QtMsgType type, const QString& message);

    static Logger* mInstance;

    QMutex m_mutex;
    bool m_syslog;
    bool m_stderr;
    std::unique_ptr<LogClock> m_clock;
    std::unique_ptr<SyslogSink> m_sink;
    double m_startTime;
};

} // namespace manager
