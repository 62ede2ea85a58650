#include "data/DerivedFieldCache.h"

#include "data/DerivedFieldGrid.h"
#include "data/FlowData.h"

DerivedFieldCache::DerivedFieldCache(const FlowData& newData, QObject* parent)
    : QObject(parent), data(newData)
{
    // One set at a time: each computation already takes every core.
    pool.setMaxThreadCount(1);
}

DerivedFieldCache::~DerivedFieldCache()
{
    // The jobs' own count, under a standard mutex, so that thread checkers
    // see the hand-over; Qt's pool is not instrumented.
    {
        std::unique_lock<std::mutex> lock(jobsMutex);
        jobsDone.wait(lock, [this] { return jobsRunning == 0; });
    }
    pool.waitForDone();
}

const ScalarSet* DerivedFieldCache::find(DerivedField::Kind kind) const
{
    std::unique_lock<std::mutex> locker(mutex);
    return state[kind] == Stored ? sets[kind].get() : nullptr;
}

const ScalarSet* DerivedFieldCache::compute(DerivedField::Kind kind)
{
    {
        std::unique_lock<std::mutex> locker(mutex);
        while (state[kind] == Computing)
            finished.wait(locker);
        if (state[kind] == Stored)
            return sets[kind].get();
        state[kind] = Computing;
    }
    const QList<ScalarSet> result =
        DerivedField::compute(DerivedFieldGrid::fromFlowData(data), {kind});
    const ScalarSet& first = result.first();
    const bool complete =
        !first.values.isEmpty() && first.values.size() == data.vectorArray().size();
    std::unique_ptr<ScalarSet> set(complete ? new ScalarSet(first) : nullptr);

    std::unique_lock<std::mutex> locker(mutex);
    state[kind] = set ? Stored : Absent;
    sets[kind] = std::move(set);
    finished.notify_all();
    return sets[kind].get();
}

bool DerivedFieldCache::request(DerivedField::Kind kind)
{
    {
        std::unique_lock<std::mutex> locker(mutex);
        if (state[kind] == Stored)
            return true;
        if (state[kind] == Computing || queued[kind])
            return false;
        queued[kind] = true;
    }
    {
        std::lock_guard<std::mutex> lock(jobsMutex);
        ++jobsRunning;
    }
    pool.start([this, kind] {
        const bool stored = compute(kind) != nullptr;
        {
            std::unique_lock<std::mutex> locker(mutex);
            queued[kind] = false;
        }
        emit computed(int(kind), stored);
        std::lock_guard<std::mutex> lock(jobsMutex);
        --jobsRunning;
        jobsDone.notify_all();
    });
    return false;
}
