#include "KSTVv1Card.h"

#include <QJsonArray>
#include <QJsonValue>

namespace {

const QString TimestampFormat = QStringLiteral("yyyy-MM-ddThh:mm:ss");

} // namespace

const QString KSTVv1Card::Name = QStringLiteral("KSTVv1");

QJsonObject KSTVv1Card::_Usage::toJson() const
{
    return QJsonObject {
        { QStringLiteral("timestamp"), timestamp.isValid() ? timestamp.toString(TimestampFormat) : QString() },
        { QStringLiteral("type"), type },
        { QStringLiteral("usageCounter"), usageCounter },
        { QStringLiteral("deviceId"), deviceId },
        { QStringLiteral("locationId"), locationId },
    };
}

KSTVv1Card::_Usage& KSTVv1Card::_Usage::fromJson(const QJsonObject& object)
{
    timestamp = QDateTime::fromString(object.value(QStringLiteral("timestamp")).toString(), TimestampFormat);
    type = object.value(QStringLiteral("type")).toString();
    usageCounter = object.value(QStringLiteral("usageCounter")).toInt();
    deviceId = object.value(QStringLiteral("deviceId")).toString();
    locationId = object.value(QStringLiteral("locationId")).toString();
    return *this;
}

bool KSTVv1Card::_Usage::operator==(const _Usage& other) const
{
    return type == other.type && deviceId == other.deviceId && locationId == other.locationId
        && timestamp == other.timestamp && usageCounter == other.usageCounter;
}

KSTVv1Card::KSTVv1Card()
{
    setName(Name);
}

KSTVv1Card::~KSTVv1Card() = default;

QSharedPointer<KSTVv1Card> KSTVv1Card::fromJson(const QJsonObject& object)
{
    auto card = QSharedPointer<KSTVv1Card>::create();
    card->setUid(object.value(QStringLiteral("uid")).toString());
    card->setName(object.value(QStringLiteral("template")).toString());
    card->setType(static_cast<Type>(object.value(QStringLiteral("type")).toInt()));
    card->setData(object.value(QStringLiteral("data")).toObject());
    return card;
}

std::optional<KSTVv1Card::_Usage> KSTVv1Card::lastUsage() const
{
    if (m_usageLogs.isEmpty())
        return std::nullopt;
    return m_usageLogs.last();
}

void KSTVv1Card::incrUsageCounter(int n)
{
    // Wraps like the card's own 32-bit counter instead of overflowing into undefined behaviour.
    m_usageCounter = static_cast<int>(static_cast<quint32>(m_usageCounter) + static_cast<quint32>(n));
}

void KSTVv1Card::addUsageLog(const QString& type, const QString& deviceId, const QString& locationId)
{
    _Usage usage;
    usage.type = type;
    usage.deviceId = deviceId;
    usage.locationId = locationId;
    usage.timestamp = QDateTime::currentDateTime();
    usage.usageCounter = m_usageCounter;
    m_newUsageLogs.append(usage);
}

void KSTVv1Card::addUsageLog(const _Usage& usage)
{
    m_newUsageLogs.append(usage);
}

QJsonObject KSTVv1Card::data() const
{
    const QJsonObject info {
        { QStringLiteral("version"), 0 },
        { QStringLiteral("customsId"), m_customsId },
        { QStringLiteral("status"), m_status },
    };
    QJsonArray log;
    for (const _Usage& usage : m_newUsageLogs)
        log.append(usage.toJson());
    return QJsonObject {
        { QStringLiteral("info"), info },
        { QStringLiteral("usageCounter"), m_usageCounter },
        { QStringLiteral("usageLog"), log },
    };
}

void KSTVv1Card::setData(const QJsonObject& data)
{
    const QJsonObject info = data.value(QStringLiteral("info")).toObject();
    m_customsId = info.value(QStringLiteral("customsId")).toInt();
    m_status = info.value(QStringLiteral("status")).toString();
    m_usageCounter = data.value(QStringLiteral("usageCounter")).toInt();
    const QJsonArray log = data.value(QStringLiteral("usageLog")).toArray();
    for (const QJsonValue& entry : log) {
        _Usage usage;
        m_usageLogs.append(usage.fromJson(entry.toObject()));
    }
}
