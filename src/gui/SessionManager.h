#pragma once
// Guards the maintenance settings with a PIN: opens a session of limited length for the
// user whose PIN matches and ends it on request or when the time runs out.

#include "User.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <optional>

class Config;

class SessionManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool sessionActive READ sessionActive NOTIFY sessionActiveChanged)
public:
    static constexpr int kSessionMsec = 600000;

    explicit SessionManager(Config& config, QObject* parent = nullptr);

    bool sessionActive() const { return m_user.has_value(); }
    // Milliseconds left, -1 without a session.
    int remainingTime() const;
    // The logged-in user, a copy that outlives any reload of the list.
    std::optional<User> user() const { return m_user; }

    // Length of a session; tests shorten it.
    void setSessionMsec(int msec) { m_sessionMsec = msec; }

    Q_INVOKABLE void loginRequest(const QString& pin);
    Q_INVOKABLE void logoutRequest();
    Q_INVOKABLE void resetTimer();

    // Compares without an early exit, so the time taken says nothing about the PIN.
    static bool sameText(const QString& a, const QString& b);

public slots:
    void loadUsers();

signals:
    void sessionActiveChanged();
    void accessGranted();
    void accessDenied();
    void expired();

private:
    void onExpired();

    Config& m_config;
    QTimer m_timer;
    std::optional<User> m_user;
    QList<User> m_users;
    int m_sessionMsec = kSessionMsec;
};
