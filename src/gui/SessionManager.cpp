#include "SessionManager.h"

#include "Config.h"
#include "LogClock.h"

#include <QDebug>

#include <cmath>

SessionManager::SessionManager(Config& config, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_clock(new manager::LogClock)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SessionManager::onExpired);
    m_lockTimer.setSingleShot(true);
    m_lockTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_lockTimer, &QTimer::timeout, this, &SessionManager::onLockTimeout);
    connect(&m_config, &Config::configChanged, this, &SessionManager::loadUsers);
    loadUsers();
}

SessionManager::~SessionManager() = default;

void SessionManager::setClock(std::unique_ptr<manager::LogClock> clock)
{
    if (clock)
        m_clock = std::move(clock);
}

double SessionManager::lockLeftMsec() const
{
    return m_lockedUntil - m_clock->millis();
}

bool SessionManager::loginLocked() const
{
    return m_failures >= kMaxFailures && lockLeftMsec() > 0;
}

void SessionManager::lock()
{
    m_lockedUntil = m_clock->millis() + m_lockMsec;
    qWarning().noquote() << QStringLiteral("[SessionManager] WARN: %1 wrong PINs in a row; login locked for %2 s")
                                .arg(m_failures)
                                .arg(m_lockMsec / 1000);
    m_lockTimer.start(m_lockMsec);
    m_lockMsec = qMin(m_lockMsec * 2, kLongestLockMsec);
    emit loginLockedChanged();
}

void SessionManager::onLockTimeout()
{
    // A timer may still go off a little before the lock's clock reaches the end; the page must
    // not hear of it until then.
    const double left = lockLeftMsec();
    if (left > 0) {
        m_lockTimer.start(int(std::ceil(left)));
        return;
    }
    emit loginLockedChanged();
}

int SessionManager::remainingTime() const
{
    return m_user ? m_timer.remainingTime() : -1;
}

void SessionManager::loadUsers()
{
    m_users.clear();
    m_users.append(User { 0, QStringLiteral("ZENT"), QStringLiteral("Admin"),
        m_config.get(QStringLiteral("gui/settingsPin")).toString() });
}

bool SessionManager::sameText(const QString& a, const QString& b)
{
    const int n = qMax(a.size(), b.size());
    uint diff = uint(a.size() ^ b.size());
    for (int i = 0; i < n; ++i) {
        const ushort x = i < a.size() ? a.at(i).unicode() : 0;
        const ushort y = i < b.size() ? b.at(i).unicode() : 0;
        diff |= uint(x ^ y);
    }
    return diff == 0;
}

void SessionManager::loginRequest(const QString& pin)
{
    qInfo().noquote() << "[SessionManager] Login requested with PIN";
    qDebug().noquote() << "[SessionManager] Entered PIN    : ****";
    if (loginLocked()) {
        qWarning().noquote() << QStringLiteral("[SessionManager] WARN: Login refused: locked for another %1 s")
                                    .arg(std::ceil(lockLeftMsec() / 1000));
        emit accessDenied();
        return;
    }

    const User* match = nullptr;
    bool emptyPin = false;
    for (const User& user : qAsConst(m_users)) {
        // An empty PIN in the settings would open the maintenance screens to anyone.
        if (user.pin.isEmpty()) {
            emptyPin = true;
            continue;
        }
        if (!match && sameText(user.pin, pin))
            match = &user;
    }
    if (!match) {
        if (emptyPin)
            qWarning().noquote() << "[SessionManager] WARN: No maintenance PIN is configured (gui/settingsPin); "
                                    "login refused";
        qWarning().noquote() << "[SessionManager] WARN: User entered wrong pin";
        // After the first lock every further wrong PIN locks again, for longer.
        if (++m_failures >= kMaxFailures)
            lock();
        emit accessDenied();
        return;
    }

    m_failures = 0;
    m_lockMsec = m_firstLockMsec;

    m_timer.start(m_sessionMsec);
    m_user = *match;
    qInfo().noquote() << "[SessionManager] User logged-in : " + m_user->firstName + ", " + m_user->lastName;
    emit accessGranted();
    emit sessionActiveChanged();
}

void SessionManager::logoutRequest()
{
    if (!m_user)
        return;
    qInfo().noquote() << "[SessionManager] User logged-out : " + m_user->firstName + ", " + m_user->lastName;
    m_timer.stop();
    m_user.reset();
    emit sessionActiveChanged();
}

void SessionManager::resetTimer()
{
    // Without a session there is nothing to extend.
    if (m_user)
        m_timer.start(m_sessionMsec);
}

void SessionManager::onExpired()
{
    qWarning().noquote() << "[SessionManager] Session expired";
    logoutRequest();
}
