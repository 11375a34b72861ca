#include "Dispenser.h"

#include "MqttClient.h"
#include "PeerText.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QJsonDocument>

#include <limits>

namespace manager {

namespace {
constexpr int kDispenserTimeoutMs = 30000;

const char* boolText(bool value)
{
    return value ? "true" : "false";
}
} // namespace

Dispenser::Dispenser(MqttClient& mqtt, const QString& baseTopic, QObject* parent)
    : QObject(parent)
    , m_mqtt(mqtt)
    , m_baseTopic(baseTopic)
    , m_timeoutMs(kDispenserTimeoutMs)
{
    connect(&m_mqtt, &MqttClient::received, this, [this](const QByteArray& payload, const QByteArray& topic) {
        onMqttReceived(payload, QString::fromUtf8(topic));
    });
    subscribeToTopics();
}

Dispenser::~Dispenser() = default;

void Dispenser::setManufacturer(const QString& manufacturer)
{
    if (assignIfChanged(m_manufacturer, manufacturer))
        emit manufacturerChanged();
}

void Dispenser::setModel(const QString& model)
{
    if (assignIfChanged(m_model, model))
        emit modelChanged();
}

void Dispenser::setFirmware(const QString& firmware)
{
    if (assignIfChanged(m_firmware, firmware))
        emit firmwareChanged();
}

void Dispenser::setSoftware(const QString& software)
{
    if (assignIfChanged(m_software, software))
        emit softwareChanged();
}

void Dispenser::setCartridge(const QString& cartridge)
{
    if (assignIfChanged(m_cartridge, cartridge))
        emit cartridgeChanged();
}

void Dispenser::setActive(bool active)
{
    if (m_active == active)
        return;
    qInfo().noquote().nospace() << "[Dispenser] "
                                << "Active changed : " << boolText(active);
    m_active = active;
    emit activeChanged();
}

void Dispenser::setIsJammed(bool jammed)
{
    if (m_isJammed == jammed)
        return;
    qInfo().noquote().nospace() << "[Dispenser] "
                                << "Jammed changed : " << boolText(jammed);
    m_isJammed = jammed;
    emit isJammedChanged();
}

void Dispenser::setIsDoorOpen(bool open)
{
    if (m_isDoorOpen == open)
        return;
    qInfo().noquote().nospace() << "[Dispenser] "
                                << "Door state changed : " << (open ? "Open" : "Closed");
    m_isDoorOpen = open;
    emit isDoorOpenChanged();
}

void Dispenser::setCardInMouth(bool inMouth)
{
    if (assignIfChanged(m_cardInMouth, inMouth))
        emit cardInMouthChanged();
}

void Dispenser::setCardInRfid(bool inRfid)
{
    if (assignIfChanged(m_cardInRfid, inRfid))
        emit cardInRfidChanged();
}

void Dispenser::setCartridgePercent(int percent)
{
    if (assignIfChanged(m_cartridgePercent, percent))
        emit cartridgePercentChanged();
}

Deferred<Dispenser::Result> Dispenser::accept()
{
    return executeRpc(QStringLiteral("/accept"), QJsonObject(), m_timeoutMs);
}

Deferred<Dispenser::Result> Dispenser::issue()
{
    return executeRpc(QStringLiteral("/issue"), QJsonObject(), m_timeoutMs);
}

Deferred<Dispenser::Result> Dispenser::dispose()
{
    return executeRpc(QStringLiteral("/dispose"), QJsonObject(), m_timeoutMs);
}

Deferred<Dispenser::Result> Dispenser::eject()
{
    return executeRpc(QStringLiteral("/eject"), QJsonObject(), m_timeoutMs);
}

Deferred<Dispenser::Result> Dispenser::collect()
{
    return executeRpc(QStringLiteral("/collect"), QJsonObject(), m_timeoutMs);
}

Deferred<Dispenser::Result> Dispenser::enableAccept()
{
    return executeRpc(QStringLiteral("/accept/enable"), QJsonObject(), m_timeoutMs);
}

Deferred<Dispenser::Result> Dispenser::disableAccept()
{
    return executeRpc(QStringLiteral("/accept/disable"), QJsonObject(), m_timeoutMs);
}

int Dispenser::collectTimeoutSec(int requested, const char* logPrefix)
{
    if (requested > 0)
        return requested;
    qWarning().noquote().nospace() << logPrefix << "WARN: Invalid collect timeout " << requested << " sec. Using "
                                   << DefaultCollectTimeoutSec << " sec";
    return DefaultCollectTimeoutSec;
}

Deferred<Dispenser::Result> Dispenser::waitCollect(int seconds)
{
    seconds = collectTimeoutSec(seconds);
    // A large value must not overflow the milliseconds.
    const qint64 msec = qMin<qint64>(qint64(seconds) * 1000, std::numeric_limits<int>::max());

    Deferred<Result> result;
    m_mqtt.waitTopic(m_baseTopic + QStringLiteral("/card/removed"), static_cast<int>(msec))
        .done([result](const QJsonValue&) {
            result.resolve(Result { 0, QString() });
        })
        .fail([result](const QJsonValue& error) {
            result.reject(Result { -1, error.toString() });
        });
    return result;
}

bool Dispenser::setLEDs(quint8 leds)
{
    const QJsonObject object { { QStringLiteral("red"), bool(leds & 0x01) },
        { QStringLiteral("green"), bool(leds & 0x02) } };
    return m_mqtt.publish(
        QJsonDocument(object).toJson(QJsonDocument::Indented), m_baseTopic + QStringLiteral("/led/set"));
}

void Dispenser::onMqttReceived(const QByteArray& payload, const QString& topic)
{
    if (!topic.contains(m_baseTopic))
        return;
    const int nul = payload.indexOf('\0');
    QString text = QString::fromUtf8(nul < 0 ? payload : payload.left(nul));
    if (text.isEmpty())
        text = QStringLiteral("{}");
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qCritical().noquote().nospace() << "[Dispenser] "
                                        << QStringLiteral("ERROR: Failed to parse JSON message (topic=%1) :%2 )")
                                               .arg(PeerText::forLog(topic), PeerText::forLog(text));
        return;
    }
    const QJsonObject object = document.object();
    if (topic == m_baseTopic + QStringLiteral("/info"))
        onInfoReceived(object, topic);
    else if (topic == m_baseTopic + QStringLiteral("/status"))
        onStatusReceived(object, topic);
    else if (topic == m_baseTopic + QStringLiteral("/card/inserted"))
        emit cardAccepted();
    else if (topic == m_baseTopic + QStringLiteral("/card/removed"))
        emit cardRemoved();
    else if (topic == m_baseTopic + QStringLiteral("/card/disposed"))
        emit cardDisposed();
}

