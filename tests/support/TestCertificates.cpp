#include "TestCertificates.h"

#include <QFile>
#include <QProcess>

TestCertificates::TestCertificates() = default;

bool TestCertificates::openssl(const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed: %2")
                      .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool TestCertificates::writeFile(const char* name, const QByteArray& content)
{
    QFile file(path(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        m_error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    return true;
}

bool TestCertificates::makeCa(const QString& name, const QString& subject)
{
    return openssl({ "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-keyout",
        name + ".key", "-out", name + ".pem", "-subj", subject, "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign" });
}

bool TestCertificates::makeLeaf(
    const QString& name, const QString& ca, const QString& subject, const QByteArray& extensions)
{
    const QByteArray extFile = (name + ".ext").toLatin1();
    return writeFile(extFile.constData(), extensions)
        && openssl({ "req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr", "-subj",
            subject })
        && openssl({ "x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key", "-CAcreateserial",
            "-days", "30", "-sha256", "-extfile", name + ".ext", "-out", name + ".pem" });
}

bool TestCertificates::generate()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QByteArray serverExt = "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n";
    return makeCa("ca", "/CN=Test CA") && makeLeaf("server", "ca", "/CN=localhost", serverExt)
        && makeLeaf("client", "ca", "/CN=device-001", "extendedKeyUsage=clientAuth\n")
        && makeCa("foreign-ca", "/CN=Foreign CA")
        && makeLeaf("foreign-server", "foreign-ca", "/CN=localhost", serverExt);
}
