#pragma once
// Drives the RFID reader and the card dispenser to hand a written card to the
// driver: derives one state from both devices, counts failed cards, follows
// the current card, and runs the issuing sequences.

#include "Card.h"
#include "Deferred.h"
#include "Dispenser.h"
#include "RFID.h"
#include "Tag.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace manager {

class CardIssuer : public QObject
{
    Q_OBJECT
public:
    enum State { Init = 0, Busy = 1, Ready = 2, Error = 3 };

    // Outcome of one issuing step or sequence: the card (null when there is none) and an error text.
    struct Result
    {
        Tag::Ptr card;
        QString error;
    };

    CardIssuer(RFID& rfid, Dispenser& dispenser, QObject* parent = nullptr);
    ~CardIssuer() override;

    static QString stateToStr(State state);

    State state() const { return m_state; }
    const QString& reason() const { return m_reason; }
    Tag::Ptr currCard() const { return m_currCard; }
    int failCount() const { return m_failCount; }

    void setCurrCard(const Tag::Ptr& card);
    void setState(State state, const QString& reason);
    void checkState();
    void incrFailCount();
    void resetFailCount();

    // Sequences. Each returns at once and settles when the device requests it
    // starts have been answered.
    Deferred<Result> prepareCard();
    Deferred<Result> moveCardOnRfid();
    Deferred<Result> readCardUid();
    Deferred<Result> createCard(const Card::Ptr& card);
    Deferred<Result> eject();
    Deferred<Result> waitCollect(int seconds);
    Deferred<Result> retract();
    Deferred<Result> dispose();
    Deferred<Result> createAndEject(const Card::Ptr& card, int seconds);
    Deferred<Result> issueCard(const Card::Ptr& card, int seconds);

    // Logs "ERROR: " with the text and rejects d with it.
    void reject(const Deferred<Result>& d, const QString& error);
    void resolve(const Deferred<Result>& d, const Tag::Ptr& card);

signals:
    void stateChanged();
    void cardDisposed(Tag::Ptr card);
    void cardCollected(Tag::Ptr card);

private:
    void connectSignals();
    void onCardFound(Tag::Ptr card);
    void onCardRemoved();
    void onCardDisposed();
    Deferred<Result> startPreparation();
    // Settles d after a final reader disable: a failed disable is only a warning,
    // since the card was already read or written.
    // onDisabled gets whether the reader did switch off.
    void finishAfterDisable(const Deferred<RFID::Result>& disabled, const std::function<void(bool)>& onDisabled);
    // A result handle of a sequence, settled with "Card issuer stopped" if the issuer goes
    // away first: the lane engine that owns it is replaced at run time.
    Deferred<Result> newResult();
    // The callback runs only while the issuer lives: the device clients and their MQTT
    // waits outlive it.
    template<class F> auto guarded(F&& callback);
    // As guarded, for a thenAlias step: without the issuer the chain fails.
    template<class F> auto guardedStep(F&& step);

    RFID& m_rfid;
    Dispenser& m_dispenser;
    State m_state = Init;
    QString m_reason;
    Tag::Ptr m_currCard;
    int m_failCount = 0;
    // The preparation in progress: later callers join it instead of moving a second card.
    std::optional<Deferred<Result>> m_preparation;
    QList<Deferred<Result>> m_pending;
    bool m_stopping = false;
};

} // namespace manager
