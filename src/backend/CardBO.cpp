#include "CardBO.h"

#include "Config.h"
#include "PeerText.h"
#include "SettingsValidator.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <limits>

#define BO_LOG(level) level().noquote().nospace() << "[Backend::CardBO] "

namespace Backend {

namespace {

QString compact(const QJsonValue& value)
{
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
}

// The reply as it may be logged: a "config" entry carries its key in "name" and the
// secret in "value", which the member-name rule alone would not see.
QJsonObject maskedReply(QJsonObject reply)
{
    QJsonArray config = reply.value(QStringLiteral("config")).toArray();
    for (int i = 0; i < config.size(); ++i) {
        QJsonObject element = config.at(i).toObject();
        const QString name = element.value(QStringLiteral("name")).toString();
        element.insert(QStringLiteral("value"),
            QJsonValue::fromVariant(Config::maskedValue(name, element.value(QStringLiteral("value")).toVariant())));
        config.replace(i, element);
    }
    if (reply.contains(QStringLiteral("config")))
        reply.insert(QStringLiteral("config"), config);
    return Config::maskSecrets(reply).toObject();
}

QString utcIso(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

QStringList texts(const QJsonValue& value)
{
    QStringList list;
    const QJsonArray array = value.toArray();
    list.reserve(array.size());
    for (const QJsonValue& item : array)
        list.append(item.toString());
    return list;
}

} // namespace

CardBO::CardBO(Config& config, Database& database, TerminalInfo& terminal, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_database(database)
    , m_terminal(terminal)
    , m_recorder(database.path())
{
    connect(&m_database, &Database::paramChanged, this, &CardBO::onParamChanged);
    connect(&m_config, &Config::configChanged, this, &CardBO::onConfigChanged);
    if (auto* source = dynamic_cast<QObject*>(&m_terminal)) {
        if (source->metaObject()->indexOfSignal("updateProgress(QString,int)") >= 0)
            connect(source, SIGNAL(updateProgress(QString, int)), this, SLOT(sendProgress(QString, int)));
    }
    initClient();
    initTimer();
}

CardBO::~CardBO()
{
    if (!m_progressWaiting.isEmpty()) {
        const ProgressReport& last = m_progressWaiting.last();
        BO_LOG(qWarning) << QStringLiteral("WARN: Progress reports not sent at exit : %1 (last [%2%%] %3)")
                                .arg(m_progressWaiting.size())
                                .arg(last.percent)
                                .arg(PeerText::forLog(last.operation));
    }
    // A delivery in flight never completes now; the mutex must not die locked.
    if (m_sending)
        m_sendLock.unlock();
}

QString CardBO::stateToStr(int state)
{
    static const QStringList names { QStringLiteral("Init"), QStringLiteral("Not Registered"),
        QStringLiteral("Online"), QStringLiteral("Error"), QStringLiteral("Stopped") };
    return state >= 0 && state < names.size() ? names.at(state) : QStringLiteral("Unknown");
}

void CardBO::initClient()
{
    const bool ignore = m_config.get(QStringLiteral("card-bo/ignoreSslErrors")).toBool();
    m_http.setIgnoreSslErrors(ignore);
    if (ignore)
        BO_LOG(qWarning) << "WARN: TLS errors of the back office are ignored ('card-bo/ignoreSslErrors' is true): "
                            "its identity is not verified. Set it to false to verify it.";
    m_http.setTLSRootCA(m_config.get(QStringLiteral("card-bo/rootCA")).toString());
    m_http.setTLSCert(m_config.get(QStringLiteral("card-bo/pubCert")).toString());
    m_http.setTLSKey(m_config.get(QStringLiteral("card-bo/privKey")).toString());
    m_http.setHeader(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    m_http.setHeader(QStringLiteral("User-Agent"), QStringLiteral("kstv/terminal"));
    m_http.setHeader(QStringLiteral("Connection"), QStringLiteral("keep-alive"));
    const QString apiKey = m_database.param(QStringLiteral("apiKey")).toString();
    if (!apiKey.isEmpty())
        m_http.setHeader(QStringLiteral("X-API-Key"), apiKey);
}

void CardBO::initTimer()
{
    connect(&m_tickTimer, &QTimer::timeout, this, &CardBO::onTick);
    m_tickTimer.setSingleShot(true);
    m_tickTimer.setInterval(FirstTickMsec);
    connect(&m_queueTimer, &QTimer::timeout, this, &CardBO::processPendingTransactions);
    m_queueTimer.setInterval(QueueIntervalMsec);
}

void CardBO::start()
{
    if (m_tickTimer.isActive())
        return;
    BO_LOG(qInfo) << "Starting Card BO engine";
    ++m_run;
    setState(Init, QStringLiteral("User request"));
    m_tickTimer.start();
    m_queueTimer.start();
}

void CardBO::stop()
{
    if (!m_tickTimer.isActive())
        return;
    BO_LOG(qInfo) << "Stopping Card BO engine";
    ++m_run;
    m_tickTimer.stop();
    m_queueTimer.stop();
    setState(Stopped, QStringLiteral("User request"));
}

void CardBO::setState(State state, const QString& reason)
{
    if (!assignStateIfChanged(m_state, m_reason, state, reason))
        return;
    BO_LOG(qInfo) << stateChangeText(state, stateToStr(state), reason);
    emit stateChanged();
}

void CardBO::onTick()
{
    const State state = m_state;
    int next = IdleTickMsec;
    switch (state) {
    case Init:
        processStateInit();
        break;
    case NotRegistered:
        processStateNotRegistered();
        break;
    case Online: {
        processStateOnline();
        const qint64 interval = qint64(m_config.get(QStringLiteral("card-bo/hbIntervalSec")).toInt()) * 1000;
        next = interval > 0 && interval <= std::numeric_limits<int>::max() ? int(interval) : IdleTickMsec;
        break;
    }
    case Error:
        setState(Init, QStringLiteral("Recovering from error"));
        next = ErrorTickMsec;
        break;
    case Stopped:
        break;
    }
    m_tickTimer.setInterval(next);
    // A tick run by hand while stopped must not restart the machine.
    if (m_state != Stopped)
        m_tickTimer.start();
}

void CardBO::processStateInit()
{
    if (!checkTerminalReady() || !checkTerminalRegistered())
        return;
    BO_LOG(qInfo) << "Updating Data for terminal : " << PeerText::forLog(m_terminal.serialNum());
    QPointer<CardBO> self(this);
    const int run = m_run;
    updateData().done([self, run] {
        if (!self)
            return;
        self->heartbeat().done([self, run] {
            if (self && self->m_run == run)
                self->setState(Online, QString());
        });
    });
}

void CardBO::processStateNotRegistered()
{
    if (!checkTerminalReady())
        return;
    QPointer<CardBO> self(this);
    const int run = m_run;
    registerDevice().done([self, run] {
        if (self && self->m_run == run)
            self->setState(Init, QString());
    });
}

void CardBO::processStateOnline()
{
    if (!checkTerminalReady())
        return;
    QPointer<CardBO> self(this);
    const int run = m_run;
    heartbeat()
        .fail([self, run] {
            if (self && self->m_run == run)
                self->setState(Error, QStringLiteral("Communication error"));
        })
        .done([self, run] {
            if (self && self->m_run == run)
                self->setState(Online, QString());
        });
}

bool CardBO::checkTerminalReady()
{
    if (m_terminal.serialNum().isEmpty()) {
        BO_LOG(qCritical) << "ERROR: Device ID is empty";
        setState(Error, QStringLiteral("Missing Device ID"));
        return false;
    }
    if (m_terminal.customsId().isEmpty()) {
        BO_LOG(qCritical) << "ERROR: Customs ID is empty";
        setState(Error, QStringLiteral("Missing Customs ID"));
        return false;
    }
    if (m_terminal.locationId().isEmpty()) {
        BO_LOG(qCritical) << "ERROR: Location ID is empty";
        setState(Error, QStringLiteral("Missing Location ID"));
        return false;
    }
    return true;
}

bool CardBO::checkTerminalRegistered()
{
    if (m_database.param(QStringLiteral("apiKey")).toString().isEmpty()) {
        BO_LOG(qWarning) << "WARN: API key is missing. Terminal is not registered.";
        setState(NotRegistered, QStringLiteral("Missing API key"));
        return false;
    }
    return true;
}

QUrl CardBO::createUrl(const QString& path, const QUrlQuery& query) const
{
    QUrl url(m_config.get(QStringLiteral("card-bo/url")).toString());
    url.setPath(path);
    if (!query.isEmpty())
        url.setQuery(query);
    return url;
}

Deferred<> CardBO::relay(Deferred<int, QJsonValue> request, std::function<bool(int, const QJsonValue&)> handler)
{
    Deferred<> result;
    QPointer<CardBO> self(this);
    request
        .fail([self, result](int status, const QJsonValue& body) {
            if (self)
                self->handleErrorResponse(status, body);
            result.reject();
        })
        .done([self, result, handler](int status, const QJsonValue& body) {
            if (!self)
                return result.reject();
            if (!handler || handler(status, body))
                result.resolve();
            else
                result.reject();
        });
    return result;
}

void CardBO::handleErrorResponse(int status, const QJsonValue& body) const
{
    const QString text = body.isString() ? body.toString() : compact(body.toObject());
    BO_LOG(qCritical) << QStringLiteral("ERROR: Operation failed : (%1) %2").arg(status).arg(PeerText::forLog(text));
}

QJsonObject CardBO::registrationBody() const
{
    return QJsonObject {
        { QStringLiteral("serialNumber"), m_terminal.serialNum() },
        { QStringLiteral("type"), m_terminal.type() },
        { QStringLiteral("name"), QJsonValue::Null },
        { QStringLiteral("customsId"), m_terminal.customsId() },
        { QStringLiteral("locationId"), m_terminal.locationId() },
    };
}

Deferred<> CardBO::registerDevice()
{
    return relay(m_http.post(createUrl(QStringLiteral("/api/v1/device/register")), registrationBody(), m_requestTimeout),
        [this](int, const QJsonValue& body) {
            handleRegisterResponse(body);
            return true;
        });
}

void CardBO::handleRegisterResponse(const QJsonValue& body)
{
    BO_LOG(qInfo) << "+-------------------------------+";
    BO_LOG(qInfo) << "|      TERMINAL REGISTERED      |";
    BO_LOG(qInfo) << "+-------------------------------+";
    const QJsonObject reply = body.toObject();
    // A missing field stores nothing: the next Init tick registers again.
    if (reply.contains(QStringLiteral("id")))
        m_database.setParam(QStringLiteral("id"), reply.value(QStringLiteral("id")).toVariant());
    if (reply.contains(QStringLiteral("apiKey")))
        m_database.setParam(QStringLiteral("apiKey"), reply.value(QStringLiteral("apiKey")).toVariant());
}

Deferred<> CardBO::updateData()
{
    return relay(m_http.get(createUrl(QStringLiteral("/api/v1/device/updateData")), m_requestTimeout),
        [this](int status, const QJsonValue& body) {
            handleUpdateDataResponse(status, body);
            return true;
        });
}

QList<Database::DataRecord> CardBO::parseData(const QJsonArray& array)
{
    QList<Database::DataRecord> records;
    for (const QJsonValue& item : array) {
        const QJsonObject element = item.toObject();
        records.append(Database::DataRecord { element.value(QStringLiteral("id")).toInt(),
            element.value(QStringLiteral("name")).toString(), element.value(QStringLiteral("uuid")).toString() });
    }
    return records;
}

void CardBO::handleUpdateDataResponse(int status, const QJsonValue& body)
{
    BO_LOG(qInfo) << "UpdateData response received : status=" << status;
    const QJsonObject reply = body.toObject();
    if (reply.value(QStringLiteral("customs")).isArray())
        m_database.setCustoms(parseData(reply.value(QStringLiteral("customs")).toArray()));
    if (reply.value(QStringLiteral("locations")).isArray())
        m_database.setLocations(parseData(reply.value(QStringLiteral("locations")).toArray()));
}

Deferred<> CardBO::updateBlacklist(const QString& after)
{
    QUrlQuery query;
    if (!after.isEmpty())
        query.addQueryItem(QStringLiteral("after"), after);
    return relay(m_http.get(createUrl(QStringLiteral("/api/v1/device/blacklist"), query), m_requestTimeout),
        [this](int status, const QJsonValue& body) { return handleBlacklistResponse(status, body); });
}

bool CardBO::handleBlacklistResponse(int status, const QJsonValue& body)
{
    const QJsonObject reply = body.toObject();
    const QJsonValue added = reply.value(QStringLiteral("added"));
    const QJsonValue removed = reply.value(QStringLiteral("removed"));
    // A cut, empty or foreign body reads as no change at all: applying it would store
    // the new version without its uids. An absent list is empty only beside the other.
    const auto isList = [](const QJsonValue& list, const QJsonValue& other) {
        if (list.isUndefined())
            return other.isArray();
        if (!list.isArray())
            return false;
        const QJsonArray items = list.toArray();
        return std::all_of(items.begin(), items.end(),
            [](const QJsonValue& uid) { return uid.isString() && !uid.toString().isEmpty(); });
    };
    const int addedCount = added.toArray().size();
    const int removedCount = removed.toArray().size();
    BO_LOG(qInfo) << "Update Blacklist response received : status=" << status
                  << " version=" << PeerText::forLog(reply.value(QStringLiteral("version")).toString())
                  << " added=" << addedCount << " removed=" << removedCount;
    if (!body.isObject() || !isList(added, removed) || !isList(removed, added)) {
        BO_LOG(qCritical) << "ERROR: Blacklist reply is not a change list of uids; not applied";
        return false;
    }
    // One SQL transaction: a change that stops half way must not count as applied.
    return m_database.blacklistApply(texts(added), texts(removed));
}

QString CardBO::cardLevel() const
{
    const QString cartridge = m_terminal.deviceStatus().cartridge;
    if (cartridge.isEmpty() || cartridge == QLatin1String("empty"))
        return QStringLiteral("EMPTY");
    if (cartridge == QLatin1String("reserve"))
        return QStringLiteral("LOW");
    if (cartridge == QLatin1String("normal"))
        return QStringLiteral("OK");
    if (cartridge == QLatin1String("full"))
        return QStringLiteral("FULL");
    return QString();
}

QJsonObject CardBO::networkReport() const
{
    const QVariantMap ipv4 = m_terminal.ipv4();
    return QJsonObject {
        { QStringLiteral("ipv4"), ipv4.value(QStringLiteral("address")).toString() },
        { QStringLiteral("gway"), ipv4.value(QStringLiteral("gateway")).toString() },
        { QStringLiteral("dns"),
            QJsonArray { ipv4.value(QStringLiteral("dns0")).toString(), ipv4.value(QStringLiteral("dns1")).toString() } },
    };
}

QJsonArray CardBO::statusReport() const
{
    const TerminalInfo::DeviceStatus status = m_terminal.deviceStatus();
    const auto entry = [](const QString& name, bool ok, const QString& bad, const QString& text) {
        return QJsonObject { { QStringLiteral("name"), name }, { QStringLiteral("status"), ok ? QStringLiteral("OK") : bad },
            { QStringLiteral("statusText"), ok ? QStringLiteral("OK") : text } };
    };
    const QString error = QStringLiteral("ERROR");
    return QJsonArray {
        entry(QStringLiteral("RFID"), status.rfidActive, error, status.rfidError),
        entry(QStringLiteral("Dispenser"), status.dispenserActive, error, QStringLiteral("Dispenser is inactive")),
        entry(QStringLiteral("Barrier"), status.barrierActive, error, status.barrierReason),
        entry(QStringLiteral("NTP"), status.ntpSynced, QStringLiteral("WARNING"), QStringLiteral("Clock not synchronized")),
    };
}

QJsonArray CardBO::configReport() const
{
    static const QList<QRegularExpression> patterns {
        QRegularExpression(QStringLiteral("barrier\\/.+")),
        QRegularExpression(QStringLiteral("camera\\/.+")),
        QRegularExpression(QStringLiteral("card-bo\\/hbIntervalSec")),
        QRegularExpression(QStringLiteral("card-bo\\/hbPolicy")),
        QRegularExpression(QStringLiteral("terminal\\/collectTimeoutSec")),
    };
    QJsonArray list;
    for (const QString& key : m_config.keys()) {
        const bool reported
            = std::any_of(patterns.cbegin(), patterns.cend(), [&key](const QRegularExpression& p) { return p.match(key).hasMatch(); });
        if (!reported)
            continue;
        const QVariant value = m_config.get(key);
        QString type = QStringLiteral("NUM");
        switch (int(value.type())) {
        case QMetaType::QUrl:
            type = QStringLiteral("URL");
            break;
        case QMetaType::QString:
        case QMetaType::Bool:
            type = QStringLiteral("STR");
            break;
        case QMetaType::QStringList:
            type = QStringLiteral("CSV");
            break;
        default:
            break;
        }
        list.append(QJsonObject { { QStringLiteral("name"), key }, { QStringLiteral("type"), type },
            { QStringLiteral("value"), QJsonValue::fromVariant(value) } });
    }
    return list;
}

QJsonObject CardBO::heartbeatBody()
{
    return QJsonObject {
        { QStringLiteral("reportTime"), utcIso(QDateTime::currentDateTime()) },
        { QStringLiteral("deviceSerial"), m_terminal.serialNum() },
        { QStringLiteral("softwareVersion"), m_terminal.softwareStatus().current },
        { QStringLiteral("blacklistVersion"), m_database.param(QStringLiteral("blacklistVer")).toString() },
        { QStringLiteral("cardLevel"), cardLevel() },
        { QStringLiteral("pendingTransactions"), m_database.transCount(QStringLiteral("PENDING")) },
        { QStringLiteral("uptimeSec"), m_terminal.uptime() },
        { QStringLiteral("network"), networkReport() },
        { QStringLiteral("status"), statusReport() },
        { QStringLiteral("config"), configReport() },
        { QStringLiteral("configUpdatedAt"), utcIso(m_config.lastModified()) },
    };
}

Deferred<> CardBO::heartbeat()
{
    return relay(m_http.post(createUrl(QStringLiteral("/api/v1/device/heartbeat")), heartbeatBody(), m_requestTimeout),
        [this](int status, const QJsonValue& body) {
            handleHeartbeatResponse(status, body);
            return true;
        });
}

void CardBO::handleHeartbeatResponse(int status, const QJsonValue& body)
{
    const QJsonObject reply = body.toObject();
    BO_LOG(qInfo) << "Heartbeat response received : status=" << status << PeerText::forLog(compact(maskedReply(reply)));

    const QString blacklist = reply.value(QStringLiteral("blacklistVersion")).toString();
    if (!blacklist.isEmpty() && blacklist != m_database.param(QStringLiteral("blacklistVer")).toString()) {
        BO_LOG(qWarning)
            << QStringLiteral("WARN: New blacklist version available : %1 ").arg(PeerText::forLog(blacklist));
        QPointer<CardBO> self(this);
        updateBlacklist(blacklist).done([self, blacklist] {
            if (self)
                self->m_database.setParam(QStringLiteral("blacklistVer"), blacklist);
        });
    }

    triggerSoftware(reply);

    const QDateTime backend
        = QDateTime::fromString(reply.value(QStringLiteral("configUpdatedAt")).toString(), Qt::ISODate);
    const QDateTime local = m_config.lastModified();
    if (backend.isValid() && local.toUTC() < backend) {
        BO_LOG(qWarning) << QStringLiteral("WARN: New configuration received (backend=%1, local=%2)")
                                .arg(backend.toLocalTime().toString(Qt::ISODate), local.toString(Qt::ISODate));
        applyConfig(reply.value(QStringLiteral("config")).toArray());
    }

    updateLastComms();
}

void CardBO::triggerSoftware(const QJsonObject& reply)
{
    const QString version = reply.value(QStringLiteral("softwareVersion")).toString();
    const TerminalInfo::SoftwareStatus software = m_terminal.softwareStatus();
    const bool busy = software.status == QLatin1String("Downloading") || software.status == QLatin1String("Installing");
    if (!busy)
        m_softwareBusyNoted.clear();
    if (version.isEmpty() || version == software.current)
        return;
    // Re-ordering a download that is running or done would restart it at every
    // heartbeat; after a failure it is ordered again.
    const bool failed = software.status.contains(QLatin1String("failed"));
    if (busy) {
        // Not lost: the next heartbeat's reply orders it again. Said once per version and operation.
        const QString noted = version + QLatin1Char('\n') + software.status;
        if (noted != m_softwareBusyNoted)
            BO_LOG(qWarning) << QStringLiteral(
                "WARN: Software version %1 not ordered now, the update service is busy : %2")
                                    .arg(PeerText::forLog(version), PeerText::forLog(software.status));
        m_softwareBusyNoted = noted;
        return;
    }
    if (!failed && software.pending == version)
        return;
    const QString url = reply.value(QStringLiteral("softwareUrl")).toString();
    const QString md5 = reply.value(QStringLiteral("softwareMd5")).toString();
    BO_LOG(qWarning) << QStringLiteral("WARN: New software version available : %1").arg(PeerText::forLog(version));
    m_terminal.triggerUpdate(version, url, md5);
}

void CardBO::applyConfig(const QJsonArray& config)
{
    // With TLS errors ignored anyone in the middle could send this list: each element gets
    // the checks of any remote change, the list as a whole its bounds. What passes is set
    // as Config::set does (a key the store lacks is added, an override dropped), in one go.
    const SettingsValidator validator(m_config, SettingsValidator::Channel::BackOffice);
    QVariantMap values;
    QStringList skipped;
    QString error;
    if (!validator.checkList(config, &values, &skipped, &error)) {
        BO_LOG(qCritical) << "ERROR: Remote configuration refused : " << PeerText::forLog(error);
        return;
    }
    for (const QString& reason : qAsConst(skipped))
        BO_LOG(qWarning) << "WARN: Remote configuration entry skipped : " << PeerText::forLog(reason);
    m_config.set(values);
}

void CardBO::updateLastComms()
{
    const QDateTime now = QDateTime::currentDateTime();
    if (now == m_lastComms)
        return;
    m_lastComms = now;
    emit lastCommsChanged();
}

void CardBO::onParamChanged(const QString& key, const QVariant& value)
{
    if (key == QLatin1String("apiKey")) {
        BO_LOG(qWarning) << "WARN: API Key changed";
        m_http.setHeader(QStringLiteral("X-API-Key"), value.toString());
    }
    if (key == QLatin1String("blacklistVer"))
        BO_LOG(qInfo) << "New blacklist avaliable : " << PeerText::forLog(value.toString());
    if (key == QLatin1String("softwareVer"))
        BO_LOG(qInfo) << "New software update avaliable : " << PeerText::forLog(value.toString());
}

void CardBO::onConfigChanged(const QVariantMap& changes)
{
    if (!Config::contains(changes, QStringLiteral("card-bo\\/.+")))
        return;
    BO_LOG(qWarning) << "WARN: Configuration changed. Applying.";
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        BO_LOG(qInfo) << "  " << PeerText::forLog(it.key()) << " : "
                      << PeerText::forLog(Config::maskedValue(it.key(), it.value()).toString());
    initClient();
}

// One report at a time, in the order made: two in flight travel on two connections and reach the
// back office in whichever order it finishes them. While reports wait, a later one of the same
// operation says all the newest waiting one did and takes its place, so an outcome waits behind at
// most one report per change of operation.
void CardBO::sendProgress(const QString& operation, int percent)
{
    const ProgressReport report { operation, percent };
    if (!m_progressWaiting.isEmpty()) {
        ProgressReport& newest = m_progressWaiting.last();
        if (!newest.isOutcome() && newest.operation == operation) {
            newest.percent = percent;
            return;
        }
    }
    if (m_progressWaiting.size() >= MaxProgressWaiting) {
        auto oldest = std::find_if(m_progressWaiting.begin(), m_progressWaiting.end(),
            [](const ProgressReport& waiting) { return !waiting.isOutcome(); });
        // Only outcomes wait (a peer that fails over and over): the oldest of them goes.
        if (oldest == m_progressWaiting.end())
            oldest = m_progressWaiting.begin();
        const ProgressReport dropped = *oldest;
        m_progressWaiting.erase(oldest);
        BO_LOG(qWarning) << QStringLiteral("WARN: Progress report dropped, too many waiting : [%1%%] %2")
                                .arg(dropped.percent)
                                .arg(PeerText::forLog(dropped.operation));
    }
    m_progressWaiting.append(report);
    sendNextProgress();
}

void CardBO::sendNextProgress()
{
    if (m_progressSending || m_progressWaiting.isEmpty())
        return;
    const ProgressReport report = m_progressWaiting.takeFirst();
    BO_LOG(qInfo)
        << QStringLiteral("Sending progress : [%1%%] %2").arg(report.percent).arg(PeerText::forLog(report.operation));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("progress"), QString::number(report.percent));
    query.addQueryItem(QStringLiteral("operation"), report.operation);
    m_progressSending = true;
    // Answered or failed (logged by relay, not sent again): the next one goes.
    QPointer<CardBO> self(this);
    const auto next = [self] {
        if (!self)
            return;
        self->m_progressSending = false;
        self->sendNextProgress();
    };
    relay(
        m_http.put(createUrl(QStringLiteral("/api/v1/device/operation/status"), query), QJsonValue(), m_requestTimeout),
        nullptr)
        .done(next)
        .fail(next);
}

Deferred<> CardBO::clearProgress()
{
    return relay(m_http.del(createUrl(QStringLiteral("/api/v1/device/operation/status")), m_requestTimeout), nullptr);
}

bool CardBO::shouldRetransmit(int status)
{
    // At or below 0 the request never got an answer (transport failure, time-out,
    // refused redirect); 408 and 429 ask for a later retry like 5xx.
    return status <= 0 || status == 401 || status == 403 || status == 408 || status == 429
        || (status >= 500 && status <= 599);
}

QDateTime CardBO::nextSendDate(int attempts)
{
    int delay = 21600;
    if (attempts <= 3)
        delay = 60;
    else if (attempts <= 6)
        delay = 900;
    else if (attempts <= 9)
        delay = 3600;
    return QDateTime::currentDateTime().addSecs(delay);
}

void CardBO::sendTransaction(Transaction::Ptr trans)
{
    if (!trans) {
        BO_LOG(qCritical) << "ERROR: Null transaction ignored";
        return;
    }
    switch (m_database.transAdd(trans)) {
    case Database::AddResult::Added:
        break;
    case Database::AddResult::Duplicate:
        BO_LOG(qWarning) << "WARN: Transaction already queued, not added again : "
                         << PeerText::forLog(trans->toString());
        break;
    case Database::AddResult::Failed:
        m_retryBuffer.append(trans);
        BO_LOG(qCritical) << "ERROR: Could not store transaction; kept in memory until it is stored (held="
                          << m_retryBuffer.size() << ") : " << trans->toString();
        break;
    }
    processPendingTransactions();
}

void CardBO::flushRetryBuffer()
{
    for (auto it = m_retryBuffer.begin(); it != m_retryBuffer.end();) {
        const Database::AddResult result = m_database.transAdd(*it);
        if (result == Database::AddResult::Failed) {
            ++it;
            continue;
        }
        if (result == Database::AddResult::Added)
            BO_LOG(qInfo) << "Held transaction stored : " << PeerText::forLog((*it)->toString());
        else
            BO_LOG(qWarning) << "WARN: Held transaction already stored, dropped : "
                             << PeerText::forLog((*it)->toString());
        it = m_retryBuffer.erase(it);
    }
}

void CardBO::releaseSendLock()
{
    if (!m_sending)
        return;
    m_sending = false;
    m_sendLock.unlock();
}

void CardBO::processPendingTransactions()
{
    flushRetryBuffer();
    if (!m_sendLock.tryLock())
        return;
    m_sending = true;
    int due = 0;
    const Transaction::Ptr trans = m_database.transDueForSend(&due);
    if (!trans) {
        releaseSendLock();
        return;
    }
    BO_LOG(qInfo) << QStringLiteral("Sending transaction (remaining=%1) : %2")
                         .arg(qMax(due, 1) - 1)
                         .arg(PeerText::forLog(trans->toString()));
    QPointer<CardBO> self(this);
    transmitTransaction(trans)
        .fail([self] {
            if (self)
                self->releaseSendLock();
        })
        .done([self] {
            if (!self)
                return;
            self->releaseSendLock();
            // Only a recorded reply moves on: an unrecorded one leaves the row due, and
            // running again now would resend it in a tight loop.
            if (self->m_replyRecorded)
                self->processPendingTransactions();
        });
}

Deferred<> CardBO::transmitTransaction(const Transaction::Ptr& trans)
{
    Deferred<> result;
    QPointer<CardBO> self(this);
    // The result follows the HTTP result, once the reply is recorded.
    const auto settle = [self, trans, result](int status, const QJsonValue& body, bool completed) {
        const auto finish = [result, completed] { completed ? result.resolve() : result.reject(); };
        if (!self)
            return finish();
        self->handleTransResponse(trans, status, body, completed).done(finish);
    };
    m_http.post(createUrl(QStringLiteral("/api/v1/device/transaction")), trans->toJson(), m_requestTimeout)
        .fail([settle](int status, const QJsonValue& body) { settle(status, body, false); })
        .done([settle](int status, const QJsonValue& body) { settle(status, body, true); });
    return result;
}

Deferred<> CardBO::handleTransResponse(const Transaction::Ptr& trans, int status, const QJsonValue& body, bool completed)
{
    // A reply cut short (time-out, abort, network error, refused size) never delivered
    // anything, whatever its status line said; it is retried like no answer at all.
    const bool cutShort = !completed && status < 400;
    Transaction::SendDetails& details = trans->sendDetails();
    details.sendStatus = QStringLiteral("PENDING");
    details.sendDate = QDateTime::currentDateTime();
    details.sendAttempts += 1;
    details.respStatus = status;
    details.respData = body.toObject();
    if (completed && (status == 200 || status == 201)) {
        details.sendStatus = QStringLiteral("OK");
        details.sendSchedDate = QDateTime();
        BO_LOG(qInfo) << "Transaction sent successfully : " << PeerText::forLog(trans->toString());
    } else {
        handleErrorResponse(status, body);
        if (cutShort || shouldRetransmit(status)) {
            details.sendSchedDate = nextSendDate(details.sendAttempts);
            BO_LOG(qInfo) << QStringLiteral("Scheduling re-transmit at %1 (attempts=%2) : %3")
                                 .arg(details.sendSchedDate.toString(Qt::ISODate))
                                 .arg(details.sendAttempts)
                                 .arg(PeerText::forLog(trans->toString()));
        } else {
            details.sendStatus = QStringLiteral("FAILED");
            details.sendSchedDate = QDateTime();
            BO_LOG(qWarning) << "WARN: Transaction will not be re-transmitted : "
                             << PeerText::forLog(trans->toString());
        }
    }
    // Synced to disk on the queue's thread: the GUI thread goes on meanwhile.
    Deferred<> recorded;
    QPointer<CardBO> self(this);
    // A failed record is logged by the recorder, also when this client is gone by then.
    m_recorder.record(trans).done([self, recorded](bool stored) {
        if (self)
            self->m_replyRecorded = stored;
        recorded.resolve();
    });
    return recorded;
}

} // namespace Backend
