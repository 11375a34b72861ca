#pragma once
// What the simulated reader and dispenser services share: requests under
// <root><path>/request/<id> answered with one JSON object on
// <root><path>/response/<id>, retained info and status, events, the journal,
// planned faults and going offline.

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>

class FaultPlan;
class Journal;
class MqttLink;

class DeviceService : public QObject
{
    Q_OBJECT

public:
    // name is "rfid" or "dispenser": the journal's device and the first part of fault ops.
    DeviceService(const QString& name, const QString& root, MqttLink& link, FaultPlan& faults, Journal& journal,
        QObject* parent = nullptr);

    const QString& name() const { return m_name; }
    const QString& root() const { return m_root; }
    bool isOffline() const { return m_offline; }
    // Offline: status {"service": false}, requests and commands are journaled but not served.
    void setOffline(bool offline);
    // The payload the broker publishes for us when we vanish.
    static QByteArray offlineStatus();
    // Publishes status {"service": false} directly, before a clean shutdown.
    void announceShutdown();

protected:
    // The outcome of one request: completed with data, or refused with a code and text.
    struct Outcome
    {
        bool completed = true;
        QJsonObject data;
        int code = 0;
        QString text;

        static Outcome done(const QJsonObject& data = {});
        static Outcome refused(int code, const QString& text);
    };

    virtual Outcome handleRequest(const QString& path, const QJsonObject& params) = 0;
    // Plain messages without reply (beeps, LEDs); only paths registered with addPlainPath arrive.
    virtual void handlePlain(const QString& path, const QByteArray& payload);
    virtual QJsonObject info() const = 0;
    // The "device" object of the status.
    virtual QJsonObject deviceStatus() const = 0;
    // The reply's "error" object for a refusal.
    virtual QJsonObject errorObject(int code, const QString& text) const = 0;

    void addPlainPath(const QString& path);
    // Retained; skipped when it equals the last one published, unless forced.
    void publishStatus(bool force = false);
    // Never retained.
    void publishEvent(const QString& path, const QJsonObject& payload);
    void log(const QString& text) const;
    void warn(const QString& text) const;

private:
    void onConnected();
    void onMessage(const QString& topic, const QByteArray& payload);
    void onRequest(const QString& path, const QString& id, const QByteArray& payload);
    void serve(const QString& path, const QString& id, const QJsonObject& params, bool reply);
    void sendReply(const QString& path, const QString& id, const QByteArray& payload);

    QString m_name;
    QString m_root;
    MqttLink& m_link;
    FaultPlan& m_faults;
    Journal& m_journal;
    QSet<QString> m_plainPaths;
    QByteArray m_lastStatus;
    bool m_offline = false;
};
