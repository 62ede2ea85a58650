#pragma once

#include "data/ValueRange.h"

#include <QList>
#include <QMutex>
#include <QWidget>

#include <atomic>
#include <memory>

class FlowData;
class FlowSeries;
class FlowSeriesLoader;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QSlider;
class QThread;
class QTimer;
class QToolButton;
class SeriesPlayer;

// The bar under the view for a series of data sets: a slider over the
// steps, the step number and physical time, first / previous / play-pause /
// next / last, a loop toggle and the frame rate. Hidden unless the series
// has more than one step.
//
// Owns the series, reads steps ahead on a loader thread (see SeriesPlayer)
// and hands each data set to show with stepReady. Finds the extremes over
// the whole series on request, once per series, on a thread of its own,
// showing progress: that reads every step, so it waits until it is needed.
class TimeBar : public QWidget
{
    Q_OBJECT

public:
    explicit TimeBar(QWidget* parent = nullptr);
    ~TimeBar() override;

    // Takes the series (null: none) whose step series->chosenIndex() is on
    // show; drops the previous one after its loads have stopped.
    void setSeries(FlowSeries* series);
    // Space (play/pause) and Page Up / Page Down (previous / next step) while
    // `view` or a child of it has focus; the view then takes focus on a click.
    void addKeysTo(QWidget* view);

    const FlowSeries* series() const { return flowSeries.get(); }
    SeriesPlayer* player() const { return seriesPlayer; }
    // The whole-series extremes, empty until found.
    const QList<ValueRange>& seriesRanges() const { return ranges; }
    bool isFindingRanges() const;

public slots:
    void togglePlay();
    // Starts finding the whole-series extremes unless they are found or
    // being found; seriesRangesFound tells the result.
    void findSeriesRanges();

signals:
    // The data set of a new step; the receiver owns it.
    void stepReady(FlowData* data);
    // The extremes over the series once found; empty for a new series.
    void seriesRangesFound(const QList<ValueRange>& ranges);

protected:
    void customEvent(QEvent* event) override;

private:
    void showPosition(int step);
    void stopRangeSearch();
    void startRangeSearch();

    std::unique_ptr<FlowSeries> flowSeries;
    SeriesPlayer* seriesPlayer;
    FlowSeriesLoader* loader;
    QTimer* timer;
    QSlider* slider;
    QLabel* stepLabel;
    QToolButton* playButton;
    QCheckBox* loopBox;
    QDoubleSpinBox* rateBox;
    QProgressBar* rangeProgress;
    QThread* rangeThread = nullptr;
    std::atomic<bool> rangeCancel{false};
    // Handed over from the search thread: steps done, the result when done.
    QMutex rangeMutex;
    int rangeDone = 0;
    bool rangeFinished = false;
    QList<ValueRange> rangeResult;
    QList<ValueRange> ranges;
};
