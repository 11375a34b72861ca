#include "Button.h"
#include "MIOBoard.h"

#include <QDebug>
#include <QTimer>

#include <climits>
#include <memory>

namespace manager {

namespace {
QDebug info()
{
    return qInfo().noquote().nospace() << "[Button] ";
}
} // namespace

Button::Button(MIOBoard& board, int gpio, QObject* parent)
    : QObject(parent)
    , m_board(board)
    , m_gpio(gpio)
{
    connect(&m_board, &MIOBoard::gpioStateChanged, this, &Button::onGpioStateChanged);
    m_board.setGpioDir(m_gpio, 1);
    m_pressed = m_board.gpioState(m_gpio) > 0;
}

void Button::onGpioStateChanged(int pin, int state)
{
    if (pin != m_gpio || !m_enabled)
        return;
    // The board's monitors start high, so a pin reading low at start-up reports
    // a release that never followed a press.
    if (state == 0 && !m_pressed)
        return;
    info() << "User Button state changed : " << (state != 0 ? "pressed" : "not pressed");
    if (state != 0) {
        m_pressed = true;
        m_lastPress = QDateTime::currentDateTime();
        emit lastPressChanged();
        emit isPressedChanged();
        emit pressed();
    } else {
        m_pressed = false;
        emit isPressedChanged();
        emit released();
    }
}

void Button::enable()
{
    if (m_enabled)
        return;
    info() << "User button enabled";
    m_enabled = true;
    emit isEnabledChanged();
    // Reports were dropped while disabled: catch up with the level, but a press
    // held through that time is no new press. A failed read falls back on the last
    // level the board saw, or on what the button knows when the board saw none.
    int state = m_board.gpioState(m_gpio);
    if (state < 0)
        state = m_board.monitor(m_gpio).state;
    const bool level = state < 0 ? m_pressed : state > 0;
    if (level != m_pressed) {
        m_pressed = level;
        emit isPressedChanged();
    }
}

void Button::disable()
{
    if (!m_enabled)
        return;
    info() << "User button disabled";
    m_enabled = false;
    emit isEnabledChanged();
}

Deferred<> Button::waitPress(int sec)
{
    Deferred<> result;
    auto* timer = new QTimer(this);
    // Each wait cuts only its own press link, so overlapping waits do not strand each other.
    auto link = std::make_shared<QMetaObject::Connection>();
    const auto finish = [timer, link] {
        timer->stop();
        timer->deleteLater();
        QObject::disconnect(*link);
    };
    *link = connect(this, &Button::pressed, this, [finish, result] {
        finish();
        result.resolve();
    });
    connect(timer, &QTimer::timeout, this, [finish, result] {
        finish();
        result.reject();
    });
    if (sec < 1)
        return result;
    // QTimer takes an int of milliseconds: a longer wait is cut to the longest it can do.
    const int clamped = sec > INT_MAX / 1000 ? INT_MAX / 1000 : sec;
    timer->setSingleShot(true);
    timer->start(clamped * 1000);
    return result;
}

} // namespace manager
