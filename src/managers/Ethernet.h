#pragma once
// Client of the Ethernet part of the network service: the live state of the
// wired interface, its stored configuration, and saving a new configuration.

#include "IPv4.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace manager {

class MqttClient;

class Ethernet : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString interface READ interface NOTIFY interfaceChanged)
    Q_PROPERTY(QString type READ type NOTIFY typeChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString reason READ reason NOTIFY reasonChanged)
    Q_PROPERTY(QString mac READ mac NOTIFY macChanged)
    Q_PROPERTY(QString method READ method WRITE setMethod NOTIFY methodChanged)
    Q_PROPERTY(IPv4* ipv4 READ ipv4 NOTIFY ipv4Changed)
    Q_PROPERTY(IPv4* config READ config NOTIFY configChanged)
public:
    // Works under networkRoot + "/ethernet".
    Ethernet(MqttClient& client, const QString& networkRoot, QObject* parent = nullptr);
    ~Ethernet() override;

    const QString& interface() const { return m_interface; }
    const QString& type() const { return m_type; }
    const QString& state() const { return m_state; }
    const QString& reason() const { return m_reason; }
    const QString& mac() const { return m_mac; }
    const QString& method() const { return m_method; }
    IPv4* ipv4() { return &m_ipv4; }
    IPv4* config() { return &m_config; }

    void setMethod(const QString& method);

signals:
    void interfaceChanged();
    void typeChanged();
    void stateChanged();
    void reasonChanged();
    void macChanged();
    void methodChanged();
    void ipv4Changed();
    void configChanged();

public slots:
    // Sends the configuration; false (with an error line) when it could not be handed to the broker.
    bool save();
    // Asks the service for state and configuration.
    void reset();
    void onMqttReceived(const QByteArray& payload, const QString& topic);

private:
    void subscribe();
    void onStateReceived(const QJsonObject& message, const QString& topic);
    void onConfigReceived(const QJsonObject& message, const QString& topic);

    MqttClient& m_client;
    const QString m_root;
    QString m_interface;
    QString m_type;
    QString m_state;
    QString m_reason;
    QString m_mac;
    QString m_method;
    IPv4 m_ipv4;
    IPv4 m_config;
};

} // namespace manager
