#include "data/SeriesRangeSearch.h"

#include "data/FlowSeries.h"
#include "data/PostedEvents.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutexLocker>
#include <QThread>

#include <utility>

SeriesRangeSearch::SeriesRangeSearch(QObject* parent) : QObject(parent) {}

SeriesRangeSearch::~SeriesRangeSearch()
{
    cancel();
}

bool SeriesRangeSearch::start(const FlowSeries* series)
{
    if (thread || !series)
        return false;
    cancelled = false;
    {
        QMutexLocker locker(&mutex);
        done = 0;
        total = series->stepCount();
        finished = false;
        result.clear();
    }
    thread.reset(QThread::create([this, series] {
        const QList<ValueRange> ranges = series->seriesRanges([this](int count, int) {
            {
                QMutexLocker locker(&mutex);
                done = count;
            }
            QCoreApplication::postEvent(this, new QEvent(SeriesRangeProgress));
            return !cancelled;
        });
        {
            QMutexLocker locker(&mutex);
            result = ranges;
            finished = !cancelled;
        }
        QCoreApplication::postEvent(this, new QEvent(SeriesRangeProgress));
    }));
    // Reading every step is the least urgent work of the program.
    thread->start(QThread::LowPriority);
    return true;
}

void SeriesRangeSearch::cancel()
{
    if (!thread)
        return;
    cancelled = true;
    stopThread();
}

void SeriesRangeSearch::stopThread()
{
    thread->wait();
    thread.reset();
    QMutexLocker locker(&mutex);
    finished = false;
    result.clear();
}

void SeriesRangeSearch::customEvent(QEvent* event)
{
    if (event->type() != SeriesRangeProgress || !thread)
        return;
    int count;
    int steps;
    bool complete;
    QList<ValueRange> ranges;
    {
        QMutexLocker locker(&mutex);
        count = done;
        steps = total;
        complete = std::exchange(finished, false);
        if (complete)
            ranges = std::exchange(result, {});
    }
    emit progressed(count, steps);
    if (!complete)
        return;
    // The thread has stored its last word and only returns now.
    stopThread();
    emit found(ranges);
}
