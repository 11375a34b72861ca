#include "Inspector.h"

#include "MqttClient.h"
#include "PeerText.h"
#include "ServiceMessage.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QJsonDocument>
#include <QPointer>

#include <limits>

namespace manager {

namespace {
const QString Prefix = QStringLiteral("[Inspector] ");
const QString Internal = QStringLiteral("internal");
} // namespace

Inspector::Inspector(MqttClient& client, const QString& root, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_root(root)
{
    m_shutdownTimer.setSingleShot(true);
    connect(&m_client, &MqttClient::received, this, [this](const QByteArray& payload, const QByteArray& topic) {
        onMqttReceived(payload, QString::fromUtf8(topic));
    });
    // Queued: the client renews the subscriptions after this signal, and the answer must not come first.
    connect(&m_client, &MqttClient::connected, this, &Inspector::refresh, Qt::QueuedConnection);
    connect(&m_monitorTimer, &QTimer::timeout, this, &Inspector::refresh);
    connect(&m_shutdownTimer, &QTimer::timeout, this, &Inspector::systemShutdown);
    subscribe();
}

Inspector::~Inspector() = default;

void Inspector::subscribe()
{
    qInfo().noquote().nospace() << Prefix << "Subscribing to topics";
    for (const char* suffix : { "/info", "/status", "/audio", "/stats/cpu", "/stats/memory", "/stats/disk" })
        m_client.subscribe(m_root + QLatin1String(suffix), 0);
}

void Inspector::refresh()
{
    qInfo().noquote().nospace() << Prefix << "Refreshing data";
    for (const char* suffix : { "/audio/get", "/stats/memory/get", "/stats/disk/get", "/stats/cpu/get" })
        m_client.publish("{}", m_root + QLatin1String(suffix), 0, false);
}

void Inspector::monitor(int msec)
{
    if (startMonitor(m_monitorTimer, msec, Prefix))
        refresh();
}

void Inspector::setAudioVolume(int value)
{
    qInfo().noquote().nospace() << Prefix << "Setting 'internal' audio volume : " << value << "%";
    const QJsonObject body { { Internal, QJsonObject { { QStringLiteral("volume"), value } } } };
    m_client.publish(QJsonDocument(body).toJson(), m_root + QStringLiteral("/audio/set"), 0, false);
}

void Inspector::audioPlay(const QString& file)
{
    qInfo().noquote().nospace() << Prefix << "Playing audio file (card='internal') : " << file;
    const QJsonObject body { { QStringLiteral("device"), Internal }, { QStringLiteral("filepath"), file } };
    m_client.publish(QJsonDocument(body).toJson(), m_root + QStringLiteral("/audio/play"), 0, false);
}

void Inspector::systemReboot()
{
    qInfo().noquote().nospace() << Prefix << "Requesting System reboot";
    requestPower(QStringLiteral("reboot"), &Inspector::systemRebootStarted);
}

void Inspector::systemShutdown()
{
    qInfo().noquote().nospace() << Prefix << "Requesting System shutdown";
    requestPower(QStringLiteral("shutdown"), &Inspector::systemShutdownStarted);
}

void Inspector::requestPower(const QString& action, void (Inspector::*started)())
{
    // A request the broker cannot get must not pass for one under way.
    if (!m_client.isConnected()) {
        powerFailed(action);
        return;
    }
    emit(this->*started)();
    QTimer::singleShot(m_powerDelayMs, Qt::PreciseTimer, this, [this, action] {
        if (!m_client.publish(QByteArray(), m_root + QStringLiteral("/power/%1/request/1").arg(action), 0, false))
            powerFailed(action);
    });
}

void Inspector::powerFailed(const QString& action)
{
    qCritical().noquote().nospace() << Prefix << "ERROR: System " << action
                                    << " request not sent, no connection to the inspector service";
    emit systemPowerFailed(action);
}

void Inspector::scheduleShutdown(int sec)
{
    if (m_shutdownTimer.isActive())
        return;
    qInfo().noquote().nospace() << Prefix << "Scheduling System shutdown in : " << sec << " sec(s)";
    // Beyond what a timer can hold the delay is clamped rather than wrapped into the past.
    const qint64 msec = qBound<qint64>(0, qint64(sec) * 1000, std::numeric_limits<int>::max());
    m_shutdownTimer.start(static_cast<int>(msec));
}

void Inspector::abortShutdown()
{
    if (!m_shutdownTimer.isActive())
        return;
    qInfo().noquote().nospace() << Prefix << "Aborting System shutdown";
    m_shutdownTimer.stop();
}

void Inspector::onMqttReceived(const QByteArray& payload, const QString& topic)
{
    if (!topic.contains(m_root))
        return;
    QJsonObject message;
    if (!parseServiceMessage(payload, Prefix, true, false, message))
        return;
    if (topic == m_root + QStringLiteral("/info"))
        onInfoReceived(message, topic);
    else if (topic == m_root + QStringLiteral("/status"))
        onStatusReceived(message, topic);
    else if (topic == m_root + QStringLiteral("/audio"))
        onAudioReceived(message, topic);
}

void Inspector::onInfoReceived(const QJsonObject& message, const QString& topic)
{
    qDebug().noquote().nospace() << Prefix << "Processing info topic " << PeerText::forLog(topic);
    m_info.insert(QStringLiteral("version"),
        message.value(QStringLiteral("service")).toObject().value(QStringLiteral("version")).toString());
    emit infoChanged();
}

void Inspector::onStatusReceived(const QJsonObject& message, const QString& topic)
{
    qDebug().noquote().nospace() << Prefix << "Processing status topic " << PeerText::forLog(topic);
    setStatus(
        message.value(QStringLiteral("service")).toBool(false) ? QStringLiteral("online") : QStringLiteral("offline"));
}

void Inspector::onAudioReceived(const QJsonObject& message, const QString&)
{
    const int volume = message.value(Internal).toObject().value(QStringLiteral("volume")).toInt(0);
    if (assignIfChanged(m_audioVolume, volume))
        emit audioVolumeChanged();
}

void Inspector::setStatus(const QString& status)
{
    if (status == m_status)
        return;
    qInfo().noquote().nospace() << Prefix << "Status changed : " << status;
    m_status = status;
    emit statusChanged();
}

} // namespace manager
