#include "SusiFake.h"

SusiStatus SusiFake::enter(Call call)
{
    ++calls[call];
    return failures.value(call, SusiStatusSuccess);
}

SusiStatus SusiFake::read(
    Call call, const QMap<std::uint32_t, std::uint32_t>& values, std::uint32_t pin, std::uint32_t* out)
{
    const SusiStatus status = enter(call);
    if (status == SusiStatusSuccess)
        *out = values.value(pin, 0);
    return status;
}

SusiStatus SusiFake::boardString(std::uint32_t id, char* buffer, std::uint32_t* length)
{
    const SusiStatus status = enter(BoardString);
    return status ? status : copyString(strings.value(id).toUtf8().constData(), buffer, length);
}

SusiStatus SusiFake::setDirection(std::uint32_t pin, std::uint32_t direction)
{
    const SusiStatus status = enter(SetDirection);
    if (status == SusiStatusSuccess)
        directions[pin] = direction;
    return status;
}
