#include "VAXCamera.h"

#include "Config.h"
#include "PeerText.h"

#include <QAuthenticator>
#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>
#include <QXmlStreamReader>

namespace {
const char* const ConfigurationFile = "/opt/zent/kstv-terminal-ui/configuration.json";

QDebug info()
{
    return qInfo().noquote().nospace() << "[VAXCamera] ";
}

QDebug warning()
{
    return qWarning().noquote().nospace() << "[VAXCamera] ";
}

QDebug critical()
{
    return qCritical().noquote().nospace() << "[VAXCamera] ";
}

template<class D> void prunePending(QList<D>& list)
{
    list.erase(std::remove_if(list.begin(), list.end(), [](const D& d) { return !d.isPending(); }), list.end());
}
} // namespace

VAXCamera::VAXCamera(const QUrl& url, QObject* parent)
    : QObject(parent)
    , m_url(url)
    , m_reading(new VAXReading(this))
    , m_network(new QNetworkAccessManager(this))
{
    info() << "Camera url : " << PeerText::forLog(m_url.toDisplayString());
    // Cameras sit on the lane's own network: never through a proxy of the environment.
    m_network->setProxy(QNetworkProxy::NoProxy);
    // Credentials go out only when the camera asks for them.
    connect(m_network, &QNetworkAccessManager::authenticationRequired, this,
        [this](QNetworkReply*, QAuthenticator* authenticator) {
            authenticator->setUser(m_url.userName());
            authenticator->setPassword(m_url.password());
        });
}

VAXCamera::~VAXCamera()
{
    // A cycle may still wait on this camera: end its part as failed rather than never.
    const QString removed = QStringLiteral("[%1] Camera removed").arg(m_type);
    const QList<Deferred<QString>> triggers = m_pendingTriggers;
    const QList<Deferred<Result>> waits = m_pendingWaits;
    m_pendingTriggers.clear();
    m_pendingWaits.clear();
    for (const Deferred<QString>& trigger : triggers) {
        if (trigger.isPending())
            trigger.reject(removed);
    }
    for (const Deferred<Result>& wait : waits) {
        if (wait.isPending())
            wait.reject(Result { removed, nullptr });
    }
}

void VAXCamera::setType(const QString& type)
{
    if (m_type == type)
        return;
    m_type = type;
    emit typeChanged();
}

void VAXCamera::setUrl(const QUrl& url)
{
    if (m_url == url)
        return;
    m_url = url;
    emit urlChanged();
}

QString VAXCamera::tag() const
{
    return QStringLiteral("[%1] ").arg(m_type);
}

QString VAXCamera::appPath(const QString& role)
{
    if (role.contains(QLatin1String("alpr")))
        return QStringLiteral("/local/Vaxreader/");
    if (role.contains(QLatin1String("ccr")))
        return QStringLiteral("/local/Vaxcontainer/");
    return QString();
}

QUrl VAXCamera::hostUrl(const QString& path) const
{
    // Built through QUrl so that an IPv6 host gets its brackets.
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_url.host());
    url.setPath(path);
    return url;
}

Deferred<QString> VAXCamera::startCameraProcess(const QString& id, int retries, int timeoutMsec)
{
    info() << tag() << "startCameraProcess";
    m_transactionId = id;
    m_retries = retries;
    m_timeoutMsec = timeoutMsec;

    Deferred<QString> result;
    const QString role = m_type;
    sendCameraTrigger(hostUrl(appPath(m_type)).toString())
        .fail([result, role](const QString& text) {
            info() << "[" << role << "] Trigger camera error : " << PeerText::forLog(text);
            result.reject(text);
        })
        .done([result, role](const QString& text) {
            info() << "[" << role << "] Successful trigger, wait for Camera Post";
            result.resolve(text);
        });
    return result;
}

