#include "MosquittoClient.h"

#include "PeerText.h"

#include <QDebug>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <mutex>

#include <sys/ioctl.h>

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

MosquittoClient::MosquittoClient(QObject* parent)
    : QObject(parent)
    , m_miscTimer(new QTimer(this))
{
    initLibrary();
    qRegisterMetaType<MosquittoClient::ClientState>();
    qRegisterMetaType<MosquittoClient::ClientError>();
    qRegisterMetaType<MqttSubscription::SubscriptionState>();
    qRegisterMetaType<MqttMessage>();
    qRegisterMetaType<MqttTopicName>();
    // Keep-alive pings and their loss are driven from here; one second is
    // finer than the shortest keep-alive the library accepts (5 s).
    m_miscTimer->setInterval(1000);
    connect(m_miscTimer, &QTimer::timeout, this, &MosquittoClient::onMiscTimer);
}

MosquittoClient::~MosquittoClient()
{
    if (m_lookupId != -1)
        QHostInfo::abortHostLookup(m_lookupId);
    if (m_mosq) {
        if (m_state == Connected) {
            mosquitto_disconnect(m_mosq);
            if (mosquitto_want_write(m_mosq))
                mosquitto_loop_write(m_mosq, 1);
        }
        dropNotifiers();
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
}

void MosquittoClient::connectToHost()
{
    if (m_state != Disconnected)
        return;
    m_error = NoError;
    m_refusal = 0;
    setState(Connecting);
    if (m_state != Connecting)
        return;

    if (!createHandle()) {
        // Reported like any failed attempt, after the caller got control back.
        record(Event::Lost, MOSQ_ERR_INVAL);
        scheduleDispatch();
        return;
    }
    if (!m_hostname.isEmpty() && QHostAddress(m_hostname).isNull()) {
        // A name: the library would resolve it inside its connect call and hold the
        // event loop as long as the resolver takes.
        const quint64 generation = m_generation;
        m_lookupId = QHostInfo::lookupHost(
            m_hostname, this, [this, generation](const QHostInfo& info) { onHostFound(generation, info); });
        return;
    }
    connectTo({ m_hostname });
}

void MosquittoClient::connectTo(const QStringList& hosts)
{
    int rc = MOSQ_ERR_EAI;
    for (const QString& host : hosts) {
        rc = mosquitto_connect_async(m_mosq, host.toUtf8().constData(), m_port, m_keepAlive);
        if (rc == MOSQ_ERR_SUCCESS)
            break;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        // A refused connect on loopback fails here at once; elsewhere it
        // fails later on the socket.
        record(Event::Lost, rc);
    }
    m_miscTimer->start();
    afterLibraryCall();
}

void MosquittoClient::onHostFound(quint64 generation, const QHostInfo& info)
{
    if (generation != m_generation || info.lookupId() != m_lookupId || m_state != Connecting || !m_mosq)
        return;
    m_lookupId = -1;
    // IPv4 first: the local broker commonly listens there only.
    QStringList hosts;
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            hosts.append(address.toString());
    }
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            hosts.append(address.toString());
    }
    if (hosts.isEmpty()) {
        record(Event::Lost, MOSQ_ERR_EAI);
        scheduleDispatch();
        return;
    }
    connectTo(hosts);
}

bool MosquittoClient::createHandle()
{
    releaseHandle();
    ++m_generation;
    const QByteArray id = m_clientId.toUtf8();
    // An empty id lets the library choose one (clean sessions only).
    m_mosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), m_cleanSession, this);
    if (!m_mosq) {
        qWarning().noquote().nospace() << "[MosquittoClient] WARN: Cannot create a client with id '"
                                       << PeerText::forLog(m_clientId) << "' and clean session "
                                       << (m_cleanSession ? "true" : "false");
        m_refusal = IdRejected;
        return false;
    }
    mosquitto_int_option(
        m_mosq, MOSQ_OPT_PROTOCOL_VERSION, m_protocolVersion == MQTT_3_1 ? MQTT_PROTOCOL_V31 : MQTT_PROTOCOL_V311);
    // Without it every QoS 1 exchange waits for the delayed ACK (~40 ms).
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m_mosq, &MosquittoClient::onConnectCallback);
    mosquitto_disconnect_callback_set(m_mosq, &MosquittoClient::onDisconnectCallback);
    mosquitto_message_callback_set(m_mosq, &MosquittoClient::onMessageCallback);
    mosquitto_subscribe_callback_set(m_mosq, &MosquittoClient::onSubscribeCallback);
    mosquitto_unsubscribe_callback_set(m_mosq, &MosquittoClient::onUnsubscribeCallback);

    if (!m_username.isEmpty()) {
        const QByteArray user = m_username.toUtf8();
        const QByteArray password = m_password.toUtf8();
        mosquitto_username_pw_set(m_mosq, user.constData(), m_password.isEmpty() ? nullptr : password.constData());
    } else if (!m_password.isEmpty()) {
        qWarning().noquote().nospace()
            << "[MosquittoClient] WARN: A password without a user name cannot be sent; connecting without it";
    }
    if (!m_willTopic.isEmpty()) {
        const QByteArray topic = m_willTopic.toUtf8();
        const int rc = mosquitto_will_set(
            m_mosq, topic.constData(), m_willMessage.size(), m_willMessage.constData(), m_willQoS, m_willRetain);
        if (rc != MOSQ_ERR_SUCCESS)
            qWarning().noquote().nospace() << "[MosquittoClient] WARN: Will topic '" << PeerText::forLog(m_willTopic)
                                           << "' refused: " << mosquitto_strerror(rc) << "; connecting without a will";
    }
    if (m_keepAlive > 0 && m_keepAlive < 5) {
        qWarning().noquote().nospace() << "[MosquittoClient] WARN: Keep-alive " << m_keepAlive
                                       << " s is below the minimum, using 5 s";
        m_keepAlive = 5;
    }
    return true;
}

