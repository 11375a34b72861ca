#include "ServiceMessage.h"

#include "Config.h"
#include "PeerText.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimer>

namespace manager {

bool parseServiceMessage(
    const QByteArray& payload, const QString& prefix, bool emptyIsObject, bool withPayload, QJsonObject& object)
{
    QJsonParseError error;
    const QJsonDocument document
        = QJsonDocument::fromJson(payload.isEmpty() && emptyIsObject ? QByteArrayLiteral("{ }") : payload, &error);
    if (error.error != QJsonParseError::NoError) {
        qCritical().noquote().nospace() << prefix << "Failed to parse JSON message: "
                                        << (withPayload ? PeerText::forLog(Config::maskedPayload(payload))
                                                        : error.errorString());
        return false;
    }
    object = document.object();
    return true;
}

bool startMonitor(QTimer& timer, int msec, const QString& prefix)
{
    if (msec == 0) {
        qInfo().noquote().nospace() << prefix << "Monitor stopped";
        timer.stop();
        return false;
    }
    qInfo().noquote().nospace() << prefix << "Monitor started : " << msec << " msec(s)";
    timer.setInterval(msec);
    timer.setSingleShot(false);
    timer.start();
    return true;
}

} // namespace manager
