#pragma once
// Time source of the logger's elapsed-time prefix: a monotonic clock, so setting the
// system clock (NTP does) cannot make the prefix jump. Tests swap in their own.

namespace manager {

class LogClock
{
public:
    LogClock() = default;
    virtual ~LogClock();
    LogClock(const LogClock&) = delete;
    LogClock& operator=(const LogClock&) = delete;

    // Milliseconds on CLOCK_MONOTONIC; only differences mean anything.
    virtual double millis() const;
};

} // namespace manager
