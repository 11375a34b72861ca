#include "IssueEngine.h"
#include "Button.h"
#include "CameraManager.h"
#include "Config.h"
#include "KSTVv1Card.h"
#include "Loop.h"
#include "PeerText.h"
#include "Session.h"
#include "Terminal.h"

#include <QDebug>

namespace {
QDebug info()
{
    return qInfo().noquote().nospace() << "[IssueEngine] ";
}

QDebug warning()
{
    return qWarning().noquote().nospace() << "[IssueEngine] ";
}

QDebug critical()
{
    return qCritical().noquote().nospace() << "[IssueEngine] ";
}

QString uidOr(const Tag::Ptr& card, const char* none)
{
    return card ? PeerText::forLog(card->uid()) : QString::fromLatin1(none);
}
} // namespace

IssueEngine::IssueEngine(Terminal* terminal, QObject* parent)
    : Engine(terminal, parent)
    , m_issuer(*terminal->rfid(), *terminal->dispenser())
{
    for (QTimer* timer : { &m_dataGuard, &m_permissionTimer, &m_exitTimer })
        timer->setSingleShot(true);
    connect(&m_dataGuard, &QTimer::timeout, this, [this] {
        warning() << "WARN: No camera readings in time, going on without them";
        onReadings({});
    });
    connect(&m_permissionTimer, &QTimer::timeout, this, [this] { setState(CardProcess); });
    connect(&m_exitTimer, &QTimer::timeout, this, [this] {
        info() << "Barrier closed";
        setState(PostExit);
    });
}

IssueEngine::~IssueEngine()
{
    *m_alive = false;
}

void IssueEngine::start()
{
    if (state() != Stopped)
        disconnect(this, nullptr, nullptr, nullptr);
    info() << "Starting engine";
    // Unique: a second start must not double the device links, which stop() keeps.
    manager::Loop* loop = terminal()->loop();
    connect(loop, &manager::Loop::vehiclePresent, this, &IssueEngine::onVehiclePresent, Qt::UniqueConnection);
    connect(loop, &manager::Loop::vehicleLeft, this, &IssueEngine::onVehicleLeft, Qt::UniqueConnection);
    connect(terminal()->button(), &manager::Button::pressed, this, &IssueEngine::onButtonPressed, Qt::UniqueConnection);
    connect(this, &Engine::stateChanged, this, &IssueEngine::onStateChanged, Qt::UniqueConnection);
    connect(&m_issuer, &manager::CardIssuer::cardDisposed, this, &IssueEngine::onCardDisposed, Qt::UniqueConnection);
    connect(&m_issuer, &manager::CardIssuer::cardCollected, this, &IssueEngine::onCardCollected, Qt::UniqueConnection);
    connect(
        &m_issuer, &manager::CardIssuer::stateChanged, this, &IssueEngine::onIssuerStateChanged, Qt::UniqueConnection);
    setState(Idle);
}

void IssueEngine::stop()
{
    setState(Stopped);
    disconnect(this, nullptr, nullptr, nullptr);
}

bool IssueEngine::check(QString& reason)
{
    if (m_issuer.state() != manager::CardIssuer::Error)
        return true;
    reason = m_issuer.reason();
    return false;
}

void IssueEngine::simLoopPresent()
{
    onVehiclePresent();
}

void IssueEngine::simButtonPressed()
{
    onButtonPressed();
}

void IssueEngine::ignore()
{
    warning() << "WARN: Ignoring in current state : " << state();
}

void IssueEngine::onStateChanged(State prev, State curr)
{
    info() << QStringLiteral("State changed : (%1)%2 -> (%3)%4")
                  .arg(prev)
                  .arg(stateToStr(prev))
                  .arg(curr)
                  .arg(stateToStr(curr));
    // Timers of a state end with it.
    if (prev == DataCollect)
        m_dataGuard.stop();
    if (prev == Permission)
        m_permissionTimer.stop();
    if (prev == Exit)
        m_exitTimer.stop();

    switch (curr) {
    case Idle:
        resetSession();
        prepareCard();
        break;
    case DataCollect:
        openSession();
        collectData();
        break;
    case Permission:
        requestEntry();
        break;
    case CardProcess:
        issueCard();
        break;
    case Exit:
        openBarrier();
        break;
    case PostExit:
        closeSession(true);
        break;
    case Error:
        closeSession(false);
        break;
    case Stopped:
    case WaitUser:
        break;
    }
}

void IssueEngine::onVehiclePresent()
{
    info() << "Vehicle present";
    if (state() == Idle)
        setState(DataCollect);
    else
        ignore();
}

void IssueEngine::onVehicleLeft()
{
    info() << "Vehicle left";
    if (state() == DataCollect || state() == WaitUser)
        setState(Idle);
    else
        ignore();
}

void IssueEngine::onButtonPressed()
{
    info() << "Button pressed";
    session()->setButtonPressed(true);
    if (state() == Idle)
        setState(DataCollect);
    else if (state() == WaitUser)
        setState(Permission);
    else
        ignore();
}

