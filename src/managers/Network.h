#pragma once
// Client of the local network service: follows whether the service runs, the
// connection state, connectivity, host name and primary connection, and owns
// the Ethernet settings client under the same topic root.

#include "Connection.h"
#include "Ethernet.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace manager {

class MqttClient;

class Network : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString connectionState READ connectionState NOTIFY connectionStateChanged)
    Q_PROPERTY(QString connectivity READ connectivity NOTIFY connectivityChanged)
    Q_PROPERTY(QString hostname READ hostname NOTIFY hostnameChanged)
    Q_PROPERTY(manager::Connection* primaryConnection READ primaryConnection NOTIFY primaryConnectionChanged)
    Q_PROPERTY(manager::Ethernet* ethernet READ ethernet NOTIFY ethernetChanged)
public:
    Network(MqttClient& client, const QString& root, QObject* parent = nullptr);
    ~Network() override;

    bool isConnected() const { return m_isConnected; }
    const QString& connectionState() const { return m_connectionState; }
    const QString& connectivity() const { return m_connectivity; }
    const QString& hostname() const { return m_hostname; }
    Connection* primaryConnection() { return &m_primaryConnection; }
    Ethernet* ethernet() const { return m_ethernet; }
    // "online" or "offline" after the first status message, empty before.
    const QString& status() const { return m_status; }
    const QString& version() const { return m_version; }

    void setStatus(const QString& status);

signals:
    void isConnectedChanged();
    void connectionStateChanged();
    void connectivityChanged();
    void hostnameChanged();
    void primaryConnectionChanged();
    void ethernetChanged();

public slots:
    void refresh();
    // Calls refresh() now and every msec; 0 stops.
    void monitor(int msec);
    void onMqttReceived(const QByteArray& payload, const QString& topic);

private:
    void subscribe();
    void onStatusReceived(const QJsonObject& message, const QString& topic);
    void onInfoReceived(const QJsonObject& message, const QString& topic);

    MqttClient& m_client;
    const QString m_root;
    QTimer m_timer;
    bool m_isConnected = false;
    QString m_status;
    QString m_connectionState;
    QString m_connectivity;
    QString m_version;
    QString m_hostname;
    Connection m_primaryConnection;
    Ethernet* m_ethernet;
};

} // namespace manager
