#include "Terminal.h"
#include "CardBO.h"
#include "Config.h"
#include "Database.h"
#include "Ethernet.h"
#include "IssueEngine.h"
#include "MqttClient.h"
#include "PeerText.h"
#include "Session.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {
const QString kVendingMachine = QStringLiteral("CARD_VENDING_MACHINE");
const QString kButtonTopic = QStringLiteral("zent/ui/button");
const QString kLoopPresentTopic = QStringLiteral("zent/ui/loop/present");
const QString kLoopFreeTopic = QStringLiteral("zent/ui/loop/free");
const QString kCameraTriggerTopic = QStringLiteral("zent/ui/camera/trigger");
const QString kRule = QStringLiteral("-------------------------------------------------");

QDebug debug()
{
    return qDebug().noquote().nospace() << "[Terminal] ";
}

QDebug info()
{
    return qInfo().noquote().nospace() << "[Terminal] ";
}

QDebug warning()
{
    return qWarning().noquote().nospace() << "[Terminal] ";
}

QDebug critical()
{
    return qCritical().noquote().nospace() << "[Terminal] ";
}

QString topic(Config& config, const char* key)
{
    return config.get(QLatin1String(key)).toString();
}

const char* activeText(bool active)
{
    return active ? "active" : "inactive";
}

// An identity setting names a file unless it is a plain word that names none.
bool namesFile(const QString& value)
{
    return value.contains(QLatin1Char('/')) || value.contains(QLatin1Char('.')) || QFile::exists(value);
}
} // namespace

