// lane-mqtt-test-client HOST PORT WILL_TOPIC WILL_MESSAGE
// Connects with the given will, prints "connected" once the broker accepted
// it, and exits cleanly when a line "quit" arrives on standard input.

#include "MqttClient.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        fprintf(stderr, "usage: %s HOST PORT WILL_TOPIC WILL_MESSAGE\n", argv[0]);
        return 2;
    }
    auto* client = new manager::MqttClient;
    client->setHostname(args.at(1));
    client->setPort(args.at(2).toUInt());
    client->setClientId(QStringLiteral("lane-test-%1").arg(QCoreApplication::applicationPid()));
    client->setWillTopic(args.at(3));
    client->setWillMessage(args.at(4).toUtf8());
    client->setRetryMillis(200);
    QObject::connect(client, &manager::MqttClient::connected, [] {
        fputs("connected\n", stdout);
        fflush(stdout);
    });
    client->connect();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0 || QByteArray(buffer, int(n)).contains("quit")) {
            input.setEnabled(false);
            delete client;
            app.quit();
        }
    });
    return app.exec();
}
