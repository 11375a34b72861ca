#include "RFID.h"

#include "KSTVv1Card.h"
#include "MqttClient.h"
#include "PeerText.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QHash>
#include <QJsonDocument>
#include <QPointer>

namespace manager {

namespace {
constexpr int kReaderTimeoutMs = 3000;

QString uidText(const Tag::Ptr& card)
{
    return card ? PeerText::forLog(card->uid()) : QStringLiteral("<none>");
}
} // namespace

RFID::RFID(MqttClient& mqtt, const QString& baseTopic, QObject* parent)
    : QObject(parent)
    , m_mqtt(mqtt)
    , m_baseTopic(baseTopic)
    , m_timeoutMs(kReaderTimeoutMs)
{
    connect(&m_mqtt, &MqttClient::received, this, [this](const QByteArray& payload, const QByteArray& topic) {
        onMqttReceived(payload, QString::fromUtf8(topic));
    });
    subscribeToTopics();
}

RFID::~RFID() = default;

QString RFID::stateToStr(State state)
{
    static const QHash<int, QString> names {
        { Init, QStringLiteral("Init") },
        { Idle, QStringLiteral("Idle") },
        { Searching, QStringLiteral("Searching") },
        { CardFound, QStringLiteral("CardFound") },
        { Updating, QStringLiteral("Updating") },
        { Error, QStringLiteral("Error") },
    };
    return names.value(state, QStringLiteral("Unknown"));
}

Card::Ptr RFID::cardFactory(const QJsonObject& object)
{
    if (object.value(QStringLiteral("template")).toString() == KSTVv1Card::Name)
        return KSTVv1Card::fromJson(object);
    return Card::Ptr();
}

bool RFID::active() const
{
    return m_state == Idle || m_state == Searching || m_state == CardFound;
}

void RFID::setUid(const QString& uid)
{
    if (assignIfChanged(m_uid, uid))
        emit uidChanged();
}

void RFID::setManufacturer(const QString& manufacturer)
{
    if (assignIfChanged(m_manufacturer, manufacturer))
        emit manufacturerChanged();
}

void RFID::setModel(const QString& model)
{
    if (assignIfChanged(m_model, model))
        emit modelChanged();
}

void RFID::setFirmware(const QString& firmware)
{
    if (assignIfChanged(m_firmware, firmware))
        emit firmwareChanged();
}

void RFID::setSoftware(const QString& software)
{
    if (assignIfChanged(m_software, software))
        emit softwareChanged();
}

void RFID::setState(State state)
{
    if (m_state == state)
        return;
    qInfo().noquote().nospace() << "[RFID] "
                                << "State changed : " << stateToStr(state);
    m_state = state;
    emit stateChanged();
}

void RFID::setError(const QString& error)
{
    if (assignIfChanged(m_error, error))
        emit errorChanged();
}

void RFID::setActiveCard(const Tag::Ptr& card)
{
    if (m_activeCard.data() == card.data())
        return;
    qInfo().noquote().nospace()
        << "[RFID] " << QStringLiteral("Active tag changed : old=%1 new=%2").arg(uidText(m_activeCard), uidText(card));
    m_activeCard = card;
    emit activeCardChanged();
}

bool RFID::beepValid()
{
    return m_mqtt.publish(QByteArray(), m_baseTopic + QStringLiteral("/beep/valid"));
}

bool RFID::beepInvalid()
{
    return m_mqtt.publish(QByteArray(), m_baseTopic + QStringLiteral("/beep/invalid"));
}

Deferred<RFID::Result> RFID::enable(bool autoread)
{
    return executeRpc(QStringLiteral("/enable"), QJsonObject { { QStringLiteral("autoread"), autoread } }, m_timeoutMs);
}

Deferred<RFID::Result> RFID::disable()
{
    return executeRpc(QStringLiteral("/disable"), QJsonObject(), m_timeoutMs);
}

Deferred<RFID::Result> RFID::createCard(const QString& templateName)
{
    return executeRpc(
        QStringLiteral("/card/create"), QJsonObject { { QStringLiteral("template"), templateName } }, m_timeoutMs);
}

Deferred<RFID::Result> RFID::readCard(const QString& templateName, int usageLogs)
{
    return executeRpc(QStringLiteral("/card/read"),
        QJsonObject { { QStringLiteral("template"), templateName }, { QStringLiteral("usageLogs"), usageLogs },
            { QStringLiteral("topupLogs"), 0 } },
        m_timeoutMs);
}

Deferred<RFID::Result> RFID::writeCard(const Card::Ptr& card)
{
    if (!card) {
        qCritical().noquote().nospace() << "[RFID] "
                                        << "ERROR: No card to write";
        Deferred<Result> result;
        result.reject(Result { Tag::Ptr(), QStringLiteral("No card to write") });
        return result;
    }
    const QJsonObject params { { QStringLiteral("uid"), card->uid() },
        { QStringLiteral("type"), static_cast<int>(card->type()) }, { QStringLiteral("template"), card->name() },
        { QStringLiteral("data"), card->data() } };
    return executeRpc(QStringLiteral("/card/write"), params, m_timeoutMs);
}

Deferred<RFID::Result> RFID::waitCardFound(int msec)
{
    Deferred<Result> result;
    if (m_state == CardFound) {
        result.resolve(Result { m_activeCard, QString() });
    } else if (m_state == Searching) {
        m_mqtt.waitTopic(m_baseTopic + QStringLiteral("/card/found"), msec)
            .done([result](const QJsonValue& event) {
                result.resolve(Result { Tag::fromJson(event.toObject()), QString() });
            })
            .fail([result](const QJsonValue& error) {
                result.reject(Result { Tag::Ptr(), error.toString() });
            });
    } else {
        result.reject(Result { Tag::Ptr(), QStringLiteral("RF is disabled") });
    }
    return result;
}

void RFID::onMqttReceived(const QByteArray& payload, const QString& topic)
{
    if (!topic.contains(m_baseTopic))
        return;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qCritical().noquote().nospace() << "[RFID] "
                                        << "Failed to parse JSON message: " << PeerText::forLog(payload);
        return;
    }
    const QJsonObject object = document.object();
    if (topic == m_baseTopic + QStringLiteral("/info"))
        onInfoReceived(object, topic);
    else if (topic == m_baseTopic + QStringLiteral("/status"))
        onStatusReceived(object, topic);
    else if (topic == m_baseTopic + QStringLiteral("/card/found"))
        onCardFoundReceived(object, topic);
    else if (topic == m_baseTopic + QStringLiteral("/card/removed"))
        onCardRemovedReceived(object, topic);
    else if (topic == m_baseTopic + QStringLiteral("/card/autoread"))
        onCardAutoreadReceived(object, topic);
}

