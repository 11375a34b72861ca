#include "Susi.h"
#include "SusiFileBackend.h"

#include <QByteArray>

#include <memory>

namespace {

SusiBackend* installed = nullptr;

SusiBackend* backend()
{
    if (installed)
        return installed;
    // Chosen once: the simulator keeps the directions set on it.
    static const std::unique_ptr<SusiBackend> fallback = []() -> std::unique_ptr<SusiBackend> {
        const QByteArray dir = qgetenv(SusiSimulatorDirVariable);
        if (dir.isEmpty())
            return nullptr;
        return std::make_unique<SusiFileBackend>(QString::fromLocal8Bit(dir));
    }();
    return fallback.get();
}

} // namespace

SusiBackend* susiSetBackend(SusiBackend* backend)
{
    SusiBackend* previous = installed;
    installed = backend;
    return previous;
}

SusiStatus SusiLibInitialize()
{
    SusiBackend* b = backend();
    return b ? b->initialize() : SusiStatusNotInitialized;
}

SusiStatus SusiBoardGetStringA(std::uint32_t id, char* buffer, std::uint32_t* length)
{
    SusiBackend* b = backend();
    return b ? b->boardString(id, buffer, length) : SusiStatusNotInitialized;
}

SusiStatus SusiGPIOGetLevel(std::uint32_t pin, std::uint32_t, std::uint32_t* level)
{
    SusiBackend* b = backend();
    if (!b)
        return SusiStatusNotInitialized;
    return level ? b->level(pin, level) : SusiStatusInvalidParameter;
}

SusiStatus SusiGPIOGetDirection(std::uint32_t pin, std::uint32_t, std::uint32_t* direction)
{
    SusiBackend* b = backend();
    if (!b)
        return SusiStatusNotInitialized;
    return direction ? b->direction(pin, direction) : SusiStatusInvalidParameter;
}

SusiStatus SusiGPIOSetDirection(std::uint32_t pin, std::uint32_t, std::uint32_t direction)
{
    SusiBackend* b = backend();
    return b ? b->setDirection(pin, direction) : SusiStatusNotInitialized;
}
