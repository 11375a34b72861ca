#include "CardIssuer.h"
#include "PeerText.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QHash>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace manager {

namespace {
constexpr int kFindCardMs = 1000;
constexpr int kMaxFailCount = 4;
// The dispenser's refusal of an issue request that still leaves a card on the reader.
constexpr int kIssueCardAlreadyOnReader = 14;

QString uidText(const Tag::Ptr& card)
{
    return card ? PeerText::forLog(card->uid()) : QStringLiteral("<none>");
}

const char* boolText(bool value)
{
    return value ? "true" : "false";
}

QDebug info()
{
    return qInfo().noquote().nospace() << "[CardIssuer] ";
}

QDebug warning()
{
    return qWarning().noquote().nospace() << "[CardIssuer] ";
}
} // namespace

CardIssuer::CardIssuer(RFID& rfid, Dispenser& dispenser, QObject* parent)
    : QObject(parent)
    , m_rfid(rfid)
    , m_dispenser(dispenser)
{
    connectSignals();
}

CardIssuer::~CardIssuer()
{
    // Nothing of the issuer may run from here on; whoever waits on a sequence learns it ended.
    m_stopping = true;
    const QList<Deferred<Result>> pending = std::exchange(m_pending, {});
    for (const Deferred<Result>& d : pending) {
        if (d.isPending())
            d.reject(Result { Tag::Ptr(), QStringLiteral("Card issuer stopped") });
    }
}

Deferred<CardIssuer::Result> CardIssuer::newResult()
{
    m_pending.erase(
        std::remove_if(m_pending.begin(), m_pending.end(), [](const Deferred<Result>& d) { return !d.isPending(); }),
        m_pending.end());
    Deferred<Result> d;
    m_pending.append(d);
    return d;
}

template<class F> auto CardIssuer::guarded(F&& callback)
{
    return [self = QPointer<CardIssuer>(this), callback = std::forward<F>(callback)](auto&&... args) {
        if (self && !self->m_stopping)
            callback(std::forward<decltype(args)>(args)...);
    };
}

template<class F> auto CardIssuer::guardedStep(F&& step)
{
    return [self = QPointer<CardIssuer>(this), step = std::forward<F>(step)](const auto& value) {
        if (self && !self->m_stopping)
            return step(value);
        decltype(step(value)) stopped;
        stopped.rejectZero();
        return stopped;
    };
}

QString CardIssuer::stateToStr(State state)
{
    static const QHash<int, QString> names { { Init, QStringLiteral("Init") }, { Busy, QStringLiteral("Busy") },
        { Ready, QStringLiteral("Ready") }, { Error, QStringLiteral("Error") } };
    return names.value(state, QStringLiteral("Unknown"));
}

void CardIssuer::connectSignals()
{
    connect(&m_rfid, &RFID::stateChanged, this, &CardIssuer::checkState);
    connect(&m_rfid, &RFID::cardFound, this, &CardIssuer::onCardFound);
    connect(&m_dispenser, &Dispenser::activeChanged, this, &CardIssuer::checkState);
    connect(&m_dispenser, &Dispenser::isJammedChanged, this, &CardIssuer::checkState);
    connect(&m_dispenser, &Dispenser::isDoorOpenChanged, this, &CardIssuer::checkState);
    connect(&m_dispenser, &Dispenser::cardInMouthChanged, this, &CardIssuer::checkState);
    connect(&m_dispenser, &Dispenser::cardInRfidChanged, this, &CardIssuer::checkState);
    connect(&m_dispenser, &Dispenser::cardRemoved, this, &CardIssuer::onCardRemoved);
    connect(&m_dispenser, &Dispenser::cardDisposed, this, &CardIssuer::onCardDisposed);
}

void CardIssuer::setCurrCard(const Tag::Ptr& card)
{
    if (m_currCard.data() != card.data())
        m_currCard = card;
}

void CardIssuer::setState(State state, const QString& reason)
{
    if (!assignStateIfChanged(m_state, m_reason, state, reason))
        return;
    info() << stateChangeText(state, stateToStr(state), reason);
    emit stateChanged();
}