void MosquittoClient::releaseHandle()
{
    m_miscTimer->stop();
    if (!m_mosq)
        return;
    dropNotifiers();
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

void MosquittoClient::disconnectFromHost()
{
    if (!m_mosq || m_state == Disconnected)
        return;
    if (m_state == Connecting) {
        closeTransport();
        return;
    }
    // Written at once as a rule; the library closes the socket after it and
    // reports the end, which is delivered from the event loop.
    if (mosquitto_disconnect(m_mosq) != MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) != -1) {
        closeTransport();
        return;
    }
    afterLibraryCall();
}

void MosquittoClient::closeTransport()
{
    if (!m_mosq || m_state == Disconnected)
        return;
    const bool resolving = m_lookupId != -1;
    if (resolving) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    const bool alreadyLost = !resolving && mosquitto_socket(m_mosq) == -1;
    // Destroying the handle closes the socket without DISCONNECT.
    releaseHandle();
    if (!alreadyLost) {
        record(Event::Lost, MOSQ_ERR_CONN_LOST);
        scheduleDispatch();
    }
}

MqttSubscription* MosquittoClient::subscribe(const MqttTopicFilter& filter, quint8 qos)
{
    if (m_state != Connected || !m_mosq || !filter.isValid() || qos > 2)
        return nullptr;
    MqttSubscription* subscription = m_subscriptions.value(filter.filter()).data();
    if (subscription && subscription->state() != MqttSubscription::SubscriptionPending
        && subscription->state() != MqttSubscription::Subscribed) {
        // Being unsubscribed: that one ends on its own, a new one takes its place.
        m_subscriptions.remove(filter.filter());
        subscription = nullptr;
    }
    if (subscription && qos <= subscription->qos()) {
        ++subscription->m_users;
        return subscription;
    }

    const QByteArray bytes = filter.filter().toUtf8();
    int mid = 0;
    const int rc = mosquitto_subscribe(m_mosq, &mid, bytes.constData(), qos);
    afterLibraryCall();
    if (rc != MOSQ_ERR_SUCCESS)
        return nullptr;
    if (subscription) {
        // A user asking for a higher QoS: the broker replaces the old grant.
        subscription->m_qos = qos;
    } else {
        subscription = new MqttSubscription(filter, qos, this);
        subscription->m_state = MqttSubscription::SubscriptionPending;
        m_subscriptions.insert(filter.filter(), subscription);
    }
    ++subscription->m_users;
    ++subscription->m_pendingAcks;
    m_pendingSubacks.insert(mid, subscription);
    return subscription;
}

void MosquittoClient::unsubscribe(const MqttTopicFilter& filter)
{
    MqttSubscription* subscription = m_subscriptions.value(filter.filter()).data();
    if (!subscription) {
        m_subscriptions.remove(filter.filter());
        return;
    }
    if (--subscription->m_users > 0)
        return;
    m_subscriptions.remove(filter.filter());
    if (m_state == Connected && m_mosq) {
        const QByteArray bytes = filter.filter().toUtf8();
        int mid = 0;
        const int rc = mosquitto_unsubscribe(m_mosq, &mid, bytes.constData());
        afterLibraryCall();
        if (rc == MOSQ_ERR_SUCCESS) {
            m_pendingUnsubacks.insert(mid, subscription);
            subscription->setState(MqttSubscription::UnsubscriptionPending);
            return;
        }
    }
    subscription->setState(MqttSubscription::Unsubscribed);
    subscription->deleteLater();
}

