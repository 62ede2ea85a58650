#include "data/FlowSeriesLoader.h"

#include "data/FlowData.h"
#include "data/FlowSeries.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutexLocker>

namespace {
const QEvent::Type stepReadyEvent = QEvent::Type(QEvent::User + 11);
} // namespace

FlowSeriesLoader::FlowSeriesLoader(QObject* parent) : QThread(parent) {}

FlowSeriesLoader::~FlowSeriesLoader()
{
    cancel();
}

bool FlowSeriesLoader::request(const FlowSeries* series, int step)
{
    QMutexLocker locker(&mutex);
    if (busy || !series)
        return false;
    // The previous run has left its locked part, so this wait is short.
    wait();
    this->series = series;
    this->step = step;
    busy = true;
    finished = false;
    start();
    return true;
}

void FlowSeriesLoader::cancel()
{
    wait();
    QMutexLocker locker(&mutex);
    delete result;
    result = nullptr;
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
    FlowData* data = source->loadStep(index);
    QMutexLocker locker(&mutex);
    result = data;
    finished = true;
    QCoreApplication::postEvent(this, new QEvent(stepReadyEvent));
}

void FlowSeriesLoader::customEvent(QEvent* event)
{
    if (event->type() != stepReadyEvent)
        return;
    FlowData* data;
    int index;
    {
        QMutexLocker locker(&mutex);
        // A cancelled load leaves its event behind.
        if (!busy || !finished)
            return;
        data = result;
        result = nullptr;
        index = step;
        busy = false;
        finished = false;
    }
    emit stepLoaded(index, data);
}
