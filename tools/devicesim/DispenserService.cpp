#include "DispenserService.h"

#include "CardWorld.h"

#include <QJsonDocument>

DispenserService::DispenserService(const QString& root, MqttLink& link, FaultPlan& faults, Journal& journal,
    CardWorld& world, const QString& model, int autoTakeMs, QObject* parent)
    : DeviceService(QStringLiteral("dispenser"), root, link, faults, journal, parent)
    , m_world(world)
    , m_model(model)
    , m_autoTakeMs(autoTakeMs)
{
    connect(&m_world, &CardWorld::changed, this, [this] { publishStatus(); });
    addPlainPath(QStringLiteral("/led/set"));
}

bool DispenserService::takeCard()
{
    if (!m_world.mouthToTaken())
        return false;
    publishEvent(QStringLiteral("/card/removed"), QJsonObject());
    return true;
}

bool DispenserService::insertCard(const QString& uid, int type)
{
    if (!m_world.insertAtMouth(uid, type))
        return false;
    if (m_acceptEnabled && !isOffline() && !m_jammed && m_world.mouthToReader())
        publishEvent(QStringLiteral("/card/inserted"), QJsonObject());
    return true;
}

bool DispenserService::control(const QJsonObject& command, QString*)
{
    if (command.contains(QStringLiteral("jammed")))
        m_jammed = command.value(QStringLiteral("jammed")).toBool();
    if (command.contains(QStringLiteral("doorOpen")))
        m_doorOpen = command.value(QStringLiteral("doorOpen")).toBool();
    if (command.contains(QStringLiteral("active")))
        m_active = command.value(QStringLiteral("active")).toBool();
    if (command.contains(QStringLiteral("offline")))
        setOffline(command.value(QStringLiteral("offline")).toBool());
    publishStatus();
    return true;
}

QJsonObject DispenserService::toJson() const
{
    return QJsonObject {
        { QStringLiteral("jammed"), m_jammed },
        { QStringLiteral("doorOpen"), m_doorOpen },
        { QStringLiteral("active"), m_active },
        { QStringLiteral("offline"), isOffline() },
        { QStringLiteral("acceptEnabled"), m_acceptEnabled },
        { QStringLiteral("autoTakeMs"), m_autoTakeMs },
        { QStringLiteral("leds"), m_leds },
    };
}

DeviceService::Outcome DispenserService::handleRequest(const QString& path, const QJsonObject&)
{
    if (path == QLatin1String("/accept/enable") || path == QLatin1String("/accept/disable")) {
        m_acceptEnabled = path == QLatin1String("/accept/enable");
        return Outcome::done();
    }
    const bool move = path == QLatin1String("/issue") || path == QLatin1String("/eject")
        || path == QLatin1String("/accept") || path == QLatin1String("/dispose") || path == QLatin1String("/collect");
    if (!move)
        return Outcome::refused(99, QStringLiteral("Unknown request ") + path);
    if (!m_active)
        return Outcome::refused(Inactive, QStringLiteral("Dispenser inactive"));
    if (m_jammed)
        return Outcome::refused(Jammed, QStringLiteral("Dispenser jammed"));
    if (path == QLatin1String("/issue"))
        return issue();
    if (path == QLatin1String("/eject"))
        return eject();
    if (path == QLatin1String("/accept"))
        return accept();
    if (path == QLatin1String("/dispose"))
        return dispose();
    return collect();
}

void DispenserService::handlePlain(const QString& path, const QByteArray& payload)
{
    if (path != QLatin1String("/led/set"))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(payload);
    if (doc.isObject())
        m_leds = doc.object();
    else
        warn(QStringLiteral("LED message is not a JSON object"));
}

