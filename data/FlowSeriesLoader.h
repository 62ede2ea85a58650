#pragma once

#include <QMutex>
#include <QThread>

class FlowData;
class FlowSeries;

// Reads one step of a series on a thread of its own and hands the data set
// to the GUI thread with the stepLoaded signal (the receiver owns it).
//
// Threads: the GUI thread constructs, requests, cancels and destroys; the
// thread only runs one loadStep per request. The series must outlive every
// load: cancel() before replacing or deleting it.
class FlowSeriesLoader : public QThread
{
    Q_OBJECT

public:
    explicit FlowSeriesLoader(QObject* parent = nullptr);
    ~FlowSeriesLoader() override;

    // Starts reading `step` of `series`; false (and nothing starts) while a
    // load runs or its answer has not been handed over yet.
    bool request(const FlowSeries* series, int step);
    // Waits for a running load and deletes its data set instead of handing
    // it over.
    void cancel();
    bool isBusy() const;

signals:
    // The data set of `step`, or null when it did not load.
    void stepLoaded(int step, FlowData* data);

protected:
    void run() override;
    void customEvent(QEvent* event) override;

private:
    mutable QMutex mutex;
    const FlowSeries* series = nullptr;
    int step = -1;
    bool busy = false;
    bool finished = false;
    FlowData* result = nullptr;
};
