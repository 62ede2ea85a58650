#include "data/ProfileTimer.h"

#include "data/MonotonicClock.h"

#include <QDebug>

ProfileTimer::ProfileTimer(const QString& newName) : name(newName)
{
    ticksPerMicrosecond();
}

std::int64_t ProfileTimer::ticksPerMicrosecond()
{
    // A function-local static is initialised exactly once even when two
    // threads construct their first timers at the same time.
    static const std::int64_t ticks = (MonotonicClock::frequency() / 1000) / 1000;
    return ticks;
}

void ProfileTimer::start()
{
    startCount = MonotonicClock::now();
}

std::int64_t ProfileTimer::stop()
{
    const std::int64_t elapsed = (MonotonicClock::now() - startCount) / ticksPerMicrosecond();
    qDebug().noquote() << name << " time: " << elapsed << "us";
    return elapsed;
}
