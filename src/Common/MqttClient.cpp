#include "MqttClient.h"

#include "Config.h"
#include "PeerText.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

namespace manager {

namespace {

const char* boolText(bool value)
{
    return value ? "true" : "false";
}

// Debug lines on the message path are only built when they are written.
bool debugEnabled()
{
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}

} // namespace

// One pending waitTopic. It ends with the first message, its time-out or a
// refused subscription; until then it is renewed after each reconnection.
struct MqttClient::Wait
{
    quint64 id = 0;
    MqttTopicFilter filter;
    Deferred<QJsonValue> result;
    QTimer* timer = nullptr;
    QPointer<MqttSubscription> subscription;
    QMetaObject::Connection messageConnection;
    QMetaObject::Connection stateConnection;
    bool settled = false;
};

bool MqttClient::Settings::operator==(const Settings& o) const
{
    return hostname == o.hostname && port == o.port && username == o.username && password == o.password
        && cleanSession == o.cleanSession && clientId == o.clientId && keepAlive == o.keepAlive
        && willMessage == o.willMessage && willQoS == o.willQoS && willRetain == o.willRetain
        && willTopic == o.willTopic;
}

MqttClient::MqttClient(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<MosquittoClient::ClientState>("ClientState");
    qRegisterMetaType<MosquittoClient::ClientError>("ClientError");
}

MqttClient::~MqttClient()
{
    for (auto& entry : m_waits) {
        delete entry.second->timer;
        entry.second->timer = nullptr;
    }
    m_waits.clear();
    delete m_reconnectTimer;
    delete m_timer;
    // Closes a live session with DISCONNECT: the broker publishes the will
    // only when the process dies.
    delete m_client;
}

void MqttClient::connect()
{
    qInfo().noquote().nospace() << "[MqttClient] Connecting to host";
    initTimer();
    initClient();

    if (m_port == 0 || m_port > 65535) {
        qCritical().noquote().nospace() << "[MqttClient] ERROR: Port " << m_port
                                        << " is out of range 1-65535, no connection attempt";
        return;
    }
    if (m_encrypted) {
        qWarning().noquote().nospace() << "[MqttClient] Encryption not yet supported";
        qCritical().noquote().nospace()
            << "[MqttClient] ERROR: Encrypted connection requested; not connecting in plain text";
        return;
    }

    const Settings wanted = settings();
    if (m_client->state() != MosquittoClient::Disconnected) {
        if (wanted == m_live) {
            qDebug().noquote().nospace() << "[MqttClient] Connection already up or in progress with these settings";
            return;
        }
        // The reconnect cycle brings the connection back with the new settings.
        qInfo().noquote().nospace() << "[MqttClient] Settings changed, closing the connection to apply them";
        if (m_client->state() == MosquittoClient::Connected)
            m_client->disconnectFromHost();
        else
            m_client->closeTransport();
        return;
    }
    m_live = wanted;
    m_reconnectTimer->stop();
    m_client->connectToHost();
}

void MqttClient::initTimer()
{
    if (!m_timer) {
        // Precise: a coarse timer may fire up to 5 % before the interval.
        m_timer = new QTimer;
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, this, &MqttClient::onTimeout);
        m_reconnectTimer = new QTimer;
        m_reconnectTimer->setSingleShot(true);
        m_reconnectTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_reconnectTimer, &QTimer::timeout, this, &MqttClient::onReconnect);
    }
    qDebug().noquote().nospace() << "[MqttClient] Applying client configuration:";
    qDebug().noquote().nospace() << "[MqttClient] Retry interval millis: " << m_retryMillis;
    m_timer->setInterval(int(m_retryMillis));
    m_reconnectTimer->setInterval(int(m_retryMillis));
}

