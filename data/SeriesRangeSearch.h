#pragma once

#include "data/ValueRange.h"

#include <QList>
#include <QMutex>
#include <QObject>

#include <atomic>
#include <memory>

class FlowSeries;
class QThread;

// Finds the extremes of every scalar set over a whole series
// (FlowSeries::seriesRanges) on a thread of its own, reporting its progress
// and its result in the GUI thread.
//
// Threads: the GUI thread constructs, starts, cancels and destroys; the
// search thread only runs seriesRanges over the series given to start().
//
// Lock: `mutex` guards the steps done, the finished flag and the result,
// which the search thread writes and the GUI thread takes; the cancel flag is
// atomic and read by the search after every step.
//
// Hand-over: after each step the thread stores the count and posts a
// SeriesRangeProgress event to this object; the event emits progressed and,
// once the search has run through, found with the result taken whole. Events
// left behind by a cancelled search find nothing.
//
// Lifetime: the series is only read and must outlive the search: cancel()
// before replacing or deleting it. The destructor cancels and waits for the
// thread, so no search outlives this object.
class SeriesRangeSearch : public QObject
{
    Q_OBJECT

public:
    explicit SeriesRangeSearch(QObject* parent = nullptr);
    ~SeriesRangeSearch() override;

    // Starts searching `series`; false (and nothing starts) while a search
    // runs or for no series.
    bool start(const FlowSeries* series);
    // Stops a running search and waits for its thread; its result is
    // dropped and found is not emitted.
    void cancel();
    // True from start() until found is emitted or cancel() returns.
    bool isRunning() const { return thread != nullptr; }

signals:
    // Emitted after each step read: `done` of `total` steps.
    void progressed(int done, int total);
    // Emitted when the search has read every step: the extremes of every
    // scalar set, empty when no step loaded.
    void found(const QList<ValueRange>& ranges);

protected:
    void customEvent(QEvent* event) override;

private:
    void stopThread();

    std::unique_ptr<QThread> thread;
    std::atomic<bool> cancelled{false};
    QMutex mutex;
    int done = 0;
    int total = 0;
    bool finished = false;
    QList<ValueRange> result;
};
