#pragma once
// One simulated camera recognition app: answers the trigger on its own address
// and pushes a reading back to the terminal's listener from that address, with
// the faults a test asks for. Every trigger and push goes to the journal.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class QTcpServer;
class QTcpSocket;

class SimCamera : public QObject
{
    Q_OBJECT
public:
    // How the trigger is answered. Huge and Stream send a body that does not end (up to
    // StreamCapBytes), Huge announcing 8 GB in its Content-Length, Stream no length at all.
    enum class Reply { Ok, Auth, NotFound, ServerError, Silent, Refused, Close, Huge, Stream };
    // Where an unending body stops, so a client that keeps it all cannot take the machine down.
    static constexpr qint64 StreamCapBytes = 512LL * 1024 * 1024;
    // What is pushed after an accepted trigger.
    enum class Push {
        Normal,
        Early,
        None,
        Missing,
        Array,
        Garbage,
        Twice,
        NoPush,
        Stray,
        Split,
        Heartbeat,
        Forged,
        Long
    };
    // The reading of a Forged push: the value, a terminal's erase-line escape, a line break and what looks
    // like a log line of the terminal.
    static QString forgedValue(const QString& value);
    // The length of the reading of a Long push.
    static constexpr int LongValueBytes = 64 * 1024;

    SimCamera(const QHostAddress& address, const QString& role, QObject* parent = nullptr);
    // Stops the bodies still being sent.
    ~SimCamera() override;

    // Listens on the camera's address (not in mode Refused, which leaves the port closed).
    bool start(quint16 port, QString* error);

    const QString& role() const { return m_role; }
    QHostAddress address() const { return m_address; }
    // "alpr…" cameras read plates; the others container codes.
    bool readsPlates() const { return m_role.startsWith(QLatin1String("alpr")); }

    static bool parseReply(const QString& text, Reply* reply);
    static bool parsePush(const QString& text, Push* push);
    static QStringList replyNames();
    static QStringList pushNames();

    void setReply(Reply reply);
    void setPush(Push push) { m_push = push; }
    // The plate or container code of the next pushes.
    void setValue(const QString& value) { m_value = value; }
    const QString& value() const { return m_value; }
    void setPushDelay(int msec) { m_pushDelayMsec = msec; }
    void setCredentials(const QString& user, const QString& password);
    void setPushTarget(const QHostAddress& address, quint16 port);
    // The address a stray push comes from.
    void setStrayAddress(const QHostAddress& address) { m_strayAddress = address; }
    // Pushes scheduled or on their way.
    int pushesPending() const { return m_pushesPending; }

    QByteArray dataBody(const QString& id, const QString& value) const;
    QByteArray heartbeatBody() const;
    // One push to the target; done(status) gets the listener's status code, 0 on failure.
    void push(const QString& path, const QByteArray& body, const QHostAddress& from, bool split = false,
        const std::function<void(int)>& done = {});

signals:
    void journaled(QJsonObject entry);

private:
    struct Connection
    {
        QByteArray data;
        bool answered = false;
    };

    void onNewConnection();
    void onTrigger(QTcpSocket* socket, const QByteArray& head);
    void answer(QTcpSocket* socket, int status, const QByteArray& extraHeaders = {});
    // A 200 whose body goes on as long as the terminal reads it.
    void stream(QTcpSocket* socket, bool announced);
    static void sendEndlessly(int fd, const QByteArray& head, const std::atomic<bool>* stop);
    void pushAfterTrigger(const QString& id);
    void journal(QJsonObject entry);

    QHostAddress m_address;
    QString m_role;
    QTcpServer* m_server;
    quint16 m_port = 0;
    Reply m_reply = Reply::Ok;
    Push m_push = Push::Normal;
    QString m_value;
    int m_pushDelayMsec = 50;
    QString m_user = QStringLiteral("zent");
    QString m_password = QStringLiteral("plou");
    QHostAddress m_targetAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 m_targetPort = 8000;
    QHostAddress m_strayAddress = QHostAddress(QStringLiteral("127.0.0.99"));
    QHash<QTcpSocket*, Connection> m_connections;
    int m_pushesPending = 0;
    std::atomic<bool> m_stopStreams { false };
    std::vector<std::thread> m_streams;
};
