// Device simulator: the RFID reader service and the card dispenser service on
// one MQTT broker, sharing one model of where each card is, driven through
// control topics. See README.md beside this file.

#include "CardWorld.h"
#include "ControlService.h"
#include "DispenserService.h"
#include "FaultPlan.h"
#include "Journal.h"
#include "MqttLink.h"
#include "ReaderService.h"
#include "SignalWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

#include <unistd.h>

namespace {

bool validRoot(const QString& root)
{
    return !root.isEmpty() && !root.endsWith(QLatin1Char('/')) && !root.contains(QLatin1Char('#'))
        && !root.contains(QLatin1Char('+'));
}

int intOption(const QCommandLineParser& parser, const QString& name, bool* ok)
{
    bool converted = false;
    const int value = parser.value(name).toInt(&converted);
    if (!converted) {
        qCritical().noquote().nospace() << "[devicesim] ERROR: --" << name << " needs a number, got "
                                        << parser.value(name);
        *ok = false;
    }
    return value;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devicesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates the RFID reader service and the card dispenser service on an MQTT broker."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        { QStringLiteral("host"), QStringLiteral("Broker host."), QStringLiteral("host"), QStringLiteral("127.0.0.1") },
        { QStringLiteral("port"), QStringLiteral("Broker port."), QStringLiteral("port"), QStringLiteral("1883") },
        { QStringLiteral("rfid-root"), QStringLiteral("Topic root of the reader service."), QStringLiteral("topic"),
            QStringLiteral("zent/rfid") },
        { QStringLiteral("dispenser-root"), QStringLiteral("Topic root of the dispenser service."),
            QStringLiteral("topic"), QStringLiteral("zent/dispenser") },
        { QStringLiteral("control-root"), QStringLiteral("Topic root of the simulator's control topics."),
            QStringLiteral("topic"), QStringLiteral("devicesim") },
        { QStringLiteral("cards"), QStringLiteral("Cards in the cartridge at start (and its capacity)."),
            QStringLiteral("n"), QStringLiteral("50") },
        { QStringLiteral("card-type"), QStringLiteral("Technology type of the cartridge's cards."),
            QStringLiteral("type"), QStringLiteral("4") },
        { QStringLiteral("detect-delay-ms"),
            QStringLiteral("Delay between enabling the reader (or a card arriving) and card/found."),
            QStringLiteral("ms"), QStringLiteral("100") },
        { QStringLiteral("auto-take-ms"), QStringLiteral("Take each ejected card after this delay; below 0 never."),
            QStringLiteral("ms"), QStringLiteral("-1") },
        { QStringLiteral("model"), QStringLiteral("Dispenser model string in its info."), QStringLiteral("model"),
            QStringLiteral("DS-SIM") },
        { QStringLiteral("client-id"), QStringLiteral("Prefix of the MQTT client ids."), QStringLiteral("id"),
            QStringLiteral("devicesim-%1").arg(::getpid()) },
    });
    parser.process(app);

    bool ok = true;
    const int port = intOption(parser, QStringLiteral("port"), &ok);
    const int cards = intOption(parser, QStringLiteral("cards"), &ok);
    const int cardType = intOption(parser, QStringLiteral("card-type"), &ok);
    const int detectDelayMs = intOption(parser, QStringLiteral("detect-delay-ms"), &ok);
    const int autoTakeMs = intOption(parser, QStringLiteral("auto-take-ms"), &ok);
    const QString rfidRoot = parser.value(QStringLiteral("rfid-root"));
    const QString dispenserRoot = parser.value(QStringLiteral("dispenser-root"));
    const QString controlRoot = parser.value(QStringLiteral("control-root"));
    const QString clientId = parser.value(QStringLiteral("client-id"));
    if (port <= 0 || port > 65535 || cards < 0) {
        qCritical().noquote() << "[devicesim] ERROR: --port must be 1..65535 and --cards not negative";
        ok = false;
    }
    const QStringList roots { rfidRoot, dispenserRoot, controlRoot };
    for (const QString& root : roots) {
        if (!validRoot(root)) {
            qCritical().noquote().nospace() << "[devicesim] ERROR: invalid topic root \"" << root << "\"";
            ok = false;
        }
    }
    // The terminal's clients pick their messages by substring: no root may contain another.
    for (int i = 0; i < roots.size(); ++i) {
        for (int j = 0; j < roots.size(); ++j) {
            if (i != j && roots[i].contains(roots[j])) {
                qCritical().noquote().nospace()
                    << "[devicesim] ERROR: topic root \"" << roots[i] << "\" contains \"" << roots[j] << "\"";
                ok = false;
            }
        }
    }
    if (!ok)
        return 2;

    const QString host = parser.value(QStringLiteral("host"));
    const auto brokerPort = static_cast<quint16>(port);
    MqttLink rfidLink(clientId + QStringLiteral("-rfid"), host, brokerPort);
    MqttLink dispenserLink(clientId + QStringLiteral("-dispenser"), host, brokerPort);
    MqttLink controlLink(clientId + QStringLiteral("-control"), host, brokerPort);

    CardWorld world(cards, cardType);
    FaultPlan faults;
    Journal journal;
    ReaderService reader(rfidRoot, rfidLink, faults, journal, world, detectDelayMs);
    DispenserService dispenser(
        dispenserRoot, dispenserLink, faults, journal, world, parser.value(QStringLiteral("model")), autoTakeMs);
    ControlService control(controlRoot, controlLink, world, reader, dispenser, faults, journal);
    control.awaitLinks({ &rfidLink, &dispenserLink });

    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app, [&] {
        qInfo().noquote() << "[devicesim] Stopping";
        reader.announceShutdown();
        dispenser.announceShutdown();
        control.announceShutdown();
        for (MqttLink* link : { &rfidLink, &dispenserLink, &controlLink })
            link->shutdown();
        app.quit();
    });

    qInfo().noquote().nospace() << "[devicesim] Broker " << host << ":" << port << ", reader " << rfidRoot
                                << ", dispenser " << dispenserRoot << ", control " << controlRoot << ", " << cards
                                << " cards";
    rfidLink.start();
    dispenserLink.start();
    controlLink.start();
    return app.exec();
}