void CardIssuer::checkState()
{
    qDebug().noquote().nospace() << "[CardIssuer] "
                                 << "checkState() :"
                                 << " Dispenser(" << boolText(m_dispenser.active()) << ")"
                                 << " RFID(" << RFID::stateToStr(m_rfid.state()) << ")"
                                 << " cardInRfid(" << boolText(m_dispenser.cardInRfid()) << ")"
                                 << " cardInMouth(" << boolText(m_dispenser.cardInMouth()) << ")";

    const RFID::State reader = m_rfid.state();
    if (reader == RFID::Error) {
        setState(Error, QStringLiteral("RFID error"));
    } else if (reader == RFID::Updating) {
        setState(Init, QStringLiteral("RFID updating"));
    } else if (m_dispenser.isDoorOpen()) {
        setState(Error, QStringLiteral("Cartridge door open"));
        resetFailCount();
    } else if (!m_dispenser.active()) {
        setState(Error, QStringLiteral("Dispenser error"));
        resetFailCount();
    } else if (m_dispenser.isJammed()) {
        setState(Error, QStringLiteral("Dispenser jammed"));
    } else if (m_failCount > 3) {
        setState(Error, QStringLiteral("Too many failures"));
    } else if (reader == RFID::CardFound || m_dispenser.cardInRfid()) {
        setState(Busy, QStringLiteral("Card on RFID"));
    } else if (m_dispenser.cardInMouth()) {
        setState(Busy, QStringLiteral("Card in Mouth"));
    } else {
        setState(Ready, QString());
    }

    if (m_rfid.state() == RFID::CardFound && !m_currCard)
        setCurrCard(m_rfid.activeCard());
}

void CardIssuer::incrFailCount()
{
    if (m_failCount >= kMaxFailCount)
        return;
    ++m_failCount;
    info() << "Incremented fail counter : " << m_failCount;
    checkState();
}

void CardIssuer::resetFailCount()
{
    if (m_failCount == 0)
        return;
    m_failCount = 0;
    info() << "Reset fail counter : " << m_failCount;
    checkState();
}

void CardIssuer::onCardFound(Tag::Ptr card)
{
    setCurrCard(card);
}

void CardIssuer::onCardRemoved()
{
    emit cardCollected(m_currCard);
    setCurrCard(Tag::Ptr());
}

void CardIssuer::onCardDisposed()
{
    emit cardDisposed(m_currCard);
    setCurrCard(Tag::Ptr());
}

void CardIssuer::reject(const Deferred<Result>& d, const QString& error)
{
    qCritical().noquote().nospace() << "[CardIssuer] "
                                    << "ERROR: " << PeerText::forLog(error);
    d.reject(Result { Tag::Ptr(), error });
}

void CardIssuer::resolve(const Deferred<Result>& d, const Tag::Ptr& card)
{
    d.resolve(Result { card, QString() });
}