qint32 MosquittoClient::publish(const MqttTopicName& topic, const QByteArray& message, quint8 qos, bool retain)
{
    if (m_state != Connected || !m_mosq || !topic.isValid() || qos > 2)
        return -1;
    const QByteArray bytes = topic.name().toUtf8();
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, bytes.constData(), message.size(), message.constData(), qos, retain);
    afterLibraryCall();
    if (rc != MOSQ_ERR_SUCCESS)
        return -1;
    return qos == 0 ? 0 : mid;
}

int MosquittoClient::subscriptionCount() const
{
    return findChildren<MqttSubscription*>(QString(), Qt::FindDirectChildrenOnly).size();
}

// Library callbacks only record what happened: signals go out after the
// library call returns, so listeners may call back into the client.

void MosquittoClient::onConnectCallback(mosquitto*, void* self, int rc)
{
    static_cast<MosquittoClient*>(self)->record(Event::Connack, rc);
}

void MosquittoClient::onDisconnectCallback(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MosquittoClient*>(self);
    // The socket is already closed: its number may be handed out again.
    client->dropNotifiers();
    client->record(Event::Lost, rc);
}

void MosquittoClient::onMessageCallback(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* client = static_cast<MosquittoClient*>(self);
    Event event { Event::Message, client->m_generation };
    event.mid = message->mid;
    event.qos = message->qos;
    event.retain = message->retain;
    event.topic = QByteArray(message->topic);
    event.payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
    client->m_events.push_back(std::move(event));
}

void MosquittoClient::onSubscribeCallback(mosquitto*, void* self, int mid, int count, const int* granted)
{
    auto* client = static_cast<MosquittoClient*>(self);
    Event event { Event::Suback, client->m_generation };
    event.mid = mid;
    event.qos = count > 0 ? granted[0] : 0x80;
    client->m_events.push_back(std::move(event));
}

void MosquittoClient::onUnsubscribeCallback(mosquitto*, void* self, int mid)
{
    auto* client = static_cast<MosquittoClient*>(self);
    Event event { Event::Unsuback, client->m_generation };
    event.mid = mid;
    client->m_events.push_back(std::move(event));
}

void MosquittoClient::onReadable()
{
    if (!m_mosq)
        return;
    // The library reads one packet per call; whatever else is already there
    // is read now rather than after another pass through the event loop.
    for (int i = 0; i < 64; ++i) {
        mosquitto_loop_read(m_mosq, 1);
        const int socket = mosquitto_socket(m_mosq);
        int pending = 0;
        if (socket == -1 || ::ioctl(socket, FIONREAD, &pending) != 0 || pending <= 0)
            break;
    }
    afterLoopCall();
}

void MosquittoClient::onWritable()
{
    if (!m_mosq)
        return;
    mosquitto_loop_write(m_mosq, 1);
    afterLoopCall();
}

void MosquittoClient::onMiscTimer()
{
    if (!m_mosq)
        return;
    mosquitto_loop_misc(m_mosq);
    afterLoopCall();
}

void MosquittoClient::record(Event::Kind kind, int code)
{
    Event event { kind, m_generation };
    event.code = code;
    m_events.push_back(std::move(event));
}

void MosquittoClient::followSocket()
{
    const int socket = m_mosq ? mosquitto_socket(m_mosq) : -1;
    if (socket != m_socket) {
        dropNotifiers();
        if (socket != -1) {
            m_socket = socket;
            m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
            connect(m_readNotifier, &QSocketNotifier::activated, this, &MosquittoClient::onReadable);
            m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
            connect(m_writeNotifier, &QSocketNotifier::activated, this, &MosquittoClient::onWritable);
        }
    }
    if (m_writeNotifier) {
        // Armed only while something waits to go out (the CONNECT of a
        // connect still in progress included), or it fires without end.
        const bool wantWrite = mosquitto_want_write(m_mosq);
        if (m_writeNotifier->isEnabled() != wantWrite)
            m_writeNotifier->setEnabled(wantWrite);
    }
}

void MosquittoClient::afterLibraryCall()
{
    followSocket();
    if (!m_events.empty())
        scheduleDispatch();
}

void MosquittoClient::afterLoopCall()
{
    followSocket();
    dispatchEvents();
}

void MosquittoClient::scheduleDispatch()
{
    if (m_dispatchScheduled || m_dispatching)
        return;
    m_dispatchScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_dispatchScheduled = false;
            dispatchEvents();
        },
        Qt::QueuedConnection);
}

void MosquittoClient::dispatchEvents()
{
    if (m_dispatching)
        return;
    m_dispatching = true;
    QPointer<MosquittoClient> self(this);
    while (!m_events.empty()) {
        const Event event = std::move(m_events.front());
        m_events.pop_front();
        handle(event);
        if (!self)
            return;
    }
    m_dispatching = false;
}

