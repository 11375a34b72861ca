#include "Update.h"

#include "MqttClient.h"
#include "PeerText.h"
#include "ServiceMessage.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QJsonDocument>

#include <utility>

namespace manager {

namespace {
const QString Prefix = QStringLiteral("[Update] ");
const QString Disconnected = QStringLiteral("Disconnected");
const QString NotRunning = QStringLiteral("Service not running");
const QString Downloading = QStringLiteral("Downloading");
const QString Installing = QStringLiteral("Installing");
const QString InstallRequested = QStringLiteral("Install requested");

// Present and not true: the service says it does not run.
bool saysDown(const QJsonObject& message, const QString& key)
{
    return message.contains(key) && message.value(key) != QJsonValue(true);
}
} // namespace

Update::Update(MqttClient& client, const QString& root, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_root(root)
    , m_status(Disconnected)
    , m_announcedStatus(Disconnected)
{
    m_checkTimer.setSingleShot(true);
    m_checkTimer.setInterval(10000);
    connect(&m_client, &MqttClient::received, this, [this](const QByteArray& payload, const QByteArray& topic) {
        onMqttReceived(payload, QString::fromUtf8(topic));
    });
    // Queued: the client renews the subscriptions after this signal, and the answer must not come first.
    connect(&m_client, &MqttClient::connected, this, &Update::refresh, Qt::QueuedConnection);
    connect(&m_client, &MqttClient::disconnected, this, &Update::onMqttDisconnected);
    connect(&m_checkTimer, &QTimer::timeout, this, &Update::checkTimerExpired);
    m_client.subscribe(m_root + QStringLiteral("/status"), 0);
    m_client.subscribe(m_root + QStringLiteral("/progress"), 0);
}

// A held order is not kept over a restart; the back office orders again at its next heartbeat.
Update::~Update()
{
    if (!m_heldOrder.isEmpty())
        qWarning().noquote().nospace() << Prefix << "WARN: Held download not sent : v="
                                       << PeerText::forLog(m_heldOrder.value(QStringLiteral("v")).toString());
}

void Update::check()
{
    qInfo().noquote().nospace() << Prefix << "Checking for updates";
    // Without the broker no check can run: "Disconnected" stays, and no timer pretends otherwise.
    if (!m_client.publish(QByteArray(), m_root + QStringLiteral("/check"), 0, false)) {
        qCritical().noquote().nospace() << Prefix << "ERROR: Cannot check for updates, no connection to the service";
        return;
    }
    setStatus(QStringLiteral("Checking for updates"));
    m_checkTimer.start();
    announceProgress();
}

void Update::install()
{
    if (m_pending.isEmpty()) {
        qWarning().noquote().nospace() << Prefix << "WARN: Cannot install. There are no pending versions";
        return;
    }
    // The service would refuse with a failure code, which reads as the running operation's outcome.
    const QString busy = busyWith();
    if (!busy.isEmpty()) {
        qWarning().noquote().nospace() << Prefix << "WARN: Cannot install. The service is busy : " << busy;
        return;
    }
    qInfo().noquote().nospace() << Prefix << "Installing pending update : " << PeerText::forLog(m_pending);
    if (!m_client.publish(QByteArray(), m_root + QStringLiteral("/install"), 0, false)) {
        qCritical().noquote().nospace() << Prefix << "ERROR: Cannot install, no connection to the service";
        return;
    }
    // Until the service reports, it counts as busy: a second tap would be refused, and the refusal
    // read as this installation's outcome. Nothing within a check's time offers Install again.
    m_installOrdered = true;
    setStatus(InstallRequested);
    m_checkTimer.start();
    announceProgress();
}

void Update::trigger(const QString& version, const QString& uri, const QString& checksum)
{
    const QJsonObject order {
        { QStringLiteral("v"), version },
        { QStringLiteral("uri"), uri },
        { QStringLiteral("md5"), checksum },
        { QStringLiteral("at"), 0 },
    };
    // As for install: the service would refuse with a failure code, which reads as the running
    // operation's outcome. The latest order waits for the operation's end instead.
    const QString busy = busyWith();
    if (!busy.isEmpty()) {
        holdOrder(order, busy);
        return;
    }
    // This order says all a held one did: the held one must never go after it.
    if (!m_heldOrder.isEmpty()) {
        qWarning().noquote().nospace() << Prefix << "WARN: Held download replaced : v="
                                       << PeerText::forLog(m_heldOrder.value(QStringLiteral("v")).toString());
        m_heldOrder = QJsonObject();
    }
    sendOrder(order, false);
}

// The operation the service runs, or the install order it has not answered yet; empty when neither.
QString Update::busyWith() const
{
    return m_operation.isEmpty() && m_installOrdered ? InstallRequested : m_operation;
}

// The back office orders again at every heartbeat: a version held behind the same operation is
// logged once.
void Update::holdOrder(const QJsonObject& order, const QString& busy)
{
    const QString version = order.value(QStringLiteral("v")).toString();
    const QString held = m_heldOrder.value(QStringLiteral("v")).toString();
    if (!m_heldOrder.isEmpty() && held != version)
        qWarning().noquote().nospace() << Prefix << "WARN: Held download replaced : v=" << PeerText::forLog(held);
    if (m_heldOrder.isEmpty() || held != version || m_heldBehind != busy)
        qWarning().noquote().nospace() << Prefix << "WARN: Download held. The service is busy : " << busy
                                       << ", v=" << PeerText::forLog(version);
    m_heldOrder = order;
    m_heldBehind = busy;
}

void Update::sendOrder(const QJsonObject& order, bool held)
{
    const QString line = held ? QStringLiteral("Triggerring held download : v=%1, uri=%2, checksum=%3")
                              : QStringLiteral("Triggerring download : v=%1, uri=%2, checksum=%3");
    qInfo().noquote().nospace() << Prefix
                                << line.arg(PeerText::forLog(order.value(QStringLiteral("v")).toString()),
                                       PeerText::forLog(order.value(QStringLiteral("uri")).toString()),
                                       PeerText::forLog(order.value(QStringLiteral("md5")).toString()));
    m_client.publish(QJsonDocument(order).toJson(), m_root + QStringLiteral("/trigger"), 0, false);
}

// Weighed against the versions of the service's report after the operation: a version it
// installed or holds ready needs no download.
void Update::releaseHeldOrder()
{
    if (m_heldOrder.isEmpty() || !busyWith().isEmpty())
        return;
    const QJsonObject order = std::exchange(m_heldOrder, QJsonObject());
    const QString version = order.value(QStringLiteral("v")).toString();
    if (version == m_current || version == m_pending) {
        qInfo().noquote().nospace() << Prefix
                                    << "Held download dropped, the service has it : v=" << PeerText::forLog(version);
        return;
    }
    sendOrder(order, true);
}

void Update::refresh()
{
    m_client.publish(QByteArray(), m_root + QStringLiteral("/status/get"), 0, false);
}

void Update::onMqttDisconnected()
{
    // A running check would otherwise overwrite "Disconnected" when it expires. An install order
    // not answered yet waits no more: the status asked for after the reconnect tells.
    m_checkTimer.stop();
    m_installOrdered = false;
    setStatus(Disconnected);
    announceProgress();
}

void Update::checkTimerExpired()
{
    qInfo().noquote().nospace() << Prefix << "No pedning updates";
    if (std::exchange(m_installOrdered, false))
        qWarning().noquote().nospace() << Prefix << "WARN: No answer from the service to the install order";
    // A download or an installation that reports rarely keeps its state: Install must not be offered meanwhile.
    if (!m_operation.isEmpty())
        setStatus(m_operation);
    else
        setStatus(m_pending.isEmpty() ? QStringLiteral("No pending updates") : QStringLiteral("Ready to install"));
    announceProgress();
}

void Update::onMqttReceived(const QByteArray& payload, const QString& topic)
{
    if (!topic.contains(m_root))
        return;
    QJsonObject message;
    if (!payload.isEmpty() && !parseServiceMessage(payload, Prefix, false, false, message))
        return;
    if (topic == m_root + QStringLiteral("/status"))
        onStatusReceived(message, topic);
    else if (topic == m_root + QStringLiteral("/progress"))
        onProgressReceived(message, topic);
    announceProgress();
}

void Update::onStatusReceived(const QJsonObject& message, const QString&)
{
    m_installOrdered = false;
    if (saysDown(message, QStringLiteral("updateman")) || saysDown(message, QStringLiteral("service"))) {
        m_operation.clear();
        setStatus(NotRunning);
        return;
    }
    const QString version = message.value(QStringLiteral("version")).toString();
    setCurrent(version == QLatin1String("0") ? QString() : version);
    setPending(message.value(QStringLiteral("pending")).toString());
    const QString state = message.value(QStringLiteral("state")).toString();
    m_operation = state == Downloading || state == Installing ? state : QString();
    setStatus(state);
    setProgressMessage(QStringLiteral("Idle"));
    setProgressPercent(0);
    releaseHeldOrder();
}

void Update::onProgressReceived(const QJsonObject& message, const QString&)
{
    m_checkTimer.stop();
    setProgressMessage(message.value(QStringLiteral("description")).toString());
    setProgressPercent(message.value(QStringLiteral("percent")).toInt(0));
    switch (message.value(QStringLiteral("progress")).toInt(0)) {
    case 100:
    case 102:
    case 103:
    case 104:
        m_operation.clear();
        m_installOrdered = false;
        setStatus(QStringLiteral("Installation failed"));
        break;
    case 204:
        m_operation.clear();
        m_installOrdered = false;
        setStatus(QStringLiteral("Installation success"));
        break;
    default:
        // The service works on something without saying what: an install order waits another check time.
        if (m_installOrdered)
            m_checkTimer.start();
        return;
    }
    // The versions change with an outcome: the page and the heartbeat show the service's, and a
    // held order goes out once they are known.
    refresh();
}

// One report per change, read once all of it is taken in: a report of the state half way
// (the percent set, the outcome not yet) would go out beside the outcome's.
void Update::announceProgress()
{
    if (m_announcedStatus == m_status && m_announcedPercent == m_progressPercent)
        return;
    m_announcedStatus = m_status;
    m_announcedPercent = m_progressPercent;
    emit progressChanged();
}

void Update::setStatus(const QString& status)
{
    if (assignIfChanged(m_status, status))
        emit statusChanged();
}

void Update::setCurrent(const QString& current)
{
    if (assignIfChanged(m_current, current))
        emit currentChanged();
}

void Update::setPending(const QString& pending)
{
    if (assignIfChanged(m_pending, pending))
        emit pendingChanged();
}

void Update::setProgressMessage(const QString& message)
{
    if (assignIfChanged(m_progressMessage, message))
        emit progressMessageChanged();
}

void Update::setProgressPercent(int percent)
{
    if (assignIfChanged(m_progressPercent, percent))
        emit progressPercentChanged();
}

} // namespace manager
