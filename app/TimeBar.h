#pragma once

#include "data/ValueRange.h"

#include <QList>
#include <QWidget>

#include <functional>
#include <memory>

class FlowData;
class FlowSeries;
class FlowSeriesLoader;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QSlider;
class QTimer;
class QToolButton;
class SeriesPlayer;
class SeriesRangeSearch;

// The bar under the view for a series of data sets: a slider over the
// steps, the step number and physical time, first / previous / play-pause /
// next / last, a loop toggle and the frame rate. Hidden unless the series
// has more than one step.
//
// Owns the series, reads steps ahead on a loader thread (see SeriesPlayer)
// and moves each data set to show into the step receiver. Has the extremes
// over the whole series found on request, once per series, by a
// SeriesRangeSearch, and shows its progress: that reads every step, so it
// waits until it is needed.
//
// A step's data set goes from the loader through the player to the step
// receiver as a std::unique_ptr, one owner at a time; the loads and the
// search are stopped before the series they read is replaced or deleted.
class TimeBar : public QWidget
{
    Q_OBJECT

public:
    explicit TimeBar(QWidget* parent = nullptr);
    ~TimeBar() override;

    // Takes the series (null: none) whose step series->chosenIndex() is on
    // show; drops the previous one after its loads have stopped.
    void setSeries(FlowSeries* series);
    // The one owner of every step shown (the main window); without one the
    // steps are deleted.
    void setStepReceiver(std::function<void(std::unique_ptr<FlowData> data)> receiver);
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
    // The extremes over the series once found; empty for a new series.
    void seriesRangesFound(const QList<ValueRange>& ranges);

private:
    void showPosition(int step);
    void takeLoadedStep(int step, std::unique_ptr<FlowData> data);

    std::unique_ptr<FlowSeries> flowSeries;
    SeriesPlayer* seriesPlayer;
    FlowSeriesLoader* loader;
    SeriesRangeSearch* rangeSearch;
    QTimer* timer;
    QSlider* slider;
    QLabel* stepLabel;
    QToolButton* playButton;
    QCheckBox* loopBox;
    QDoubleSpinBox* rateBox;
    QProgressBar* rangeProgress;
    // Set when the search for this series has started: once per series, so
    // that layers asking again for ranges that came out empty start none.
    bool rangesSought = false;
    QList<ValueRange> ranges;
};