Terminal::Terminal(Config& config, manager::MqttClient& mqtt, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_mqtt(mqtt)
    , m_rfid(mqtt, topic(config, "topics/rfid"))
    , m_dispenser(mqtt, topic(config, "topics/dispenser"))
    , m_network(mqtt, topic(config, "topics/network"))
    , m_update(mqtt, topic(config, "topics/update"))
    , m_barrier(config)
    , m_button(m_board, 0)
    , m_loop(m_board, 1)
    , m_cameras(config, mqtt)
    , m_database(new Backend::Database(config, this))
    , m_cardBO(new Backend::CardBO(config, *m_database, *this, this))
    , m_session(new Session(this))
{
    loadIds();
    init();
    for (const QString& t : { kButtonTopic, kLoopPresentTopic, kLoopFreeTopic, kCameraTriggerTopic })
        m_mqtt.subscribe(t, 0);
    connect(&m_mqtt, &manager::MqttClient::received, this, &Terminal::onMqttReceived);
}

Terminal::~Terminal()
{
    m_engine.reset();
    // The back-office client reads the terminal and its members: it goes before they do.
    delete m_cardBO;
    m_cardBO = nullptr;
}

QString Terminal::stateToStr(int state)
{
    static const QHash<int, QString> names { { Init, QStringLiteral("Init") }, { Busy, QStringLiteral("Busy") },
        { Ready, QStringLiteral("Ready") }, { Error, QStringLiteral("Error") },
        { Stopped, QStringLiteral("Stopped") } };
    return names.value(state, QStringLiteral("Unknown"));
}

QString Terminal::modelToType(const QString& model)
{
    if (model == QLatin1String("RTA27408"))
        return kVendingMachine;
    if (model == QLatin1String("RTB3615"))
        return QStringLiteral("CARD_COLLECTION_MACHINE");
    return QString();
}

void Terminal::init()
{
    connect(&m_config, &Config::configChanged, this, &Terminal::onConfigChanged);
    // Once per change of status or percent, with both read after the whole change.
    connect(&m_update, &manager::Update::progressChanged, this, &Terminal::onUpdateProgress);
    connect(&m_dispenser, &manager::Dispenser::modelChanged, this, &Terminal::onModelChanged);
    connect(&m_dispenser, &manager::Dispenser::activeChanged, this, &Terminal::updateState);
    connect(&m_rfid, &manager::RFID::stateChanged, this, &Terminal::updateState);
    connect(m_cardBO, &Backend::CardBO::stateChanged, this, &Terminal::updateState);
    connect(this, &Terminal::typeChanged, this, &Terminal::onTypeChanged);
    connect(this, &Terminal::serialNumChanged, this, &Terminal::updateState);
    connect(this, &Terminal::customsIdChanged, this, &Terminal::updateState);
    connect(this, &Terminal::locationIdChanged, this, &Terminal::updateState);
}

int Terminal::uptime() const
{
    QElapsedTimer clock;
    clock.start();
    return static_cast<int>(clock.msecsSinceReference() / 1000);
}

Backend::TerminalInfo::DeviceStatus Terminal::deviceStatus() const
{
    DeviceStatus status;
    status.rfidActive = m_rfid.active();
    status.rfidError = m_rfid.error();
    status.dispenserActive = m_dispenser.active();
    status.cartridge = m_dispenser.cartridge();
    status.barrierActive = m_barrier.active();
    status.barrierReason = m_barrier.reason();
    status.ntpSynced = m_clock.ntpSynced();
    return status;
}

QVariantMap Terminal::ipv4() const
{
    manager::Ethernet* ethernet = m_network.ethernet();
    return ethernet ? ethernet->ipv4()->toMap() : QVariantMap();
}

Backend::TerminalInfo::SoftwareStatus Terminal::softwareStatus() const
{
    return { m_update.current(), m_update.pending(), m_update.status() };
}

void Terminal::triggerUpdate(const QString& version, const QString& url, const QString& md5)
{
    m_update.trigger(version, url, md5);
}

void Terminal::setType(const QString& type)
{
    if (type == m_type)
        return;
    m_type = type;
    emit typeChanged();
}

void Terminal::setDeviceId(const QString& id)
{
    if (id == m_serialNum)
        return;
    info() << "Device ID changed : " << PeerText::forLog(id);
    m_serialNum = id;
    emit serialNumChanged();
}

void Terminal::setCustomsId(const QString& id)
{
    if (id == m_customsId)
        return;
    info() << "Customs ID changed : " << PeerText::forLog(id);
    m_customsId = id;
    emit customsIdChanged();
}

void Terminal::setLocationId(const QString& id)
{
    if (id == m_locationId)
        return;
    info() << "Location ID changed : " << PeerText::forLog(id);
    m_locationId = id;
    emit locationIdChanged();
}

void Terminal::setEnginePauses(const Engine::Pauses& pauses)
{
    m_pauses = pauses;
    if (m_engine)
        m_engine->setPauses(pauses);
}

void Terminal::start()
{
    info() << "Starting Terminal engine";
    m_cardBO->start();
}

void Terminal::stop()
{
    setState(Stopped, QStringLiteral("User request"));
    m_cardBO->stop();
}

void Terminal::updateState()
{
    info() << "Check state";
    if (checkHardware() && checkData() && checkBackend() && checkEngine())
        setState(Ready, QString());
}

bool Terminal::checkHardware()
{
    if (!m_rfid.active())
        setState(Error, QStringLiteral("RFID inactive"));
    else if (!m_dispenser.active())
        setState(Error, QStringLiteral("Dispenser inactive"));
    else
        return true;
    return false;
}

bool Terminal::checkData()
{
    if (m_serialNum.isEmpty())
        setState(Error, QStringLiteral("Missing Device id"));
    else if (m_customsId.isEmpty())
        setState(Error, QStringLiteral("Missing Customs id"));
    else if (m_locationId.isEmpty())
        setState(Error, QStringLiteral("Missing Location id"));
    else if (m_type.isEmpty())
        setState(Error, QStringLiteral("Missing Terminal type"));
    else
        return true;
    return false;
}

bool Terminal::checkBackend()
{
    if (!m_cardBO)
        setState(Error, QStringLiteral("No backend instance"));
    else if (m_cardBO->state() == Backend::CardBO::NotRegistered)
        setState(Error, QStringLiteral("Terminal not registered"));
    else
        return true;
    return false;
}

bool Terminal::checkEngine()
{
    if (!m_engine)
        createEngine(m_type);
    // Kept alive across the check: a nested update may drop the engine meanwhile.
    const QSharedPointer<Engine> engine = m_engine;
    if (!engine) {
        setState(Error, QStringLiteral("Unsupported dispenser model"));
        return false;
    }
    QString reason;
    if (!engine->check(reason)) {
        setState(Error, reason);
        return false;
    }
    return true;
}

QSharedPointer<Engine> Terminal::createEngine(const QString& type)
{
    info() << "Creating terminal engine for : " << type;
    if (type != kVendingMachine) {
        critical() << "ERROR: Terminal type not supported";
        return {};
    }
    QSharedPointer<Engine> engine(new IssueEngine(this));
    engine->setPauses(m_pauses);
    connect(engine.data(), &Engine::sessionStarted, this, &Terminal::sessionStarted);
    connect(engine.data(), &Engine::sessionFinished, this, &Terminal::sessionFinished);
    connect(engine.data(), &Engine::sessionReset, this, &Terminal::sessionReset);
    connect(engine.data(), &Engine::sessionDataCollected, this, &Terminal::sessionDataCollected);
    connect(engine.data(), &Engine::sessionWaitCardCollect, this, &Terminal::sessionWaitCardCollect);
    connect(engine.data(), &Engine::deviceError, this, &Terminal::updateState);
    // Held before it starts: its first steps may lead back into updateState, which must find it.
    m_engine = engine;
    engine->start();
    emit sessionChanged();
    return engine;
}

void Terminal::setState(State state, const QString& reason)
{
    if (!assignStateIfChanged(m_state, m_reason, state, reason))
        return;
    info() << stateChangeText(state, stateToStr(state), reason);
    emit stateChanged();
    if (state == Ready || state == Error)
        logStateBox();
}

void Terminal::logStateBox()
{
    const int customs = m_customsId.toInt();
    const int location = m_locationId.toInt();
    info() << kRule;
    info() << " TERMINAL STATE";
    info() << kRule;
    info() << " Serial Num : " << PeerText::forLog(m_serialNum);
    info() << " Type       : " << PeerText::forLog(m_type);
    info() << " State      : " << stateToStr(m_state);
    info() << " Customs    : (" << PeerText::forLog(m_customsId) << ") "
           << PeerText::forLog(m_database->findCustoms(customs).name);
    info() << " Location   : (" << PeerText::forLog(m_locationId) << ") "
           << PeerText::forLog(m_database->findLocation(location).name);
    info() << " Uptime     : " << uptime();
    info() << kRule;
    info() << " RFID       : " << activeText(m_rfid.active());
    info() << " Dispenser  : " << activeText(m_dispenser.active());
    info() << " Barrier    : " << activeText(m_barrier.active());
    info() << kRule;
    info() << " Card BO    : " << (m_cardBO ? int(m_cardBO->state()) : -1);
    info() << kRule;
}

void Terminal::loadIds()
{
    setDeviceId(loadId(m_config.get(QStringLiteral("terminal/deviceId")).toString()));
    setCustomsId(loadId(m_config.get(QStringLiteral("terminal/customsId")).toString()));
    setLocationId(loadId(m_config.get(QStringLiteral("terminal/locationId")).toString()));
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &Terminal::onFileChanged);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &Terminal::onDirectoryChanged);
}

