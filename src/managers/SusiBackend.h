#pragma once
// What stands behind the GPIO board calls: the simulator or a test fake.

#include "Susi.h"

#include <cstdint>

class SusiBackend
{
public:
    virtual ~SusiBackend() = default;

    virtual SusiStatus initialize() = 0;
    virtual SusiStatus boardString(std::uint32_t id, char* buffer, std::uint32_t* length) = 0;
    virtual SusiStatus level(std::uint32_t pin, std::uint32_t* level) = 0;
    virtual SusiStatus direction(std::uint32_t pin, std::uint32_t* direction) = 0;
    virtual SusiStatus setDirection(std::uint32_t pin, std::uint32_t direction) = 0;

    // Copies text with its NUL into buffer, cut to fit; the copied length goes to length.
    static SusiStatus copyString(const char* text, char* buffer, std::uint32_t* length);
};
