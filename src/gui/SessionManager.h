#pragma once
// Guards the maintenance settings with a PIN: opens a session of limited length for the
// user whose PIN matches and ends it on request or when the time runs out. Repeated wrong
// PINs lock the login for a while.

#include "User.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class Config;

namespace manager {
class LogClock;
}

class SessionManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool sessionActive READ sessionActive NOTIFY sessionActiveChanged)
    Q_PROPERTY(bool loginLocked READ loginLocked NOTIFY loginLockedChanged)
public:
    static constexpr int kSessionMsec = 600000;
    // Wrong PINs in a row that lock the login; the first lock, doubled for each further
    // wrong PIN up to the longest. A right PIN resets both.
    static constexpr int kMaxFailures = 5;
    static constexpr int kFirstLockMsec = 30000;
    static constexpr int kLongestLockMsec = 900000;

    explicit SessionManager(Config& config, QObject* parent = nullptr);
    ~SessionManager() override;

    bool sessionActive() const { return m_user.has_value(); }
    // Milliseconds left, -1 without a session.
    int remainingTime() const;
    // The logged-in user, a copy that outlives any reload of the list.
    std::optional<User> user() const { return m_user; }

    // Length of a session; tests shorten it.
    void setSessionMsec(int msec) { m_sessionMsec = msec; }
    // Length of the first lock; tests shorten it.
    void setFirstLockMsec(int msec) { m_firstLockMsec = m_lockMsec = msec; }
    // The monotonic clock the lock is timed on; tests swap in their own.
    void setClock(std::unique_ptr<manager::LogClock> clock);

    bool loginLocked() const;

    Q_INVOKABLE void loginRequest(const QString& pin);
    Q_INVOKABLE void logoutRequest();
    Q_INVOKABLE void resetTimer();

    // Compares without an early exit, so the time taken says nothing about the PIN.
    static bool sameText(const QString& a, const QString& b);

public slots:
    void loadUsers();

signals:
    void sessionActiveChanged();
    void loginLockedChanged();
    void accessGranted();
    void accessDenied();
    void expired();

private:
    void onExpired();
    void lock();
    void onLockTimeout();
    double lockLeftMsec() const;

    Config& m_config;
    QTimer m_timer;
    std::optional<User> m_user;
    QList<User> m_users;
    int m_sessionMsec = kSessionMsec;
    std::unique_ptr<manager::LogClock> m_clock;
    int m_failures = 0;
    int m_firstLockMsec = kFirstLockMsec;
    int m_lockMsec = kFirstLockMsec;
    double m_lockedUntil = 0;
    // Tells the page when the lock has ended.
    QTimer m_lockTimer;
};
