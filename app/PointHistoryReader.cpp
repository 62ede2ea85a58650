#include "app/PointHistoryReader.h"

#include "data/FlowSeries.h"
#include "data/PostedEvents.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <utility>

PointHistoryReader::PointHistoryReader(QObject* parent) : QObject(parent) {}

PointHistoryReader::~PointHistoryReader()
{
    cancel();
}

bool PointHistoryReader::start(const FlowSeries* series, double x, double y,
                               const QList<DerivedField::Kind>& derived,
                               const ReferenceFrame& frame)
{
    cancel();
    if (!series)
        return false;
    cancelled = false;
    {
        const std::lock_guard<std::mutex> locker(mutex);
        done = 0;
        total = series->stepCount();
        complete = false;
        result = PointHistory();
    }
    thread.reset(QThread::create([this, series, x, y, derived, frame] {
        PointHistory history = PointHistory::read(
            *series, x, y, 0, series->stepCount() - 1, derived,
            [this](int count, int) {
                {
                    const std::lock_guard<std::mutex> locker(mutex);
                    done = count;
                }
                QCoreApplication::postEvent(this, new QEvent(PointHistoryProgress));
            },
            &cancelled, frame);
        {
            const std::lock_guard<std::mutex> locker(mutex);
            complete = !history.isCancelled();
            result = std::move(history);
        }
        QCoreApplication::postEvent(this, new QEvent(PointHistoryProgress));
    }));
    thread->start(QThread::LowPriority);
    return true;
}

void PointHistoryReader::cancel()
{
    if (!thread)
        return;
    cancelled = true;
    stopThread();
}

void PointHistoryReader::stopThread()
{
    thread->wait();
    thread.reset();
    const std::lock_guard<std::mutex> locker(mutex);
    complete = false;
    result = PointHistory();
}

void PointHistoryReader::customEvent(QEvent* event)
{
    if (event->type() != PointHistoryProgress || !thread)
        return;
    int count;
    int steps;
    bool through;
    PointHistory history;
    {
        const std::lock_guard<std::mutex> locker(mutex);
        count = done;
        steps = total;
        through = std::exchange(complete, false);
        if (through)
            history = std::exchange(result, PointHistory());
    }
    emit progressed(count, steps);
    if (!through)
        return;
    // The thread has stored its last word and only returns now.
    stopThread();
    emit finished(history);
}
