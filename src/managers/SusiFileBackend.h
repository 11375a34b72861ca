#pragma once
// GPIO board simulator for local runs: pin N's level is the number in the file
// "gpioN" of one directory (0 low, anything else high), so a shell can press
// the button or put a vehicle on the loop. A missing or unreadable file is a
// failed read. Directions are kept in memory; every pin starts as an input.

#include "SusiBackend.h"

#include <QString>

#include <array>

class SusiFileBackend : public SusiBackend
{
public:
    explicit SusiFileBackend(const QString& directory);

    SusiStatus initialize() override;
    SusiStatus boardString(std::uint32_t id, char* buffer, std::uint32_t* length) override;
    SusiStatus level(std::uint32_t pin, std::uint32_t* level) override;
    SusiStatus direction(std::uint32_t pin, std::uint32_t* direction) override;
    SusiStatus setDirection(std::uint32_t pin, std::uint32_t direction) override;

    static constexpr std::uint32_t kPins = 8;

private:
    QString m_directory;
    std::array<std::uint32_t, kPins> m_directions;
};
