#pragma once
// The magnetic vehicle loop on one input of the GPIO board: arrivals, departures, occupancy.

#include <QDateTime>
#include <QObject>

namespace manager {

class MIOBoard;

class Loop : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isOccupied READ isOccupied NOTIFY isOccupiedChanged)
    Q_PROPERTY(QDateTime lastChange READ lastChange NOTIFY lastChangeChanged)

public:
    Loop(MIOBoard& board, int gpio, QObject* parent = nullptr);

    bool isOccupied() const { return m_occupied; }
    // Time of the last arrival.
    const QDateTime& lastChange() const { return m_lastChange; }

signals:
    void isOccupiedChanged();
    void lastChangeChanged();
    void vehiclePresent();
    void vehicleLeft();

private:
    void onGpioStateChanged(int pin, int state);

    MIOBoard& m_board;
    int m_gpio;
    bool m_occupied = false;
    QDateTime m_lastChange;
};

} // namespace manager
