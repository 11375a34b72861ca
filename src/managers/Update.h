#pragma once
// Client of the local software-update service: status, installed and pending
// versions and progress; asks for checks and installs and passes download
// orders from the back office on.

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace manager {

class MqttClient;

class Update : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString current READ current NOTIFY currentChanged)
    Q_PROPERTY(QString pending READ pending NOTIFY pendingChanged)
    Q_PROPERTY(QString progressMessage READ progressMessage NOTIFY progressMessageChanged)
    Q_PROPERTY(int progressPercent READ progressPercent NOTIFY progressPercentChanged)
public:
    Update(MqttClient& client, const QString& root, QObject* parent = nullptr);
    ~Update() override;

    const QString& status() const { return m_status; }
    const QString& current() const { return m_current; }
    const QString& pending() const { return m_pending; }
    const QString& progressMessage() const { return m_progressMessage; }
    int progressPercent() const { return m_progressPercent; }

    // How long a check waits for a progress report; tests shorten it.
    void setCheckTimeout(int msec) { m_checkTimer.setInterval(msec); }

signals:
    void statusChanged();
    void currentChanged();
    void pendingChanged();
    void progressMessageChanged();
    void progressPercentChanged();
    // Status or percent changed: once per service message or own action, after all its changes.
    void progressChanged();

public slots:
    void check();
    void install();
    void trigger(const QString& version, const QString& uri, const QString& checksum = QString());
    void onMqttReceived(const QByteArray& payload, const QString& topic);

private:
    void refresh();
    void onMqttDisconnected();
    void checkTimerExpired();
    void onStatusReceived(const QJsonObject& message, const QString& topic);
    void onProgressReceived(const QJsonObject& message, const QString& topic);
    void setStatus(const QString& status);
    void setCurrent(const QString& current);
    void setPending(const QString& pending);
    void setProgressMessage(const QString& message);
    void setProgressPercent(int percent);
    void announceProgress();
    QString busyWith() const;
    void holdOrder(const QJsonObject& order, const QString& busy);
    void sendOrder(const QJsonObject& order, bool held);
    void releaseHeldOrder();

    MqttClient& m_client;
    const QString m_root;
    QString m_status;
    QString m_current;
    QString m_pending;
    QString m_progressMessage;
    int m_progressPercent = 0;
    // "Downloading" or "Installing" while the service's last report says so; empty otherwise.
    QString m_operation;
    // Install went out and the service has reported nothing since: it may not be busy yet.
    bool m_installOrdered = false;
    // A download ordered while the service was busy; passed on once it reports the operation ended.
    QJsonObject m_heldOrder;
    // What the held order waits for; with its version, it is logged once.
    QString m_heldBehind;
    QString m_announcedStatus;
    int m_announcedPercent = 0;
    QTimer m_checkTimer;
};

} // namespace manager
