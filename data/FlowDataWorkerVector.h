#pragma once

#include "data/FlowDataWorker.h"
#include "data/Vector3.h"

// Resamples the vector field (FlowData::calcVector) onto a raster of vectors.
//
// start() first waits, without the lock, for a previous computation to end,
// then starts a new one that reads the parameters current at its start; so no
// request is lost and two quick starts cannot block each other.
class FlowDataWorkerVector : public FlowDataWorker<Vector3>
{
public:
    explicit FlowDataWorkerVector(QObject* receiver);
    ~FlowDataWorkerVector() override;

    void start();

protected:
    void run() override;
};
