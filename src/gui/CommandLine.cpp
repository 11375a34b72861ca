#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

CommandLine::Result CommandLine::parse(const QStringList& arguments, bool checkOnly)
{
    const QCommandLineOption help({ "h", "help" }, "Print help and exit");
    const QCommandLineOption version({ "V", "version" }, "Print version and exit");
    const QCommandLineOption verbose({ "v", "verbose" }, "Set log level: 0=err, 1=warn, 2=info(dfl), 3=dbg", "level");
    const QCommandLineOption toStderr({ "e", "stderr" }, "Print messages to stderr, not just syslog");
    const QCommandLineOption color({ "c", "color" }, "Print messages in color.");
    const QCommandLineOption config({ "f", "config" }, "Set configuration file", "filename");
    const QCommandLineOption host({ "H", "host" }, "Set mqtt broker url", "hostname");
    const QCommandLineOption port({ "P", "port" }, "Set mqtt broker port", "port");
    const QCommandLineOption username({ "u", "username" }, "Set mqtt username", "username");
    const QCommandLineOption password({ "p", "password" }, "Set mqtt password", "password");

    QCommandLineParser parser;
    parser.addOptions({ help, version, verbose, toStderr, color, config, host, port, username, password });

    Result result;
    if (!parser.parse(arguments)) {
        qCritical().noquote().nospace() << "ERROR: " << parser.errorText();
        result.exitCode = 1;
        return result;
    }
    if (parser.isSet(help)) {
        result.output = parser.helpText();
        result.exitCode = 0;
        return result;
    }
    if (parser.isSet(version)) {
        result.output = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion()
            + QLatin1Char('\n');
        result.exitCode = 0;
        return result;
    }

    // Checked before anything is applied, so a bad port starts nothing.
    int portNumber = 0;
    if (parser.isSet(port)) {
        bool ok = false;
        portNumber = parser.value(port).toInt(&ok, 10);
        if (!ok || portNumber < 1 || portNumber > 65535) {
            qCritical().noquote().nospace() << "ERROR: Invalid port : " << parser.value(port);
            result.exitCode = 1;
            return result;
        }
    }

    if (checkOnly)
        return result;

    QVariantMap& map = result.overrides;
    if (parser.isSet(verbose)) {
        bool ok = false;
        const int level = parser.value(verbose).toInt(&ok, 10);
        if (ok) {
            map.insert(QStringLiteral("log/level"), level);
            qInfo().noquote().nospace() << "Setting Log level : " << level;
        }
    }
    if (parser.isSet(toStderr)) {
        map.insert(QStringLiteral("log/stderr"), true);
        qInfo().noquote().nospace() << "Log to stderr overridden from user to true";
    }
    if (parser.isSet(color)) {
        map.insert(QStringLiteral("log/color"), true);
        qInfo().noquote().nospace() << "Log with color overridden from user to true";
    }
    if (parser.isSet(host)) {
        map.insert(QStringLiteral("mqtt/host"), parser.value(host));
        qInfo().noquote().nospace() << "Setting MQTT Host : " << parser.value(host);
    }
    if (parser.isSet(port)) {
        map.insert(QStringLiteral("mqtt/port"), portNumber);
        qInfo().noquote().nospace() << "Setting MQTT Port : " << parser.value(port);
    }
    if (parser.isSet(username)) {
        map.insert(QStringLiteral("mqtt/username"), parser.value(username));
        qInfo().noquote().nospace() << "Setting MQTT User : " << parser.value(username);
    }
    if (parser.isSet(password))
        map.insert(QStringLiteral("mqtt/password"), parser.value(password));
    if (parser.isSet(config)) {
        map.insert(QStringLiteral("config"), parser.value(config));
        qInfo().noquote().nospace() << "Using configuration file : " << parser.value(config);
    }
    return result;
}

QStringList CommandLine::withoutToolkitOptions(const QStringList& arguments)
{
    // The GUI application's, then its X11 platform's; each may also start with "--".
    static const QStringList withValue
        = { "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry", "qwindowtitle",
              "title", "qwindowicon", "icon", "session", "display", "name", "visual" };
    static const QStringList flags = { "reverse", "testability", "sync", "dograb", "nograb" };
    QStringList out;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        const QString name = arg.startsWith(QLatin1String("--")) ? arg.mid(2) : arg.mid(1);
        if (i == 0 || !arg.startsWith(QLatin1Char('-'))) {
            out.append(arg);
        } else if (withValue.contains(name) && i + 1 < arguments.size()) {
            ++i;
        } else if (!flags.contains(name) && !name.startsWith(QLatin1String("qmljsdebugger="))) {
            out.append(arg);
        }
    }
    return out;
}
