#include "MosquittoBroker.h"

#include "TestPorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QThread>

#include <csignal>

MosquittoBroker::MosquittoBroker(const QStringList& extraConfig)
    : m_extraConfig(extraConfig)
    , m_port(testsupport::freePort())
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

MosquittoBroker::~MosquittoBroker()
{
    if (isRunning()) {
        resume();
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool MosquittoBroker::start(int timeoutMs)
{
    if (isRunning())
        return true;
    const QString configPath = m_dir.filePath(QStringLiteral("mosquitto.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QStringList lines { QStringLiteral("listener %1 127.0.0.1").arg(m_port), QStringLiteral("allow_anonymous true"),
        QStringLiteral("persistence false"), QStringLiteral("log_dest stderr"),
        QStringLiteral("set_tcp_nodelay true") };
    for (const QString& type : qAsConst(m_logTypes))
        lines << QStringLiteral("log_type ") + type;
    if (geteuid() == 0)
        lines << QStringLiteral("user root");
    lines << m_extraConfig;
    config.write(lines.join('\n').toUtf8() + '\n');
    config.close();

    m_process.start(QStringLiteral("mosquitto"), { QStringLiteral("-c"), configPath });
    if (!m_process.waitForStarted(timeoutMs))
        return false;

    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        if (m_process.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(20);
    }
    return false;
}

bool MosquittoBroker::denySubscriptions(const QStringList& patterns)
{
    const QString plugin = QStringLiteral("/usr/lib/x86_64-linux-gnu/mosquitto_dynamic_security.so");
    if (!QFile::exists(plugin))
        return false;
    QStringList acls;
    for (const QString& pattern : patterns)
        acls << QStringLiteral(R"({"acltype":"subscribePattern","topic":%1,"priority":0,"allow":false})")
                    .arg(QString::fromUtf8(QJsonDocument(QJsonArray { pattern }).toJson(QJsonDocument::Compact))
                             .mid(1)
                             .chopped(1));
    const QString config = QStringLiteral(R"({"defaultACLAccess":{"publishClientSend":true,"publishClientReceive":true,
        "subscribe":true,"unsubscribe":true},"clients":[],"groups":[{"groupname":"anonymous","roles":[{"rolename":"deny"}],
        "clients":[]}],"roles":[{"rolename":"deny","acls":[%1]}],"anonymousGroup":"anonymous"})")
                               .arg(acls.join(','));
    QFile file(m_dir.filePath(QStringLiteral("dynamic-security.json")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(config.toUtf8());
    file.close();
    // The broker may drop to another user before reading it.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    addConfig({ QStringLiteral("plugin ") + plugin, QStringLiteral("plugin_opt_config_file ") + file.fileName() });
    return true;
}

bool MosquittoBroker::requireLogin(const QString& user, const QString& password)
{
    const QString path = m_dir.filePath(QStringLiteral("passwd"));
    QProcess tool;
    tool.start(
        QStringLiteral("mosquitto_passwd"), { QStringLiteral("-b"), QStringLiteral("-c"), path, user, password });
    if (!tool.waitForFinished(5000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return false;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    addConfig({ QStringLiteral("allow_anonymous false"), QStringLiteral("password_file ") + path });
    return true;
}

void MosquittoBroker::stop()
{
    if (!isRunning())
        return;
    resume();
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    m_log += QString::fromUtf8(m_process.readAll());
}

void MosquittoBroker::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(3000);
    m_log += QString::fromUtf8(m_process.readAll());
}

void MosquittoBroker::pause()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_process.processId()), SIGSTOP);
}

void MosquittoBroker::resume()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
}

bool MosquittoBroker::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

QString MosquittoBroker::log()
{
    m_log += QString::fromUtf8(m_process.readAll());
    return m_log;
}
