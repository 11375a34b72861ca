#include "MqttLink.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QThread>

#include <mosquitto.h>

namespace {

constexpr int KeepAliveSec = 10;
constexpr int RetryMs = 250;

} // namespace

MqttLink::MqttLink(const QString& clientId, const QString& host, quint16 port, QObject* parent)
    : QObject(parent)
    , m_clientId(clientId)
    , m_host(host)
    , m_port(port)
{
    static const bool initialised = (mosquitto_lib_init() == MOSQ_ERR_SUCCESS);
    Q_UNUSED(initialised)
    m_mosq = mosquitto_new(m_clientId.toUtf8().constData(), true, this);
    if (!m_mosq)
        qFatal("[MqttLink] cannot create a mosquitto client");
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m_mosq, &MqttLink::onConnectCallback);
    mosquitto_disconnect_callback_set(m_mosq, &MqttLink::onDisconnectCallback);
    mosquitto_message_callback_set(m_mosq, &MqttLink::onMessageCallback);
    mosquitto_subscribe_callback_set(m_mosq, &MqttLink::onSubscribeCallback);

    m_miscTimer.setInterval(1000);
    connect(&m_miscTimer, &QTimer::timeout, this, [this] {
        mosquitto_loop_misc(m_mosq);
        updateWriteNotifier();
    });
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(RetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &MqttLink::tryConnect);
}

MqttLink::~MqttLink()
{
    m_stopping = true;
    delete m_readNotifier;
    delete m_writeNotifier;
    mosquitto_destroy(m_mosq);
}

void MqttLink::setWill(const QString& topic, const QByteArray& payload)
{
    const QByteArray t = topic.toUtf8();
    mosquitto_will_set(m_mosq, t.constData(), payload.size(), payload.constData(), 1, true);
}

void MqttLink::addSubscription(const QString& filter)
{
    m_subscriptions.append(filter);
    if (m_connected) {
        subscribe(filter);
        updateWriteNotifier();
    }
}

void MqttLink::subscribe(const QString& filter)
{
    int mid = 0;
    if (mosquitto_subscribe(m_mosq, &mid, filter.toUtf8().constData(), 1) == MOSQ_ERR_SUCCESS) {
        m_pendingSubscriptions.insert(mid, filter);
        return;
    }
    qCritical().noquote().nospace() << "[MqttLink] ERROR: " << m_clientId << " cannot subscribe to " << filter;
    m_subscriptionRefused = true;
}

void MqttLink::start()
{
    m_stopping = false;
    m_miscTimer.start();
    tryConnect();
}

bool MqttLink::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    const int rc = mosquitto_publish(
        m_mosq, nullptr, topic.toUtf8().constData(), payload.size(), payload.constData(), 1, retain);
    updateWriteNotifier();
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttLink::shutdown()
{
    m_stopping = true;
    m_retryTimer.stop();
    m_miscTimer.stop();
    if (!m_connected)
        return;
    mosquitto_disconnect(m_mosq);
    // Flush the queued packets and the DISCONNECT itself; bounded, the broker is local.
    for (int i = 0; i < 200 && m_connected && mosquitto_want_write(m_mosq); ++i) {
        if (mosquitto_loop_write(m_mosq, 1) != MOSQ_ERR_SUCCESS)
            break;
        if (mosquitto_want_write(m_mosq))
            QThread::msleep(5);
    }
    m_connected = false;
    dropNotifiers();
}

void MqttLink::tryConnect()
{
    if (m_stopping)
        return;
    const int rc = mosquitto_connect_async(m_mosq, m_host.toUtf8().constData(), m_port, KeepAliveSec);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (!m_connectFailureLogged) {
            qWarning().noquote().nospace() << "[MqttLink] WARN: " << m_clientId << " cannot connect to " << m_host
                                           << ":" << m_port << " (" << mosquitto_strerror(rc) << "), retrying";
            m_connectFailureLogged = true;
        }
        scheduleRetry();
        return;
    }
    armNotifiers();
}

void MqttLink::armNotifiers()
{
    dropNotifiers();
    const int fd = mosquitto_socket(m_mosq);
    if (fd < 0) {
        scheduleRetry();
        return;
    }
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttLink::onReadable);
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttLink::onWritable);
    updateWriteNotifier();
}

void MqttLink::dropNotifiers()
{
    // We may be inside one of the notifiers' own slots: disable now, delete later.
    for (QSocketNotifier* notifier : { m_readNotifier, m_writeNotifier }) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
}

void MqttLink::updateWriteNotifier()
{
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttLink::onReadable()
{
    // A failed read closes the socket and runs the disconnect callback, which retries.
    mosquitto_loop_read(m_mosq, 64);
    updateWriteNotifier();
}

void MqttLink::onWritable()
{
    mosquitto_loop_write(m_mosq, 64);
    updateWriteNotifier();
}

void MqttLink::scheduleRetry()
{
    if (!m_stopping && !m_retryTimer.isActive())
        m_retryTimer.start();
}

void MqttLink::onConnectCallback(mosquitto*, void* self, int rc)
{
    auto* link = static_cast<MqttLink*>(self);
    if (rc != 0) {
        qWarning().noquote().nospace() << "[MqttLink] WARN: " << link->m_clientId
                                       << " connection refused: " << mosquitto_connack_string(rc);
        return; // the broker closes the socket; the disconnect callback retries
    }
    link->m_connected = true;
    link->m_connectFailureLogged = false;
    qInfo().noquote().nospace() << "[MqttLink] " << link->m_clientId << " connected to " << link->m_host << ":"
                                << link->m_port;
    link->m_pendingSubscriptions.clear();
    link->m_subscriptionRefused = false;
    for (const QString& filter : qAsConst(link->m_subscriptions))
        link->subscribe(filter);
    emit link->connected();
    if (link->isSubscribed())
        emit link->subscribed();
}

void MqttLink::onDisconnectCallback(mosquitto*, void* self, int rc)
{
    auto* link = static_cast<MqttLink*>(self);
    const bool wasConnected = link->m_connected;
    link->m_connected = false;
    link->dropNotifiers();
    if (link->m_stopping)
        return;
    if (wasConnected) {
        qWarning().noquote().nospace() << "[MqttLink] WARN: " << link->m_clientId
                                       << " disconnected: " << mosquitto_strerror(rc);
        emit link->disconnected();
    }
    link->scheduleRetry();
}

void MqttLink::onSubscribeCallback(mosquitto*, void* self, int mid, int count, const int* granted)
{
    auto* link = static_cast<MqttLink*>(self);
    const QString filter = link->m_pendingSubscriptions.take(mid);
    if (filter.isEmpty())
        return;
    for (int i = 0; i < count; ++i) {
        if (granted[i] > 2) {
            qCritical().noquote().nospace()
                << "[MqttLink] ERROR: " << link->m_clientId << " subscription to " << filter << " refused";
            link->m_subscriptionRefused = true;
        }
    }
    if (link->isSubscribed())
        emit link->subscribed();
}

void MqttLink::onMessageCallback(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* link = static_cast<MqttLink*>(self);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    emit link->messageReceived(QString::fromUtf8(message->topic), payload);
}
