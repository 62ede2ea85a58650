#pragma once

#include "data/DerivedField.h"
#include "data/ExtractionTable.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

class FlowSeries;

// One point of a series read in every step of a range: the history the
// read-out would show there while the series plays.
//
// Rows: one per step, in order, with the columns step (the number in the
// step's file name), time (FlowSeries::stepTime), x, y (the point asked for), then
// ProbeColumns without the line components (a point
// has no direction): u, v, speed, each scalar set, each derived set of
// `derived` (computed for every step from its own velocity).
//
// Gaps: a step that is missing, does not read or lies on another grid gives
// a row of NaN after its step and time, and its reason in gaps(); a point
// outside the grid gives NaN rows throughout (isOutside).
//
// Memory: one step at a time is in memory (and its derived sets while it is
// read), however long the series: a step is read, its row taken and the step
// deleted before the next is read.
//
// Threads: read() runs on the calling thread from start to end and touches
// nothing but the series (whose loadStep may run on several threads) and its
// own data sets, so a worker thread may call it while the GUI thread keeps
// the series. `progress(done, total)` is called on that thread after each
// step; `cancel`, when given, is polled before each step: once it is set the
// rows read so far come back with isCancelled.
class PointHistory
{
public:
    using Progress = std::function<void(int done, int total)>;

    // Steps `firstIndex` to `lastIndex` (indices into the series, inclusive,
    // clamped to its steps) at the physical point (x, y).
    static PointHistory read(const FlowSeries& series, double x, double y, int firstIndex,
                             int lastIndex, const QList<DerivedField::Kind>& derived = {},
                             const Progress& progress = {},
                             const std::atomic<bool>* cancel = nullptr);

    // Step, time, x, y, u, v, speed, scalar sets, derived sets.
    const ExtractionTable& rows() const { return table; }
    // The series index of each row.
    const std::vector<int>& indices() const { return stepIndices; }
    // Per row, why the step gave no values; empty for a step that was read.
    const QStringList& gaps() const { return reasons; }
    int gapCount() const;
    bool isOutside() const { return outside; }
    bool isCancelled() const { return cancelled; }
    // The series' time step between two rows of consecutive numbers.
    double timeStep() const { return difference; }

    // The fixed columns; the scalar sets follow from FirstScalar on.
    enum FixedColumn
    {
        Step,
        Time,
        X,
        Y,
        U,
        V,
        Speed,
        FirstScalar
    };

private:
    ExtractionTable table;
    std::vector<int> stepIndices;
    QStringList reasons;
    bool outside = false;
    bool cancelled = false;
    double difference = 0.0;
};