void MqttClient::initClient()
{
    if (!m_client) {
        // A child only so that tests can find it; deleted explicitly below.
        m_client = new MosquittoClient(this);
        QObject::connect(m_client, &MosquittoClient::connected, this, &MqttClient::connected);
        QObject::connect(m_client, &MosquittoClient::connected, this, &MqttClient::onConnected);
        QObject::connect(m_client, &MosquittoClient::disconnected, this, &MqttClient::disconnected);
        QObject::connect(m_client, &MosquittoClient::disconnected, this, &MqttClient::onDisconnected);
        QObject::connect(m_client, &MosquittoClient::errorChanged, this, &MqttClient::onError);
        QObject::connect(m_client, &MosquittoClient::stateChanged, this, &MqttClient::onStateChanged);
        QObject::connect(m_client, &MosquittoClient::messageReceived, this, &MqttClient::onReceived);
    }
    qDebug().noquote().nospace() << "[MqttClient] Applying client configuration:";
    qDebug().noquote().nospace() << "[MqttClient] Hostname: " << PeerText::forLog(m_hostname);
    qDebug().noquote().nospace() << "[MqttClient] Port    : " << m_port;
    qDebug().noquote().nospace() << "[MqttClient] Username: " << PeerText::forLog(m_username);
    qDebug().noquote().nospace() << "[MqttClient] CleanSession: " << boolText(m_cleanSession);
    qDebug().noquote().nospace() << "[MqttClient] Client Id   : " << PeerText::forLog(m_clientId);
    qDebug().noquote().nospace() << "[MqttClient] Keepalive   : " << int(m_keepAlive);
    qDebug().noquote().nospace() << "[MqttClient] Will Message: " << PeerText::forLog(m_willMessage);
    qDebug().noquote().nospace() << "[MqttClient] Will QoS    : " << int(m_willQoS);
    qDebug().noquote().nospace() << "[MqttClient] Will Retain : " << boolText(m_willRetain);
    qDebug().noquote().nospace() << "[MqttClient] Will Topic  : " << PeerText::forLog(m_willTopic);

    m_client->setHostname(m_hostname);
    // An out-of-range port is refused by connect() before any attempt.
    if (m_port <= 65535)
        m_client->setPort(quint16(m_port));
    m_client->setUsername(m_username);
    m_client->setPassword(m_password);
    m_client->setCleanSession(m_cleanSession);
    m_client->setClientId(m_clientId);
    m_client->setKeepAlive(m_keepAlive);
    m_client->setWillMessage(m_willMessage);
    m_client->setWillQoS(m_willQoS);
    m_client->setWillRetain(m_willRetain);
    m_client->setWillTopic(m_willTopic);
    m_client->setProtocolVersion(MosquittoClient::MQTT_3_1_1);
}

MqttClient::Settings MqttClient::settings() const
{
    return Settings { m_hostname, m_port, m_username, m_password, m_cleanSession, m_clientId, m_keepAlive,
        m_willMessage, m_willQoS, m_willRetain, m_willTopic };
}

void MqttClient::disconnect()
{
    qInfo().noquote().nospace() << "[MqttClient] Disconnecting from host";
    if (m_client)
        m_client->disconnectFromHost();
}

void MqttClient::subscribe(const QString& topic, quint8 qos)
{
    const MqttTopicFilter filter(topic);
    // Callers subscribe again on every connection; the list is renewed then anyway.
    const auto pair = qMakePair(filter, qos);
    if (m_subscriptions.contains(pair))
        return;
    m_subscriptions.append(pair);
    if (m_client && m_client->state() == MosquittoClient::Connected)
        doSubscribe(filter, qos);
}

void MqttClient::doSubscribe(const MqttTopicFilter& filter, quint8 qos)
{
    qInfo().noquote().nospace() << "[MqttClient] Subscribing to '" << PeerText::forLog(filter.filter())
                                << "' with QoS = " << int(qos);
    MqttSubscription* subscription = m_client->subscribe(filter, qos);
    if (!subscription) {
        emit error("Subscription to " + filter.filter() + " failed.");
        return;
    }
    // A refusal in the broker's SUBACK is reported the same way.
    const QString text = filter.filter();
    QObject::connect(
        subscription, &MqttSubscription::stateChanged, this, [this, text](MqttSubscription::SubscriptionState state) {
            if (state != MqttSubscription::Error)
                return;
            qWarning().noquote().nospace()
                << "[MqttClient] WARN: Broker refused the subscription to '" << PeerText::forLog(text) << "'";
            emit error("Subscription to " + text + " failed.");
        });
}

