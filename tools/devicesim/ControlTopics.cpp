#include "ControlTopics.h"

#include "Journal.h"
#include "MqttLink.h"

#include <QDebug>
#include <QJsonDocument>

namespace {

const QString RequestMarker = QStringLiteral("/request/");

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray ready(bool ready)
{
    return compact({ { QStringLiteral("ready"), ready } });
}

} // namespace

ControlTopics::ControlTopics(const QString& root, MqttLink& link, Journal& journal, QObject* parent)
    : QObject(parent)
    , m_journal(journal)
    , m_root(root)
    , m_link(link)
{
    m_link.setWill(m_root + QStringLiteral("/status"), ready(false));
    m_link.addSubscription(m_root + QStringLiteral("/+/request/+"));
    m_link.addSubscription(m_root + QStringLiteral("/+/+/request/+"));
    connect(&m_link, &MqttLink::messageReceived, this, &ControlTopics::onMessage);
    connect(&m_link, &MqttLink::subscribed, this, &ControlTopics::announceReady);
    connect(&m_journal, &Journal::recorded, this,
        [this](const QJsonObject& entry) { m_link.publish(m_root + QStringLiteral("/journal"), compact(entry)); });
}

void ControlTopics::awaitLinks(const QList<MqttLink*>& links)
{
    m_awaited = links;
    for (MqttLink* link : links)
        connect(link, &MqttLink::subscribed, this, &ControlTopics::announceReady);
}

// Requests sent once a peer saw "ready" must reach every service.
void ControlTopics::announceReady()
{
    if (!m_link.isSubscribed())
        return;
    for (const MqttLink* link : qAsConst(m_awaited))
        if (!link->isSubscribed())
            return;
    m_link.publish(m_root + QStringLiteral("/status"), ready(true), true);
}

void ControlTopics::announceShutdown()
{
    m_link.publish(m_root + QStringLiteral("/status"), ready(false), true);
}

void ControlTopics::onMessage(const QString& topic, const QByteArray& payload)
{
    if (!topic.startsWith(m_root + QLatin1Char('/')))
        return;
    const QString rest = topic.mid(m_root.size() + 1);
    const int marker = rest.lastIndexOf(RequestMarker);
    if (marker <= 0)
        return;
    const QString command = rest.left(marker);
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    QJsonObject data;
    QString error;
    bool ok = payload.isEmpty() || document.isObject();
    if (!ok)
        error = QStringLiteral("control payload is not a JSON object");
    else
        ok = run(command, document.object(), &data, &error);
    if (ok) {
        qInfo().noquote().nospace() << "[control] " << command << " " << QString::fromUtf8(payload);
    } else {
        qWarning().noquote().nospace() << "[control] WARN: " << command << " " << QString::fromUtf8(payload)
                                       << " refused: " << error;
    }
    QJsonObject reply { { QStringLiteral("completed"), ok } };
    if (ok)
        reply.insert(QStringLiteral("data"), data);
    else
        reply.insert(QStringLiteral("error"), QJsonObject { { QStringLiteral("what"), error } });
    m_link.publish(
        m_root + QLatin1Char('/') + command + QStringLiteral("/response/") + rest.mid(marker + RequestMarker.size()),
        compact(reply));
}
