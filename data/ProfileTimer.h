#pragma once

#include <cstdint>
#include <QString>

// Stopwatch for one expensive operation. stop() writes
// "<name>  time:  <whole microseconds> us" to the debug stream and may be
// called repeatedly; each call measures from the last start().
// A timer belongs to the thread that created it; timers may be created in any
// thread, the process-wide tick rate is computed once, thread-safely.
class ProfileTimer
{
public:
    explicit ProfileTimer(const QString& name);

    void start();
    // Returns the elapsed whole microseconds it wrote.
    std::int64_t stop();

    static std::int64_t ticksPerMicrosecond();

private:
    std::int64_t startCount = 0;
    QString name;
};
