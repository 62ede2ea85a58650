#include "data/FlowSeriesLoader.h"

#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "data/PostedEvents.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutexLocker>

#include <utility>

FlowSeriesLoader::FlowSeriesLoader(Receiver newReceiver, QObject* parent)
    : QThread(parent), receiver(std::move(newReceiver))
{
}

FlowSeriesLoader::~FlowSeriesLoader()
{
    cancel();
}

bool FlowSeriesLoader::request(const FlowSeries* newSeries, int newStep)
{
    QMutexLocker locker(&mutex);
    if (busy || !newSeries)
        return false;
    // The previous run has left its locked part, so this wait is short.
    wait();
    series = newSeries;
    step = newStep;
    busy = true;
    finished = false;
    start();
    return true;
}

void FlowSeriesLoader::cancel()
{
    wait();
    QMutexLocker locker(&mutex);
    result.reset();
    busy = false;
    finished = false;
}

bool FlowSeriesLoader::isBusy() const
{
    QMutexLocker locker(&mutex);
    return busy;
}

void FlowSeriesLoader::run()
{
    const FlowSeries* source;
    int index;
    {
        QMutexLocker locker(&mutex);
        source = series;
        index = step;
    }
    std::unique_ptr<FlowData> data(source->loadStep(index));
    QMutexLocker locker(&mutex);
    result = std::move(data);
    finished = true;
    QCoreApplication::postEvent(this, new QEvent(SeriesStepLoaded));
}

void FlowSeriesLoader::customEvent(QEvent* event)
{
    if (event->type() != SeriesStepLoaded)
        return;
    std::unique_ptr<FlowData> data;
    int index;
    {
        QMutexLocker locker(&mutex);
        // A cancelled load leaves its event behind.
        if (!busy || !finished)
            return;
        data = std::move(result);
        index = step;
        busy = false;
        finished = false;
    }
    if (receiver)
        receiver(index, std::move(data));
}
