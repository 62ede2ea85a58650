#pragma once

#include "data/FlowDataWorker.h"

#include <functional>

struct Vector3;

// Resamples one scalar set (FlowData::calcScalar) onto a raster of floats.
//
// Start requests are coalesced: startIfIdle() starts a computation only when
// none is pending (requested and not yet finished). A request made while a
// computation runs waits for it, finds nothing pending and starts the next
// one, which reads the parameters current at its start; requests that queue
// up behind it are ignored. However many requests arrive during one
// computation, exactly one more follows.
//
// With a vector pass set, the raster holds a second plane after the values:
// the pass's picture of the vector field resampled at the same size
// (calcVector), computed on this thread in the same run, so values and
// picture always belong to one data set and size. Setting or clearing the
// pass discards a raster nobody took, so a raster taken holds the second
// plane exactly when a pass is set.
//
// `scalarIndex`, `vectorPass` and `pending` are guarded by the mutex like the inherited
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
    // Fills `out` (width * height values) from `vectors` of that size and the
    // data set's aspect ratio; false when it cannot, and then no raster is
    // published. Called on the worker thread; empty: no second plane.
    using VectorPass = std::function<bool(const Vector3* vectors, int width, int height,
                                          float aspect, float* out)>;
    void setVectorPass(VectorPass pass);
    // Sets the data set and the scalar index as one pair.
    void setFlowData(FlowData* data, int index);
    using FlowDataWorker<float>::setFlowData;

    void startIfIdle();

protected:
    void run() override;

private:
    // Call with the mutex held.
    bool fillSecondPlane(float* plane);

    int scalarIndex = 0;
    const ScalarSet* extraSet = nullptr;
    VectorPass vectorPass;
    bool pending = false;
};
