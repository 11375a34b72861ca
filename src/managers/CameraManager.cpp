#include "CameraManager.h"

#include "Config.h"
#include "Container.h"
#include "MqttClient.h"
#include "PeerText.h"
#include "Plate.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <memory>

namespace manager {

namespace {
QDebug info()
{
    return qInfo().noquote().nospace() << "[CameraManager] ";
}

QDebug warning()
{
    return qWarning().noquote().nospace() << "[CameraManager] ";
}

// The IPv4 address of a host or peer (IPv4-mapped IPv6 included), 0 when it has none.
quint32 ipv4Key(const QHostAddress& address)
{
    bool ok = false;
    const quint32 key = address.toIPv4Address(&ok);
    return ok ? key : 0;
}

// A successful outcome and a guard on its reading, which dies with its camera.
struct Outcome
{
    VAXCamera::Result result;
    QPointer<VAXReading> reading;
};
} // namespace

const QStringList CameraManager::CAMERA_TYPES { QStringLiteral("alpr1"), QStringLiteral("alpr2"),
    QStringLiteral("ccr1"), QStringLiteral("ccr2") };

CameraManager::CameraManager(Config& config, MqttClient& mqtt, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_mqtt(mqtt)
{
    connect(
        this, &CameraManager::portChanged, this, [this](int port) { m_server.listen(port); }, Qt::DirectConnection);
    connect(&m_config, &Config::configChanged, this, &CameraManager::onConfigChanged);
    initCameras();
    connect(&m_server, &HttpServer::requestReceived, this, &CameraManager::onRequestReceived);
}

CameraManager::~CameraManager()
{
    disconnect(&m_config, nullptr, this, nullptr);
    m_server.close();
    // Also the cameras of earlier settings that still wait for their deferred deletion.
    const QList<VAXCamera*> cameras = findChildren<VAXCamera*>(QString(), Qt::FindDirectChildrenOnly);
    m_table.clear();
    m_cameras.clear();
    qDeleteAll(cameras);
}

void CameraManager::setPort(int port)
{
    info() << "setPort value : " << port;
    // A URL without a port gives -1: the listener would go deaf.
    if (port < 1 || port > 65535) {
        warning() << "WARN: Camera port " << port << " is outside 1-65535, keeping port " << m_port;
        return;
    }
    if (port == m_port)
        return;
    m_port = port;
    emit portChanged(port);
}

void CameraManager::setTriggerTimeout(int msec)
{
    m_triggerTimeoutMsec = msec;
    for (VAXCamera* camera : qAsConst(m_cameras))
        camera->setTriggerTimeout(msec);
}

VAXCamera* CameraManager::cameraFor(const QHostAddress& peer) const
{
    // Key 0 is no address: a peer without IPv4 must not reach any camera.
    const quint32 key = ipv4Key(peer);
    return key == 0 ? nullptr : m_table.value(key);
}

void CameraManager::removeCamera(VAXCamera* camera)
{
    m_cameras.removeAll(camera);
    for (auto it = m_table.begin(); it != m_table.end();) {
        if (it.value() == camera)
            it = m_table.erase(it);
        else
            ++it;
    }
    camera->deleteLater();
}

void CameraManager::initCameras()
{
    info() << "initCameras";
    // Rebuilt from scratch: a camera whose setting went away must not stay.
    for (VAXCamera* camera : QList<VAXCamera*>(m_cameras))
        removeCamera(camera);

    for (const QString& role : CAMERA_TYPES) {
        const QString setting = m_config.get(QStringLiteral("camera/") + role).toString();
        const QUrl url(setting);
        if (!url.isValid() || url.isEmpty() || url.host().isEmpty()) {
            if (!setting.isEmpty())
                warning() << "WARN: Invalid camera url for " << role << " : "
                          << PeerText::forLog(Config::maskedValue(QString(), setting).toString());
            continue;
        }
        const QHostAddress address(url.host());
        const quint32 key = ipv4Key(address);
        for (VAXCamera* camera : QList<VAXCamera*>(m_cameras)) {
            if (camera->url().host().compare(url.host(), Qt::CaseInsensitive) == 0
                || (key != 0 && ipv4Key(QHostAddress(camera->url().host())) == key))
                removeCamera(camera);
        }

        VAXCamera* camera = nullptr;
        if (role.contains(QLatin1String("alpr"))) {
            info() << "ALPR camera : " << PeerText::forLog(url.toDisplayString());
            camera = new Plate(url, this);
        } else {
            info() << "CCR camera : " << PeerText::forLog(url.toDisplayString());
            camera = new Container(url, this);
        }
        camera->setType(role);
        camera->setTriggerTimeout(m_triggerTimeoutMsec);
        setPort(url.port());
        m_cameras.append(camera);
        if (key != 0)
            m_table.insert(key, camera);
        else
            warning() << "WARN: Camera host " << PeerText::forLog(url.host())
                      << " is not an IPv4 address: it is triggered, but its pushes cannot be matched";
    }
}

void CameraManager::onConfigChanged(const QVariantMap& changes)
{
    QStringList pairs;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        pairs << it.key() + QStringLiteral("=") + Config::maskedValue(it.key(), it.value()).toString();
    info() << "onConfigChanged to map : " << PeerText::forLog(pairs.join(QStringLiteral(", ")));
    if (Config::contains(changes, QStringLiteral("camera\\/.*"))) {
        warning() << "WARN: Configuration changed. Applying.";
        initCameras();
    }
}

void CameraManager::onRequestReceived(const QHostAddress& peer, const HttpServer::Request& request)
{
    VAXCamera* camera = cameraFor(peer);
    if (!camera) {
        warning() << "Unknown peer address : " << peer.toString();
        return;
    }
    camera->handleTCPMessage(request.path, request.body);
}

Deferred<QMap<QString, QString>> CameraManager::cameraProcess(const QString& id)
{
    info() << "cameraProcess";
    m_transactionId = id.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : id;
    Deferred<QMap<QString, QString>> result;
    cameraTriggerReceived().done([this, result](const QList<VAXCamera::Result>& results) {
        info() << "Camera data received, check plates";
        result.resolve(parseCameraResults(results));
    });
    return result;
}

Deferred<QList<VAXCamera::Result>> CameraManager::cameraTriggerReceived()
{
    info() << "cameraTriggerReceived";
    int delay = m_config.get(QStringLiteral("camera/triggerDelayMsec")).toInt();
    if (delay < 0) {
        warning() << "WARN: Negative trigger delay " << delay << ", triggering at once";
        delay = 0;
    }
    Deferred<QList<VAXCamera::Result>> cycle;
    QTimer::singleShot(delay, this, [this, cycle] { runCycle(cycle); });
    return cycle;
}

void CameraManager::runCycle(const Deferred<QList<VAXCamera::Result>>& cycle)
{
    auto outcomes = std::make_shared<QList<Outcome>>();
    QList<Deferred<QString>> statuses;
    const int waitMsec = m_dataWaitMsec;
    for (VAXCamera* camera : qAsConst(m_cameras)) {
        // The camera may be deleted by a change of settings while it is busy.
        const QPointer<VAXCamera> guard(camera);
        const QString host = camera->url().host();
        Deferred<QString> status;
        statuses.append(status);
        const int retries = m_config.get(QStringLiteral("camera/numberOfRetries")).toInt();
        const int timeout = m_config.get(QStringLiteral("camera/responseTimeoutMsec")).toInt();
        camera->startCameraProcess(m_transactionId, retries, timeout)
            .fail([host, status](const QString& text) {
                warning() << "WARN: Camera " << host << " failed: " << PeerText::forLog(text);
                status.resolve(QStringLiteral("Camera ") + host + QStringLiteral(" failed: ") + text);
            })
            .done([guard, host, status, outcomes, waitMsec](const QString&) {
                info() << "Successful trigger, wait data message : " << host;
                if (!guard) {
                    status.resolve(QStringLiteral("Camera ") + host + QStringLiteral(" failed: removed"));
                    return;
                }
                guard->waitTCPDataMessage(waitMsec)
                    .fail([host, status](const VAXCamera::Result& outcome) {
                        warning() << "WARN: Camera " << host << " data message error : " << outcome.message;
                        status.resolve(
                            QStringLiteral("Camera [%1] data message error : [%2]").arg(host, outcome.message));
                    })
                    .done([host, status, outcomes](const VAXCamera::Result& outcome) {
                        info() << "Camera " << host << " data received";
                        outcomes->append(Outcome { outcome, outcome.reading });
                        status.resolve(QStringLiteral("Camera ") + host + QStringLiteral(" data received"));
                    });
            });
    }
    const int count = statuses.size();
    Deferred<>::when(statuses).done([cycle, outcomes, count] {
        info() << "Received all cameras data. Number of cameras : " << count;
        QList<VAXCamera::Result> results;
        for (const Outcome& outcome : qAsConst(*outcomes)) {
            // A reading whose camera went away meanwhile is no longer there to read.
            if (!outcome.reading) {
                warning() << "WARN: A camera was removed after its data message, dropping its reading";
                continue;
            }
            results.append(outcome.result);
            info() << "IP : " << outcome.reading->ip() << " Plate : " << PeerText::forLog(outcome.reading->plate());
            info() << "IP : " << outcome.reading->ip()
                   << " Container : " << PeerText::forLog(outcome.reading->containerCode());
        }
        cycle.resolve(results);
    });
}

QMap<QString, QString> CameraManager::parseCameraResults(const QList<VAXCamera::Result>& results) const
{
    info() << "parseCameraResults";
    QMap<QString, QString> readings;
    if (results.isEmpty()) {
        warning() << "WARN: No results received from cameras";
        return readings;
    }
    info() << "Received results from " << results.size() << " cameras";
    const QString none = QStringLiteral("NONE");
    for (const VAXCamera::Result& result : results) {
        const VAXReading* reading = result.reading;
        if (!reading)
            continue;
        const QString& type = reading->type();
        if (type == QLatin1String("alpr1") && reading->plate() != none)
            readings.insert(QStringLiteral("Front"), reading->plate());
        else if (type == QLatin1String("alpr2") && reading->plate() != none)
            readings.insert(QStringLiteral("Rear"), reading->plate());
        else if (type == QLatin1String("ccr1") && reading->containerCode() != none)
            readings.insert(QStringLiteral("Container1"), reading->containerCode());
        else if (type == QLatin1String("ccr2") && reading->containerCode() != none)
            readings.insert(QStringLiteral("Container2"), reading->containerCode());
    }
    return readings;
}

void CameraManager::subscribeToTopics()
{
    info() << "subscribeToTopics";
    m_mqtt.subscribe(QStringLiteral("ui/config"), 0);
}

void CameraManager::onMqttMessageReceived(const QByteArray& payload, const QString& topic)
{
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (document.isObject() && topic == QLatin1String("ui/config"))
        onConfigChanged(document.object().toVariantMap());
}

} // namespace manager
