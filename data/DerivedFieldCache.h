#pragma once

#include "data/DerivedField.h"
#include "data/ScalarSet.h"

#include <QObject>
#include <QThreadPool>

#include <condition_variable>
#include <memory>
#include <mutex>

class FlowData;

// The derived sets of one data set, each computed the first time it is asked
// for and kept until the cache goes. Nothing is computed or allocated before
// that, so a data set without derived fields costs what it did.
//
// Ownership: whoever holds the data set keeps its cache beside it and deletes
// the cache first; the data set is only read and never changes meanwhile.
//
// Threads: the thread the cache lives in (the GUI thread) constructs,
// requests, finds and destroys. request() computes on the cache's own thread
// and emits computed() there; connected to an object of the GUI thread the
// signal arrives queued. compute() computes on the calling thread, for a
// caller that already runs in the background. A computation uses every core
// (ParallelBlocks).
//
// Lock: `mutex` guards the state and the stored sets. It is not held while
// computing; a second caller of the same kind waits on `finished` for the
// first, so a set is computed once. A stored set is never replaced or
// changed, so the pointer find() or compute() returns stays valid, and may
// be read without the lock, until the cache is destroyed. SharedArray counts
// references without atomics: the computing thread is the only one to copy
// a set's arrays before it is stored; after that, a set is copied (into a
// layer, say) on the GUI thread only, and other threads read it through the
// pointer.
//
// Lifetime: the destructor waits for a computation request() started.
class DerivedFieldCache : public QObject
{
    Q_OBJECT

public:
    explicit DerivedFieldCache(const FlowData& data, QObject* parent = nullptr);
    ~DerivedFieldCache() override;

    // The set of `kind` when it has been computed, else null; never waits.
    const ScalarSet* find(DerivedField::Kind kind) const;
    // The set of `kind`, computed now on this thread unless it is already
    // there or being computed (then this waits for it). Null when the memory
    // for it is not there; a later call tries again.
    const ScalarSet* compute(DerivedField::Kind kind);
    // Starts computing `kind` in the background unless it is stored or on
    // its way; true when it is already stored (no signal follows).
    bool request(DerivedField::Kind kind);

signals:
    // Emitted, on the cache's thread, when a set request() started is stored
    // (`kind` is a DerivedField::Kind), or, with `stored` false, could not be.
    void computed(int kind, bool stored);

private:
    enum State
    {
        Absent,
        Computing,
        Stored
    };

    const FlowData& data;
    mutable std::mutex mutex;
    std::condition_variable finished;
    State state[DerivedField::kindCount] = {};
    // Started by request() and not yet done, so a second request adds no job.
    bool queued[DerivedField::kindCount] = {};
    std::unique_ptr<ScalarSet> sets[DerivedField::kindCount];
    // Jobs request() started and not yet past their signal.
    std::mutex jobsMutex;
    std::condition_variable jobsDone;
    int jobsRunning = 0;
    // Declared last: destroyed (and waited for) before the sets it fills.
    QThreadPool pool;
};
