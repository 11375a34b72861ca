#include "LogClock.h"

#include <time.h>

namespace manager {

LogClock::~LogClock() = default;

double LogClock::millis() const
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec)) / 1e6;
}

} // namespace manager
