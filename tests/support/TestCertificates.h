#pragma once
// A test CA with server and client certificates, and a foreign CA with a server
// certificate of its own, generated with openssl into a temporary folder.

#include <QString>
#include <QTemporaryDir>

class TestCertificates
{
public:
    TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // Runs openssl; false (and the reason in error()) when something failed.
    bool generate();
    QString error() const { return m_error; }

    QString dir() const { return m_dir.path(); }
    QString caCert() const { return path("ca.pem"); }
    // Names localhost and 127.0.0.1.
    QString serverCert() const { return path("server.pem"); }
    QString serverKey() const { return path("server.key"); }
    // CN device-001, RSA key.
    QString clientCert() const { return path("client.pem"); }
    QString clientKey() const { return path("client.key"); }
    // A server certificate for localhost and 127.0.0.1 from a CA the client does not trust.
    QString foreignServerCert() const { return path("foreign-server.pem"); }
    QString foreignServerKey() const { return path("foreign-server.key"); }

private:
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    bool openssl(const QStringList& arguments);
    bool writeFile(const char* name, const QByteArray& content);
    bool makeCa(const QString& name, const QString& subject);
    bool makeLeaf(const QString& name, const QString& ca, const QString& subject, const QByteArray& extensions);

    QTemporaryDir m_dir;
    QString m_error;
};
