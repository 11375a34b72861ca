#pragma once
// The back-office client's world for tests: test certificates, the back-office
// simulator, a settings file and database in a temporary folder, and a terminal
// whose identities and device status the test sets and which orders updates as the
// lane's does.

#include "BackOfficeSim.h"
#include "CardBO.h"
#include "Config.h"
#include "Database.h"
#include "MqttClient.h"
#include "TerminalInfo.h"
#include "TestCertificates.h"
#include "Update.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class FakeTerminal : public QObject, public Backend::TerminalInfo
{
    Q_OBJECT
public:
    QString serial = QStringLiteral("SN-0001");
    QString customs = QStringLiteral("1");
    QString location = QStringLiteral("7");
    DeviceStatus status { true, QString(), true, QStringLiteral("normal"), true, QString(), true };
    SoftwareStatus software { QStringLiteral("1.0.0"), QString(), QStringLiteral("Idle") };
    QList<QStringList> triggers;
    // The lane's update client, without a broker: it logs what it is told to order.
    manager::MqttClient mqtt;
    manager::Update update { mqtt, QStringLiteral("zent/update") };

    QString serialNum() const override { return serial; }
    QString customsId() const override { return customs; }
    QString locationId() const override { return location; }
    QString type() const override { return QStringLiteral("CARD_VENDING_MACHINE"); }
    int uptime() const override { return 42; }
    DeviceStatus deviceStatus() const override { return status; }
    QVariantMap ipv4() const override;
    SoftwareStatus softwareStatus() const override { return software; }
    void triggerUpdate(const QString& version, const QString& url, const QString& md5) override
    {
        triggers.append({ version, url, md5 });
        update.trigger(version, url, md5);
    }

signals:
    void updateProgress(QString oper, int progress);
};

class BackendRig
{
public:
    // Certificates into a folder, the simulator on a free port, the settings store
    // and the per-user API key store inside dir(). False with the reason in error().
    bool setUp(const QString& dir = QString());
    QString error() const { return m_error; }
    QString dir() const { return m_dir.path(); }
    QVariantMap defaults() const;
    // The client over a fresh database handle; the old client goes first.
    Backend::CardBO& client();

    TestCertificates certs;
    BackOfficeSim sim;
    FakeTerminal terminal;
    std::unique_ptr<Config> config;
    std::unique_ptr<Backend::Database> db;
    std::unique_ptr<Backend::CardBO> bo;

private:
    QTemporaryDir m_dir;
    QString m_error;
};
