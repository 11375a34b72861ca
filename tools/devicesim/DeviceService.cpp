#include "DeviceService.h"

#include "FaultPlan.h"
#include "Journal.h"
#include "MqttLink.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimer>

namespace {

const QString RequestMarker = QStringLiteral("/request/");
constexpr int InvalidRequestCode = 99;

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

DeviceService::Outcome DeviceService::Outcome::done(const QJsonObject& data)
{
    Outcome outcome;
    outcome.data = data;
    return outcome;
}

DeviceService::Outcome DeviceService::Outcome::refused(int code, const QString& text)
{
    Outcome outcome;
    outcome.completed = false;
    outcome.code = code;
    outcome.text = text;
    return outcome;
}

DeviceService::DeviceService(
    const QString& name, const QString& root, MqttLink& link, FaultPlan& faults, Journal& journal, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_root(root)
    , m_link(link)
    , m_faults(faults)
    , m_journal(journal)
{
    m_link.setWill(m_root + QStringLiteral("/status"), offlineStatus());
    // Requests have one- or two-level paths ("/enable", "/card/write", "/accept/enable").
    m_link.addSubscription(m_root + QStringLiteral("/+/request/+"));
    m_link.addSubscription(m_root + QStringLiteral("/+/+/request/+"));
    connect(&m_link, &MqttLink::connected, this, &DeviceService::onConnected);
    connect(&m_link, &MqttLink::messageReceived, this, &DeviceService::onMessage);
}

void DeviceService::setOffline(bool offline)
{
    if (m_offline == offline)
        return;
    m_offline = offline;
    log(offline ? QStringLiteral("Service offline") : QStringLiteral("Service online"));
    publishStatus();
}

QByteArray DeviceService::offlineStatus()
{
    return compact(QJsonObject { { QStringLiteral("service"), false } });
}

void DeviceService::announceShutdown()
{
    m_link.publish(m_root + QStringLiteral("/status"), offlineStatus(), true);
}

void DeviceService::handlePlain(const QString&, const QByteArray&)
{
}

void DeviceService::addPlainPath(const QString& path)
{
    m_plainPaths.insert(path);
    m_link.addSubscription(m_root + path);
}

void DeviceService::publishStatus(bool force)
{
    const QByteArray payload = m_offline
        ? offlineStatus()
        : compact(QJsonObject { { QStringLiteral("service"), true }, { QStringLiteral("device"), deviceStatus() } });
    if (!force && payload == m_lastStatus)
        return;
    m_lastStatus = payload;
    log(QStringLiteral("Status ") + QString::fromUtf8(payload));
    m_link.publish(m_root + QStringLiteral("/status"), payload, true);
}

void DeviceService::publishEvent(const QString& path, const QJsonObject& payload)
{
    const QByteArray bytes = compact(payload);
    if (m_offline) {
        log(QStringLiteral("Offline: event not published ") + path);
        return;
    }
    log(QStringLiteral("Event ") + path + QLatin1Char(' ') + QString::fromUtf8(bytes));
    m_link.publish(m_root + path, bytes, false);
}

void DeviceService::log(const QString& text) const
{
    qInfo().noquote().nospace() << "[" << m_name << "] " << text;
}

void DeviceService::warn(const QString& text) const
{
    qWarning().noquote().nospace() << "[" << m_name << "] WARN: " << text;
}

void DeviceService::onConnected()
{
    // The broker may have lost its retained messages (a restart without persistence).
    m_link.publish(m_root + QStringLiteral("/info"), compact(info()), true);
    publishStatus(true);
}

void DeviceService::onMessage(const QString& topic, const QByteArray& payload)
{
    if (!topic.startsWith(m_root + QLatin1Char('/')))
        return;
    const QString rest = topic.mid(m_root.size());
    const int marker = rest.lastIndexOf(RequestMarker);
    if (marker > 0) {
        const QString id = rest.mid(marker + RequestMarker.size());
        if (!id.isEmpty())
            onRequest(rest.left(marker), id, payload);
        return;
    }
    if (!m_plainPaths.contains(rest))
        return;
    m_journal.record(m_name, rest, QString(), payload);
    log(QStringLiteral("Message ") + rest + QLatin1Char(' ') + QString::fromUtf8(payload));
    if (!m_offline)
        handlePlain(rest, payload);
}

void DeviceService::onRequest(const QString& path, const QString& id, const QByteArray& payload)
{
    m_journal.record(m_name, path, id, payload);
    log(QStringLiteral("Request ") + path + QStringLiteral(" #") + id + QLatin1Char(' ') + QString::fromUtf8(payload));
    if (m_offline) {
        log(QStringLiteral("Offline: no reply to #") + id);
        return;
    }

    QJsonObject params;
    if (!payload.isEmpty()) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            warn(QStringLiteral("Request #") + id + QStringLiteral(" is not a JSON object"));
            sendReply(path, id,
                compact(QJsonObject { { QStringLiteral("completed"), false },
                    { QStringLiteral("error"), errorObject(InvalidRequestCode, QStringLiteral("Invalid request")) } }));
            return;
        }
        params = doc.object();
    }

    const std::optional<FaultPlan::Fault> fault = m_faults.take(m_name + path);
    if (!fault) {
        serve(path, id, params, true);
        return;
    }
    switch (fault->mode) {
    case FaultPlan::Fault::Refuse:
        log(QStringLiteral("Fault: refusing #") + id);
        sendReply(path, id,
            compact(QJsonObject { { QStringLiteral("completed"), false },
                { QStringLiteral("error"), errorObject(fault->code, fault->text) } }));
        return;
    case FaultPlan::Fault::Delay:
        log(QStringLiteral("Fault: delaying #%1 by %2 ms").arg(id).arg(fault->ms));
        QTimer::singleShot(fault->ms, this, [this, path, id, params] {
            if (m_offline)
                log(QStringLiteral("Offline: no reply to #") + id);
            else
                serve(path, id, params, true);
        });
        return;
    case FaultPlan::Fault::NoReply:
    case FaultPlan::Fault::Array:
    case FaultPlan::Fault::Empty:
    case FaultPlan::Fault::Raw:
        if (fault->act)
            serve(path, id, params, false);
        if (fault->mode == FaultPlan::Fault::NoReply)
            log(QStringLiteral("Fault: no reply to #") + id);
        else if (fault->mode == FaultPlan::Fault::Array)
            sendReply(path, id, QByteArrayLiteral("[]"));
        else if (fault->mode == FaultPlan::Fault::Empty)
            sendReply(path, id, QByteArray());
        else
            sendReply(path, id, fault->raw);
        return;
    }
}

void DeviceService::serve(const QString& path, const QString& id, const QJsonObject& params, bool reply)
{
    const Outcome outcome = handleRequest(path, params);
    if (!outcome.completed)
        log(QStringLiteral("Refused #%1: (%2) %3").arg(id).arg(outcome.code).arg(outcome.text));
    if (!reply)
        return;
    QJsonObject object { { QStringLiteral("completed"), outcome.completed } };
    if (outcome.completed)
        object.insert(QStringLiteral("data"), outcome.data);
    else
        object.insert(QStringLiteral("error"), errorObject(outcome.code, outcome.text));
    sendReply(path, id, compact(object));
}

void DeviceService::sendReply(const QString& path, const QString& id, const QByteArray& payload)
{
    m_link.publish(m_root + path + QStringLiteral("/response/") + id, payload, false);
}
