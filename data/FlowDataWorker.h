#pragma once

#include "data/FlowData.h"
#include "data/FlowDataReady.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QSize>
#include <QThread>

#include <cstdint>
#include <new>

// Resamples a data set onto a width x height raster on a thread of its own
// and hands the raster to a receiver in the GUI thread.
//
// Threads: the GUI thread constructs, sets parameters, starts, takes results
// and destroys; the worker thread only runs one computation per start.
//
// Lock: `mutex` guards every field below and the subclasses' fields. A
// computation holds it from reading the parameters until its raster is stored,
// so a setter, a start or takeResult called meanwhile waits for the end of the
// computation, and a computation never sees half-changed parameters. No code
// holds two workers' mutexes.
//
// Hand-over: a finished raster is stored whole in `result` together with the
// size it was computed for, then a FlowDataReady event is posted to the
// receiver. takeResult() passes ownership of the raster to the caller and
// empties the slot; an untaken raster is deleted when the next one is stored,
// when a parameter changes (it no longer matches what was asked for) and when
// the worker is destroyed. So the receiver may get more events than rasters.
//
// Rasters are row by row, row 0 at y = 0 (see FlowData::calcScalar), and are
// released with delete[].
//
// The data set is only read and must outlive every computation that uses it;
// a setter that replaces it returns only after a running computation ended.
template <typename T> class FlowDataWorker : public QThread
{
public:
    // 16384 x 16384: larger rasters (a deep zoom) are refused rather than
    // left to exhaust the memory while they are written.
    static constexpr std::int64_t maxRasterSamples = std::int64_t(1) << 28;
    // The lowest priority of the normal scheduling class. Not IdlePriority:
    // on Linux that is SCHED_IDLE, under which a worker gets no CPU at all
    // while any other process keeps the cores busy (a build, a second
    // program), and the layers it feeds never appear.
    static constexpr QThread::Priority backgroundPriority = QThread::LowestPriority;

    explicit FlowDataWorker(QObject* newReceiver) : receiver(newReceiver) {}

    // Concrete workers wait for their thread in their own destructors, before
    // their fields go; this wait only covers direct use of the template.
    ~FlowDataWorker() override
    {
        wait();
        QMutexLocker locker(&mutex);
        delete[] result;
        result = nullptr;
    }

    void setFlowData(FlowData* data)
    {
        QMutexLocker locker(&mutex);
        if (flowData != data)
            discardResult();
        flowData = data;
    }

    void setRasterSize(int rasterWidth, int rasterHeight)
    {
        QMutexLocker locker(&mutex);
        if (width != rasterWidth || height != rasterHeight)
            discardResult();
        width = rasterWidth;
        height = rasterHeight;
    }

    // The newest finished raster, now owned by the caller, or null when there
    // is none. *rasterSize, when given, receives the size it was computed
    // for (invalid when null is returned).
    T* takeResult(QSize* rasterSize = nullptr)
    {
        QMutexLocker locker(&mutex);
        T* taken = result;
        result = nullptr;
        if (rasterSize)
            *rasterSize = taken ? resultSize : QSize();
        resultSize = QSize();
        return taken;
    }

protected:
    // Deletes a raster that nobody took yet. Call with the mutex held.
    void discardResult()
    {
        delete[] result;
        result = nullptr;
        resultSize = QSize();
    }

    // A fresh raster for the current size, `planes` rasters long, or null
    // (with a diagnostic line) when the size is empty, beyond
    // maxRasterSamples or the memory is not there. Call with the mutex held.
    T* allocateRaster(const char* where, int planes = 1) const
    {
        if (width <= 0 || height <= 0)
            return nullptr;
        const std::int64_t count = std::int64_t(width) * std::int64_t(height) * planes;
        T* raster = count <= maxRasterSamples ? new (std::nothrow) T[std::size_t(count)] : nullptr;
        if (!raster)
            qDebug().noquote() << QStringLiteral("%1: cannot allocate %2 x %3 samples")
                                      .arg(QLatin1String(where))
                                      .arg(width)
                                      .arg(height);
        return raster;
    }

    // Stores a finished raster, replacing one nobody took, and tells the
    // receiver. Call with the mutex held.
    void publish(T* raster)
    {
        delete[] result;
        result = raster;
        resultSize = QSize(width, height);
        QCoreApplication::postEvent(receiver, new QEvent(FlowDataReady));
    }

    QObject* const receiver;
    FlowData* flowData = nullptr;
    int width = -1;
    int height = -1;
    T* result = nullptr;
    QSize resultSize;
    QMutex mutex;
};
