#pragma once
// One lane terminal: builds and owns every device and service client, the local
// database, the back-office client, the passage record and the lane engine;
// loads its identities from watched files and derives its state from ordered checks.

#include "Barrier.h"
#include "Button.h"
#include "CameraManager.h"
#include "Clock.h"
#include "Dispenser.h"
#include "Engine.h"
#include "Loop.h"
#include "MIOBoard.h"
#include "Network.h"
#include "RFID.h"
#include "TerminalInfo.h"
#include "Update.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class Config;
class Session;

namespace Backend {
class CardBO;
class Database;
} // namespace Backend

namespace manager {
class MqttClient;
}

class Terminal : public QObject, public Backend::TerminalInfo
{
    Q_OBJECT
    Q_PROPERTY(QString type READ type NOTIFY typeChanged)
    Q_PROPERTY(QString serialNum READ serialNum NOTIFY serialNumChanged)
    Q_PROPERTY(QString customsId READ customsId NOTIFY customsIdChanged)
    Q_PROPERTY(QString locationId READ locationId NOTIFY locationIdChanged)
    Q_PROPERTY(int uptime READ uptime NOTIFY uptimeChanged)
    Q_PROPERTY(Session* session READ session NOTIFY sessionChanged)
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString reason READ reason NOTIFY stateChanged)
    Q_PROPERTY(manager::RFID* rfid READ rfid CONSTANT)
    Q_PROPERTY(manager::Dispenser* dispenser READ dispenser CONSTANT)
    Q_PROPERTY(manager::Network* network READ network CONSTANT)
    Q_PROPERTY(manager::Update* update READ update CONSTANT)
    Q_PROPERTY(manager::MIOBoard* board READ board CONSTANT)
    Q_PROPERTY(manager::Clock* clock READ clock CONSTANT)
    Q_PROPERTY(manager::Button* button READ button CONSTANT)
    Q_PROPERTY(manager::Loop* loop READ loop CONSTANT)

public:
    enum State { Init = 0, Busy, Ready, Error, Stopped };
    Q_ENUM(State)

    // Identities are read from files of at most this size.
    static constexpr qint64 MaxIdSize = 4096;

    Terminal(Config& config, manager::MqttClient& mqtt, QObject* parent = nullptr);
    ~Terminal() override;

    static QString stateToStr(int state);
    static QString modelToType(const QString& model);

    QString type() const override { return m_type; }
    QString serialNum() const override { return m_serialNum; }
    QString customsId() const override { return m_customsId; }
    QString locationId() const override { return m_locationId; }
    int uptime() const override;
    DeviceStatus deviceStatus() const override;
    QVariantMap ipv4() const override;
    SoftwareStatus softwareStatus() const override;
    void triggerUpdate(const QString& version, const QString& url, const QString& md5) override;

    State state() const { return m_state; }
    const QString& reason() const { return m_reason; }
    Session* session() const { return m_session; }
    Config& config() const { return m_config; }
    manager::RFID* rfid() { return &m_rfid; }
    manager::Dispenser* dispenser() { return &m_dispenser; }
    manager::Network* network() { return &m_network; }
    manager::Update* update() { return &m_update; }
    manager::MIOBoard* board() { return &m_board; }
    manager::Barrier* barrier() { return &m_barrier; }
    manager::Clock* clock() { return &m_clock; }
    manager::Button* button() { return &m_button; }
    manager::Loop* loop() { return &m_loop; }
    manager::CameraManager* cameras() { return &m_cameras; }
    Backend::Database* database() const { return m_database; }
    Backend::CardBO* cardBO() const { return m_cardBO; }
    QSharedPointer<Engine> engine() const { return m_engine; }

    void setType(const QString& type);
    void setDeviceId(const QString& id);
    void setCustomsId(const QString& id);
    void setLocationId(const QString& id);

    // Pauses of every engine built from now on (and of the current one); for tests and benchmarks.
    void setEnginePauses(const Engine::Pauses& pauses);

public slots:
    void start();
    void stop();
    void updateState();

signals:
    void typeChanged();
    void stateChanged();
    void serialNumChanged();
    void customsIdChanged();
    void locationIdChanged();
    void uptimeChanged();
    void updateProgress(QString oper, int progress);
    void sessionChanged();
    void sessionStarted();
    void sessionFinished();
    void sessionReset();
    void sessionDataCollected();
    void sessionWaitCardCollect();

private:
    void setState(State state, const QString& reason);
    void logStateBox();
    bool checkHardware();
    bool checkData();
    bool checkBackend();
    bool checkEngine();
    QSharedPointer<Engine> createEngine(const QString& type);
    void init();
    void loadIds();
    QString loadId(const QString& value);
    void onFileChanged(const QString& path);
    void onDirectoryChanged(const QString& dir);
    void onModelChanged();
    void onTypeChanged();
    void onUpdateProgress();
    void onConfigChanged(const QVariantMap& changes);
    void onMqttReceived(const QByteArray& payload, const QByteArray& topic);

    Config& m_config;
    QFileSystemWatcher m_watcher;
    manager::MqttClient& m_mqtt;
    manager::RFID m_rfid;
    manager::Dispenser m_dispenser;
    manager::Network m_network;
    manager::Update m_update;
    manager::MIOBoard m_board;
    manager::Barrier m_barrier;
    manager::Clock m_clock;
    manager::Button m_button;
    manager::Loop m_loop;
    manager::CameraManager m_cameras;
    Backend::Database* m_database;
    Backend::CardBO* m_cardBO;
    QString m_type;
    State m_state = Init;
    QString m_reason;
    QString m_serialNum;
    QString m_customsId;
    QString m_locationId;
    Session* m_session;
    QSharedPointer<Engine> m_engine;
    Engine::Pauses m_pauses;
};
