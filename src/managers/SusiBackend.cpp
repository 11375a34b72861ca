#include "SusiBackend.h"

#include <algorithm>
#include <cstring>

SusiStatus SusiBackend::copyString(const char* text, char* buffer, std::uint32_t* length)
{
    if (!buffer || !length || *length == 0)
        return SusiStatusInvalidParameter;
    const std::uint32_t n = std::min<std::uint32_t>(std::strlen(text), *length - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    *length = n;
    return SusiStatusSuccess;
}
