#pragma once
// The driver's push-button on one input of the GPIO board: presses and
// releases, an on/off switch, and a wait for the next press.

#include "Deferred.h"

#include <QDateTime>
#include <QObject>

namespace manager {

class MIOBoard;

class Button : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(bool isPressed READ isPressed NOTIFY isPressedChanged)
    Q_PROPERTY(QDateTime lastPress READ lastPress NOTIFY lastPressChanged)

public:
    static constexpr int kDefaultWaitSec = 300;

    Button(MIOBoard& board, int gpio, QObject* parent = nullptr);

    bool isEnabled() const { return m_enabled; }
    bool isPressed() const { return m_pressed; }
    const QDateTime& lastPress() const { return m_lastPress; }

public slots:
    void enable();
    void disable();
    // Settles on the next press, or is rejected after sec seconds; below 1 only a press settles it.
    Deferred<> waitPress(int sec = kDefaultWaitSec);

signals:
    void isEnabledChanged();
    void isPressedChanged();
    void lastPressChanged();
    void pressed();
    void released();

private:
    void onGpioStateChanged(int pin, int state);

    MIOBoard& m_board;
    int m_gpio;
    bool m_enabled = true;
    bool m_pressed = false;
    QDateTime m_lastPress;
};

} // namespace manager
