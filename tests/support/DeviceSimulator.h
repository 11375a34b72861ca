#pragma once
// The device simulator program (tools/devicesim) on a test's broker, under a
// control root of its own: starts it, waits until its services are up, sends
// control commands and reads its journal of requests.

#include "MqttProbe.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

class DeviceSimulator
{
public:
    // extraArgs go to the program as they are (--cards 3, --detect-delay-ms 0, --rfid-root x, ...).
    explicit DeviceSimulator(quint16 brokerPort, const QStringList& extraArgs = {});
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // The program: $DEVICESIM_PATH, else the build tree's tools/devicesim/devicesim.
    static QString programPath();

    // Starts the program and waits until both services and the control topics are up.
    bool start(int timeoutMs = 10000);
    // SIGTERM: the simulator says goodbye on its status topics.
    void stop();
    // SIGKILL: the broker publishes the simulator's wills.
    void kill();
    bool isRunning() const;

    QString controlRoot() const { return m_controlRoot; }
    QString rfidRoot() const { return m_rfidRoot; }
    QString dispenserRoot() const { return m_dispenserRoot; }

    // One control command; the reply's data (the simulator's state after it), or none when the
    // command was refused or not answered (lastError() tells which).
    std::optional<QJsonObject> control(const QString& command, const QJsonObject& params = {}, int timeoutMs = 5000);
    QString lastError() const { return m_lastError; }

    bool take() { return control(QStringLiteral("take")).has_value(); }
    bool setAutoTake(int ms)
    {
        return control(QStringLiteral("autotake"), { { QStringLiteral("ms"), ms } }).has_value();
    }
    // op as "rfid/card/write" or "dispenser/issue"; fault as {"mode": ..., "code", "text", "ms", "times", "act"}.
    bool setFault(const QString& op, QJsonObject fault);
    bool clearFaults() { return control(QStringLiteral("faults/clear")).has_value(); }
    bool setDispenser(const QJsonObject& sensors) { return control(QStringLiteral("dispenser"), sensors).has_value(); }
    bool setReader(const QJsonObject& reader) { return control(QStringLiteral("rfid"), reader).has_value(); }
    // {"cards": {"cartridge", "reader", "mouth", "bin", "taken", "capacity"}, "rfid", "dispenser", "faults"}.
    QJsonObject state();

    // Every request and plain message the services received, in order.
    QJsonArray journal();
    // The journal as lines "<device> <path> <id>", e.g. "dispenser /issue 1", "rfid /card/write 3".
    QStringList journalLines();
    bool clearJournal() { return control(QStringLiteral("journal/clear")).has_value(); }
    // Waits until the simulator has received a request matching the journal line (e.g. "rfid /disable 3")
    // since it was started; returns false when none came within the time.
    bool waitForRequest(const QString& line, int timeoutMs = 5000);

    // What the program wrote so far.
    QString output();

private:
    static QString journalLine(const QJsonObject& entry);
    QString argValue(const QString& name, const QString& fallback) const;

    quint16 m_port;
    QStringList m_extraArgs;
    QString m_controlRoot;
    QString m_rfidRoot;
    QString m_dispenserRoot;
    QProcess m_process;
    MqttProbe m_probe;
    int m_startIndex = 0; // the probe's first message of this run
    int m_nextId = 0;
    QString m_lastError;
    QString m_output;
};
