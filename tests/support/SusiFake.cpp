#include "SusiFake.h"

SusiFake::SusiFake()
    : m_previous(susiSetBackend(this))
{
}

SusiFake::~SusiFake()
{
    susiSetBackend(m_previous);
}

SusiStatus SusiFake::enter(Call call)
{
    ++calls[call];
    return failures.value(call, SusiStatusSuccess);
}

SusiStatus SusiFake::initialize()
{
    return enter(Initialize);
}

SusiStatus SusiFake::boardString(std::uint32_t id, char* buffer, std::uint32_t* length)
{
    if (const SusiStatus status = enter(BoardString))
        return status;
    return copyString(strings.value(id).toUtf8().constData(), buffer, length);
}

SusiStatus SusiFake::level(std::uint32_t pin, std::uint32_t* level)
{
    if (const SusiStatus status = enter(Level))
        return status;
    *level = levels.value(pin, 0);
    return SusiStatusSuccess;
}

SusiStatus SusiFake::direction(std::uint32_t pin, std::uint32_t* direction)
{
    if (const SusiStatus status = enter(Direction))
        return status;
    *direction = directions.value(pin, 0);
    return SusiStatusSuccess;
}

SusiStatus SusiFake::setDirection(std::uint32_t pin, std::uint32_t direction)
{
    if (const SusiStatus status = enter(SetDirection))
        return status;
    directions[pin] = direction;
    return SusiStatusSuccess;
}
