#include "MIOBoard.h"
#include "Susi.h"

#include <QByteArray>
#include <QDebug>

namespace manager {

namespace {
constexpr std::uint32_t kBufferSize = 1000;

QDebug debug()
{
    return qDebug().noquote().nospace() << "[MIOBoard] ";
}

QDebug info()
{
    return qInfo().noquote().nospace() << "[MIOBoard] ";
}

QDebug critical()
{
    return qCritical().noquote().nospace() << "[MIOBoard] ";
}
} // namespace

MIOBoard::MIOBoard(QObject* parent)
    : QObject(parent)
{
    const SusiStatus status = SusiLibInitialize();
    if (status != SusiStatusSuccess)
        critical() << "Failed to initialize Susi4 library, code " << status;
    else
        debug() << "SUSI library initialized";

    m_manufacturer = QStringLiteral("Advantech");
    m_model = boardString(SusiBoardModel);
    m_firmware = boardString(SusiBoardFirmware);

    connect(&m_timer, &QTimer::timeout, this, &MIOBoard::poll);
    m_timer.setInterval(kPollMs);
    m_timer.setSingleShot(false);
    m_timer.start();

    for (int pin = 0; pin < kPins; ++pin)
        m_monitors.append(GPIOMonitor { pin, 0, 1, false });
}

QString MIOBoard::boardString(unsigned id)
{
    // The status is not checked: a failed read leaves the buffer empty.
    QByteArray buffer(kBufferSize, '\0');
    std::uint32_t length = kBufferSize;
    SusiBoardGetStringA(id, buffer.data(), &length);
    return QString::fromUtf8(buffer.constData());
}

void MIOBoard::setDisplayBrightness(int)
{
}

bool MIOBoard::validPin(int pin) const
{
    if (pin >= 0 && pin < m_monitors.size())
        return true;
    critical() << "Invalid GPIO-" << pin;
    return false;
}

MIOBoard::GPIOMonitor MIOBoard::monitor(int pin) const
{
    return pin >= 0 && pin < m_monitors.size() ? m_monitors.at(pin) : GPIOMonitor { pin, 0, -1, false };
}

int MIOBoard::gpioDir(int pin)
{
    if (!validPin(pin))
        return -1;
    std::uint32_t dir = 0;
    if (SusiGPIOGetDirection(pin, 0, &dir) != SusiStatusSuccess) {
        critical() << "Failed to get mode for GPIO-" << pin;
        return -1;
    }
    debug() << "Got direction-" << dir << " for GPIO-" << pin;
    return static_cast<int>(dir);
}

int MIOBoard::gpioState(int pin)
{
    if (!validPin(pin))
        return -1;
    std::uint32_t level = 0;
    if (SusiGPIOGetLevel(pin, 0, &level) != SusiStatusSuccess) {
        critical() << "Failed to get mode for GPIO-" << pin;
        // A reader that never got a level knows none: the first good poll reports whatever it
        // reads, so a pin already active by then (a vehicle on the loop) is not taken for
        // unchanged. After a good read the last level stands: reporting it again would make
        // a held button a new press.
        if (m_monitors.at(pin).direction != 0 && !m_monitors.at(pin).read)
            m_monitors[pin].state = -1;
        return -1;
    }
    debug() << "Got state-" << level << " for GPIO-" << pin;
    // A polled pin reports changes from what its reader was just told: a level that
    // changes before the next poll is then still seen.
    if (m_monitors.at(pin).direction != 0) {
        m_monitors[pin].state = static_cast<int>(level);
        m_monitors[pin].read = true;
    }
    return static_cast<int>(level);
}

void MIOBoard::setGpioDir(int pin, int dir)
{
    if (!validPin(pin))
        return;
    std::uint32_t current = 0;
    SusiStatus status = SusiGPIOGetDirection(pin, 0, &current);
    if (status != SusiStatusSuccess) {
        critical() << "Failed to get mode for GPIO-" << pin << ", SUSI_STATUS code" << status;
        return;
    }
    if (static_cast<int>(current) == dir) {
        info() << "GPIO-" << pin << " already set to direction " << dir;
        m_monitors[pin].direction = dir;
        return;
    }
    status = SusiGPIOSetDirection(pin, 0, dir != 0 ? 1 : 0);
    if (status != SusiStatusSuccess) {
        critical() << "Failed to set GPIO-" << pin << " to direction " << dir << ", SUSI_STATUS code " << status;
        return;
    }
    emit gpioDirChanged(pin, dir);
    m_monitors[pin].direction = dir;
    info() << "Succesfully set GPIO-" << pin << " to direction " << dir;
}

void MIOBoard::setGpioState(int pin, int state)
{
    if (!validPin(pin))
        return;
    std::uint32_t current = 0;
    SusiStatus status = SusiGPIOGetLevel(pin, 0, &current);
    if (status != SusiStatusSuccess) {
        critical() << "Failed to get mode for GPIO-" << pin << ", SUSI_STATUS code " << status;
        return;
    }
    if (static_cast<int>(current) == state) {
        info() << "GPIO-" << pin << " already has state " << state;
        m_monitors[pin].state = state;
        return;
    }
    status = SusiGPIOSetDirection(pin, 0, state != 0 ? 1 : 0);
    if (status != SusiStatusSuccess) {
        critical() << "Failed to set GPIO-" << pin << " to direction " << state << ", SUSI_STATUS code " << status;
        return;
    }
    emit gpioStateChanged(pin, state);
    m_monitors[pin].state = state;
    info() << "Succesfully set GPIO-" << pin << " to direction " << state;
}

void MIOBoard::poll()
{
    for (int pin = 0; pin < m_monitors.size(); ++pin) {
        if (m_monitors.at(pin).direction == 0)
            continue;
        std::uint32_t level = 0;
        if (SusiGPIOGetLevel(pin, 0, &level) != SusiStatusSuccess)
            continue;
        m_monitors[pin].read = true;
        const int old = m_monitors.at(pin).state;
        if (static_cast<int>(level) == old)
            continue;
        info() << "GPIO-" << pin << " state change from " << old << " to " << level;
        m_monitors[pin].state = static_cast<int>(level);
        emit gpioStateChanged(pin, static_cast<int>(level));
    }
}

} // namespace manager
