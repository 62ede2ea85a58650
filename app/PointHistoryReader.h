#pragma once

#include "data/ReferenceFrame.h"

#include "data/DerivedField.h"
#include "data/PointHistory.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

class FlowSeries;
class QThread;

// Reads the history of one point over every step of a series
// (PointHistory::read) on a thread of its own, reporting its progress and
// handing the rows over in the GUI thread.
//
// Threads: the GUI thread constructs, starts, cancels and destroys; the
// reading thread only runs PointHistory::read over the series given to
// start(), which holds one step in memory at a time.
//
// Lock: `mutex` (a standard one, which ThreadSanitizer sees) guards the
// steps done, the finished flag and the result, which the reading thread
// writes and the GUI thread takes; the cancel flag is atomic and polled by
// the read before every step.
//
// Hand-over: after each step the thread stores the count and posts a
// PointHistoryProgress event to this object; the event emits progressed and,
// once the read has run through, finished with the history moved out whole.
// Events left behind by a cancelled read find nothing.
//
// Lifetime: the series is only read and must outlive the read: cancel()
// before replacing or deleting it. The destructor cancels and waits for the
// thread, so no read outlives this object.
class PointHistoryReader : public QObject
{
    Q_OBJECT

public:
    explicit PointHistoryReader(QObject* parent = nullptr);
    ~PointHistoryReader() override;

    // Cancels a read still running, then starts reading the physical point
    // (x, y) over all steps of `series`; false (nothing starts) for no series.
    // The velocity columns are seen from `frame`.
    bool start(const FlowSeries* series, double x, double y,
               const QList<DerivedField::Kind>& derived = {},
               const ReferenceFrame& frame = ReferenceFrame());
    // Stops a running read and waits for its thread; its rows are dropped
    // and finished is not emitted.
    void cancel();
    // True from start() until finished is emitted or cancel() returns.
    bool isRunning() const { return thread != nullptr; }

signals:
    // Emitted after each step read: `done` of `total` steps.
    void progressed(int done, int total);
    // Emitted when every step has been read.
    void finished(const PointHistory& history);

protected:
    void customEvent(QEvent* event) override;

private:
    void stopThread();

    std::unique_ptr<QThread> thread;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    int done = 0;
    int total = 0;
    bool complete = false;
    PointHistory result;
};
