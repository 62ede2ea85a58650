#pragma once

#include "data/ExtractionTable.h"

#include <QList>
#include <QPointF>
#include <QString>

class FlowData;
struct ScalarSet;

// The data set sampled along a polyline given in the file's physical
// coordinates (the axes as the view and the read-out show them).
//
// Samples: `samples` points evenly spaced in arc length over the whole
// polyline, the first on the first vertex and the last on the last one; the
// vertices in between are not samples unless the spacing lands on them, so a
// plot over s has even steps whatever the corners. Each sample is read with
// FlowProbe::read, the very values the read-out shows: NaN where it shows "—"
// (outside the grid, a cell with a NaN corner that has a share).
//
// Columns: s (arc length from the first vertex), x, y in the length unit, then
// ProbeColumns with the line components: u, v, speed, tangential = u·t and
// normal = u·n in the velocity unit, where t is the direction of travel of
// the segment the sample lies on and n is t turned by +90 degrees (to the
// left of the direction of travel); then each scalar set and each derived set.
//
// Flux: ∫ u·n ds by the trapezoid rule over the samples and, at each inner
// vertex, a reading there too, so that every interval lies on one segment and
// n never jumps inside an interval (second order for a smooth field, corners
// included). Positive from right to left across the direction of travel: a
// closed polyline run clockwise gives the outflow, counter-clockwise the inflow. An interval with a
// NaN end is left out and its length counted as a gap (fluxGapLength); with
// no interval left the flux is NaN.
class LineProfile
{
public:
    // The fixed columns; the scalar sets follow from FirstScalar on.
    enum FixedColumn
    {
        S,
        X,
        Y,
        U,
        V,
        Speed,
        Tangential,
        Normal,
        FirstScalar
    };

    // An empty profile (isValid false) for fewer than two vertices, fewer
    // than two samples or a polyline of no length.
    LineProfile(const FlowData& data, const QList<QPointF>& vertices, int samples,
                const QList<const ScalarSet*>& derived = {});

    bool isValid() const { return table.rowCount() > 0; }
    const ExtractionTable& samples() const { return table; }
    const QList<QPointF>& vertices() const { return corners; }
    double length() const { return totalLength; }

    // The mean of a column over its finite samples (NaN when none is).
    double mean(int column) const { return table.mean(column); }
    double flux() const { return fluxValue; }
    double fluxGapLength() const { return gapLength; }
    // Samples outside the grid.
    int outsideCount() const { return outside; }
    // The unit of the flux, velocity times length: "m2/s" for m/s and m,
    // "m2 s-1" for m s-1 and m, else "V·L"; empty when either unit is.
    QString fluxUnit() const { return unitOfFlux; }
    static QString fluxUnit(const QString& velocityUnit, const QString& lengthUnit);

private:
    void integrate(const FlowData& data, const std::vector<double>& segmentStart,
                   const std::vector<QPointF>& normals);

    ExtractionTable table;
    QList<QPointF> corners;
    double totalLength = 0.0;
    double fluxValue = 0.0;
    double gapLength = 0.0;
    int outside = 0;
    QString unitOfFlux;
};
