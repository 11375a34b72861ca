#include "Clock.h"

#include "CommandRunner.h"
#include "PeerText.h"

#include <QDebug>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace manager {

namespace {
const QString Prefix = QStringLiteral("[Clock] ");
constexpr int kMaxServerLength = 255;

QString capture(const QString& text, const QString& pattern)
{
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

// The command as a log line shows it, quoting what a reader could not split back.
QString commandText(const QString& program, const QStringList& arguments)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=@+,-]+$"));
    QStringList parts { program };
    for (const QString& argument : arguments)
        parts << (plain.match(argument).hasMatch() ? argument : QLatin1Char('\'') + argument + QLatin1Char('\''));
    return parts.join(QLatin1Char(' '));
}
} // namespace

const QString Clock::ConfigFile = QStringLiteral("/etc/systemd/timesyncd.conf");

QString Clock::configFileInUse()
{
    const QString standIns = qEnvironmentVariable(StandInDirVariable);
    return standIns.isEmpty() ? ConfigFile : QDir(standIns).absoluteFilePath(QStringLiteral("timesyncd.conf"));
}

Clock::Clock(QObject* parent)
    : QObject(parent)
    , m_ownRunner(new CommandRunner)
    , m_runner(*m_ownRunner)
    , m_configFile(configFileInUse())
{
    init();
}

Clock::Clock(CommandRunner& runner, const QString& configFile, QObject* parent)
    : QObject(parent)
    , m_runner(runner)
    , m_configFile(configFile)
{
    init();
}

Clock::~Clock() = default;

void Clock::init()
{
    connect(&m_timer, &QTimer::timeout, this, &Clock::refresh);
    m_timer.setInterval(10000);
    m_timer.setSingleShot(false);
    m_timer.start();
    refresh();
}

QString Clock::parseTimezone(const QString& status)
{
    return capture(status, QStringLiteral("Time zone:\\s(.+)\\s\\("));
}

bool Clock::parseSynced(const QString& status)
{
    return capture(status, QStringLiteral("System clock synchronized:\\s(.+)\\s")).contains(QLatin1String("yes"));
}

bool Clock::parseNtpEnabled(const QString& status)
{
    // Older systemd prints "systemd-timesyncd.service active: yes", newer "NTP service: active".
    const QString older = capture(status, QStringLiteral(".+\\.service active:\\s(.+)\\s"));
    if (!older.isNull())
        return older.contains(QLatin1String("yes"));
    return capture(status, QStringLiteral("NTP service:[ \\t]*([^\\n]*)")).trimmed() == QLatin1String("active");
}

QString Clock::parseNtpServer(const QString& config)
{
    return capture(config, QStringLiteral("NTP=(.+)"));
}

bool Clock::isValidNtpServer(const QString& server)
{
    // Anchored at the very end: "$" alone would let a closing line feed through.
    static const QRegularExpression servers(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9.:-]+( [A-Za-z0-9.:-]+)*")));
    return server.isEmpty() || (server.size() <= kMaxServerLength && servers.match(server).hasMatch());
}

void Clock::refresh()
{
    // A list that could not be read (at start, or since) is read again.
    if (m_timezones.isEmpty())
        readTimezones();
    refreshStatus();
    refreshConfig();
}

void Clock::setTimezone(const QString& name)
{
    if (name == m_timezone)
        return;
    if (m_timezones.isEmpty())
        readTimezones();
    // The name goes to timedatectl as an argument: only a zone it listed, never an option.
    if (name.isEmpty() || name.startsWith(QLatin1Char('-')) || !m_timezones.contains(name)) {
        qCritical().noquote().nospace() << Prefix << "ERROR: Unknown time zone : " << PeerText::forLog(name);
        return;
    }
    executeCmd(QStringLiteral("timedatectl"), { QStringLiteral("set-timezone"), name });
    refreshStatus();
}

void Clock::setNtpEnabled(bool on)
{
    if (on == m_ntpEnabled)
        return;
    qInfo().noquote().nospace() << Prefix << "Setting NTP : " << (on ? "enabled" : "disabled");
    executeCmd(QStringLiteral("timedatectl"),
        { QStringLiteral("set-ntp"), on ? QStringLiteral("true") : QStringLiteral("false") });
    refreshStatus();
}

void Clock::setNtpServer(const QString& server)
{
    if (server == m_ntpServer)
        return;
    // The text ends up in a sed script run on a system file: nothing but server names gets there.
    if (!isValidNtpServer(server)) {
        qCritical().noquote().nospace() << Prefix
                                        << "ERROR: Invalid NTP server (host names or addresses separated by single "
                                           "blanks, at most "
                                        << kMaxServerLength << " characters)";
        return;
    }
    qInfo().noquote().nospace() << Prefix << "Setting NTP server : " << PeerText::forLog(server);
    writeNtpServer(server);
    refreshConfig();
}

