#pragma once
// Base of the lane state machine that takes one vehicle at a time from the loop
// to a collected card: states and their names, the passage record's open, close
// and reset, and the signals the terminal relays to the screens.

#include <QObject>
#include <QString>

class Session;
class Terminal;

class Engine : public QObject
{
    Q_OBJECT
public:
    enum State { Stopped = 0, Idle, DataCollect, WaitUser, Permission, CardProcess, Exit, PostExit, Error };
    Q_ENUM(State)

    // The fixed pauses of a passage; tests and benchmarks shorten them.
    struct Pauses
    {
        int permissionMs = 500; // Permission to CardProcess
        int exitMs = 500; // the barrier step, Exit to PostExit
        int returnMs = 3000; // a closed passage back to Idle
        int disposalRetryMs = 1000; // a disposed card to the next preparation
        int dataGuardMs = 25000; // beyond the trigger delay, a camera cycle that never ends
    };

    Engine(Terminal* terminal, QObject* parent = nullptr);

    static QString stateToStr(State state);

    State state() const { return m_state; }
    Session* session() const { return m_session; }
    void setState(State state);

    const Pauses& pauses() const { return m_pauses; }
    void setPauses(const Pauses& pauses) { m_pauses = pauses; }

public slots:
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool check(QString& reason) = 0;
    virtual void simLoopPresent() = 0;
    virtual void simButtonPressed() = 0;

signals:
    void stateChanged(Engine::State prev, Engine::State curr);
    void sessionStarted();
    void sessionFinished();
    void deviceError(QString error);
    void sessionReset();
    void sessionDataCollected();
    void sessionWaitCardCollect();

protected:
    void openSession();
    // Ends the passage; the engine returns to Idle after the return pause, whatever its state then.
    void closeSession(bool result);
    void resetSession();

    Terminal* terminal() const { return m_terminal; }

private:
    State m_state = Stopped;
    Terminal* m_terminal;
    Session* m_session;
    Pauses m_pauses;
};
