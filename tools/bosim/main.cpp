// Back-office simulator: serves the device REST API on 127.0.0.1 over TLS 1.2 with
// a required client certificate until interrupted; see README.md.

#include "BackOfficeSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTextStream>

#include <csignal>

namespace {

bool openssl(const QStringList& arguments, const QString& dir, QString* error)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(QStringLiteral("openssl"), arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    *error = QStringLiteral("openssl %1 failed: %2").arg(arguments.value(0), QString::fromLocal8Bit(process.readAllStandardError()));
    return false;
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// A CA, a server certificate for localhost and 127.0.0.1, and an RSA client certificate.
bool generateCertificates(const QString& dir, QString* error)
{
    if (!QDir().mkpath(dir) || !writeText(dir + "/server.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
        || !writeText(dir + "/client.ext", "extendedKeyUsage=clientAuth\n")) {
        *error = QStringLiteral("cannot write into ") + dir;
        return false;
    }
    const QList<QStringList> steps {
        { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "365", "-keyout", "ca.key", "-out",
            "ca.pem", "-subj", "/CN=Back Office Simulator CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
            "keyUsage=critical,keyCertSign,cRLSign" },
        { "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost" },
        { "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "365",
            "-sha256", "-extfile", "server.ext", "-out", "server.pem" },
        { "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "device.key", "-out", "device.csr", "-subj", "/CN=device-001" },
        { "x509", "-req", "-in", "device.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "365",
            "-sha256", "-extfile", "client.ext", "-out", "device.crt" },
    };
    for (const QStringList& step : steps) {
        if (!openssl(step, dir, error))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bosim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Back-office REST simulator (HTTPS, client certificate required)."));
    parser.addHelpOption();
    parser.addOptions({
        { "port", "Port on 127.0.0.1 (0 picks a free one).", "port", "9876" },
        { "certs", "Folder with ca.pem, server.pem and server.key; with --generate they are made there first.", "dir",
            "bosim-certs" },
        { "generate", "Generate the CA, server and device certificates (device.crt, device.key) into --certs." },
        { "script", "JSON file: {\"heartbeat\":{...},\"blacklist\":{\"version\":..,\"uids\":[..]},"
                    "\"scripts\":[{\"endpoint\":..,\"times\":..,\"reply\":{...}}]}.",
            "file" },
        { "journal", "Append every request as one JSON line to this file.", "file" },
    });
    parser.process(app);

    const QString certs = parser.value("certs");
    QTextStream err(stderr);
    QString error;
    if (parser.isSet("generate") && !generateCertificates(certs, &error)) {
        err << error << "\n";
        return 1;
    }
    BackOfficeSim sim;
    if (!sim.setCertificates(certs + "/ca.pem", certs + "/server.pem", certs + "/server.key")) {
        err << sim.error() << "\n";
        return 1;
    }
    if (parser.isSet("script")) {
        QFile file(parser.value("script"));
        QJsonParseError parseError;
        const QJsonObject script = file.open(QIODevice::ReadOnly)
            ? QJsonDocument::fromJson(file.readAll(), &parseError).object()
            : QJsonObject();
        if (!file.isOpen() || parseError.error != QJsonParseError::NoError) {
            err << "cannot read script " << file.fileName() << "\n";
            return 1;
        }
        sim.setHeartbeatReply(script.value("heartbeat").toObject());
        const QJsonObject blacklist = script.value("blacklist").toObject();
        if (!blacklist.isEmpty()) {
            QStringList uids;
            for (const QJsonValue& uid : blacklist.value("uids").toArray())
                uids.append(uid.toString());
            sim.setBlacklist(blacklist.value("version").toString(), uids);
        }
        for (const QJsonValue& item : script.value("scripts").toArray()) {
            const QJsonObject entry = item.toObject();
            sim.script(entry.value("endpoint").toString(), ScriptedReply::fromJson(entry.value("reply").toObject()),
                entry.value("times").toInt(1));
        }
    }
    auto journal = std::make_shared<QFile>(parser.value("journal"));
    if (parser.isSet("journal") && !journal->open(QIODevice::Append)) {
        err << "cannot open journal " << journal->fileName() << "\n";
        return 1;
    }
    QObject::connect(&sim, &BackOfficeSim::requestHandled, &sim, [journal](const BackOfficeSim::Entry& entry) {
        QTextStream(stdout) << entry.method << " " << entry.path << (entry.query.isEmpty() ? "" : "?") << entry.query
                            << " -> " << entry.status << Qt::endl;
        if (journal->isOpen()) {
            journal->write(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + "\n");
            journal->flush();
        }
    });
    if (!sim.start(quint16(parser.value("port").toUInt()))) {
        err << "cannot listen: " << sim.error() << "\n";
        return 1;
    }
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    QTextStream(stdout) << "Back-office simulator at " << sim.url() << " (client certificates of "
                        << QDir(certs).absoluteFilePath("ca.pem") << ")" << Qt::endl;
    return app.exec();
}
