#include "CardWorld.h"

#include <QJsonArray>

namespace {

QJsonArray listToJson(const QList<CardWorld::Card>& cards)
{
    QJsonArray array;
    for (const CardWorld::Card& card : cards)
        array.append(card.toJson());
    return array;
}

QJsonValue optionalToJson(const std::optional<CardWorld::Card>& card)
{
    return card ? QJsonValue(card->toJson()) : QJsonValue(QJsonValue::Null);
}

} // namespace

QJsonObject CardWorld::Card::toJson() const
{
    QJsonObject object { { QStringLiteral("uid"), uid }, { QStringLiteral("type"), type } };
    if (!templateName.isEmpty()) {
        object.insert(QStringLiteral("template"), templateName);
        object.insert(QStringLiteral("data"), data);
    }
    return object;
}

CardWorld::CardWorld(int cards, int cardType, QObject* parent)
    : QObject(parent)
    , m_capacity(qMax(1, cards))
    , m_cardType(cardType)
{
    refill(qMax(0, cards));
}

CardWorld::Card* CardWorld::readerCard()
{
    return m_reader ? &*m_reader : nullptr;
}

CardWorld::Card* CardWorld::mouthCard()
{
    return m_mouth ? &*m_mouth : nullptr;
}

bool CardWorld::cartridgeToReader()
{
    if (m_cartridge.isEmpty() || m_reader)
        return false;
    m_reader = m_cartridge.takeFirst();
    moved(true);
    return true;
}

bool CardWorld::readerToMouth()
{
    if (!m_reader || m_mouth)
        return false;
    m_mouth = std::move(m_reader);
    m_reader.reset();
    moved(true);
    return true;
}

bool CardWorld::mouthToReader()
{
    if (!m_mouth || m_reader)
        return false;
    m_reader = std::move(m_mouth);
    m_mouth.reset();
    moved(true);
    return true;
}

bool CardWorld::readerToBin()
{
    if (!m_reader)
        return false;
    m_bin.append(*m_reader);
    m_reader.reset();
    moved(true);
    return true;
}

bool CardWorld::mouthToBin()
{
    if (!m_mouth)
        return false;
    m_bin.append(*m_mouth);
    m_mouth.reset();
    moved(false);
    return true;
}

bool CardWorld::mouthToTaken()
{
    if (!m_mouth)
        return false;
    m_taken.append(*m_mouth);
    m_mouth.reset();
    moved(false);
    return true;
}

bool CardWorld::insertAtMouth(const QString& uid, int type)
{
    if (m_mouth)
        return false;
    Card card = newCard(type);
    if (!uid.isEmpty())
        card.uid = uid;
    m_mouth = card;
    moved(false);
    return true;
}

void CardWorld::refill(int count)
{
    const bool grew = m_cartridge.size() < count;
    while (m_cartridge.size() < count)
        m_cartridge.append(newCard(m_cardType));
    m_capacity = qMax(m_capacity, count);
    if (grew)
        moved(false);
}

QJsonObject CardWorld::toJson() const
{
    return QJsonObject {
        { QStringLiteral("cartridge"), listToJson(m_cartridge) },
        { QStringLiteral("capacity"), m_capacity },
        { QStringLiteral("reader"), optionalToJson(m_reader) },
        { QStringLiteral("mouth"), optionalToJson(m_mouth) },
        { QStringLiteral("bin"), listToJson(m_bin) },
        { QStringLiteral("taken"), listToJson(m_taken) },
    };
}

CardWorld::Card CardWorld::newCard(int type)
{
    Card card;
    // Seven-byte uids as NXP cards have them; deterministic, so tests can name them.
    card.uid = QStringLiteral("04%1").arg(++m_serial, 12, 16, QLatin1Char('0')).toUpper();
    card.type = type;
    return card;
}

void CardWorld::moved(bool readerTouched)
{
    if (readerTouched)
        emit readerCardChanged();
    emit changed();
}
