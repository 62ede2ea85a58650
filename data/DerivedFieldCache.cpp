#include "data/DerivedFieldCache.h"

#include "data/DerivedFieldGrid.h"
#include "data/RectangularFlowData.h"

DerivedFieldCache::DerivedFieldCache(const RectangularFlowData& newData, QObject* parent)
    : QObject(parent), data(newData)
{
    // One set at a time: each computation already takes every core.
    pool.setMaxThreadCount(1);
}

DerivedFieldCache::~DerivedFieldCache()
{
    pool.waitForDone();
}

const ScalarSet* DerivedFieldCache::find(DerivedField::Kind kind) const
{
    QMutexLocker locker(&mutex);
    return state[kind] == Stored ? sets[kind].get() : nullptr;
}

const ScalarSet* DerivedFieldCache::compute(DerivedField::Kind kind)
{
    {
        QMutexLocker locker(&mutex);
        while (state[kind] == Computing)
            finished.wait(&mutex);
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

    QMutexLocker locker(&mutex);
    state[kind] = set ? Stored : Absent;
    sets[kind] = std::move(set);
    finished.wakeAll();
    return sets[kind].get();
}

bool DerivedFieldCache::request(DerivedField::Kind kind)
{
    {
        QMutexLocker locker(&mutex);
        if (state[kind] == Stored)
            return true;
        if (state[kind] == Computing || queued[kind])
            return false;
        queued[kind] = true;
    }
    pool.start([this, kind] {
        const bool stored = compute(kind) != nullptr;
        {
            QMutexLocker locker(&mutex);
            queued[kind] = false;
        }
        emit computed(int(kind), stored);
    });
    return false;
}
