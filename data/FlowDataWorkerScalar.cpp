#include "data/FlowDataWorkerScalar.h"

#include "data/CurvilinearFlowData.h"
#include "data/RectangularFlowData.h"
#include "data/Vector3.h"

#include <memory>
#include <new>
#include <utility>

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

void FlowDataWorkerScalar::setVectorPass(VectorPass pass)
{
    QMutexLocker locker(&mutex);
    discardResult();
    vectorPass = std::move(pass);
}

void FlowDataWorkerScalar::run()
{
    QMutexLocker locker(&mutex);
    const auto* grid = dynamic_cast<const RectangularFlowData*>(flowData);
    const auto* curved = dynamic_cast<const CurvilinearFlowData*>(flowData);
    const bool scalar = flowData && scalarIndex >= 0 && scalarIndex < flowData->scalarSetCount();
    float* raster = nullptr;
    if ((extraSet && (grid || curved)) || (!extraSet && scalar))
        raster = allocateRaster("FlowDataWorkerScalar/run", vectorPass ? 2 : 1);
    if (raster) {
        if (extraSet && grid)
            grid->calcValues(*extraSet, width, height, raster);
        else if (extraSet)
            curved->calcValues(*extraSet, width, height, raster);
        else
            flowData->calcScalar(scalarIndex, width, height, raster);
        if (!vectorPass || fillSecondPlane(raster + qsizetype(width) * height))
            publish(raster);
        else
            delete[] raster;
    }
    pending = false;
}

bool FlowDataWorkerScalar::fillSecondPlane(float* plane)
{
    const qsizetype count = qsizetype(width) * height;
    std::unique_ptr<Vector3[]> vectors(new (std::nothrow) Vector3[std::size_t(count)]);
    if (!vectors) {
        qDebug() << "FlowDataWorkerScalar/run: cannot allocate the vectors" << width << height;
        return false;
    }
    flowData->calcVector(width, height, vectors.get());
    return vectorPass(vectors.get(), width, height, flowData->aspectRatio(), plane);
}
