#include "ScriptedReply.h"

#include <QJsonArray>
#include <QJsonDocument>

ScriptedReply ScriptedReply::fromJson(const QJsonObject& object)
{
    static const QMap<QString, Body> kinds { { QStringLiteral("json"), Body::Json }, { QStringLiteral("text"), Body::Text },
        { QStringLiteral("broken"), Body::Broken }, { QStringLiteral("empty"), Body::Empty },
        { QStringLiteral("huge"), Body::Huge } };
    ScriptedReply reply;
    reply.status = object.value(QStringLiteral("status")).toInt(200);
    reply.json = object.value(QStringLiteral("json"));
    reply.body = kinds.value(object.value(QStringLiteral("body")).toString(), reply.json.isUndefined() ? Body::Auto : Body::Json);
    reply.delayMsec = object.value(QStringLiteral("delayMsec")).toInt();
    reply.drop = object.value(QStringLiteral("drop")).toBool();
    reply.stall = object.value(QStringLiteral("stall")).toBool();
    reply.hold = object.value(QStringLiteral("hold")).toBool();
    reply.redirect = object.value(QStringLiteral("redirect")).toString();
    return reply;
}

ScriptedReply ScriptedReply::withStatus(int status)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = Body::Json;
    reply.json = QJsonObject { { QStringLiteral("scripted"), status } };
    return reply;
}

ScriptedReply ScriptedReply::delayed(int msec)
{
    ScriptedReply reply;
    reply.delayMsec = msec;
    return reply;
}

ScriptedReply ScriptedReply::held()
{
    ScriptedReply reply;
    reply.hold = true;
    return reply;
}

ScriptedReply ScriptedReply::dropped()
{
    ScriptedReply reply;
    reply.drop = true;
    return reply;
}

QByteArray ScriptedReply::bytes(const QByteArray& own) const
{
    switch (body) {
    case Body::Auto:
        return own;
    case Body::Json:
        return json.isArray() ? QJsonDocument(json.toArray()).toJson(QJsonDocument::Compact)
                              : QJsonDocument(json.toObject()).toJson(QJsonDocument::Compact);
    case Body::Text:
        return json.toString(QStringLiteral("plain text reply")).toUtf8();
    case Body::Broken:
        return QByteArrayLiteral("{\"apiKey\": \"trunc");
    case Body::Empty:
        return QByteArray();
    case Body::Huge:
        return "{\"filler\":\"" + QByteArray(8 * 1024 * 1024, 'x') + "\"}";
    }
    return own;
}
