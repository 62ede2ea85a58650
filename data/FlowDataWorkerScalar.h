#pragma once

#include "data/FlowDataWorker.h"

// Resamples one scalar set (FlowData::calcScalar) onto a raster of floats.
//
// Start requests are coalesced: startIfIdle() starts a computation only when
// none is pending (requested and not yet finished). A request made while a
// computation runs waits for it, finds nothing pending and starts the next
// one, which reads the parameters current at its start; requests that queue
// up behind it are ignored. However many requests arrive during one
// computation, exactly one more follows.
//
// `scalarIndex` and `pending` are guarded by the mutex like the inherited
// fields. A computation checks the index against the data set it reads, so a
// data set with fewer scalar sets never meets an index meant for another one.
class FlowDataWorkerScalar : public FlowDataWorker<float>
{
public:
    explicit FlowDataWorkerScalar(QObject* receiver);
    ~FlowDataWorkerScalar() override;

    void setScalarIndex(int index);
    // A set over the data set's grid that is not in its scalar list (a
    // derived field), resampled in place of the scalar index while given;
    // null returns to the index. It must outlive the data set's use here.
    void setExtraSet(const ScalarSet* set);
    // Sets the data set and the scalar index as one pair.
    void setFlowData(FlowData* data, int index);
    using FlowDataWorker<float>::setFlowData;

    void startIfIdle();

protected:
    void run() override;

private:
    int scalarIndex = 0;
    const ScalarSet* extraSet = nullptr;
    bool pending = false;
};
