#pragma once
// The machine's time zone and NTP settings, read and changed through short
// system commands (timedatectl, systemctl and the time-sync configuration file).

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class CommandRunner;

namespace manager {

class Clock : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList timezones READ timezones NOTIFY timezonesChanged)
    Q_PROPERTY(QString timezone READ timezone WRITE setTimezone NOTIFY timezoneChanged)
    Q_PROPERTY(QString ntpServer READ ntpServer WRITE setNtpServer NOTIFY ntpServerChanged)
    Q_PROPERTY(bool ntpEnabled READ ntpEnabled WRITE setNtpEnabled NOTIFY ntpEnabledChanged)
    Q_PROPERTY(bool ntpSynced READ ntpSynced NOTIFY ntpSyncedChanged)
    Q_PROPERTY(int refreshInterval READ refreshInterval WRITE setRefreshInterval NOTIFY ntpSyncedChanged)
public:
    static const QString ConfigFile;
    // Names the folder of the stand-ins for the machine's time services (local runs, tests):
    // the configuration is then the copy kept there, and the machine's file is left alone.
    static constexpr const char* StandInDirVariable = "LANE_TIME_DIR";
    // ConfigFile, or the stand-ins' copy when the variable above names their folder.
    static QString configFileInUse();

    // Runs the system's programs on the configuration file in use.
    explicit Clock(QObject* parent = nullptr);
    // Runs commands through runner (not owned) on the given configuration file.
    Clock(CommandRunner& runner, const QString& configFile, QObject* parent = nullptr);
    ~Clock() override;

    const QStringList& timezones() const { return m_timezones; }
    const QString& timezone() const { return m_timezone; }
    const QString& ntpServer() const { return m_ntpServer; }
    bool ntpEnabled() const { return m_ntpEnabled; }
    bool ntpSynced() const { return m_ntpSynced; }
    // Milliseconds, read and written alike; 0 while stopped.
    int refreshInterval() const { return m_timer.interval(); }

    void setTimezone(const QString& name);
    void setNtpEnabled(bool on);
    void setNtpServer(const QString& server);
    // Below 1 stops the periodic refresh; otherwise restarts it and refreshes at once.
    void setRefreshInterval(int msec);

    // Parsers of the commands' outputs; empty or false when the line is missing.
    static QString parseTimezone(const QString& status);
    static bool parseSynced(const QString& status);
    static bool parseNtpEnabled(const QString& status);
    static QString parseNtpServer(const QString& config);
    // Host names and addresses separated by single blanks, bounded; empty is valid too.
    static bool isValidNtpServer(const QString& server);

signals:
    void timezonesChanged();
    void timezoneChanged();
    void ntpServerChanged();
    void ntpEnabledChanged();
    void ntpSyncedChanged();

public slots:
    void ntpSync();
    void refresh();

private:
    void init();
    // The program's standard output on success; a null string (logged) on any failure.
    QString executeCmd(const QString& program, const QStringList& arguments, int msec = 1000);
    void refreshStatus();
    void refreshConfig();
    void writeNtpServer(const QString& server);
    void readTimezones();

    std::unique_ptr<CommandRunner> m_ownRunner;
    CommandRunner& m_runner;
    const QString m_configFile;
    QStringList m_timezones;
    QString m_timezone;
    QString m_ntpServer;
    bool m_ntpEnabled = false;
    bool m_ntpSynced = false;
    QTimer m_timer;
};

} // namespace manager
