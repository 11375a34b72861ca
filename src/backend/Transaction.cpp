#include "Transaction.h"

#include <QMap>
#include <QUuid>

namespace Backend {

namespace {

const QMap<Transaction::Type, QString>& typeNames()
{
    static const QMap<Transaction::Type, QString> names {
        { Transaction::Issuance, QStringLiteral("ISSUANCE") },
        { Transaction::Scan, QStringLiteral("SCAN") },
        { Transaction::Collection, QStringLiteral("COLLECTION") },
        { Transaction::ErrorReport, QStringLiteral("ERROR_REPORT") },
    };
    return names;
}

} // namespace

Transaction::Transaction(QObject* parent)
    : QObject(parent)
{
}

void Transaction::setType(Type type)
{
    if (m_type != type)
        m_type = type;
}

void Transaction::setTimestamp(const QDateTime& timestamp)
{
    if (m_timestamp != timestamp)
        m_timestamp = timestamp;
}

void Transaction::setDeviceSerial(const QString& serial)
{
    if (m_deviceSerial != serial)
        m_deviceSerial = serial;
}

void Transaction::setCardUid(const QString& uid)
{
    if (m_cardUid != uid)
        m_cardUid = uid;
}

void Transaction::setUuid(const QString& uuid)
{
    if (m_uuid != uuid)
        m_uuid = uuid;
}

void Transaction::setMorvaDbId(const QString& id)
{
    if (m_morvaDbId != id)
        m_morvaDbId = id;
}

void Transaction::setErrorDetails(const QString& details)
{
    if (m_errorDetails != details)
        m_errorDetails = details;
}

QJsonObject Transaction::toJson() const
{
    return QJsonObject {
        { QStringLiteral("type"), typeToStr(m_type) },
        { QStringLiteral("timestamp"), m_timestamp.toString(Qt::ISODate) },
        { QStringLiteral("deviceSerial"), m_deviceSerial },
        { QStringLiteral("cardUid"), m_cardUid },
        { QStringLiteral("transactionUid"), m_uuid },
        { QStringLiteral("morvaDbRecordId"), m_morvaDbId },
        { QStringLiteral("errorDetails"), m_errorDetails },
    };
}

QString Transaction::toString() const
{
    return QStringLiteral("%1 (type=%2, cardUid=%3, created=%4)")
        .arg(m_uuid, typeToStr(m_type), m_cardUid, m_timestamp.toString(Qt::ISODate));
}

QString Transaction::typeToStr(Type type)
{
    return typeNames().value(type);
}

Transaction::Type Transaction::strToType(const QString& text)
{
    for (auto it = typeNames().cbegin(); it != typeNames().cend(); ++it) {
        if (it.value().compare(text, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return Issuance;
}

QString Transaction::createUid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

Transaction::Ptr Transaction::create(
    Type type, const QString& deviceSerial, const QString& cardUid, const QString& errorDetails)
{
    Ptr trans(new Transaction);
    trans->setType(type);
    trans->setDeviceSerial(deviceSerial);
    trans->setCardUid(cardUid);
    trans->setErrorDetails(errorDetails);
    trans->setUuid(createUid());
    trans->setTimestamp(QDateTime::currentDateTime());
    trans->setMorvaDbId(QStringLiteral("0"));
    trans->sendDetails().sendStatus = QStringLiteral("PENDING");
    return trans;
}

} // namespace Backend
