#include "ReaderService.h"

#include "CardWorld.h"

#include <QJsonArray>

namespace {

const QString KnownTemplate = QStringLiteral("KSTVv1");

// The contents of a freshly created card of the known layout.
QJsonObject blankLayout()
{
    return QJsonObject {
        { QStringLiteral("info"),
            QJsonObject { { QStringLiteral("version"), 0 }, { QStringLiteral("customsId"), 0 },
                { QStringLiteral("status"), QStringLiteral("available") } } },
        { QStringLiteral("usageCounter"), 0 },
        { QStringLiteral("usageLog"), QJsonArray() },
    };
}

} // namespace

ReaderService::ReaderService(const QString& root, MqttLink& link, FaultPlan& faults, Journal& journal, CardWorld& world,
    int detectDelayMs, QObject* parent)
    : DeviceService(QStringLiteral("rfid"), root, link, faults, journal, parent)
    , m_world(world)
{
    m_detectTimer.setSingleShot(true);
    m_detectTimer.setInterval(qMax(0, detectDelayMs));
    connect(&m_detectTimer, &QTimer::timeout, this, &ReaderService::detect);
    connect(&m_world, &CardWorld::readerCardChanged, this, &ReaderService::onReaderCardChanged);
    addPlainPath(QStringLiteral("/beep/valid"));
    addPlainPath(QStringLiteral("/beep/invalid"));
}

ReaderService::State ReaderService::state() const
{
    if (m_mode == Mode::Updating)
        return Updating;
    if (m_mode == Mode::Error)
        return Error;
    if (!m_enabled)
        return Idle;
    return m_found ? CardFound : Searching;
}

bool ReaderService::control(const QJsonObject& command, QString* error)
{
    const QString stateName = command.value(QStringLiteral("state")).toString();
    if (command.contains(QStringLiteral("state")) && stateName != QLatin1String("ok")
        && stateName != QLatin1String("updating") && stateName != QLatin1String("error")) {
        *error = QStringLiteral("rfid \"state\" must be \"ok\", \"updating\" or \"error\"");
        return false;
    }
    if (command.contains(QStringLiteral("detectDelayMs")))
        m_detectTimer.setInterval(qMax(0, command.value(QStringLiteral("detectDelayMs")).toInt()));
    if (command.contains(QStringLiteral("deaf")))
        m_deaf = command.value(QStringLiteral("deaf")).toBool();
    if (!stateName.isEmpty()) {
        m_mode = stateName == QLatin1String("updating") ? Mode::Updating
            : stateName == QLatin1String("error")       ? Mode::Error
                                                        : Mode::Ok;
        m_errorText = m_mode == Mode::Error
            ? command.value(QStringLiteral("error")).toString(QStringLiteral("Reader failure"))
            : QString();
        if (m_mode != Mode::Ok) {
            // An updating or failed reader forgets what it was doing.
            m_enabled = false;
            m_found = false;
            m_detectTimer.stop();
        }
    }
    if (command.contains(QStringLiteral("offline")))
        setOffline(command.value(QStringLiteral("offline")).toBool());
    publishStatus();
    scheduleDetection();
    return true;
}

QJsonObject ReaderService::toJson() const
{
    return QJsonObject {
        { QStringLiteral("state"), state() },
        { QStringLiteral("enabled"), m_enabled },
        { QStringLiteral("autoread"), m_autoread },
        { QStringLiteral("deaf"), m_deaf },
        { QStringLiteral("offline"), isOffline() },
        { QStringLiteral("detectDelayMs"), m_detectTimer.interval() },
        { QStringLiteral("error"), m_errorText },
    };
}

DeviceService::Outcome ReaderService::handleRequest(const QString& path, const QJsonObject& params)
{
    if (m_mode == Mode::Updating)
        return Outcome::refused(1, QStringLiteral("Reader is updating"));
    if (m_mode == Mode::Error)
        return Outcome::refused(2, m_errorText);
    if (path == QLatin1String("/enable"))
        return enable(params);
    if (path == QLatin1String("/disable"))
        return disable();
    if (path == QLatin1String("/card/create"))
        return createCard(params);
    if (path == QLatin1String("/card/read"))
        return readCard(params);
    if (path == QLatin1String("/card/write"))
        return writeCard(params);
    return Outcome::refused(98, QStringLiteral("Unknown request ") + path);
}

QJsonObject ReaderService::info() const
{
    return QJsonObject {
        { QStringLiteral("device"),
            QJsonObject { { QStringLiteral("uid"), QStringLiteral("RDR-SIM-0001") },
                { QStringLiteral("firmware"), QStringLiteral("2.1.0") },
                { QStringLiteral("manufacturer"), QStringLiteral("Simulated Devices") },
                { QStringLiteral("model"), QStringLiteral("RFID-SIM") } } },
        { QStringLiteral("service"), QJsonObject { { QStringLiteral("version"), QStringLiteral("devicesim-1.0") } } },
    };
}

QJsonObject ReaderService::deviceStatus() const
{
    return QJsonObject {
        { QStringLiteral("state"), state() },
        { QStringLiteral("error"), m_errorText.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(m_errorText) },
    };
}