Deferred<QString> VAXCamera::sendCameraTrigger(const QString& prefix)
{
    info() << tag() << "sendCameraTrigger";
    QUrl url(prefix + QStringLiteral("trigger.cgi"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("id"), m_transactionId);
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setRawHeader("Connection", "close");
    // A compressed body would be inflated before it could be counted.
    request.setRawHeader("Accept-Encoding", "identity");
    // A push may overtake the trigger's reply; keep it for the wait from now on.
    m_keepEarlyPush = true;
    m_hasEarlyPush = false;

    Deferred<QString> result;
    prunePending(m_pendingTriggers);
    m_pendingTriggers.append(result);

    QNetworkReply* reply = m_network->get(request);
    const std::shared_ptr<QString> tooLarge = limitReply(reply, MaxTriggerReplyBytes);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, reply] {
        warning() << tag() << "WARN: Cannot send trigger signal. Timeout value : " << m_timeoutMsec;
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, timer, result, tooLarge] {
        timer->stop();
        timer->deleteLater();
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            m_keepEarlyPush = false;
            const QString error = tooLarge->isEmpty() ? reply->errorString() : *tooLarge;
            critical() << tag() << "Error : " << PeerText::forLog(error);
            result.reject(QStringLiteral("[%1] Trigger HTTP error :").arg(m_type) + error);
            return;
        }
        result.resolve(QString());
    });
    timer->start(m_triggerTimeoutMsec);
    return result;
}

Deferred<VAXCamera::Result> VAXCamera::waitTCPDataMessage(int timeoutMsec)
{
    info() << tag() << "waitTCPDataMessage";
    Deferred<Result> result;
    m_keepEarlyPush = false;
    if (m_hasEarlyPush) {
        m_hasEarlyPush = false;
        info() << tag() << "Data message arrived before the trigger reply";
        result.resolve(Result { QString(), m_reading });
        return result;
    }
    prunePending(m_pendingWaits);
    m_pendingWaits.append(result);

    // Children of the camera: they go with it, and the destructor settles the wait.
    auto* context = new QObject(this);
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    connect(this, &VAXCamera::processDataFinished, context, [context, timer, result](const Result& outcome) {
        if (!result.isPending())
            return;
        timer->stop();
        context->deleteLater();
        if (outcome.reading)
            result.resolve(outcome);
        else
            result.reject(outcome);
    });
    connect(timer, &QTimer::timeout, context, [this, context, result] {
        context->deleteLater();
        if (!result.isPending())
            return;
        info() << tag() << "Timeout";
        result.reject(Result { QStringLiteral("[%1] Timeout").arg(m_type), nullptr });
    });
    timer->start(timeoutMsec);
    return result;
}

void VAXCamera::handleTCPMessage(const QString& path, const QByteArray& body)
{
    info() << tag() << "handleCameraPostMessage";
    info() << "Received post message : " << PeerText::forLog(Config::maskedPayload(body));
    if (path.contains(QLatin1String("heartbeat"))) {
        info() << "ALPR heartbeat";
        processHeartbeatMessage(body);
        return;
    }
    m_pushRefusal.clear();
    if (!processData(body)) {
        const QString message = m_pushRefusal.isEmpty() ? QStringLiteral("Parse Error") : m_pushRefusal;
        emit processDataFinished(Result { message, nullptr });
        return;
    }
    if (m_keepEarlyPush) {
        prunePending(m_pendingWaits);
        m_hasEarlyPush = m_pendingWaits.isEmpty();
    }
    emit processDataFinished(Result { QString(), m_reading });
}

QJsonObject VAXCamera::parseObject(const QByteArray& body, bool* ok) const
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    *ok = document.isObject();
    if (!*ok) {
        warning() << tag() << "WARN: Body is not a JSON object : "
                  << (error.error == QJsonParseError::NoError ? QStringLiteral("not an object") : error.errorString());
    }
    return document.object();
}

bool VAXCamera::fieldsFit(const QJsonObject& object, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        const QString text = object.value(QLatin1String(key)).toString();
        const int bytes = text.toUtf8().size();
        if (bytes <= MaxFieldBytes)
            continue;
        m_pushRefusal = QStringLiteral("Field %1 longer than %2 bytes").arg(QLatin1String(key)).arg(MaxFieldBytes);
        warning() << tag() << "WARN: Push refused: " << m_pushRefusal << " (" << bytes
                  << ") : " << PeerText::forLog(text, 64);
        return false;
    }
    return true;
}