void MosquittoClient::handle(const Event& event)
{
    if (event.generation != m_generation)
        return;
    switch (event.kind) {
    case Event::Connack:
        if (event.code == 0) {
            if (m_state == Connecting)
                setState(Connected);
        } else {
            // The library reports the loss right after; the code goes with it.
            m_refusal = event.code;
        }
        break;
    case Event::Lost:
        handleLost(event.code);
        break;
    case Event::Message: {
        const MqttTopicName topic(QString::fromUtf8(event.topic));
        // The client-level signal first, so every listener sees a message
        // before a waiting subscriber settles.
        emit messageReceived(event.payload, topic);
        const MqttMessage message(topic, event.payload, quint16(event.mid), quint8(event.qos), event.retain);
        QList<QPointer<MqttSubscription>> targets;
        for (const QPointer<MqttSubscription>& subscription : qAsConst(m_subscriptions))
            if (subscription && subscription->topic().match(topic))
                targets << subscription;
        for (const QPointer<MqttSubscription>& subscription : qAsConst(targets))
            if (subscription && subscription->state() != MqttSubscription::Unsubscribed)
                emit subscription->messageReceived(message);
        break;
    }
    case Event::Suback: {
        const QPointer<MqttSubscription> subscription = m_pendingSubacks.take(event.mid);
        if (!subscription)
            break;
        if (event.qos >= 0x80) {
            if (m_subscriptions.value(subscription->topic().filter()) == subscription)
                m_subscriptions.remove(subscription->topic().filter());
            subscription->setState(MqttSubscription::Error);
            if (subscription)
                subscription->deleteLater();
        } else if (subscription->state() == MqttSubscription::SubscriptionPending
            || subscription->state() == MqttSubscription::Subscribed) {
            // An earlier grant is superseded by a SUBSCRIBE still on its way.
            if (--subscription->m_pendingAcks <= 0) {
                subscription->m_pendingAcks = 0;
                subscription->m_qos = quint8(event.qos);
            }
            subscription->setState(MqttSubscription::Subscribed);
        }
        break;
    }
    case Event::Unsuback: {
        const QPointer<MqttSubscription> subscription = m_pendingUnsubacks.take(event.mid);
        if (!subscription)
            break;
        subscription->setState(MqttSubscription::Unsubscribed);
        if (subscription)
            subscription->deleteLater();
        break;
    }
    }
}

void MosquittoClient::handleLost(int code)
{
    if (m_state == Disconnected)
        return;
    releaseHandle();
    ClientError error = NoError;
    if (m_refusal >= 1 && m_refusal <= 5)
        error = ClientError(m_refusal);
    else if (code != MOSQ_ERR_SUCCESS)
        error = errorFromLibrary(code);
    m_refusal = 0;

    // A clean session starts without subscriptions: every object ends here.
    QList<QPointer<MqttSubscription>> ended;
    for (const QPointer<MqttSubscription>& subscription : qAsConst(m_subscriptions))
        ended << subscription;
    for (const QPointer<MqttSubscription>& subscription : qAsConst(m_pendingUnsubacks))
        ended << subscription;
    m_subscriptions.clear();
    m_pendingSubacks.clear();
    m_pendingUnsubacks.clear();
    for (const QPointer<MqttSubscription>& subscription : qAsConst(ended)) {
        if (!subscription)
            continue;
        subscription->setState(MqttSubscription::Unsubscribed);
        if (subscription)
            subscription->deleteLater();
    }

    QPointer<MosquittoClient> self(this);
    setState(Disconnected);
    if (!self || error == NoError)
        return;
    m_error = error;
    emit errorChanged(error);
}

void MosquittoClient::dropNotifiers()
{
    // We may be inside one of their slots: disable now, delete later.
    for (QSocketNotifier* notifier : { m_readNotifier, m_writeNotifier }) {
        if (!notifier)
            continue;
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_socket = -1;
}

void MosquittoClient::setState(ClientState state)
{
    if (m_state == state)
        return;
    m_state = state;
    QPointer<MosquittoClient> self(this);
    emit stateChanged(state);
    if (!self || m_state != state)
        return;
    if (state == Connected)
        emit connected();
    else if (state == Disconnected)
        emit disconnected();
}

MosquittoClient::ClientError MosquittoClient::errorFromLibrary(int rc)
{
    switch (rc) {
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_MALFORMED_PACKET:
    case MOSQ_ERR_MALFORMED_UTF8:
    case MOSQ_ERR_DUPLICATE_PROPERTY:
    case MOSQ_ERR_OVERSIZE_PACKET:
        return ProtocolViolation;
    default:
        return TransportInvalid;
    }
}
