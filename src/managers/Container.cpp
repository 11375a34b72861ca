#include "Container.h"

#include "PeerText.h"

#include <QDebug>

bool Container::processData(const QByteArray& body)
{
    qInfo().noquote().nospace() << "[VAXCamera] " << tag() << "Container::processData";
    bool ok = false;
    const QJsonObject object = parseObject(body, &ok);
    if (!ok || !fieldsFit(object, { "code", "date", "sizecode" }))
        return false;
    VAXReading* reading = initialCameraData();
    reading->setContainerCode(object.value(QLatin1String("code")).toString());
    reading->setContainerDate(dateValue(object.value(QLatin1String("date"))));
    reading->setContainerConfidence(object.value(QLatin1String("confidence")).toDouble());
    reading->setContainerProcessingTime(object.value(QLatin1String("processingtime")).toInt());
    reading->setContainerSizeCode(object.value(QLatin1String("sizecode")).toString());
    reading->setIp(url().host());
    reading->setType(type());
    qInfo().noquote().nospace() << "[VAXCamera] "
                                << "Code : " << PeerText::forLog(reading->containerCode())
                                << ", Date : " << reading->containerDate().toString(Qt::ISODateWithMs)
                                << ", Confidence : " << reading->containerConfidence()
                                << ", Processingtime : " << reading->containerProcessingTime()
                                << ", SizeCode : " << PeerText::forLog(reading->containerSizeCode())
                                << ", IP : " << reading->ip();
    return true;
}
