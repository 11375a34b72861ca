#include "MqttProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QThread>
#include <QUuid>

#include <mosquitto.h>

QJsonObject MqttProbe::Message::json() const
{
    return QJsonDocument::fromJson(payload).object();
}

MqttProbe::MqttProbe(const QString& clientId)
{
    static const bool initialised = (mosquitto_lib_init() == MOSQ_ERR_SUCCESS);
    Q_UNUSED(initialised)
    const QString id = clientId.isEmpty() ? "probe-" + QUuid::createUuid().toString(QUuid::Id128).left(16) : clientId;
    m_mosq = mosquitto_new(id.toUtf8().constData(), true, this);
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        auto* probe = static_cast<MqttProbe*>(self);
        QMutexLocker lock(&probe->m_mutex);
        probe->m_connected = (rc == 0);
        probe->m_acked.clear(); // message ids start over with a new session
    });
    mosquitto_disconnect_callback_set(m_mosq, [](mosquitto*, void* self, int) {
        auto* probe = static_cast<MqttProbe*>(self);
        QMutexLocker lock(&probe->m_mutex);
        probe->m_connected = false;
    });
    mosquitto_message_callback_set(m_mosq, [](mosquitto* mosq, void* self, const mosquitto_message* message) {
        auto* probe = static_cast<MqttProbe*>(self);
        const Message copy { QString::fromUtf8(message->topic),
            QByteArray(static_cast<const char*>(message->payload), message->payloadlen), message->retain };
        QMutexLocker lock(&probe->m_mutex);
        probe->m_messages.append(copy);
        const auto responder = probe->m_responder;
        lock.unlock();
        if (responder && copy.topic.contains(QStringLiteral("/request/"))) {
            const QByteArray topic = QString(copy.topic).replace("/request/", "/response/").toUtf8();
            const QByteArray answer = responder(copy.payload);
            mosquitto_publish(mosq, nullptr, topic.constData(), answer.size(), answer.constData(), 1, false);
        }
    });
    mosquitto_publish_callback_set(m_mosq, &MqttProbe::onAck);
    mosquitto_subscribe_callback_set(
        m_mosq, [](mosquitto* mosq, void* self, int mid, int, const int*) { onAck(mosq, self, mid); });
}

MqttProbe::~MqttProbe()
{
    disconnect();
    mosquitto_destroy(m_mosq);
}

bool MqttProbe::connectTo(const QString& host, quint16 port, int timeoutMs)
{
    // Connecting first: a network thread started while the client is still disconnected ends at once.
    if (mosquitto_connect_async(m_mosq, host.toUtf8().constData(), port, 30) != MOSQ_ERR_SUCCESS)
        return false;
    if (!m_loopRunning && mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
        return false;
    m_loopRunning = true;
    return waitUntil([this] { return isConnected(); }, timeoutMs);
}

bool MqttProbe::isConnected() const
{
    QMutexLocker lock(&m_mutex);
    return m_connected;
}

void MqttProbe::disconnect()
{
    if (!m_loopRunning)
        return;
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    m_loopRunning = false;
    QMutexLocker lock(&m_mutex);
    m_connected = false;
}

bool MqttProbe::subscribe(const QString& filter, int timeoutMs)
{
    int mid = 0;
    return mosquitto_subscribe(m_mosq, &mid, filter.toUtf8().constData(), 1) == MOSQ_ERR_SUCCESS
        && waitUntil([this, mid] { return acked(mid); }, timeoutMs);
}

bool MqttProbe::publish(const QString& topic, const QByteArray& payload, bool retain, int timeoutMs)
{
    int mid = 0;
    return mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), payload.size(), payload.constData(), 1, retain)
        == MOSQ_ERR_SUCCESS
        && waitUntil([this, mid] { return acked(mid); }, timeoutMs);
}

bool MqttProbe::publishNow(const QString& topic, const QByteArray& payload)
{
    return mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), payload.size(), payload.constData(), 1, false)
        == MOSQ_ERR_SUCCESS;
}

QList<MqttProbe::Message> MqttProbe::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QList<MqttProbe::Message> MqttProbe::messages(const QString& topic) const
{
    QList<Message> result;
    for (const Message& m : messages())
        if (m.topic == topic)
            result << m;
    return result;
}

int MqttProbe::count() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages.size();
}

void MqttProbe::clear()
{
    QMutexLocker lock(&m_mutex);
    m_messages.clear();
}

int MqttProbe::waitFor(const QString& topic, int timeoutMs, int from)
{
    return waitFor(
        topic, [](const Message&) { return true; }, timeoutMs, from);
}

int MqttProbe::waitFor(
    const QString& topic, const std::function<bool(const Message&)>& predicate, int timeoutMs, int from)
{
    int scanned = qMax(0, from);
    const bool found = waitUntil(
        [&] {
            for (const int end = count(); scanned < end; ++scanned)
                if (at(scanned).topic == topic && predicate(at(scanned)))
                    return true;
            return false;
        },
        timeoutMs);
    return found ? scanned : -1;
}

MqttProbe::Message MqttProbe::at(int index) const
{
    QMutexLocker lock(&m_mutex);
    return m_messages.value(index);
}

std::optional<MqttProbe::Message> MqttProbe::call(
    const QString& base, const QString& path, const QString& id, const QJsonObject& params, int timeoutMs)
{
    const QString replyTopic = base + path + QStringLiteral("/response/") + id;
    const int from = count();
    const QByteArray payload = QJsonDocument(params).toJson(QJsonDocument::Compact);
    if (!subscribe(replyTopic, timeoutMs) || !publish(base + path + "/request/" + id, payload, false, timeoutMs))
        return std::nullopt;
    const int index = waitFor(replyTopic, timeoutMs, from);
    return index < 0 ? std::nullopt : std::optional<Message>(at(index));
}

void MqttProbe::setResponder(const std::function<QByteArray(const QByteArray&)>& answer)
{
    QMutexLocker lock(&m_mutex);
    m_responder = answer;
}

bool MqttProbe::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

bool MqttProbe::acked(int mid) const
{
    QMutexLocker lock(&m_mutex);
    return m_acked.contains(mid);
}

void MqttProbe::onAck(mosquitto*, void* self, int mid)
{
    auto* probe = static_cast<MqttProbe*>(self);
    QMutexLocker lock(&probe->m_mutex);
    probe->m_acked.insert(mid);
}
