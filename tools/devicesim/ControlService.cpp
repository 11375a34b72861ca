#include "ControlService.h"

#include "CardWorld.h"
#include "DispenserService.h"
#include "FaultPlan.h"
#include "Journal.h"
#include "MqttLink.h"
#include "ReaderService.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

const QString RequestMarker = QStringLiteral("/request/");

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

ControlService::ControlService(const QString& root, MqttLink& link, CardWorld& world, ReaderService& reader,
    DispenserService& dispenser, FaultPlan& faults, Journal& journal, QObject* parent)
    : QObject(parent)
    , m_root(root)
    , m_link(link)
    , m_world(world)
    , m_reader(reader)
    , m_dispenser(dispenser)
    , m_faults(faults)
    , m_journal(journal)
{
    m_link.setWill(m_root + QStringLiteral("/status"), compact(QJsonObject { { QStringLiteral("ready"), false } }));
    m_link.addSubscription(m_root + QStringLiteral("/+/request/+"));
    m_link.addSubscription(m_root + QStringLiteral("/+/+/request/+"));
    connect(&m_link, &MqttLink::messageReceived, this, &ControlService::onMessage);
    connect(&m_link, &MqttLink::connected, this, [this] {
        m_link.publish(
            m_root + QStringLiteral("/status"), compact(QJsonObject { { QStringLiteral("ready"), true } }), true);
    });
    connect(&m_journal, &Journal::recorded, this, [this](const QJsonObject& entry) {
        m_link.publish(m_root + QStringLiteral("/journal"), compact(entry), false);
    });
}

void ControlService::announceShutdown()
{
    m_link.publish(
        m_root + QStringLiteral("/status"), compact(QJsonObject { { QStringLiteral("ready"), false } }), true);
}

void ControlService::onMessage(const QString& topic, const QByteArray& payload)
{
    if (!topic.startsWith(m_root + QLatin1Char('/')))
        return;
    const QString rest = topic.mid(m_root.size() + 1);
    const int marker = rest.lastIndexOf(RequestMarker);
    if (marker <= 0)
        return;
    const QString command = rest.left(marker);
    const QString id = rest.mid(marker + RequestMarker.size());

    Answer answer;
    QJsonObject params;
    if (!payload.isEmpty()) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            answer.ok = false;
            answer.error = QStringLiteral("control payload is not a JSON object");
        } else {
            params = doc.object();
        }
    }
    if (answer.ok)
        answer = run(command, params);
    if (answer.ok) {
        qInfo().noquote().nospace() << "[control] " << command << " " << QString::fromUtf8(payload);
    } else {
        qWarning().noquote().nospace() << "[control] WARN: " << command << " " << QString::fromUtf8(payload)
                                       << " refused: " << answer.error;
    }
    QJsonObject reply { { QStringLiteral("completed"), answer.ok } };
    if (answer.ok)
        reply.insert(QStringLiteral("data"), answer.data);
    else
        reply.insert(QStringLiteral("error"), QJsonObject { { QStringLiteral("what"), answer.error } });
    m_link.publish(m_root + QLatin1Char('/') + command + QStringLiteral("/response/") + id, compact(reply), false);
}

ControlService::Answer ControlService::run(const QString& command, const QJsonObject& params)
{
    Answer answer;
    if (command == QLatin1String("take")) {
        answer.ok = m_dispenser.takeCard();
        answer.error = QStringLiteral("no card in the mouth");
    } else if (command == QLatin1String("autotake")) {
        if (!params.value(QStringLiteral("ms")).isDouble()) {
            answer.ok = false;
            answer.error = QStringLiteral("autotake needs \"ms\" (below 0 turns it off)");
        } else {
            m_dispenser.setAutoTakeMs(params.value(QStringLiteral("ms")).toInt());
        }
    } else if (command == QLatin1String("insert")) {
        answer.ok = m_dispenser.insertCard(
            params.value(QStringLiteral("uid")).toString(), params.value(QStringLiteral("type")).toInt(4));
        answer.error = QStringLiteral("the mouth is occupied");
    } else if (command == QLatin1String("dispenser")) {
        answer.ok = m_dispenser.control(params, &answer.error);
    } else if (command == QLatin1String("rfid")) {
        answer.ok = m_reader.control(params, &answer.error);
    } else if (command == QLatin1String("fault")) {
        answer.ok = m_faults.apply(params, &answer.error);
    } else if (command == QLatin1String("faults/clear")) {
        m_faults.clear();
    } else if (command == QLatin1String("cartridge")) {
        m_world.refill(params.value(QStringLiteral("cards")).toInt());
    } else if (command == QLatin1String("journal/get")) {
        answer.data.insert(QStringLiteral("entries"), m_journal.entries());
        return answer;
    } else if (command == QLatin1String("journal/clear")) {
        m_journal.clear();
    } else if (command == QLatin1String("state/get")) {
        // snapshot below
    } else {
        answer.ok = false;
        answer.error = QStringLiteral("unknown command \"%1\"").arg(command);
    }
    if (answer.ok) {
        answer.error.clear();
        answer.data = snapshot();
    }
    return answer;
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
