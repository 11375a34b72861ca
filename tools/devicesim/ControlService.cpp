#include "ControlService.h"

#include "CardWorld.h"
#include "DispenserService.h"
#include "FaultPlan.h"
#include "Journal.h"
#include "ReaderService.h"

ControlService::ControlService(const QString& root, MqttLink& link, CardWorld& world, ReaderService& reader,
    DispenserService& dispenser, FaultPlan& faults, Journal& journal, QObject* parent)
    : ControlTopics(root, link, journal, parent)
    , m_world(world)
    , m_reader(reader)
    , m_dispenser(dispenser)
    , m_faults(faults)
{
}

bool ControlService::run(const QString& command, const QJsonObject& params, QJsonObject* data, QString* error)
{
    bool ok = true;
    if (command == QLatin1String("take")) {
        ok = m_dispenser.takeCard();
        *error = QStringLiteral("no card in the mouth");
    } else if (command == QLatin1String("autotake")) {
        if (!params.value(QStringLiteral("ms")).isDouble()) {
            ok = false;
            *error = QStringLiteral("autotake needs \"ms\" (below 0 turns it off)");
        } else {
            m_dispenser.setAutoTakeMs(params.value(QStringLiteral("ms")).toInt());
        }
    } else if (command == QLatin1String("insert")) {
        ok = m_dispenser.insertCard(
            params.value(QStringLiteral("uid")).toString(), params.value(QStringLiteral("type")).toInt(4));
        *error = QStringLiteral("the mouth is occupied");
    } else if (command == QLatin1String("dispenser")) {
        ok = m_dispenser.control(params, error);
    } else if (command == QLatin1String("rfid")) {
        ok = m_reader.control(params, error);
    } else if (command == QLatin1String("fault")) {
        ok = m_faults.apply(params, error);
    } else if (command == QLatin1String("faults/clear")) {
        m_faults.clear();
    } else if (command == QLatin1String("cartridge")) {
        m_world.refill(params.value(QStringLiteral("cards")).toInt());
    } else if (command == QLatin1String("journal/get")) {
        data->insert(QStringLiteral("entries"), m_journal.entries());
        return true;
    } else if (command == QLatin1String("journal/clear")) {
        m_journal.clear();
    } else if (command == QLatin1String("state/get")) {
        // snapshot below
    } else {
        ok = false;
        *error = QStringLiteral("unknown command \"%1\"").arg(command);
    }
    if (ok)
        *data = snapshot();
    return ok;
}

QJsonObject ControlService::snapshot() const
{
    return QJsonObject {
        { QStringLiteral("cards"), m_world.toJson() },
        { QStringLiteral("rfid"), m_reader.toJson() },
        { QStringLiteral("dispenser"), m_dispenser.toJson() },
        { QStringLiteral("faults"), m_faults.toJson() },
    };
}
