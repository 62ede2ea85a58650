#include "data/FlowDataWorkerScalar.h"

#include "data/CurvilinearFlowData.h"
#include "data/RectangularFlowData.h"

FlowDataWorkerScalar::FlowDataWorkerScalar(QObject* newReceiver)
    : FlowDataWorker<float>(newReceiver)
{
}

FlowDataWorkerScalar::~FlowDataWorkerScalar()
{
    wait();
}

void FlowDataWorkerScalar::setScalarIndex(int index)
{
    QMutexLocker locker(&mutex);
    if (scalarIndex != index)
        discardResult();
    scalarIndex = index;
}

void FlowDataWorkerScalar::setExtraSet(const ScalarSet* set)
{
    QMutexLocker locker(&mutex);
    if (extraSet != set)
        discardResult();
    extraSet = set;
}

void FlowDataWorkerScalar::setFlowData(FlowData* data, int index)
{
    QMutexLocker locker(&mutex);
    if (flowData != data || scalarIndex != index)
        discardResult();
    flowData = data;
    scalarIndex = index;
}

void FlowDataWorkerScalar::startIfIdle()
{
    QMutexLocker locker(&mutex);
    if (pending)
        return;
    pending = true;
    // Nothing pending means a previous run has already left its locked part,
    // so waiting here for the thread to return cannot block that run.
    wait();
    QThread::start(backgroundPriority);
}

void FlowDataWorkerScalar::run()
{
    QMutexLocker locker(&mutex);
    const auto* grid = dynamic_cast<const RectangularFlowData*>(flowData);
    const auto* curved = dynamic_cast<const CurvilinearFlowData*>(flowData);
    if (extraSet) {
        if (float* raster = grid || curved ? allocateRaster("FlowDataWorkerScalar/run") : nullptr) {
            if (grid)
                grid->calcValues(*extraSet, width, height, raster);
            else
                curved->calcValues(*extraSet, width, height, raster);
            publish(raster);
        }
    } else if (flowData && scalarIndex >= 0 && scalarIndex < flowData->scalarSetCount()) {
        if (float* raster = allocateRaster("FlowDataWorkerScalar/run")) {
            flowData->calcScalar(scalarIndex, width, height, raster);
            publish(raster);
        }
    }
    pending = false;
}
