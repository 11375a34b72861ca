// Service simulator: the network (with Ethernet), system-inspector, software
// update and GPS services on one MQTT broker, with publish faults and a journal
// of every request, driven through control topics. See README.md beside this file.

#include "GpsSim.h"
#include "InspectorSim.h"
#include "Journal.h"
#include "MqttLink.h"
#include "NetworkSim.h"
#include "PublishFaults.h"
#include "SignalWatcher.h"
#include "SimControl.h"
#include "UpdateSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

#include <memory>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("servicesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates the network, inspector, update and GPS services on an MQTT broker."));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto option = [&parser](const char* name, const char* help, const char* value, const QString& fallback) {
        parser.addOption({ QLatin1String(name), QLatin1String(help), QLatin1String(value), fallback });
    };
    option("host", "Broker host.", "host", QStringLiteral("127.0.0.1"));
    option("port", "Broker port.", "port", QStringLiteral("1883"));
    option("network-root", "Topic root of the network service.", "topic", QStringLiteral("zent/network"));
    option("inspector-root", "Topic root of the inspector service.", "topic", QStringLiteral("zent/inspector"));
    option("update-root", "Topic root of the update service.", "topic", QStringLiteral("zent/update"));
    option("gps-root", "Topic root of the GPS service.", "topic", QStringLiteral("zent/gps"));
    option("control-root", "Topic root of the simulator's control topics.", "topic", QStringLiteral("servicesim"));
    option("gps-data-ms", "Period of the GPS telemetry; 0 sends none.", "ms", QStringLiteral("1000"));
    option("client-id", "Prefix of the MQTT client ids.", "id", QStringLiteral("servicesim-%1").arg(::getpid()));
    parser.process(app);

    bool portOk = false;
    bool periodOk = false;
    const int port = parser.value(QStringLiteral("port")).toInt(&portOk);
    const int dataMs = parser.value(QStringLiteral("gps-data-ms")).toInt(&periodOk);
    QStringList roots;
    for (const char* name : { "network-root", "inspector-root", "update-root", "gps-root", "control-root" })
        roots << parser.value(QLatin1String(name));
    bool ok = portOk && port > 0 && port <= 65535 && periodOk && dataMs >= 0;
    if (!ok)
        qCritical().noquote() << "[servicesim] ERROR: --port must be 1..65535 and --gps-data-ms not negative";
    // The terminal's clients pick their messages by substring: no root may contain another.
    for (const QString& root : roots) {
        const bool valid = !root.isEmpty() && !root.endsWith(QLatin1Char('/')) && !root.contains(QLatin1Char('#'))
            && !root.contains(QLatin1Char('+'));
        if (!valid || roots.filter(root).size() > 1) {
            qCritical().noquote().nospace()
                << "[servicesim] ERROR: invalid or overlapping topic root \"" << root << "\"";
            ok = false;
        }
    }
    if (!ok)
        return 2;

    const QString host = parser.value(QStringLiteral("host"));
    const QString clientId = parser.value(QStringLiteral("client-id"));
    std::vector<std::unique_ptr<MqttLink>> links;
    const auto link = [&](const char* name) -> MqttLink& {
        links.push_back(std::make_unique<MqttLink>(clientId + QLatin1Char('-') + QLatin1String(name), host, port));
        return *links.back();
    };
    PublishFaults faults;
    Journal journal;
    NetworkSim network(roots[0], link("network"), faults, journal);
    InspectorSim inspector(roots[1], link("inspector"), faults, journal);
    UpdateSim update(roots[2], link("update"), faults, journal);
    GpsSim gps(roots[3], link("gps"), faults, journal, dataMs);
    const QList<SimService*> services { &network, &inspector, &update, &gps };
    QList<MqttLink*> serviceLinks;
    for (const auto& each : links)
        serviceLinks << each.get();
    SimControl control(roots[4], link("control"), services, faults, journal);
    control.awaitLinks(serviceLinks);

    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app, [&] {
        qInfo().noquote() << "[servicesim] Stopping";
        for (SimService* service : services)
            service->announceShutdown();
        control.announceShutdown();
        for (const auto& each : links)
            each->shutdown();
        app.quit();
    });

    qInfo().noquote().nospace() << "[servicesim] Broker " << host << ":" << port << ", roots " << roots.join(", ");
    for (const auto& each : links)
        each->start();
    return app.exec();
}
