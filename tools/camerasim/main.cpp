// camerasim: the lane's recognition cameras on their own loopback addresses.
// Answers triggers on port 80, pushes readings to the terminal's listener and
// writes one JSON line per trigger and push to stdout. See README.md.

#include "CameraSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

bool parseHostPort(const QString& text, QHostAddress* address, quint16* port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint value = text.mid(colon + 1).toUInt(&ok);
    if (colon < 1 || !ok || value == 0 || value > 65535 || !address->setAddress(text.left(colon)))
        return false;
    *port = quint16(value);
    return true;
}

// "<role> reply <mode>", "<role> push <mode>", "<role> value <text>", "<role> delay <ms>", "<role> heartbeat".
QString command(CameraSim& sim, const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    SimCamera* camera = sim.camera(words.value(0));
    if (!camera)
        return QStringLiteral("unknown camera: ") + words.value(0);
    const QString verb = words.value(1);
    const QString argument = words.mid(2).join(QLatin1Char(' '));
    SimCamera::Reply reply;
    SimCamera::Push push;
    if (verb == QLatin1String("reply") && SimCamera::parseReply(argument, &reply))
        camera->setReply(reply);
    else if (verb == QLatin1String("push") && SimCamera::parsePush(argument, &push))
        camera->setPush(push);
    else if (verb == QLatin1String("value"))
        camera->setValue(argument);
    else if (verb == QLatin1String("delay") && argument.toInt() >= 0)
        camera->setPushDelay(argument.toInt());
    else if (verb == QLatin1String("heartbeat"))
        camera->push(QStringLiteral("/heartbeat"), camera->heartbeatBody(), camera->address());
    else
        return QStringLiteral("bad command: ") + line;
    return QString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("camerasim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated lane cameras: triggers on port 80, pushes to the terminal."));
    parser.addHelpOption();
    const QCommandLineOption pushTo(QStringLiteral("push-to"), QStringLiteral("The terminal's listener."),
        QStringLiteral("address:port"), QStringLiteral("127.0.0.1:8000"));
    const QCommandLineOption cameraOption(QStringLiteral("camera"),
        QStringLiteral("One camera, repeatable (default 127.0.0.11=alpr1 … 127.0.0.14=ccr2)."),
        QStringLiteral("address=role"));
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Trigger port."), QStringLiteral("port"), QStringLiteral("80"));
    const QCommandLineOption replyOption(QStringLiteral("reply"),
        QStringLiteral("Trigger answer of every camera: ") + SimCamera::replyNames().join(QLatin1Char('|')),
        QStringLiteral("mode"), QStringLiteral("200"));
    const QCommandLineOption pushOption(QStringLiteral("push"),
        QStringLiteral("Push of every camera: ") + SimCamera::pushNames().join(QLatin1Char('|')),
        QStringLiteral("mode"), QStringLiteral("normal"));
    const QCommandLineOption delayOption(QStringLiteral("push-delay-ms"),
        QStringLiteral("Pause between the trigger reply and the push."), QStringLiteral("ms"), QStringLiteral("50"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("User name of mode auth."),
        QStringLiteral("name"), QStringLiteral("zent"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("Password of mode auth."),
        QStringLiteral("text"), QStringLiteral("plou"));
    const QCommandLineOption strayOption(QStringLiteral("stray-from"),
        QStringLiteral("Source address of pushes in mode stray."), QStringLiteral("address"),
        QStringLiteral("127.0.0.99"));
    parser.addOptions({ pushTo, cameraOption, portOption, replyOption, pushOption, delayOption, userOption,
        passwordOption, strayOption });
    parser.process(app);

    const auto fail = [](const QString& text) {
        std::fprintf(stderr, "camerasim: %s\n", qPrintable(text));
        return 2;
    };
    QHostAddress target;
    quint16 targetPort = 0;
    if (!parseHostPort(parser.value(pushTo), &target, &targetPort))
        return fail(QStringLiteral("bad --push-to ") + parser.value(pushTo));
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return fail(QStringLiteral("bad --port ") + parser.value(portOption));
    SimCamera::Reply reply;
    SimCamera::Push push;
    if (!SimCamera::parseReply(parser.value(replyOption), &reply))
        return fail(QStringLiteral("bad --reply ") + parser.value(replyOption));
    if (!SimCamera::parsePush(parser.value(pushOption), &push))
        return fail(QStringLiteral("bad --push ") + parser.value(pushOption));
    const int delay = parser.value(delayOption).toInt(&ok);
    if (!ok || delay < 0)
        return fail(QStringLiteral("bad --push-delay-ms ") + parser.value(delayOption));

    QStringList cameras = parser.values(cameraOption);
    if (cameras.isEmpty())
        cameras = QStringList { QStringLiteral("127.0.0.11=alpr1"), QStringLiteral("127.0.0.12=alpr2"),
            QStringLiteral("127.0.0.13=ccr1"), QStringLiteral("127.0.0.14=ccr2") };
    CameraSim sim;
    sim.setPushTarget(target, targetPort);
    for (const QString& spec : qAsConst(cameras)) {
        const QStringList parts = spec.split(QLatin1Char('='));
        QHostAddress address;
        if (parts.size() != 2 || parts[1].isEmpty() || !address.setAddress(parts[0]))
            return fail(QStringLiteral("bad --camera ") + spec);
        SimCamera* camera = sim.addCamera(address, parts[1]);
        camera->setReply(reply);
        camera->setPush(push);
        camera->setPushDelay(delay);
        camera->setCredentials(parser.value(userOption), parser.value(passwordOption));
        camera->setStrayAddress(QHostAddress(parser.value(strayOption)));
    }
    QString error;
    if (!sim.start(quint16(port), &error))
        return fail(error);

    QTextStream out(stdout);
    QObject::connect(&sim, &CameraSim::journaled, [&out](const QJsonObject& entry) {
        out << QJsonDocument(entry).toJson(QJsonDocument::Compact) << '\n';
        out.flush();
    });
    std::fprintf(stderr, "camerasim: %d camera(s) on port %u, pushing to %s\n", int(cameras.size()), port,
        qPrintable(parser.value(pushTo)));

    // Commands on stdin change a camera's behaviour while it runs.
    QByteArray pending;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            notifier.setEnabled(false); // end of input: keep serving
            return;
        }
        pending.append(chunk, int(got));
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            const QString problem = line.isEmpty() ? QString() : command(sim, line);
            if (!problem.isEmpty())
                std::fprintf(stderr, "camerasim: %s\n", qPrintable(problem));
        }
    });
    return app.exec();
}