void IssueEngine::onCardDisposed(Tag::Ptr card)
{
    info() << "Card disposed : uid=" << uidOr(card, "<none>");
    if (state() != Idle && state() != DataCollect) {
        ignore();
        return;
    }
    QTimer::singleShot(pauses().disposalRetryMs, this, [this] {
        // The lane may have moved on meanwhile; a preparation now would pull an issued card back.
        if ((state() == Idle || state() == DataCollect) && !m_issueInFlight)
            prepareCard();
        else
            ignore();
    });
}

void IssueEngine::onCardCollected(Tag::Ptr card)
{
    info() << "Card collected : " << uidOr(card, "<none>");
}

void IssueEngine::onIssuerStateChanged()
{
    const bool failed = m_issuer.state() == manager::CardIssuer::Error;
    // The way out of Error is reported too, so the terminal does not keep showing a cleared fault.
    if (failed || m_issuerFailed)
        emit deviceError(failed ? m_issuer.reason() : QString());
    m_issuerFailed = failed;
}

void IssueEngine::prepareCard()
{
    info() << "Preparing card";
    const std::shared_ptr<bool> alive = m_alive;
    m_issuer.prepareCard()
        .fail([alive](const manager::CardIssuer::Result& result) {
            if (*alive)
                critical() << "ERROR: Failed to prepare card : " << PeerText::forLog(result.error);
        })
        .done([this, alive](const manager::CardIssuer::Result& result) {
            if (!*alive)
                return;
            const QString uid = result.card ? result.card->uid() : QString();
            info() << "Card prepared : " << PeerText::forLog(uid);
            session()->setCardId(uid);
            // Only an idle lane opens a passage here: the same preparation also
            // completes inside an issue, when the issuer hands it on.
            if (terminal()->loop()->isOccupied() && state() == Idle)
                setState(DataCollect);
        });
}

void IssueEngine::collectData()
{
    const int cycle = ++m_cycle;
    m_dataGuard.start(
        qMax(0, terminal()->config().get(QStringLiteral("camera/triggerDelayMsec")).toInt()) + pauses().dataGuardMs);
    const std::shared_ptr<bool> alive = m_alive;
    terminal()->cameras()->cameraProcess(QString()).done([this, alive, cycle](const QMap<QString, QString>& readings) {
        if (!*alive)
            return;
        if (state() != DataCollect || cycle != m_cycle) {
            warning() << "WARN: Ignorning camera readings in current state : " << state();
            return;
        }
        onReadings(readings);
    });
}

void IssueEngine::onReadings(const QMap<QString, QString>& readings)
{
    QVariantMap values;
    for (auto it = readings.begin(); it != readings.end(); ++it)
        values.insert(it.key(), it.value());
    session()->setReadings(values);
    const State next = session()->buttonPressed() ? Permission : WaitUser;
    info() << "--- DATA COLLECTED -----------------";
    info() << "Card UID : " << PeerText::forLog(session()->cardId());
    info() << "Cameras  : " << values.size();
    for (auto it = values.begin(); it != values.end(); ++it)
        info() << "  " << it.key() << " : " << PeerText::forLog(it.value().toString());
    info() << "------------------------------------";
    emit sessionDataCollected();
    setState(next);
}

void IssueEngine::requestEntry()
{
    info() << "Requesting permission for entry";
    m_permissionTimer.start(pauses().permissionMs);
}

void IssueEngine::issueCard()
{
    // A non-positive time-out is the dispenser client's to correct.
    const int timeout = terminal()->config().get(QStringLiteral("terminal/collectTimeoutSec")).toInt();
    info() << QStringLiteral("Issuing card (collectTimeout=%1 sec)").arg(timeout);
    auto card = QSharedPointer<KSTVv1Card>::create();
    card->setCustomsId(terminal()->customsId().toInt());
    card->setStatus(QStringLiteral("active"));
    card->addUsageLog(QStringLiteral("entry"), terminal()->serialNum(), terminal()->locationId());
    card->incrUsageCounter(1);

    m_issueInFlight = true;
    const std::shared_ptr<bool> alive = m_alive;
    m_issuer.issueCard(card, timeout)
        .fail([this, alive](const manager::CardIssuer::Result& result) {
            if (!*alive)
                return;
            m_issueInFlight = false;
            critical() << "ERROR: " << PeerText::forLog(result.error);
            if (state() != CardProcess)
                return ignore();
            session()->setError(result.error);
            setState(Error);
        })
        .done([this, alive, card](const manager::CardIssuer::Result& result) {
            if (!*alive)
                return;
            m_issueInFlight = false;
            info() << "Card collected successfully : " << uidOr(result.card, "<null>");
            if (state() != CardProcess)
                return ignore();
            session()->setCard(card);
            setState(Exit);
        });
    // An issuer that refused at once has already closed the passage as failed: no card to collect.
    if (m_issueInFlight && state() == CardProcess)
        emit sessionWaitCardCollect();
}

void IssueEngine::openBarrier()
{
    info() << "Opening barrier";
    m_exitTimer.start(pauses().exitMs);
}