QString Terminal::loadId(const QString& value)
{
    if (!namesFile(value))
        return value;
    QFile file(value);
    if (!file.exists()) {
        critical() << "ERROR: File does not exist : " << PeerText::forLog(value);
        const QString dir = QFileInfo(value).absolutePath();
        info() << "Watching path for file creation : " << PeerText::forLog(dir);
        if (!m_watcher.directories().contains(dir))
            m_watcher.addPath(dir);
        return QString();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        critical() << "ERROR: Could not open file : " << PeerText::forLog(value);
        return QString();
    }
    QByteArray bytes = file.read(MaxIdSize);
    file.close();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    if (!m_watcher.files().contains(value))
        m_watcher.addPath(value);
    return QString::fromLatin1(bytes).trimmed();
}

void Terminal::onFileChanged(const QString& path)
{
    info() << "File changed : " << PeerText::forLog(path);
    if (m_config.get(QStringLiteral("terminal/deviceId")).toString() == path)
        setDeviceId(loadId(path));
    if (m_config.get(QStringLiteral("terminal/customsId")).toString() == path)
        setCustomsId(loadId(path));
    if (m_config.get(QStringLiteral("terminal/locationId")).toString() == path)
        setLocationId(loadId(path));
    // A file replaced by a rename drops out of the watch.
    if (QFile::exists(path) && !m_watcher.files().contains(path))
        m_watcher.addPath(path);
}