void Clock::ntpSync()
{
    qInfo().noquote().nospace() << Prefix << "Requesting NTP sync";
    setNtpEnabled(true);
    refresh();
}

void Clock::setRefreshInterval(int msec)
{
    if (msec < 1) {
        m_timer.stop();
        m_timer.setInterval(0);
        return;
    }
    m_timer.setInterval(msec);
    m_timer.setSingleShot(false);
    m_timer.start();
    refresh();
}

QString Clock::executeCmd(const QString& program, const QStringList& arguments, int msec)
{
    const CommandRunner::Result result = m_runner.run(program, arguments, msec);
    const QString command = commandText(program, arguments);
    switch (result.status) {
    case CommandRunner::Result::FailedToStart:
    case CommandRunner::Result::TimedOut:
        qCritical().noquote().nospace()
            << Prefix
            << QStringLiteral("ERROR: Could not execute '%1' : error=%2").arg(command, QString::number(result.error));
        return QString();
    case CommandRunner::Result::Crashed:
        qCritical().noquote().nospace() << Prefix << QStringLiteral("ERROR: Command crashed '%1'").arg(command);
        return QString();
    case CommandRunner::Result::Finished:
        break;
    }
    if (result.exitCode != 0) {
        qCritical().noquote().nospace() << Prefix
                                        << QStringLiteral("ERROR: Command failed '%1' : exitCode=%2 ")
                                               .arg(command, QString::number(result.exitCode));
        return QString();
    }
    const int nul = result.output.indexOf('\0');
    const QString output = QString::fromUtf8(nul < 0 ? result.output : result.output.left(nul));
    // Success with no output still differs from a failure for the callers that check.
    return output.isNull() ? QStringLiteral("") : output;
}

void Clock::refreshStatus()
{
    const QString status = executeCmd(QStringLiteral("timedatectl"), { QStringLiteral("status") });
    if (status.isEmpty())
        return;
    const QString timezone = parseTimezone(status);
    if (timezone != m_timezone) {
        qInfo().noquote().nospace() << Prefix << "Timezone changed : " << PeerText::forLog(timezone);
        m_timezone = timezone;
        emit timezoneChanged();
    }
    const bool synced = parseSynced(status);
    if (synced != m_ntpSynced) {
        qInfo().noquote().nospace() << Prefix << "NTP sync changed : " << (synced ? "synced" : "not synced");
        m_ntpSynced = synced;
        emit ntpSyncedChanged();
    }
    const bool enabled = parseNtpEnabled(status);
    if (enabled != m_ntpEnabled) {
        qInfo().noquote().nospace() << Prefix << "NTP status changed : " << (enabled ? "enabled" : "disabled");
        m_ntpEnabled = enabled;
        emit ntpEnabledChanged();
    }
}

void Clock::refreshConfig()
{
    const QString config = executeCmd(QStringLiteral("cat"), { m_configFile });
    if (config.isEmpty())
        return;
    const QString server = parseNtpServer(config);
    if (server != m_ntpServer) {
        qInfo().noquote().nospace() << Prefix << "NTP server changed : " << PeerText::forLog(server);
        m_ntpServer = server;
        emit ntpServerChanged();
    }
}

void Clock::writeNtpServer(const QString& server)
{
    // A private directory: a fixed name in /tmp could be a link planted by someone else.
    QTemporaryDir dir;
    if (!dir.isValid()) {
        qCritical().noquote().nospace() << Prefix << "ERROR: No temporary directory : " << dir.errorString();
        return;
    }
    const QString copy = dir.filePath(QStringLiteral("timesyncd.conf"));
    const QList<QPair<QString, QStringList>> edit {
        { QStringLiteral("cp"), { QStringLiteral("-f"), m_configFile, copy } },
        { QStringLiteral("sed"),
            { QStringLiteral("-i"), QStringLiteral("-E"), QStringLiteral("s/^#?NTP=.*/NTP=%1/").arg(server), copy } },
        { QStringLiteral("cp"), { QStringLiteral("-f"), copy, m_configFile } },
    };
    // A failed step must not let a stale or partial copy replace the configuration.
    for (const auto& step : edit) {
        if (executeCmd(step.first, step.second).isNull()) {
            qCritical().noquote().nospace() << Prefix << "ERROR: NTP server not changed";
            return;
        }
    }
    executeCmd(QStringLiteral("/bin/sync"), {});
    executeCmd(QStringLiteral("systemctl"), { QStringLiteral("restart"), QStringLiteral("systemd-timesyncd") });
}

void Clock::readTimezones()
{
    const QString list
        = executeCmd(QStringLiteral("timedatectl"), { QStringLiteral("--no-pager"), QStringLiteral("list-timezones") });
    // A failed or empty answer leaves the list empty, so that it is asked for again.
    const QStringList timezones = list.isEmpty() ? QStringList() : list.split(QLatin1Char('\n'));
    if (timezones == m_timezones)
        return;
    m_timezones = timezones;
    emit timezonesChanged();
}

} // namespace manager
