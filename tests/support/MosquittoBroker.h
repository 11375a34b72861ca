#pragma once
// A real mosquitto broker on a free loopback port, owned by one test.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class MosquittoBroker
{
public:
    // extraConfig lines are appended to the generated configuration
    // (password_file, acl_file, ...); files may be written into dir() first.
    explicit MosquittoBroker(const QStringList& extraConfig = {});
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // More configuration lines, used from the next start on.
    void addConfig(const QStringList& lines) { m_extraConfig << lines; }
    // Makes the broker refuse (SUBACK 0x80) subscriptions matching any of the
    // patterns, through its dynamic security plugin; false when it cannot.
    bool denySubscriptions(const QStringList& patterns);
    // Requires a user name and password from every client; false on failure.
    bool requireLogin(const QString& user, const QString& password);

    // Log types written to stderr from the next start on (default "all");
    // a long run keeps them few so the log does not grow with every message.
    void setLogTypes(const QStringList& types) { m_logTypes = types; }

    // Starts the broker and waits until it accepts connections; false on failure.
    // After stop() or kill() it starts again on the same port.
    bool start(int timeoutMs = 5000);
    // Terminates the broker (SIGTERM) and waits for it.
    void stop();
    // Kills the broker at once (SIGKILL): clients see a lost connection.
    void kill();
    // Freezes and thaws the broker process (SIGSTOP / SIGCONT).
    void pause();
    void resume();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString dir() const { return m_dir.path(); }
    // Everything the broker wrote to stderr so far.
    QString log();

private:
    QTemporaryDir m_dir;
    QStringList m_extraConfig;
    QStringList m_logTypes { QStringLiteral("all") };
    quint16 m_port;
    QProcess m_process;
    QString m_log;
};
