#include "Plate.h"

#include "PeerText.h"

#include <QDebug>

bool Plate::processData(const QByteArray& body)
{
    qInfo().noquote().nospace() << "[VAXCamera] " << tag() << "Plate::processData";
    bool ok = false;
    const QJsonObject object = parseObject(body, &ok);
    if (!ok
        || !fieldsFit(
            object, { "plate", "country", "directionstr", "id", "imageid", "blacklist", "whitelist", "utcdate" }))
        return false;
    VAXReading* reading = initialCameraData();
    reading->setPlate(object.value(QLatin1String("plate")).toString());
    reading->setCountry(object.value(QLatin1String("country")).toString());
    reading->setConfidence(object.value(QLatin1String("confidence")).toDouble());
    reading->setDirection(object.value(QLatin1String("direction")).toInt());
    reading->setDirectionStr(object.value(QLatin1String("directionstr")).toString());
    reading->setId(object.value(QLatin1String("id")).toString());
    reading->setImageId(object.value(QLatin1String("imageid")).toString());
    reading->setBlacklist(object.value(QLatin1String("blacklist")).toString());
    reading->setWhitelist(object.value(QLatin1String("whitelist")).toString());
    reading->setUtcDate(dateValue(object.value(QLatin1String("utcdate"))));
    reading->setIp(url().host());
    reading->setType(type());
    qInfo().noquote().nospace() << "[VAXCamera] "
                                << "Plate : " << PeerText::forLog(reading->plate())
                                << ", Country : " << PeerText::forLog(reading->country())
                                << ", Confidence : " << reading->confidence()
                                << ", Direction : " << reading->direction()
                                << ", Directionstr : " << PeerText::forLog(reading->directionStr())
                                << ", Id : " << PeerText::forLog(reading->id())
                                << ", Imageid : " << PeerText::forLog(reading->imageId())
                                << ", Blacklist : " << PeerText::forLog(reading->blacklist())
                                << ", Whitelist : " << PeerText::forLog(reading->whitelist())
                                << ", Utcdate : " << reading->utcDate().toString(Qt::ISODateWithMs)
                                << ", IP : " << reading->ip();
    return true;
}
