#include "data/FlowDataWorkerVector.h"

FlowDataWorkerVector::FlowDataWorkerVector(QObject* newReceiver)
    : FlowDataWorker<Vector3>(newReceiver)
{
}

FlowDataWorkerVector::~FlowDataWorkerVector()
{
    wait();
}

void FlowDataWorkerVector::start()
{
    // Only the GUI thread starts the worker, so once the previous run has
    // returned nobody else can start it before the lock is taken.
    wait();
    QMutexLocker locker(&mutex);
    QThread::start(backgroundPriority);
}

void FlowDataWorkerVector::run()
{
    QMutexLocker locker(&mutex);
    if (!flowData)
        return;
    if (Vector3* raster = allocateRaster("FlowDataWorkerVector/run")) {
        flowData->calcVector(width, height, raster);
        publish(raster);
    }
}
