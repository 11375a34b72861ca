#include "Loop.h"
#include "MIOBoard.h"

#include <QDebug>

namespace manager {

Loop::Loop(MIOBoard& board, int gpio, QObject* parent)
    : QObject(parent)
    , m_board(board)
    , m_gpio(gpio)
{
    connect(&m_board, &MIOBoard::gpioStateChanged, this, &Loop::onGpioStateChanged);
    m_board.setGpioDir(m_gpio, 1);
    m_occupied = m_board.gpioState(m_gpio) > 0;
}

void Loop::onGpioStateChanged(int pin, int state)
{
    if (pin != m_gpio)
        return;
    // The board's monitors start high: a free loop at start-up reports a departure with no arrival.
    if (state == 0 && !m_occupied)
        return;
    qInfo().noquote().nospace() << "[Loop] "
                                << "Magnetic Loop state changed : " << (state != 0 ? "occupied" : "not-occupied");
    if (state != 0) {
        m_occupied = true;
        m_lastChange = QDateTime::currentDateTime();
        emit lastChangeChanged();
        emit isOccupiedChanged();
        emit vehiclePresent();
    } else {
        m_occupied = false;
        emit isOccupiedChanged();
        emit vehicleLeft();
    }
}

} // namespace manager
