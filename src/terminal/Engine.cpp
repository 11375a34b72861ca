#include "Engine.h"
#include "Session.h"
#include "Terminal.h"

#include <QDebug>
#include <QHash>
#include <QTimer>
#include <QUuid>

Engine::Engine(Terminal* terminal, QObject* parent)
    : QObject(parent)
    , m_terminal(terminal)
    , m_session(terminal->session())
{
}

QString Engine::stateToStr(State state)
{
    static const QHash<int, QString> names { { Stopped, QStringLiteral("Stopped") }, { Idle, QStringLiteral("Idle") },
        { DataCollect, QStringLiteral("DataCollect") }, { WaitUser, QStringLiteral("WaitUser") },
        { Permission, QStringLiteral("Permission") }, { CardProcess, QStringLiteral("CardProcess") },
        { Exit, QStringLiteral("Exit") }, { PostExit, QStringLiteral("PostExit") },
        { Error, QStringLiteral("Error") } };
    return names.value(state, QStringLiteral("Unknown"));
}

void Engine::setState(State state)
{
    if (state == m_state)
        return;
    const State prev = m_state;
    m_state = state;
    emit stateChanged(prev, state);
}

void Engine::openSession()
{
    m_session->setStart(QDateTime::currentDateTime());
    emit sessionStarted();
}

void Engine::closeSession(bool result)
{
    m_session->setResult(result);
    m_session->setEnd(QDateTime::currentDateTime());
    emit sessionFinished();
    // Bound to the engine: a dropped engine is not returned to Idle.
    QTimer::singleShot(m_pauses.returnMs, Qt::CoarseTimer, this, [this] {
        qWarning().noquote().nospace() << "[Engine] "
                                       << "----- Resetting state machine";
        setState(Idle);
    });
}

void Engine::resetSession()
{
    m_session->setResult(false);
    m_session->setError(QString());
    m_session->setStart(QDateTime());
    m_session->setEnd(QDateTime());
    m_session->setUuid(QUuid::createUuid().toString(QUuid::WithoutBraces));
    m_session->setType(m_terminal->type());
    m_session->setDeviceId(m_terminal->serialNum());
    m_session->setCustomsId(m_terminal->customsId());
    m_session->setLocationId(m_terminal->locationId());
    m_session->setCardId(QString());
    m_session->setReadings(Session::emptyReadings());
    m_session->setCard({});
    m_session->setCardReturned(false);
    m_session->setButtonPressed(false);
    emit sessionReset();
}
