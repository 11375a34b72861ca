#pragma once
// Decides which screen the user interface shows, with its message and time-out: follows the
// lane's passages, the terminal's state, the maintenance login and the broker connection,
// and watches inactivity on the out-of-order screen.

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class Config;

class ScreenLogic : public QObject
{
    Q_OBJECT
public:
    enum class LaneState { Init, Busy, Ready, Error, Stopped };

    // What the idle rule needs to know at the moment it runs.
    struct Context
    {
        std::function<LaneState()> state;
        std::function<QString()> type;
        std::function<bool()> maintenance;
        // Ends the maintenance session (the technician logs in again).
        std::function<void()> endMaintenance;
    };

    ScreenLogic(Config& config, const Context& context, QObject* parent = nullptr);

    const QString& screen() const { return m_screen; }
    const QString& message() const { return m_message; }

    void setScreen(const QString& name);
    void setScreen(const QString& name, int timeoutMsec);
    void setMessage(const QString& text);

    void setIdleScreen();
    void setOutOfOrderScreen(const QString& message);
    void setMaintenanceScreen();

    // Passage signals; the caller has checked that the terminal has a session.
    void sessionStarted(bool buttonPressed);
    void sessionWaitCardCollect();
    void sessionFinished(bool success, const QString& error);
    void sessionReset();
    void disconnected();
    // "Busy" with a message, for power actions and exit.
    void showBusy(const QString& message);
    // The error screen with a message, for a failed passage or power request.
    void showError(const QString& message);

    // Time-out of the running screen timer in ms (before any divisor), -1 when it does not run.
    int screenTimeout() const;
    // Interval of the running display-off timer in ms (before any divisor), -1 when it does not run.
    int displayOffTimeout() const;
    // Milliseconds of display-off for a setting in minutes: 64-bit, clamped to what a timer
    // can hold; negative counts as 0.
    static int displayOffMsec(qint64 minutes);
    // Divides every time-out (tests).
    void setTimeDivisor(int divisor) { m_divisor = qMax(1, divisor); }

signals:
    void screenChanged();
    void messageChanged();

private:
    void onScreenTimeout();
    void onDisplayOffTimeout();
    void updateDisplayOff();
    int scaled(int msec) const { return msec / m_divisor; }
    bool maintenance() const { return m_context.maintenance && m_context.maintenance(); }

    Config& m_config;
    Context m_context;
    QString m_screen;
    QString m_message;
    QTimer m_screenTimer;
    QTimer m_displayOffTimer;
    int m_divisor = 1;
    int m_screenMsec = 0;
    int m_displayOffMsec = 0;
    // A screen is taking the display from the maintenance session; the idle rule waits for it.
    bool m_takingOver = false;
};
