#include "SusiFileBackend.h"

#include <QDir>
#include <QFile>

SusiFileBackend::SusiFileBackend(const QString& directory)
    : m_directory(directory)
{
    m_directions.fill(1);
}

SusiStatus SusiFileBackend::initialize()
{
    return QDir(m_directory).exists() ? SusiStatusSuccess : SusiStatusNotInitialized;
}

SusiStatus SusiFileBackend::boardString(std::uint32_t id, char* buffer, std::uint32_t* length)
{
    if (id == SusiBoardModel)
        return copyString("GPIO file simulator", buffer, length);
    if (id == SusiBoardFirmware)
        return copyString("1.0", buffer, length);
    return SusiStatusInvalidParameter;
}

SusiStatus SusiFileBackend::level(std::uint32_t pin, std::uint32_t* level)
{
    if (pin >= kPins)
        return SusiStatusInvalidParameter;
    QFile file(QDir(m_directory).filePath(QStringLiteral("gpio%1").arg(pin)));
    if (!file.open(QIODevice::ReadOnly))
        return SusiStatusReadError;
    // A file caught half-written reads empty: a failed read, not a low level.
    bool ok = false;
    const int value = file.read(32).trimmed().toInt(&ok);
    if (!ok)
        return SusiStatusReadError;
    *level = value != 0 ? 1 : 0;
    return SusiStatusSuccess;
}

SusiStatus SusiFileBackend::direction(std::uint32_t pin, std::uint32_t* direction)
{
    if (pin >= kPins)
        return SusiStatusInvalidParameter;
    *direction = m_directions[pin];
    return SusiStatusSuccess;
}

SusiStatus SusiFileBackend::setDirection(std::uint32_t pin, std::uint32_t direction)
{
    if (pin >= kPins)
        return SusiStatusInvalidParameter;
    m_directions[pin] = direction != 0 ? 1 : 0;
    return SusiStatusSuccess;
}
