#pragma once
// The lane terminal's GPIO board: reads its identity once and polls the pins
// set as inputs every 100 ms, announcing each level change.

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace manager {

class MIOBoard : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString manufacturer READ manufacturer NOTIFY manufacturerChanged)
    Q_PROPERTY(QString model READ model NOTIFY modelChanged)
    Q_PROPERTY(QString firmware READ firmware NOTIFY firmwareChanged)
    Q_PROPERTY(int displayBrightness READ displayBrightness WRITE setDisplayBrightness NOTIFY displayBrightnessChanged)

public:
    // One pin: the direction set through this object (0 output, 1 input; only
    // inputs are polled) and the last level seen or set; -1 when a polled pin's reader
    // failed to read it before any good read, so that the first good poll reports it.
    struct GPIOMonitor
    {
        int gpio = 0;
        int direction = 0;
        int state = 1;
        bool read = false; // a level has been read from the board
    };

    static constexpr int kPins = 8;
    static constexpr int kPollMs = 100;

    explicit MIOBoard(QObject* parent = nullptr);

    const QString& manufacturer() const { return m_manufacturer; }
    const QString& model() const { return m_model; }
    const QString& firmware() const { return m_firmware; }
    int displayBrightness() const { return m_displayBrightness; }
    // The board has no back-light control: the write is accepted and ignored.
    Q_INVOKABLE void setDisplayBrightness(int value);

    // Read from the board; -1 on failure or for a pin outside 0-7.
    int gpioDir(int pin);
    int gpioState(int pin);
    void setGpioDir(int pin, int dir);
    // Drives an output through the direction call, the only one the board offers.
    void setGpioState(int pin, int state);

    GPIOMonitor monitor(int pin) const;

signals:
    void manufacturerChanged();
    void modelChanged();
    void firmwareChanged();
    void gpioStateChanged(int pin, int state);
    void gpioDirChanged(int pin, int dir);
    void displayBrightnessChanged();

private:
    void poll();
    QString boardString(unsigned id);
    bool validPin(int pin) const;

    QList<GPIOMonitor> m_monitors;
    QString m_manufacturer;
    QString m_model;
    QString m_firmware;
    int m_displayBrightness = 0;
    QTimer m_timer;
};

} // namespace manager