void Dispenser::subscribeToTopics()
{
    for (const char* suffix : { "/info", "/status", "/card/inserted", "/card/removed", "/card/disposed" })
        m_mqtt.subscribe(m_baseTopic + QLatin1String(suffix), 0);
}

void Dispenser::onInfoReceived(const QJsonObject& object, const QString&)
{
    const QJsonObject device = object.value(QStringLiteral("device")).toObject();
    setFirmware(device.value(QStringLiteral("firmware")).toString());
    setManufacturer(device.value(QStringLiteral("manufacturer")).toString());
    setModel(device.value(QStringLiteral("model")).toString());
    setSoftware(object.value(QStringLiteral("service")).toObject().value(QStringLiteral("version")).toString());
}

void Dispenser::onStatusReceived(const QJsonObject& object, const QString&)
{
    if (!object.value(QStringLiteral("service")).toBool(false)) {
        setActive(false);
        return;
    }
    const QJsonObject device = object.value(QStringLiteral("device")).toObject();
    setActive(device.value(QStringLiteral("active")).toBool(false));
    setIsJammed(device.value(QStringLiteral("isJammed")).toBool(false));
    setIsDoorOpen(device.value(QStringLiteral("isCartridgeDoorOpen")).toBool(false));
    setCardInMouth(device.value(QStringLiteral("cardInMouth")).toBool(false));
    setCardInRfid(device.value(QStringLiteral("cardInRfid")).toBool(false));
    setCartridge(device.value(QStringLiteral("cartridge")).toString());
    setCartridgePercent(device.value(QStringLiteral("cartridgePercent")).toInt(0));
}

QString Dispenser::nextRpcId()
{
    return QString::number(++m_requestCounter);
}

Deferred<Dispenser::Result> Dispenser::executeRpc(const QString& path, const QJsonObject& params, int timeoutMs)
{
    Deferred<Result> result;
    m_mqtt.executeRpc(m_baseTopic + path, nextRpcId(), params, timeoutMs)
        .done([result](const QJsonValue& reply) {
            const QJsonObject object = reply.toObject();
            if (object.value(QStringLiteral("completed")).toBool(false)) {
                result.resolve(Result { 0, QString() });
                return;
            }
            const QJsonObject error = object.value(QStringLiteral("error")).toObject();
            result.reject(Result {
                error.value(QStringLiteral("code")).toInt(0), error.value(QStringLiteral("description")).toString() });
        })
        .fail([result](const QJsonValue& error) {
            result.reject(Result { -1, error.toString() });
        });
    return result;
}

} // namespace manager