QJsonObject DispenserService::info() const
{
    return QJsonObject {
        { QStringLiteral("device"),
            QJsonObject { { QStringLiteral("firmware"), QStringLiteral("3.0.7") },
                { QStringLiteral("manufacturer"), QStringLiteral("Simulated Devices") },
                { QStringLiteral("model"), m_model } } },
        { QStringLiteral("service"), QJsonObject { { QStringLiteral("version"), QStringLiteral("devicesim-1.0") } } },
    };
}

QJsonObject DispenserService::deviceStatus() const
{
    return QJsonObject {
        { QStringLiteral("active"), m_active },
        { QStringLiteral("isJammed"), m_jammed },
        { QStringLiteral("isCartridgeDoorOpen"), m_doorOpen },
        { QStringLiteral("cardInMouth"), m_world.mouthCard() != nullptr },
        { QStringLiteral("cardInRfid"), m_world.readerCard() != nullptr },
        { QStringLiteral("cartridge"), cartridgeLevel() },
        { QStringLiteral("cartridgePercent"), cartridgePercent() },
    };
}

QJsonObject DispenserService::errorObject(int code, const QString& text) const
{
    return QJsonObject { { QStringLiteral("code"), code }, { QStringLiteral("description"), text } };
}

DeviceService::Outcome DispenserService::issue()
{
    if (m_doorOpen)
        return Outcome::refused(DoorOpen, QStringLiteral("Cartridge door open"));
    if (m_world.readerCard())
        return Outcome::refused(CardAlreadyInRfid, QStringLiteral("Card already in RFID position"));
    if (m_world.cartridgeCount() == 0)
        return Outcome::refused(CartridgeEmpty, QStringLiteral("Cartridge empty"));
    m_world.cartridgeToReader();
    return Outcome::done();
}

DeviceService::Outcome DispenserService::eject()
{
    if (!m_world.readerCard())
        return Outcome::refused(NoCard, QStringLiteral("No card in RFID position"));
    if (m_world.mouthCard())
        return Outcome::refused(MouthOccupied, QStringLiteral("Card in mouth"));
    m_world.readerToMouth();
    if (m_autoTakeMs >= 0) {
        const QString uid = m_world.mouthCard()->uid;
        QTimer::singleShot(m_autoTakeMs, this, [this, uid] {
            // Only the card that was ejected, and only if it is still there.
            if (m_world.mouthCard() && m_world.mouthCard()->uid == uid)
                takeCard();
        });
    }
    return Outcome::done();
}

DeviceService::Outcome DispenserService::accept()
{
    if (!m_world.mouthCard())
        return Outcome::refused(NoCard, QStringLiteral("No card in mouth"));
    if (m_world.readerCard())
        return Outcome::refused(ReaderOccupied, QStringLiteral("RFID position occupied"));
    m_world.mouthToReader();
    publishEvent(QStringLiteral("/card/inserted"), QJsonObject());
    return Outcome::done();
}

DeviceService::Outcome DispenserService::dispose()
{
    // The card on the reader position first; an uncollected one in the mouth otherwise.
    if (!m_world.readerToBin() && !m_world.mouthToBin())
        return Outcome::refused(NoCard, QStringLiteral("No card to dispose"));
    publishEvent(QStringLiteral("/card/disposed"), QJsonObject());
    return Outcome::done();
}

DeviceService::Outcome DispenserService::collect()
{
    if (!m_world.mouthToBin())
        return Outcome::refused(NoCard, QStringLiteral("No card in mouth"));
    publishEvent(QStringLiteral("/card/disposed"), QJsonObject());
    return Outcome::done();
}

QString DispenserService::cartridgeLevel() const
{
    const int count = m_world.cartridgeCount();
    if (count == 0)
        return QStringLiteral("empty");
    if (count >= m_world.capacity())
        return QStringLiteral("full");
    if (cartridgePercent() <= 10)
        return QStringLiteral("reserve");
    return QStringLiteral("normal");
}

int DispenserService::cartridgePercent() const
{
    return m_world.cartridgeCount() * 100 / m_world.capacity();
}
