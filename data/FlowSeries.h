#pragma once

#include "data/ValueRange.h"
#include "data/Vector3.h"
#include "formats/CfTime.h"
#include "formats/LoadOptions.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <functional>
#include <vector>

class FlowData;

// The time steps a chosen file belongs to, each loaded on request as a data
// set of its own.
//
// Native series are found by name: NAME.NNNNN.dat (five digits) next to the
// chosen file, each with its own NAME.NNNNN.gri or one shared NAME.gri; the
// numbers between the lowest and the highest found make the steps, so a gap
// is a missing step. Numbered VTK files (NAME_0001.vti, NAME.0001.vtk,
// NAME0001.vtr: the same stem and suffix around a run of digits) are the
// steps of their series in the order of their numbers; a gap is no step. The
// entries of a ParaView collection are its steps, an entry without its file
// a missing one. A file read with load options that reports more than one
// time step (timeStepsValue() > 1) gives one step per LoadOptions::step.
// Anything else is a series of one step.
//
// A step's time is the file's own where it has one (a time coordinate, a
// collection's timesteps), else its number times the time difference.
//
// Every step must share the grid of the reference step (the lowest step that
// loads when the series is opened): the same resolution, scalar set count and
// positions; another grid is refused with a reason. A step that cannot be
// read is marked and stays refused; playback skips it.
//
// Threads: open on any thread; loadStep and the state queries may then run
// on several threads at once (the step list is fixed, the states are locked).
class FlowSeries
{
public:
    enum StepState
    {
        StepUnread,  // a file is there, not read yet
        StepPresent, // read and accepted
        StepMissing, // no file for this step
        StepRefused  // does not read, or lies on another grid
    };

    FlowSeries(const FlowSeries&) = delete;
    FlowSeries& operator=(const FlowSeries&) = delete;

    // The series of fileName, owned by the caller; null when not one step
    // loads (*errorMessage then gives the reason). chosenData, when given, is
    // the data set already loaded from fileName: it spares reading the
    // chosen step again when that step is the reference.
    static FlowSeries* open(const QString& fileName, const LoadOptions& options = LoadOptions(),
                            QString* errorMessage = nullptr, const FlowData* chosenData = nullptr);

    int stepCount() const { return int(steps.size()); }
    // The position of the chosen file among the steps.
    int chosenIndex() const { return chosen; }
    // The number in the step's file name (the index for files that hold
    // their steps inside).
    int stepNumber(int index) const;
    // The file's own time of the step in its units, else stepNumber * the
    // reference step's time difference.
    double stepTime(int index) const;
    // The step's time as the bar shows it: a date ("2017-02-02 07:00") where
    // the file gives a reference date, else "t = " and the number with the
    // file's unit where it names one.
    QString stepTimeText(int index) const;
    // The same without the "t = " before a time that is no date.
    QString stepTimeValueText(int index) const;
    float timeDifference() const { return difference; }
    StepState stepState(int index) const;
    // Why a step is missing or refused; empty otherwise.
    QString stepReason(int index) const;
    // True while a step may still be shown (unread or present).
    bool isPlayable(int index) const;

    // Loads step `index` as a new data set owned by the caller, or null with
    // the reason; records the outcome in the step's state.
    FlowData* loadStep(int index, QString* errorMessage = nullptr) const;

    // The extremes of every scalar set (the magnitude set included) over all
    // playable steps, in the physical values of stepRange. Reads every step;
    // progress(done, total) is called after each and may return false to
    // cancel, which returns an empty list. Empty also when no step loads.
    QList<ValueRange> seriesRanges(const std::function<bool(int, int)>& progress = {}) const;
    // The physical values the normalised scalar set `index` of one data set
    // spans: the file's extremes, for the magnitude set [0, largest speed].
    static ValueRange stepRange(const FlowData& data, int index);

private:
    struct Step
    {
        QString geometryFile; // empty: read through fromFile with the options
        QString dataFile;
        int number = 0;
        int fileStep = 0; // the step inside dataFile
        StepState state = StepUnread;
        QString reason;
    };

    FlowSeries() = default;
    void setState(int index, StepState state, const QString& reason) const;
    bool findNumberedSteps(const QString& fileName);
    bool findNumberedFiles(const QString& fileName);
    bool findCollectionSteps(const QString& fileName);
    // Empty when `data` lies on the reference grid, else the reason.
    QString gridDifference(const FlowData& data) const;
    void takeReference(const FlowData& data);

    LoadOptions options;
    mutable std::vector<Step> steps;
    int chosen = 0;
    float difference = 0.0f;
    // The file's own time of each step, or empty.
    std::vector<double> times;
    CfTime timeUnits;
    // The reference grid, copied so that no array is shared across threads.
    int resolutionX = 0;
    int resolutionY = 0;
    int scalarSets = 0;
    Vector3 geometryMin;
    Vector3 geometryMax;
    std::vector<Vector3> geometry;
    mutable QMutex mutex;
};
