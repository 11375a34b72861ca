#include "TestCertificates.h"

#include <QProcess>

namespace {

// ca NAME CN; leaf NAME CA CN EXTENSIONS
const char* const kScript = R"(set -e
ca() { openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout $1.key -out $1.pem -subj "/CN=$2" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign; }
leaf() { printf "$4" > $1.ext && openssl req -newkey rsa:2048 -nodes -keyout $1.key -out $1.csr -subj "/CN=$3" \
  && openssl x509 -req -in $1.csr -CA $2.pem -CAkey $2.key -CAcreateserial -days 30 -sha256 -extfile $1.ext \
  -out $1.pem; }
server='subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n'
ca ca "Test CA"
leaf server ca localhost "$server"
leaf client ca device-001 'extendedKeyUsage=clientAuth\n'
ca foreign-ca "Foreign CA"
leaf foreign-server foreign-ca localhost "$server"
)";

} // namespace

bool TestCertificates::generate()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("sh"), { QStringLiteral("-c"), QString::fromLatin1(kScript) });
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}
