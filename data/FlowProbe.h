#pragma once

#include <QList>
#include <QPointF>
#include <QString>

class FlowData;
struct ScalarSet;

// Reads a data set at one position in physical units: the grid's own values,
// bilinearly interpolated within the cell around the position, with the
// normalisation undone (positions from the grid's extremes, vectors times the
// largest speed, scalar sets from their extremes). On a curvilinear grid the
// cell is the quadrilateral that holds the position, and the weights are the
// position's (xi, eta) in it. On demand only: a read is two binary searches
// (or a bucket look-up) and a few multiplications.
class FlowProbe
{
public:
    struct Reading
    {
        bool inside = false; // false: outside the grid; every value (x, y too) is NaN
        double x = 0.0;      // as the view shows the axes
        double y = 0.0;
        double vx = 0.0;
        double vy = 0.0;
        double speed = 0.0;
        QList<double> scalars; // the file's scalar sets, in order (not the speed)
    };

    // `unitX`, `unitY`: the position in the unit square, as rasters take it
    // (y = 0 at the grid's first row). NaN where a cell corner that has a
    // share is NaN.
    static Reading read(const FlowData& data, double unitX, double unitY);

    // The position in the unit square of the physical point (x, y), in the
    // axes as the view shows them: the inverse of read's mapping, outside
    // [0, 1] for a point outside the grid.
    static QPointF unitPosition(const FlowData& data, double x, double y);
    // Its inverse: the physical point at a unit-square position, also outside.
    static QPointF physicalPosition(const FlowData& data, double unitX, double unitY);

    // The values of each set over the grid (derived fields, in their own
    // units, not normalised) at the position, as describeSets shows them;
    // NaN outside and for a set without values.
    static QList<double> readSets(const FlowData& data, const QList<const ScalarSet*>& sets,
                                  double unitX, double unitY);

    // One status-bar line: position, velocity, speed and every scalar set,
    // with names and units where the file has them; "—" for what is not a number.
    static QString describe(const FlowData& data, const Reading& reading);

    // "name [unit] = value" of each set over the grid (derived fields, in
    // their own units, not normalised), comma-separated; "—" outside.
    static QString describeSets(const FlowData& data, const QList<const ScalarSet*>& sets,
                                double unitX, double unitY);
};