Deferred<CardIssuer::Result> CardIssuer::prepareCard()
{
    if (m_preparation)
        return *m_preparation; // a card is already on its way: do not move a second one
    if (m_state == Error) {
        Deferred<Result> d;
        d.reject(Result { Tag::Ptr(), m_reason });
        return d;
    }
    Deferred<Result> d = startPreparation();
    if (d.isPending()) {
        m_preparation = d;
        // Registered before any caller's callbacks, so those already see it finished.
        const auto finished = guarded([this](const Result&) { m_preparation.reset(); });
        d.done(finished).fail(finished);
    }
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::startPreparation()
{
    Deferred<Result> d = newResult();
    Deferred<Result> moved = moveCardOnRfid();
    moved.fail(guarded([d](const Result& r) { d.reject(r); }));
    Deferred<Result> read = moved.thenAlias<Result>(guardedStep([this](const Result&) { return readCardUid(); }));
    read.done(guarded([d](const Result& r) { d.resolve(r); }));
    read.fail(guarded([this, d](const Result& failure) {
        dispose().doneZero(guarded([d, failure] { d.reject(failure); })).failZero(guarded([d, failure] {
            d.reject(failure);
        }));
    }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::moveCardOnRfid()
{
    info() << "Moving card on RFID";
    Deferred<Result> d = newResult();
    if (m_dispenser.cardInRfid()) {
        warning() << "WARN: Card already present. Skipping.";
        resolve(d, Tag::Ptr());
    } else if (m_dispenser.cardInMouth()) {
        warning() << "WARN: Card in mouth. Retracting.";
        m_dispenser.accept()
            .done(guarded([this, d](const Dispenser::Result&) { resolve(d, Tag::Ptr()); }))
            .fail(guarded([this, d](const Dispenser::Result& r) { reject(d, "Accept failed : " + r.description); }));
    } else {
        m_dispenser.issue()
            .done(guarded([this, d](const Dispenser::Result&) { resolve(d, Tag::Ptr()); }))
            .fail(guarded([this, d](const Dispenser::Result& r) {
                if (r.code == kIssueCardAlreadyOnReader)
                    resolve(d, Tag::Ptr());
                else
                    reject(d, "Issue failed : " + r.description);
            }));
    }
    return d;
}

void CardIssuer::finishAfterDisable(const Deferred<RFID::Result>& disabled, const std::function<void(bool)>& onDisabled)
{
    disabled.done(guarded([onDisabled](const RFID::Result&) { onDisabled(true); }));
    // The card was read or written: a reader that fails to switch off must not
    // leave the lane waiting, nor cost a good card.
    disabled.fail(guarded([onDisabled](const RFID::Result& r) {
        warning() << "WARN: RFID disable failed : " << PeerText::forLog(r.error);
        onDisabled(false);
    }));
}

Deferred<CardIssuer::Result> CardIssuer::readCardUid()
{
    info() << "Reading card UID";
    Deferred<Result> d = newResult();
    if (m_rfid.state() == RFID::CardFound) {
        const Tag::Ptr card = m_rfid.activeCard();
        info() << "Card already present : " << uidText(card);
        finishAfterDisable(m_rfid.disable(), [this, d, card](bool disabled) {
            if (disabled)
                info() << "RFID disabled";
            resolve(d, card);
        });
        return d;
    }

    Deferred<RFID::Result> enabled = m_rfid.enable(false);
    enabled.fail(guarded([this, d](const RFID::Result& r) { reject(d, "RFID enable failed : " + r.error); }));
    Deferred<RFID::Result> found = enabled.thenAlias<RFID::Result>(guardedStep([this](const RFID::Result&) {
        info() << "RFID enabled.";
        return m_rfid.waitCardFound(kFindCardMs);
    }));
    found.fail(guarded([this, d](const RFID::Result& r) { reject(d, "Failed to find card : " + r.error); }));
    found.done(guarded([this, d](const RFID::Result& r) {
        info() << "Card found : " << uidText(r.card);
        setCurrCard(r.card);
        finishAfterDisable(m_rfid.disable(), [this, d](bool disabled) {
            if (disabled)
                info() << "RFID disabled";
            resolve(d, m_currCard);
        });
    }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::createCard(const Card::Ptr& card)
{
    const QString templateName = card ? card->name() : QString();
    info() << QStringLiteral("Creating card : %1").arg(templateName);
    Deferred<Result> d = newResult();

    Deferred<RFID::Result> enabled = m_rfid.enable(false);
    enabled.fail(guarded([this, d](const RFID::Result& r) { reject(d, "RFID enable failed : " + r.error); }));
    Deferred<RFID::Result> found = enabled.thenAlias<RFID::Result>(guardedStep([this](const RFID::Result&) {
        info() << "RFID enabled.";
        return m_rfid.waitCardFound(kFindCardMs);
    }));
    found.fail(guarded([this, d](const RFID::Result& r) { reject(d, "Card search failed : " + r.error); }));
    Deferred<RFID::Result> created
        = found.thenAlias<RFID::Result>(guardedStep([this, templateName](const RFID::Result& r) {
              info() << "Card found : " << uidText(r.card);
              return m_rfid.createCard(templateName);
          }));
    created.fail(guarded([this, d](const RFID::Result& r) { reject(d, "Create card failed : " + r.error); }));
    Deferred<RFID::Result> written = created.thenAlias<RFID::Result>(guardedStep([this, card](const RFID::Result& r) {
        info() << "Writing card : " << uidText(r.card);
        return m_rfid.writeCard(card);
    }));
    written.fail(guarded([this, d](const RFID::Result& r) { reject(d, "Write card failed : " + r.error); }));
    written.done(guarded([this, d](const RFID::Result& r) {
        info() << "Card written successfully : " << uidText(r.card);
        setCurrCard(r.card);
        resetFailCount();
        finishAfterDisable(m_rfid.disable(), [this, d](bool disabled) {
            resolve(d, m_currCard);
            if (disabled)
                info() << "RFID disabled";
        });
    }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::eject()
{
    info() << "Ejecting card";
    Deferred<Result> d = newResult();
    m_dispenser.eject()
        .done(guarded([this, d](const Dispenser::Result&) {
            info() << "Card ejected successfully";
            resolve(d, m_currCard);
        }))
        .fail(guarded([this, d](const Dispenser::Result& r) { reject(d, "Failed to eject card : " + r.description); }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::waitCollect(int seconds)
{
    seconds = Dispenser::collectTimeoutSec(seconds, "[CardIssuer] ");
    info() << QStringLiteral("Waiting for card to be collected (timeout=%1 sec)").arg(seconds);
    Deferred<Result> d = newResult();
    m_dispenser.waitCollect(seconds)
        .done(guarded([this, d](const Dispenser::Result&) {
            info() << "Card collected successfully";
            resolve(d, Tag::Ptr());
        }))
        .fail(guarded([this, d](const Dispenser::Result&) { reject(d, QStringLiteral("Card was not collected")); }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::retract()
{
    info() << "Retracting card : " << uidText(m_currCard);
    Deferred<Result> d = newResult();
    m_dispenser.accept()
        .done(guarded([this, d](const Dispenser::Result&) { resolve(d, Tag::Ptr()); }))
        .fail(guarded([this, d](const Dispenser::Result& r) { reject(d, "Accept failed : " + r.description); }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::dispose()
{
    info() << "Disposing card : " << uidText(m_currCard);
    incrFailCount();
    Deferred<Result> d = newResult();
    m_dispenser.dispose()
        .done(guarded([this, d](const Dispenser::Result&) { resolve(d, Tag::Ptr()); }))
        .fail(guarded([this, d](const Dispenser::Result& r) { reject(d, "Dispose failed : " + r.description); }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::createAndEject(const Card::Ptr& card, int seconds)
{
    Deferred<Result> d = newResult();
    Deferred<Result> created = createCard(card);
    created.fail(guarded([this, d](const Result& failure) {
        dispose().doneZero(guarded([d, failure] { d.reject(failure); })).failZero(guarded([d, failure] {
            d.reject(failure);
        }));
    }));
    Deferred<Result> ejected = created.thenAlias<Result>(guardedStep([this](const Result&) { return eject(); }));
    ejected.fail(guarded([d](const Result& failure) { d.reject(failure); }));
    Deferred<Result> collected
        = ejected.thenAlias<Result>(guardedStep([this, seconds](const Result&) { return waitCollect(seconds); }));
    collected.fail(guarded([this, d](const Result& failure) {
        retract().doneZero(guarded([d, failure] { d.reject(failure); })).failZero(guarded([d, failure] {
            d.reject(failure);
        }));
    }));
    collected.done(guarded([d](const Result& r) { d.resolve(r); }));
    return d;
}

Deferred<CardIssuer::Result> CardIssuer::issueCard(const Card::Ptr& card, int seconds)
{
    if (m_currCard && !m_preparation) {
        info() << "Card present. Issuing.";
        return createAndEject(card, seconds);
    }
    warning() << "WARN: Card not present. Preparing.";
    Deferred<Result> d = newResult();
    Deferred<Result> prepared = prepareCard();
    prepared.fail(guarded([d](const Result& failure) { d.reject(failure); }));
    Deferred<Result> issued = prepared.thenAlias<Result>(
        guardedStep([this, card, seconds](const Result&) { return createAndEject(card, seconds); }));
    issued.done(guarded([d](const Result& r) { d.resolve(r); }));
    issued.fail(guarded([d](const Result& r) { d.reject(r); }));
    return d;
}

} // namespace manager