QDateTime VAXCamera::dateValue(const QJsonValue& value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

void VAXCamera::processHeartbeatMessage(const QByteArray& body)
{
    info() << tag() << "parseHeartbeatMessage";
    if (!m_type.contains(QLatin1String("alpr")))
        return;
    info() << tag() << "Heartbeat message received";
    bool ok = false;
    const QJsonObject object = parseObject(body, &ok);
    if (!ok
        || !fieldsFit(
            object, { "SoftwareVersion", "Manufacturer", "SerialNumber", "Model", "FirmwareVersion", "Date", "PID" }))
        return;
    m_reading->setPending(object.value(QLatin1String("pending")).toInt());
    m_reading->setSoftwareVersion(object.value(QLatin1String("SoftwareVersion")).toString());
    m_reading->setBuildNumber(object.value(QLatin1String("BuildNumber")).toInt());
    m_reading->setManufacturer(object.value(QLatin1String("Manufacturer")).toString());
    m_reading->setSerialNumber(object.value(QLatin1String("SerialNumber")).toString());
    m_reading->setModel(object.value(QLatin1String("Model")).toString());
    m_reading->setFirmwareVersion(object.value(QLatin1String("FirmwareVersion")).toString());
    m_reading->setDate(dateValue(object.value(QLatin1String("Date"))));
    m_reading->setPid(object.value(QLatin1String("PID")).toString());
}

std::shared_ptr<QString> VAXCamera::limitReply(QNetworkReply* reply, qint64 maxBytes)
{
    auto reason = std::make_shared<QString>();
    // Held back by the network layer once this much waits unread, so the body cannot pile
    // up in memory faster than it is counted here.
    reply->setReadBufferSize(maxBytes + 1);
    const auto check = [this, reply, maxBytes, reason](qint64 received, qint64 announced) {
        if (!reason->isEmpty() || (received <= maxBytes && announced <= maxBytes))
            return;
        *reason = QStringLiteral("Reply larger than %1 bytes").arg(maxBytes);
        warning() << tag() << "WARN: " << *reason << ", aborted";
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, this,
        [reply, check] { check(0, reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()); });
    connect(reply, &QNetworkReply::downloadProgress, this, check);
    return reason;
}

void VAXCamera::guardReply(
    QNetworkReply* reply, const QString& timeoutWarning, const std::function<void(QNetworkReply*, bool)>& onFinished)
{
    const std::shared_ptr<QString> tooLarge = limitReply(reply, MaxReplyBytes);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    auto timedOut = std::make_shared<bool>(false);
    connect(timer, &QTimer::timeout, this, [this, reply, timeoutWarning, timedOut] {
        warning() << tag() << timeoutWarning << m_timeoutMsec;
        *timedOut = true;
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, timer, timedOut, tooLarge, onFinished] {
        timer->stop();
        timer->deleteLater();
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError)
            critical() << tag()
                       << "Error : " << PeerText::forLog(tooLarge->isEmpty() ? reply->errorString() : *tooLarge);
        onFinished(reply, *timedOut);
    });
    timer->start(m_timeoutMsec);
}