void RFID::subscribeToTopics()
{
    m_mqtt.subscribe(m_baseTopic + QStringLiteral("/#"), 0);
}

void RFID::onInfoReceived(const QJsonObject& object, const QString&)
{
    const QJsonObject device = object.value(QStringLiteral("device")).toObject();
    setUid(device.value(QStringLiteral("uid")).toString());
    setFirmware(device.value(QStringLiteral("firmware")).toString());
    setManufacturer(device.value(QStringLiteral("manufacturer")).toString());
    setModel(device.value(QStringLiteral("model")).toString());
    setSoftware(object.value(QStringLiteral("service")).toObject().value(QStringLiteral("version")).toString());
}

void RFID::onStatusReceived(const QJsonObject& object, const QString&)
{
    if (!object.value(QStringLiteral("service")).toBool(false)) {
        setState(Error);
        setError(QStringLiteral("Service is offline"));
        return;
    }
    const QJsonObject device = object.value(QStringLiteral("device")).toObject();
    setState(static_cast<State>(device.value(QStringLiteral("state")).toInt(0)));
    const QJsonValue error = device.value(QStringLiteral("error"));
    setError(error.isNull() ? QString() : error.toString());
    if (m_state == Idle && m_activeCard) {
        qWarning().noquote().nospace() << "[RFID] "
                                       << "WARN: RF disabled. Clearing active card";
        setActiveCard(Tag::Ptr());
    }
}

void RFID::onCardFoundReceived(const QJsonObject& object, const QString&)
{
    setActiveCard(Tag::fromJson(object));
    emit cardFound(m_activeCard);
}

void RFID::onCardRemovedReceived(const QJsonObject&, const QString&)
{
    emit cardRemoved(m_activeCard);
    setActiveCard(Tag::Ptr());
}

void RFID::onCardAutoreadReceived(const QJsonObject& object, const QString&)
{
    if (object.contains(QStringLiteral("error"))) {
        emit cardAutoreadFailed(
            object.value(QStringLiteral("error")).toObject().value(QStringLiteral("what")).toString());
        return;
    }
    const Card::Ptr card = cardFactory(object);
    setActiveCard(card);
    emit cardAutoread(card);
}

QString RFID::nextRpcId()
{
    return QString::number(++m_requestCounter);
}

Deferred<RFID::Result> RFID::executeRpc(const QString& path, const QJsonObject& params, int timeoutMs)
{
    Deferred<Result> result;
    m_mqtt.executeRpc(m_baseTopic + path, nextRpcId(), params, timeoutMs)
        .done([self = QPointer<RFID>(this), result](const QJsonValue& reply) {
            const QJsonObject object = reply.toObject();
            if (object.value(QStringLiteral("completed")).toBool(false)) {
                const Card::Ptr card = cardFactory(object.value(QStringLiteral("data")).toObject());
                if (self)
                    self->setActiveCard(card);
                result.resolve(Result { card, QString() });
            } else {
                result.reject(Result { Tag::Ptr(),
                    object.value(QStringLiteral("error")).toObject().value(QStringLiteral("what")).toString() });
            }
        })
        .fail([result](const QJsonValue& error) {
            result.reject(Result { Tag::Ptr(), error.toString() });
        });
    return result;
}

} // namespace manager