QJsonObject ReaderService::errorObject(int, const QString& text) const
{
    return QJsonObject { { QStringLiteral("what"), text } };
}

DeviceService::Outcome ReaderService::enable(const QJsonObject& params)
{
    m_enabled = true;
    m_autoread = params.value(QStringLiteral("autoread")).toBool();
    // Every enable searches anew: a card is reported only after this reply.
    m_found = false;
    m_detectTimer.stop();
    publishStatus();
    scheduleDetection();
    return Outcome::done();
}

DeviceService::Outcome ReaderService::disable()
{
    m_enabled = false;
    m_found = false;
    m_detectTimer.stop();
    publishStatus();
    return Outcome::done();
}

DeviceService::Outcome ReaderService::createCard(const QJsonObject& params)
{
    CardWorld::Card* card = m_world.readerCard();
    if (state() != CardFound || !card)
        return Outcome::refused(3, QStringLiteral("No card"));
    const QString templateName = params.value(QStringLiteral("template")).toString();
    if (templateName != KnownTemplate)
        return Outcome::refused(4, QStringLiteral("Unknown template ") + templateName);
    card->templateName = templateName;
    card->data = blankLayout();
    return Outcome::done(card->toJson());
}

DeviceService::Outcome ReaderService::readCard(const QJsonObject& params)
{
    CardWorld::Card* card = m_world.readerCard();
    if (state() != CardFound || !card)
        return Outcome::refused(3, QStringLiteral("No card"));
    const QString templateName = params.value(QStringLiteral("template")).toString();
    if (card->templateName.isEmpty())
        return Outcome::refused(5, QStringLiteral("Card is not formatted"));
    if (templateName != card->templateName)
        return Outcome::refused(6, QStringLiteral("Template mismatch"));
    QJsonObject object = card->toJson();
    QJsonObject data = object.value(QStringLiteral("data")).toObject();
    const QJsonArray log = data.value(QStringLiteral("usageLog")).toArray();
    const int wanted = qMax(0, params.value(QStringLiteral("usageLogs")).toInt());
    QJsonArray recent;
    for (int i = qMax(0, log.size() - wanted); i < log.size(); ++i)
        recent.append(log.at(i));
    data.insert(QStringLiteral("usageLog"), recent);
    object.insert(QStringLiteral("data"), data);
    return Outcome::done(object);
}

DeviceService::Outcome ReaderService::writeCard(const QJsonObject& params)
{
    CardWorld::Card* card = m_world.readerCard();
    if (state() != CardFound || !card)
        return Outcome::refused(3, QStringLiteral("No card"));
    const QString uid = params.value(QStringLiteral("uid")).toString();
    if (!uid.isEmpty() && uid != card->uid)
        return Outcome::refused(7, QStringLiteral("Card uid mismatch"));
    if (card->templateName.isEmpty())
        return Outcome::refused(5, QStringLiteral("Card is not formatted"));
    if (params.value(QStringLiteral("template")).toString() != card->templateName)
        return Outcome::refused(6, QStringLiteral("Template mismatch"));
    if (!params.value(QStringLiteral("data")).isObject())
        return Outcome::refused(8, QStringLiteral("No data"));
    const QJsonObject written = params.value(QStringLiteral("data")).toObject();
    // Info and counter are overwritten; the log on the card only grows.
    QJsonArray log = card->data.value(QStringLiteral("usageLog")).toArray();
    for (const QJsonValue& entry : written.value(QStringLiteral("usageLog")).toArray())
        log.append(entry);
    card->data.insert(QStringLiteral("info"), written.value(QStringLiteral("info")).toObject());
    card->data.insert(QStringLiteral("usageCounter"), written.value(QStringLiteral("usageCounter")).toInt());
    card->data.insert(QStringLiteral("usageLog"), log);
    return Outcome::done(card->toJson());
}

void ReaderService::onReaderCardChanged()
{
    if (!m_world.readerCard() && m_found) {
        m_found = false;
        publishEvent(QStringLiteral("/card/removed"), QJsonObject { { QStringLiteral("uid"), m_foundUid } });
        publishStatus();
    }
    scheduleDetection();
}

void ReaderService::scheduleDetection()
{
    if (isOffline() || !m_enabled || m_found || m_deaf || m_mode != Mode::Ok || !m_world.readerCard()) {
        m_detectTimer.stop();
        return;
    }
    if (!m_detectTimer.isActive())
        m_detectTimer.start();
}

void ReaderService::detect()
{
    const CardWorld::Card* card = m_world.readerCard();
    if (isOffline() || !m_enabled || m_found || m_deaf || m_mode != Mode::Ok || !card)
        return;
    m_found = true;
    m_foundUid = card->uid;
    publishEvent(QStringLiteral("/card/found"),
        QJsonObject { { QStringLiteral("uid"), card->uid }, { QStringLiteral("type"), card->type } });
    publishStatus();
    if (!m_autoread)
        return;
    if (card->templateName.isEmpty())
        publishEvent(QStringLiteral("/card/autoread"),
            QJsonObject { { QStringLiteral("error"),
                QJsonObject { { QStringLiteral("what"), QStringLiteral("Card is not formatted") } } } });
    else
        publishEvent(QStringLiteral("/card/autoread"), card->toJson());
}