bool MqttClient::isConnected() const
{
    return m_client && m_client->state() == MosquittoClient::Connected;
}

bool MqttClient::publish(const QByteArray& data, const QString& topic, quint8 qos, bool retain)
{
    if (!isConnected())
        return false;
    if (debugEnabled())
        qDebug().noquote().nospace() << "[MqttClient] Publishing to topic '" << PeerText::forLog(topic)
                                     << "' with Qos = " << int(qos) << " and Retain = " << boolText(retain)
                                     << ", payload: " << PeerText::forLog(Config::maskedPayload(data));
    if (m_client->publish(MqttTopicName(topic), data, qos, retain) == -1) {
        emit error("Publish to " + topic + " failed.");
        return false;
    }
    return true;
}

void MqttClient::onConnected()
{
    qInfo().noquote().nospace() << "[MqttClient] Connected to broker " << PeerText::forLog(m_hostname);
    // The list as it stands now; a pair added meanwhile goes out by its own call.
    const QList<QPair<MqttTopicFilter, quint8>> list = m_subscriptions;
    for (const auto& pair : list) {
        if (!m_client || m_client->state() != MosquittoClient::Connected)
            return;
        doSubscribe(pair.first, pair.second);
    }
    // Pending waits lost their subscription with the old session.
    std::vector<quint64> ids;
    for (const auto& entry : m_waits)
        ids.push_back(entry.first);
    for (quint64 id : ids) {
        auto it = m_waits.find(id);
        if (it == m_waits.end() || it->second->settled)
            continue;
        if (!m_client || m_client->state() != MosquittoClient::Connected)
            return;
        qDebug().noquote().nospace() << "[MqttClient] Renewing wait on '"
                                     << PeerText::forLog(it->second->filter.filter()) << "'";
        if (!attachWait(it->second))
            qWarning().noquote().nospace() << "[MqttClient] WARN: Cannot renew the wait on '"
                                           << PeerText::forLog(it->second->filter.filter()) << "'";
    }
}

void MqttClient::onDisconnected()
{
    qInfo().noquote().nospace() << "[MqttClient] Disconnected from broker " << PeerText::forLog(m_hostname);
}

void MqttClient::onStateChanged(MosquittoClient::ClientState state)
{
    switch (state) {
    case MosquittoClient::Connecting:
        qDebug().noquote().nospace() << "[MqttClient] State is Connecting.";
        m_timer->start();
        break;
    case MosquittoClient::Connected:
        qDebug().noquote().nospace() << "[MqttClient] State is Connected.";
        m_timer->stop();
        break;
    case MosquittoClient::Disconnected:
        qDebug().noquote().nospace() << "[MqttClient] State is Disconnected.";
        m_reconnectTimer->start();
        break;
    }
}

void MqttClient::onReceived(const QByteArray& message, const MqttTopicName& topic)
{
    if (debugEnabled())
        qDebug().noquote().nospace() << "[MqttClient] Received on topic: " << PeerText::forLog(topic.name())
                                     << ", payload: " << PeerText::forLog(Config::maskedPayload(message));
    emit received(message, topic.name().toUtf8());
}

