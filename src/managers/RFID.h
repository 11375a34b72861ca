#pragma once
// Client of the RFID reader service: mirrors the reader's identity and state,
// follows the card on the reader, and offers the reader's requests as deferred results.

#include "Card.h"
#include "Deferred.h"
#include "Tag.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace manager {

class MqttClient;

class RFID : public QObject
{
    Q_OBJECT
public:
    // Fixed underlying type: the state is kept as the service sends it, and a
    // value outside the list must still be a valid State.
    enum State : int { Init = 0, Idle = 1, Searching = 2, CardFound = 3, Updating = 4, Error = 5 };
    Q_ENUM(State)

    // Outcome of one reader call: the card (null when there is none) and an error text.
    struct Result
    {
        Tag::Ptr card;
        QString error;
    };

    RFID(MqttClient& mqtt, const QString& baseTopic, QObject* parent = nullptr);
    ~RFID() override;

    static QString stateToStr(State state);
    // A card record of a known template built from a card object, else null.
    static Card::Ptr cardFactory(const QJsonObject& object);

    const QString& uid() const { return m_uid; }
    const QString& manufacturer() const { return m_manufacturer; }
    const QString& model() const { return m_model; }
    const QString& firmware() const { return m_firmware; }
    const QString& software() const { return m_software; }
    State state() const { return m_state; }
    const QString& error() const { return m_error; }
    Tag::Ptr activeCard() const { return m_activeCard; }
    // True while the reader can work: Idle, Searching or CardFound.
    bool active() const;

    void setUid(const QString& uid);
    void setManufacturer(const QString& manufacturer);
    void setModel(const QString& model);
    void setFirmware(const QString& firmware);
    void setSoftware(const QString& software);
    void setState(State state);
    void setError(const QString& error);
    void setActiveCard(const Tag::Ptr& card);

    bool beepValid();
    bool beepInvalid();

    Deferred<Result> enable(bool autoread);
    Deferred<Result> disable();
    Deferred<Result> createCard(const QString& templateName);
    Deferred<Result> readCard(const QString& templateName, int usageLogs);
    Deferred<Result> writeCard(const Card::Ptr& card);
    // Resolves with the next card found while searching (at once when a card is
    // on the reader); rejects with "RF is disabled" when the reader is not searching.
    Deferred<Result> waitCardFound(int msec);

    // Time-out of every request; tests shorten it.
    void setRequestTimeout(int msec) { m_timeoutMs = msec; }
    int requestTimeout() const { return m_timeoutMs; }

signals:
    void uidChanged();
    void manufacturerChanged();
    void modelChanged();
    void firmwareChanged();
    void softwareChanged();
    void stateChanged();
    void errorChanged();
    void activeCardChanged();
    void cardFound(Tag::Ptr tag);
    void cardRemoved(Tag::Ptr tag);
    void cardAutoread(Card::Ptr card);
    void cardAutoreadFailed(QString error);
    void updateProgress(int percent, int minutes, int seconds);

public slots:
    void onMqttReceived(const QByteArray& payload, const QString& topic);

private:
    void subscribeToTopics();
    void onInfoReceived(const QJsonObject& object, const QString& topic);
    void onStatusReceived(const QJsonObject& object, const QString& topic);
    void onCardFoundReceived(const QJsonObject& object, const QString& topic);
    void onCardRemovedReceived(const QJsonObject& object, const QString& topic);
    void onCardAutoreadReceived(const QJsonObject& object, const QString& topic);
    QString nextRpcId();
    Deferred<Result> executeRpc(const QString& path, const QJsonObject& params, int timeoutMs);

    MqttClient& m_mqtt;
    const QString m_baseTopic;
    QString m_uid;
    QString m_manufacturer;
    QString m_model;
    QString m_firmware;
    QString m_software;
    State m_state = Init;
    QString m_error;
    int m_requestCounter = 0;
    int m_timeoutMs;
    Tag::Ptr m_activeCard;
};

} // namespace manager
