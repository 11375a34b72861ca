#include "ESB.h"

#include "Config.h"
#include "PeerText.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QUrl>

#define ESB_LOG(level) level().noquote().nospace() << "[Backend::ESB] "

namespace Backend {

ESB::ESB(Config& config, QObject* parent)
    : QObject(parent)
    , m_config(config)
{
    m_http.setHeader(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    m_http.setHeader(QStringLiteral("User-Agent"), QStringLiteral("kstv/terminal"));
    m_http.setHeader(QStringLiteral("Connection"), QStringLiteral("keep-alive"));
}

Deferred<ESB::Response> ESB::requestEntry(const Request& request)
{
    return send(QStringLiteral("Entry"), QStringLiteral("/integration/internal/cardReader/entrance/entranceRequest"),
        request);
}

Deferred<ESB::Response> ESB::requestExit(const Request& request)
{
    return send(QStringLiteral("Exit"), QStringLiteral("/integration/internal/cardReader/intermediate/exitRequest"),
        request);
}

QJsonObject ESB::toJson(const Request& request)
{
    return QJsonObject {
        { QStringLiteral("timestamp"), request.timestamp.toString(Qt::ISODate) },
        { QStringLiteral("deviceId"), request.deviceId },
        { QStringLiteral("customsId"), request.customsId },
        { QStringLiteral("locationId"), request.locationId },
        { QStringLiteral("cardId"), request.cardId },
        { QStringLiteral("plateDatabaseId"), request.plateDatabaseId },
    };
}

Deferred<ESB::Response> ESB::send(const QString& name, const QString& path, const Request& request)
{
    Deferred<Response> result;
    ESB_LOG(qInfo) << "Performing '" << name << "' request";
    const int timeout = m_config.get(QStringLiteral("esb/responseTimeoutMsec")).toInt();
    QUrl url(m_config.get(QStringLiteral("esb/url")).toString());
    url.setPath(path);
    m_http.post(url, toJson(request), timeout)
        .fail([result](int status, const QJsonValue& body) {
            const QString text = body.isString() ? body.toString()
                                                 : QString::fromUtf8(QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact));
            ESB_LOG(qCritical)
                << QStringLiteral("ERROR: Operation failed : (%1) %2").arg(status).arg(PeerText::forLog(text));
            result.reject(Response { status, body.toString() });
        })
        .done([result](int status, const QJsonValue& body) { result.resolve(Response { status, body.toString() }); });
    return result;
}

} // namespace Backend
