#pragma once

#include <QMutex>
#include <QThread>

#include <functional>
#include <memory>

class FlowData;
class FlowSeries;

// Reads one step of a series on a thread of its own and hands the data set
// to the GUI thread.
//
// Threads: the GUI thread constructs, requests, cancels and destroys; the
// thread only runs one loadStep per request.
//
// Lock: `mutex` guards the request, the busy and finished flags and the
// result. The thread holds it only to read the request and to store the
// result, never while it reads the files.
//
// Hand-over: the thread stores the data set whole in `result` and posts a
// SeriesStepLoaded event to the loader; in the GUI thread the event moves it
// into the receiver given to the constructor. A loader has that one receiver
// and the data set travels as a std::unique_ptr, so no second party can come
// to own it. A cancelled load's data set is deleted instead, and its event
// finds nothing.
//
// Lifetime: the series must outlive every load: cancel() before replacing or
// deleting it. The destructor cancels, so no result outlives the loader.
class FlowSeriesLoader : public QThread
{
public:
    // Takes, in the GUI thread, the data set of `step`, or null when the step
    // did not load.
    using Receiver = std::function<void(int step, std::unique_ptr<FlowData> data)>;

    explicit FlowSeriesLoader(Receiver receiver, QObject* parent = nullptr);
    ~FlowSeriesLoader() override;

    // Starts reading `step` of `series`; false (and nothing starts) while a
    // load runs or its answer has not been handed over yet.
    bool request(const FlowSeries* series, int step);
    // Waits for a running load and deletes its data set instead of handing
    // it over.
    void cancel();
    bool isBusy() const;

protected:
    void run() override;
    void customEvent(QEvent* event) override;

private:
    const Receiver receiver;
    mutable QMutex mutex;
    const FlowSeries* series = nullptr;
    int step = -1;
    bool busy = false;
    bool finished = false;
    std::unique_ptr<FlowData> result;
};
