#pragma once
// One terminal event that the back office must learn of (card issued, scanned,
// collected, error report), with its delivery state in the send queue.

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QSharedPointer>
#include <QString>

namespace Backend {

class Transaction : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Type type READ type CONSTANT)
    Q_PROPERTY(QDateTime timestamp READ timestamp CONSTANT)
    Q_PROPERTY(QString deviceSerial READ deviceSerial CONSTANT)
    Q_PROPERTY(QString cardUid READ cardUid CONSTANT)
    Q_PROPERTY(QString uuid READ uuid CONSTANT)
    Q_PROPERTY(QString morvaDbId READ morvaDbId CONSTANT)
    Q_PROPERTY(QString errorDetails READ errorDetails CONSTANT)
public:
    enum Type { Issuance = 0, Scan = 1, Collection = 2, ErrorReport = 3 };
    Q_ENUM(Type)

    using Ptr = QSharedPointer<Transaction>;

    // Delivery state; all times are local.
    struct SendDetails
    {
        QString sendStatus;
        QDateTime sendDate;
        QDateTime sendSchedDate;
        int sendAttempts = 0;
        int respStatus = 0;
        QJsonObject respData;
    };

    explicit Transaction(QObject* parent = nullptr);

    Type type() const { return m_type; }
    QDateTime timestamp() const { return m_timestamp; }
    QString deviceSerial() const { return m_deviceSerial; }
    QString cardUid() const { return m_cardUid; }
    QString uuid() const { return m_uuid; }
    QString morvaDbId() const { return m_morvaDbId; }
    QString errorDetails() const { return m_errorDetails; }

    void setType(Type type);
    void setTimestamp(const QDateTime& timestamp);
    void setDeviceSerial(const QString& serial);
    void setCardUid(const QString& uid);
    void setUuid(const QString& uuid);
    void setMorvaDbId(const QString& id);
    void setErrorDetails(const QString& details);

    SendDetails& sendDetails() { return m_sendDetails; }
    const SendDetails& sendDetails() const { return m_sendDetails; }

    // The body of the transaction request; the delivery state is not sent.
    QJsonObject toJson() const;
    QString toString() const;

    static QString typeToStr(Type type);
    static Type strToType(const QString& text);
    static QString createUid();
    static Ptr create(Type type, const QString& deviceSerial, const QString& cardUid,
        const QString& errorDetails = QString());

private:
    Type m_type = Issuance;
    QDateTime m_timestamp;
    QString m_deviceSerial;
    QString m_cardUid;
    QString m_uuid;
    QString m_morvaDbId;
    QString m_errorDetails;
    SendDetails m_sendDetails;
};

} // namespace Backend
