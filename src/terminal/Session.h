#pragma once
// The record of one vehicle passage: times, outcome, terminal identities, camera
// readings, the prepared card and the button; reused for every vehicle.

#include "KSTVv1Card.h"

#include <QDateTime>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVariantMap>

class Session : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool result READ result WRITE setResult NOTIFY resultChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(QDateTime start READ start WRITE setStart NOTIFY startChanged)
    Q_PROPERTY(QDateTime end READ end WRITE setEnd NOTIFY endChanged)
    Q_PROPERTY(QString uuid READ uuid WRITE setUuid NOTIFY uuidChanged)
    Q_PROPERTY(QString type READ type WRITE setType NOTIFY typeChanged)
    Q_PROPERTY(QString deviceId READ deviceId WRITE setDeviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(QString customsId READ customsId WRITE setCustomsId NOTIFY customsIdChanged)
    Q_PROPERTY(QString locationId READ locationId WRITE setLocationId NOTIFY locationIdChanged)
    Q_PROPERTY(QVariantMap readings READ readings WRITE setReadings NOTIFY readingsChanged)
    Q_PROPERTY(QString cardId READ cardId WRITE setCardId NOTIFY cardIdChanged)
    Q_PROPERTY(bool cardReturned READ cardReturned WRITE setCardReturned NOTIFY cardReturnedChanged)
    Q_PROPERTY(bool buttonPressed READ buttonPressed WRITE setButtonPressed NOTIFY buttonPressedChanged)

public:
    explicit Session(QObject* parent = nullptr);

    // Readings of a fresh passage: the two plate cameras, nothing read yet.
    static QVariantMap emptyReadings();

    bool result() const { return m_result; }
    const QString& error() const { return m_error; }
    const QDateTime& start() const { return m_start; }
    const QDateTime& end() const { return m_end; }
    const QString& uuid() const { return m_uuid; }
    const QString& type() const { return m_type; }
    const QString& deviceId() const { return m_deviceId; }
    const QString& customsId() const { return m_customsId; }
    const QString& locationId() const { return m_locationId; }
    const QVariantMap& readings() const { return m_readings; }
    const QString& cardId() const { return m_cardId; }
    bool cardReturned() const { return m_cardReturned; }
    bool buttonPressed() const { return m_buttonPressed; }
    const QSharedPointer<KSTVv1Card>& card() const { return m_card; }

    void setResult(bool result);
    void setError(const QString& error);
    void setStart(const QDateTime& start);
    void setEnd(const QDateTime& end);
    void setUuid(const QString& uuid);
    void setType(const QString& type);
    void setDeviceId(const QString& deviceId);
    void setCustomsId(const QString& customsId);
    void setLocationId(const QString& locationId);
    void setReadings(const QVariantMap& readings);
    void setCardId(const QString& cardId);
    void setCardReturned(bool cardReturned);
    void setButtonPressed(bool buttonPressed);
    // Always replaces the card; not announced.
    void setCard(const QSharedPointer<KSTVv1Card>& card) { m_card = card; }

signals:
    void resultChanged();
    void errorChanged();
    void startChanged();
    void endChanged();
    void uuidChanged();
    void typeChanged();
    void deviceIdChanged();
    void customsIdChanged();
    void locationIdChanged();
    void readingsChanged();
    void cardIdChanged();
    void cardReturnedChanged();
    void buttonPressedChanged();

private:
    bool m_result = false;
    QString m_error;
    QDateTime m_start;
    QDateTime m_end;
    QString m_uuid;
    QString m_type;
    QString m_deviceId;
    QString m_customsId;
    QString m_locationId;
    QVariantMap m_readings = emptyReadings();
    QString m_cardId;
    bool m_cardReturned = false;
    bool m_buttonPressed = false;
    QSharedPointer<KSTVv1Card> m_card;
};