void Terminal::onDirectoryChanged(const QString& dir)
{
    debug() << "Directory changed : " << PeerText::forLog(dir);
    // Any identity whose file is there now and says something else is reloaded: a file
    // moved into place keeps its old creation time, and a late event must not be missed.
    const std::pair<const char*, void (Terminal::*)(const QString&)> ids[]
        = { { "terminal/deviceId", &Terminal::setDeviceId }, { "terminal/customsId", &Terminal::setCustomsId },
              { "terminal/locationId", &Terminal::setLocationId } };
    const QString current[] = { m_serialNum, m_customsId, m_locationId };
    for (int i = 0; i < 3; ++i) {
        const QString path = m_config.get(QLatin1String(ids[i].first)).toString();
        if (!namesFile(path) || !QFile::exists(path))
            continue;
        const QString value = loadId(path);
        if (value == current[i])
            continue;
        info() << "File created : " << PeerText::forLog(path);
        (this->*ids[i].second)(value);
    }
}

void Terminal::onModelChanged()
{
    warning() << "WARN: Dispenser model changed : " << PeerText::forLog(m_dispenser.model());
    setType(modelToType(m_dispenser.model()));
}

void Terminal::onTypeChanged()
{
    warning() << "WARN: Terminal type changed : " << PeerText::forLog(m_type);
    m_engine.reset();
    updateState();
}

void Terminal::onUpdateProgress()
{
    const QString status = m_update.status();
    const int percent = m_update.progressPercent();
    if (status == QLatin1String("Downloading"))
        emit updateProgress(QStringLiteral("Downloading"), percent);
    if (status == QLatin1String("Installing"))
        emit updateProgress(QStringLiteral("Installing"), 0);
    if (status.contains(QLatin1String("failed")))
        emit updateProgress(status, 100);
    if (status == QLatin1String("Installation success"))
        emit updateProgress(QStringLiteral("Updated"), 100);
}

void Terminal::onConfigChanged(const QVariantMap& changes)
{
    if (Config::contains(changes, QStringLiteral("terminal\\/.+")))
        warning() << "WARN: Configuration changed. Applying.";
}

void Terminal::onMqttReceived(const QByteArray&, const QByteArray& topicBytes)
{
    const QString t = QString::fromUtf8(topicBytes);
    if (t == kButtonTopic) {
        info() << "On button pressed from MQTT";
        if (m_engine)
            m_engine->simButtonPressed();
    } else if (t == kLoopPresentTopic) {
        info() << "On Vehicle Present from MQTT";
        if (m_engine)
            m_engine->simLoopPresent();
    } else if (t == kCameraTriggerTopic) {
        info() << "On Camera trigger from MQTT";
        m_session->setReadings({ { QStringLiteral("Front"), QStringLiteral("ABC 1234") } });
        m_session->setCardId(QStringLiteral("TEST"));
    }
}
