#pragma once
// Client of the checkpoint's entry/exit permission service: one JSON request per
// call, the service's answer handed back as status and body text.

#include "Deferred.h"
#include "HttpClient.h"

#include <QDateTime>
#include <QObject>
#include <QString>

class Config;

namespace Backend {

class ESB : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QDateTime timestamp;
        QString deviceId;
        QString customsId;
        QString locationId;
        QString cardId;
        QString plateDatabaseId;
    };

    // Outcome of one permission request: HTTP status code and reply body text.
    struct Response
    {
        int status = 0;
        QString body;
    };

    explicit ESB(Config& config, QObject* parent = nullptr);

    Deferred<Response> requestEntry(const Request& request);
    Deferred<Response> requestExit(const Request& request);

    static QJsonObject toJson(const Request& request);

private:
    Deferred<Response> send(const QString& name, const QString& path, const Request& request);

    Config& m_config;
    HttpClient m_http;
};

} // namespace Backend