void MqttClient::onError(MosquittoClient::ClientError code)
{
    if (code == MosquittoClient::NoError)
        return;
    QString text;
    switch (code) {
    case MosquittoClient::InvalidProtocolVersion:
        text = QStringLiteral("Invalid protocol version: %1. Broker does not accept a connection using the specified "
                              "protocol version.")
                   .arg(int(m_client->protocolVersion()));
        break;
    case MosquittoClient::IdRejected:
        text = QStringLiteral("Id rejected: %1. The client ID is malformed. This might be related to its length.")
                   .arg(m_client->clientId());
        break;
    case MosquittoClient::ServerUnavailable:
        text = QStringLiteral("Server unavailable: %1:%2. The network connection has been established, but the "
                              "service is unavailable on the broker side.")
                   .arg(m_client->hostname())
                   .arg(m_client->port());
        break;
    case MosquittoClient::BadUsernameOrPassword:
        text = QStringLiteral("Bad username or password. The data in the username or password is malformed.");
        break;
    case MosquittoClient::NotAuthorized:
        text = QStringLiteral("Not authorized: %1. The client is not authorized to connect.").arg(m_client->clientId());
        break;
    case MosquittoClient::TransportInvalid:
        text = QStringLiteral("Transport invalid: The underlying transport caused an error. For example, the "
                              "connection might have been interrupted unexpectedly.");
        break;
    case MosquittoClient::ProtocolViolation:
        text = QStringLiteral("Protocol violation:The client encountered a protocol violation, and therefore closed "
                              "the connection.");
        break;
    default:
        text = QStringLiteral("Unknown error.");
        break;
    }
    qWarning().noquote().nospace() << "[MqttClient] " << text;
    emit error(QStringLiteral("Mqtt client error"));
}

void MqttClient::onTimeout()
{
    // Cuts an attempt that hangs; the reconnect cycle takes over from there.
    if (m_client && m_client->state() == MosquittoClient::Connecting)
        m_client->closeTransport();
}

void MqttClient::onReconnect()
{
    if (m_client && m_client->state() == MosquittoClient::Disconnected)
        connect();
}

Deferred<QJsonValue> MqttClient::waitTopic(const QString& topic, int msec)
{
    Deferred<QJsonValue> result;
    if (!m_client || m_client->state() != MosquittoClient::Connected) {
        result.reject(QJsonValue(QStringLiteral("Not connected")));
        return result;
    }
    if (msec < 0) {
        qWarning().noquote().nospace() << "[MqttClient] WARN: Negative time-out " << msec << " for '"
                                       << PeerText::forLog(topic) << "', waiting without one";
        msec = 0;
    }
    auto wait = std::make_shared<Wait>();
    wait->id = ++m_nextWait;
    wait->filter = MqttTopicFilter(topic);
    wait->result = result;
    if (!attachWait(wait)) {
        result.reject(QJsonValue(QStringLiteral("Subscription failed")));
        return result;
    }
    wait->timer = new QTimer(this);
    wait->timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early.
    wait->timer->setTimerType(Qt::PreciseTimer);
    wait->timer->setInterval(msec);
    const quint64 id = wait->id;
    QObject::connect(wait->timer, &QTimer::timeout, this, [this, id] { onWaitTimeout(id); });
    m_waits.emplace(id, wait);
    if (msec != 0)
        wait->timer->start();
    return result;
}

bool MqttClient::attachWait(const WaitPtr& wait)
{
    QObject::disconnect(wait->messageConnection);
    QObject::disconnect(wait->stateConnection);
    MqttSubscription* subscription = m_client->subscribe(wait->filter, 1);
    wait->subscription = subscription;
    if (!subscription)
        return false;
    const quint64 id = wait->id;
    wait->messageConnection = QObject::connect(
        subscription, &MqttSubscription::messageReceived, this,
        [this, id](const MqttMessage& message) { onWaitMessage(id, message); }, Qt::DirectConnection);
    wait->stateConnection = QObject::connect(
        subscription, &MqttSubscription::stateChanged, this,
        [this, id](MqttSubscription::SubscriptionState state) {
            if (state == MqttSubscription::Error)
                onWaitRefused(id);
        },
        Qt::DirectConnection);
    return true;
}

void MqttClient::endWait(const WaitPtr& wait)
{
    wait->settled = true;
    m_waits.erase(wait->id);
    if (wait->timer) {
        wait->timer->stop();
        // We may be inside its timeout.
        wait->timer->deleteLater();
        wait->timer = nullptr;
    }
    QObject::disconnect(wait->messageConnection);
    QObject::disconnect(wait->stateConnection);
    // Only a live subscription holds a use of the filter; one lost with the
    // connection or refused by the broker holds none.
    MqttSubscription* subscription = wait->subscription;
    wait->subscription = nullptr;
    if (subscription && m_client
        && (subscription->state() == MqttSubscription::SubscriptionPending
            || subscription->state() == MqttSubscription::Subscribed))
        m_client->unsubscribe(wait->filter);
}

