#pragma once
// The service simulator program (tools/servicesim) on a test's broker: starts
// it, waits until it is up, sends control commands and reads its journal.

#include "MqttProbe.h"

#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <optional>

class ServiceSimulator
{
public:
    // extraArgs go to the program as they are (--gps-data-ms 50, --update-root x, ...).
    explicit ServiceSimulator(quint16 brokerPort, const QStringList& extraArgs = {});
    ~ServiceSimulator();
    ServiceSimulator(const ServiceSimulator&) = delete;
    ServiceSimulator& operator=(const ServiceSimulator&) = delete;

    // Starts the program and waits until its control topics are up.
    bool start(int timeoutMs = 10000);
    // The reply's data, or none when the command was refused or not answered.
    std::optional<QJsonObject> control(const QString& command, const QJsonObject& params = {});
    // op as "network/status"; mode "empty", "badjson", "types", "servicefalse", "silence", "none".
    bool fault(const QString& op, const QString& mode, int times = -1);
    // Waits for a request with the journal line "<service> <path>" (e.g. "update /check") after the one
    // the last wait found; its journal entry, or none.
    std::optional<QJsonObject> waitForRequest(const QString& line, int timeoutMs = 5000);

private:
    quint16 m_port;
    QStringList m_extraArgs;
    QString m_controlRoot;
    QProcess m_process;
    MqttProbe m_probe;
    int m_nextId = 0;
    int m_journalFrom = 0;
};