void VAXCamera::retrieveCameraInfo()
{
    info() << tag() << "retrieveCameraInfo";
    const QJsonObject properties { { QStringLiteral("apiVersion"), QStringLiteral("1.3") },
        { QStringLiteral("method"), QStringLiteral("getAllProperties") } };
    const QByteArray body = QJsonDocument(properties).toJson(QJsonDocument::Compact);
    info() << "mAllProperties : " << QString::fromUtf8(body);
    QNetworkRequest request(hostUrl(QStringLiteral("/axis-cgi/basicdeviceinfo.cgi")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    guardReply(m_network->post(request, body), QStringLiteral("WARN: Cannot get basicdeviceinfo. Timeout value : "),
        [this](QNetworkReply* reply, bool) {
            if (reply->error() == QNetworkReply::NoError)
                parseCameraInfo(reply->readAll());
        });
}

void VAXCamera::parseCameraInfo(const QByteArray& body)
{
    info() << tag() << "parseCameraInfo";
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject()) {
        const QJsonObject list
            = document.object().value(QLatin1String("data")).toObject().value(QLatin1String("propertyList")).toObject();
        m_reading->setFirmwareVersion(list.value(QLatin1String("Version")).toString());
        m_reading->setModel(list.value(QLatin1String("ProdNbr")).toString());
        m_reading->setSerialNumber(list.value(QLatin1String("SerialNumber")).toString());
        m_reading->setManufacturer(list.value(QLatin1String("Brand")).toString());
        m_reading->setPid(list.value(QLatin1String("Soc")).toString());
        m_reading->setSoftwareVersion(list.value(QLatin1String("SocSerialNumber")).toString());
        m_reading->setDate(dateValue(list.value(QLatin1String("BuildDate"))));
    }
    info() << tag() << "Manufacturer / Brand : " << PeerText::forLog(m_reading->manufacturer())
           << ", SerialNumber : " << PeerText::forLog(m_reading->serialNumber())
           << ", Model : " << PeerText::forLog(m_reading->model())
           << ", FirmwareVersion : " << PeerText::forLog(m_reading->firmwareVersion())
           << ", BuildDate : " << m_reading->date().toString(Qt::ISODate)
           << ", SOC : " << PeerText::forLog(m_reading->pid())
           << ", SocSerialNumber : " << PeerText::forLog(m_reading->softwareVersion());
}

void VAXCamera::uploadCameraConfiguration()
{
    info() << tag() << "uploadCameraConfiguration";
    QFile file(QString::fromLatin1(ConfigurationFile));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug().noquote().nospace() << "[VAXCamera] "
                                     << "Cannot open the file";
        return;
    }
    QNetworkRequest request(hostUrl(appPath(m_type) + QStringLiteral("alpr.cgi")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    guardReply(m_network->post(request, file.readAll()),
        QStringLiteral("WARN: Cannot update the settings of the camera. Timeout value : "),
        [this](QNetworkReply* reply, bool) {
            if (reply->error() == QNetworkReply::NoError)
                parseCameraInfo(reply->readAll());
        });
}

Deferred<QByteArray> VAXCamera::requestDBTriggerData(const QString& prefix)
{
    info() << tag() << "requestDBTriggerData";
    Deferred<QByteArray> result;
    guardReply(m_network->get(QNetworkRequest(QUrl(prefix + QStringLiteral("mempl.cgi")))),
        QStringLiteral("WARN: Cannot get plateInfo from DB. Timeout value : "),
        [this, result](QNetworkReply* reply, bool timedOut) {
            if (timedOut) {
                result.reject(QStringLiteral("[%1] DB timeout").arg(m_type).toUtf8());
            } else if (reply->error() != QNetworkReply::NoError) {
                result.reject((QStringLiteral("[%1] DB Request error :").arg(m_type) + reply->errorString()).toUtf8());
            } else {
                info() << tag() << "DB data received";
                result.resolve(reply->readAll());
            }
        });
    return result;
}

bool VAXCamera::parseCameraXMLData(const QByteArray& body)
{
    info() << tag() << "parseCameraXMLData";
    m_reading->clearValues();
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::Invalid)
            break;
        if (!xml.isStartElement() || xml.name() != QLatin1String("plate"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (attributes.value(QLatin1String("image_id")) != m_transactionId)
            continue;
        const auto text = [&attributes](const char* name) { return attributes.value(QLatin1String(name)).toString(); };
        m_reading->setPlate(text("plate_number"));
        m_reading->setId(text("id"));
        m_reading->setCountry(text("country"));
        m_reading->setBlacklist(text("blacklist"));
        m_reading->setWhitelist(text("whitelist"));
        m_reading->setVehicleMake(text("vehicle_make"));
        m_reading->setVehicleModel(text("vehicle_model"));
        m_reading->setVehicleColor(text("vehicle_color"));
        m_reading->setImageId(text("image_id"));
        m_reading->setDate(QDateTime::fromString(text("date"), Qt::TextDate));
        m_reading->setIp(m_url.host());
        info() << tag() << "Plate : " << PeerText::forLog(m_reading->plate())
               << " Country : " << PeerText::forLog(m_reading->country()) << ", Date : " << m_reading->date().toString()
               << " " << m_reading->ip();
        emit retrieveTriggerDataSignal(m_type, m_reading);
        return true;
    }
    if (xml.hasError())
        qDebug().noquote().nospace() << "[VAXCamera] " << tag()
                                     << "XML Error : " << PeerText::forLog(xml.errorString());
    return false;
}
