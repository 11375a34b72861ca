#pragma once
// A test CA with server and client certificates, and a foreign CA with a server
// certificate of its own, generated with openssl into a temporary folder.

#include <QString>
#include <QTemporaryDir>

class TestCertificates
{
public:
    // Runs openssl; false (and the reason in error()) when something failed.
    bool generate();
    QString error() const { return m_error; }

    QString dir() const { return m_dir.path(); }
    QString caCert() const { return m_dir.filePath("ca.pem"); }
    // Names localhost and 127.0.0.1.
    QString serverCert() const { return m_dir.filePath("server.pem"); }
    QString serverKey() const { return m_dir.filePath("server.key"); }
    // CN device-001, RSA key.
    QString clientCert() const { return m_dir.filePath("client.pem"); }
    QString clientKey() const { return m_dir.filePath("client.key"); }
    // A server certificate for localhost and 127.0.0.1 from a CA the client does not trust.
    QString foreignServerCert() const { return m_dir.filePath("foreign-server.pem"); }
    QString foreignServerKey() const { return m_dir.filePath("foreign-server.key"); }

private:
    QTemporaryDir m_dir;
    QString m_error;
};