void MqttClient::onWaitMessage(quint64 id, const MqttMessage& message)
{
    auto it = m_waits.find(id);
    if (it == m_waits.end() || it->second->settled)
        return;
    const WaitPtr wait = it->second;
    endWait(wait);
    QJsonObject object;
    if (parseReply(message.payload(), object))
        wait->result.resolve(QJsonValue(object));
    else
        wait->result.reject(QJsonValue(QStringLiteral("Invalid response")));
}

void MqttClient::onWaitTimeout(quint64 id)
{
    auto it = m_waits.find(id);
    if (it == m_waits.end() || it->second->settled)
        return;
    const WaitPtr wait = it->second;
    endWait(wait);
    wait->result.reject(QJsonValue(QStringLiteral("Timeout")));
}

void MqttClient::onWaitRefused(quint64 id)
{
    auto it = m_waits.find(id);
    if (it == m_waits.end() || it->second->settled)
        return;
    const WaitPtr wait = it->second;
    qWarning().noquote().nospace() << "[MqttClient] WARN: Broker refused the subscription to '"
                                   << PeerText::forLog(wait->filter.filter()) << "'";
    endWait(wait);
    wait->result.reject(QJsonValue(QStringLiteral("Subscription failed")));
}

bool MqttClient::parseReply(const QByteArray& payload, QJsonObject& object)
{
    const int nul = payload.indexOf('\0');
    QString text = QString::fromUtf8(nul >= 0 ? payload.left(nul) : payload);
    if (text.isEmpty())
        text = QStringLiteral("{}");
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    object = document.object();
    return true;
}

Deferred<QJsonValue> MqttClient::executeRpc(
    const QString& topic, const QString& rpcId, const QJsonObject& request, int msec)
{
    Deferred<QJsonValue> call;
    const QString requestTopic = topic + "/request/" + rpcId;
    const QString replyTopic = topic + "/response/" + rpcId;
    const QByteArray payload = QJsonDocument(request).toJson(QJsonDocument::Compact);

    const Deferred<QJsonValue> wait = waitTopic(replyTopic, msec);
    wait.fail([call](const QJsonValue& reason) {
        qCritical().noquote().nospace() << "[MqttClient] "
                                        << "[RPC] ERROR : " << PeerText::forLog(reason.toString());
        call.reject(reason);
    });
    wait.done([call, replyTopic](const QJsonValue& reply) {
        if (debugEnabled()) {
            qDebug().noquote().nospace() << "[MqttClient] "
                                         << "[RPC] Received : " << PeerText::forLog(replyTopic);
            qDebug().noquote().nospace() << "[MqttClient] "
                                         << "[RPC] Data     : " << PeerText::jsonForLog(Config::maskSecrets(reply));
        }
        call.resolve(reply);
    });

    if (debugEnabled()) {
        qDebug().noquote().nospace() << "[MqttClient] "
                                     << "[RPC] Sending : " << PeerText::forLog(requestTopic);
        qDebug().noquote().nospace()
            << "[MqttClient] "
            << "[RPC] Data    : "
            << PeerText::forLog(QJsonDocument(Config::maskSecrets(request).toObject()).toJson(QJsonDocument::Compact));
    }
    // A request whose reply cannot be awaited is not sent: the device would
    // act while the caller sees a failure.
    if (!wait.isPending() || !m_client)
        return call;
    // One that cannot be handed to the broker fails now, not at the time-out.
    if (m_client->publish(MqttTopicName(requestTopic), payload, 1, false) == -1) {
        const auto it = m_waits.find(m_nextWait); // the wait made above
        if (it != m_waits.end()) {
            const WaitPtr pending = it->second;
            endWait(pending);
            pending->result.reject(QJsonValue(QStringLiteral("Publish failed")));
        }
    }
    return call;
}

} // namespace manager
