// FlowData::install: data read from the other formats enters the data set
// here, through the same checks and normalisation as the native pair.

#include "data/FlowData.h"

#include "data/ArrayPasses.h"
#include "data/Extremes.h"
#include "data/ParallelBlocks.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

template <typename Array> void releaseVector(Array& values)
{
    Array().swap(values);
}

// The axis as the native file would hold it (floats) and scaled to [0, 1]
// with the native loader's arithmetic, so that a converted pair loads to the
// same arrays.
bool scaleAxis(const std::vector<double>& axis, std::vector<float>& scaled, float& low, float& high)
{
    const size_t n = axis.size();
    std::vector<float> values(n);
    for (size_t k = 0; k < n; ++k) {
        values[k] = float(axis[k]);
        if (!std::isfinite(values[k]))
            return false;
    }
    low = *std::min_element(values.begin(), values.end());
    high = *std::max_element(values.begin(), values.end());
    const double origin = low;
    const double range = double(high) - origin;
    const double scale = range > 0.0 ? 1.0 / range : 0.0;
    scaled.resize(n);
    for (size_t k = 0; k < n; ++k)
        scaled[k] = float((values[k] - origin) * scale);
    return true;
}

} // namespace

bool FlowData::install(FlowRecord& record, QString* errorMessage)
{
    clear();
    if (record.isCurvilinear())
        return installCurvilinear(record, errorMessage);
    const size_t columns = record.x.size();
    const size_t rows = record.y.size();
    if (columns < 2 || rows < 2)
        return fail(errorMessage, QStringLiteral("resolution below 2 along an axis"));
    if (qint64(columns) * qint64(rows) > INT_MAX)
        return fail(errorMessage, QStringLiteral("grid too large"));
    const size_t points = columns * rows;
    bool sizesMatch = record.u.size() == points && record.v.size() == points;
    for (const FlowRecord::Field& field : record.scalars)
        sizesMatch = sizesMatch && field.values.size() == points;
    if (!sizesMatch)
        return fail(errorMessage, QStringLiteral("values do not match the grid"));

    record.makeAscending();
    std::vector<float> xs;
    std::vector<float> ys;
    float xLow = 0.0f;
    float xHigh = 0.0f;
    float yLow = 0.0f;
    float yHigh = 0.0f;
    if (!scaleAxis(record.x, xs, xLow, xHigh))
        return fail(errorMessage, QStringLiteral("x coordinates not finite"));
    if (!scaleAxis(record.y, ys, yLow, yHigh))
        return fail(errorMessage, QStringLiteral("y coordinates not finite"));
    for (size_t k = 1; k < columns; ++k)
        if (!(xs[k] > xs[k - 1]))
            return fail(errorMessage, QStringLiteral("x coordinates do not strictly ascend"));
    for (size_t k = 1; k < rows; ++k)
        if (!(ys[k] > ys[k - 1]))
            return fail(errorMessage, QStringLiteral("y coordinates do not strictly ascend"));

    resolutionX = int(columns);
    resolutionY = int(rows);
    if (!geometry.allocateForOverwrite(int(points)))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    geometryMin = Vector3(xLow, yLow, 0.0f);
    geometryMax = Vector3(xHigh, yHigh, 0.0f);
    Vector3* position = geometry.get();
    ParallelBlocks::run(int(points), ParallelBlocks::grainFor(3), [&](int, int first, int last) {
        size_t i = size_t(first) % columns;
        size_t j = size_t(first) / columns;
        for (int k = first; k < last; ++k) {
            position[k] = Vector3(xs[i], ys[j], 0.0f);
            if (++i == columns) {
                i = 0;
                ++j;
            }
        }
    });
    if (!installValues(record, errorMessage))
        return false;
    aspect = float(resolutionX) / float(resolutionY);
    return true;
}

bool FlowData::installValues(FlowRecord& record, QString* errorMessage)
{
    depth = 1;
    timeSteps = std::max(1, record.timeSteps);
    timeDifference = record.timeDifference;
    times = std::move(record.times);
    timeUnits = record.timeUnits;
    positionUnit = record.lengthUnit;
    speedUnit = record.velocityUnit;
    componentNote = record.velocityNote;
    const int count = resolutionX * resolutionY;
    if (!vectors.allocateForOverwrite(count))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    const size_t sets = record.scalars.size();
    std::vector<float*> setValues(sets);
    for (size_t s = 0; s < sets; ++s) {
        FlowRecord::Field& field = record.scalars[s];
        scalars.append(ScalarSet());
        ScalarSet& set = scalars.last();
        if (!set.values.allocateForOverwrite(count))
            return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
        set.name = field.name;
        set.unit = field.unit;
        setValues[s] = set.values.get();
    }
    // The magnitudes, after the file's sets.
    scalars.append(ScalarSet());
    if (!scalars.last().values.allocateForOverwrite(count))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    // The extremes first, straight from the record, per block and combined
    // in block order as the native loader does; then each value is written
    // once, normalised, into the data set's arrays. Both passes go over
    // every core.
    const int grain = ParallelBlocks::grainFor(4 + qint64(sets));
    const int blocks = ParallelBlocks::countFor(count, grain);
    std::vector<Extremes<double>> squares(static_cast<size_t>(blocks));
    std::vector<Extremes<float>> ranges(static_cast<size_t>(blocks) * sets);
    const float* const uFrom = record.u.data();
    const float* const vFrom = record.v.data();
    ParallelBlocks::run(count, grain, [&](int b, int first, int last) {
        squares[size_t(b)] =
            ArrayPasses::squaredLengthExtremes(uFrom + first, vFrom + first, last - first);
        for (size_t s = 0; s < sets; ++s)
            ranges[size_t(b) * sets + s] =
                ArrayPasses::extremes(record.scalars[s].values.data() + first, last - first);
    });
    const Extremes<double> allSquares = mergedOverBlocks<double>(squares, blocks, 1, 0);
    std::vector<double> setMinimum(sets);
    std::vector<double> setScale(sets);
    for (size_t s = 0; s < sets; ++s) {
        const Extremes<float> range = mergedOverBlocks<float>(ranges, blocks, sets, s);
        ScalarSet& set = scalars[qsizetype(s)];
        set.minimum = range.lowest();
        set.maximum = range.highest();
        const double extent = double(set.maximum) - double(set.minimum);
        setMinimum[s] = set.minimum;
        setScale[s] = extent > 0.0 ? 1.0 / extent : 0.0;
    }
    largestMagnitude = std::sqrt(allSquares.highest());
    vectorMin = float(std::sqrt(allSquares.lowest()));
    vectorMax = float(largestMagnitude);
    const double scale = largestMagnitude > 0.0 ? 1.0 / largestMagnitude : 1.0;
    Vector3* const vector = vectors.get();
    float* const magnitude = scalars.last().values.get();
    ParallelBlocks::run(count, grain, [&](int, int first, int last) {
        ArrayPasses::normalizeVectors(uFrom + first, vFrom + first, vector + first,
                                      magnitude + first, last - first, scale);
        for (size_t s = 0; s < sets; ++s)
            ArrayPasses::normalizeValues(record.scalars[s].values.data() + first,
                                         setValues[s] + first, last - first, setMinimum[s],
                                         setScale[s]);
    });
    for (FlowRecord::Field& field : record.scalars)
        releaseVector(field.values);
    releaseVector(record.u);
    releaseVector(record.v);
    qDebug().noquote() << "FlowData/install: resolution: " << resolutionX << resolutionY
                       << ", scalar sets: " << scalars.size() - 1;
    return true;
}

// Each cell's signed area (the cross product of its diagonals, halved) has
// the sign of its orientation. A cell turned against the grid's own sense
// means the grid folds over itself there; cells collapsed to a line or a
// point (a pole, a cut) are kept.
bool FlowData::installCurvilinear(FlowRecord& record, QString* errorMessage)
{
    const size_t columns = record.gridColumns;
    const size_t rows = record.gridRows;
    if (columns < 2 || rows < 2)
        return fail(errorMessage, QStringLiteral("resolution below 2 along an axis"));
    if (qint64(columns) * qint64(rows) > INT_MAX)
        return fail(errorMessage, QStringLiteral("grid too large"));
    const size_t points = columns * rows;
    bool sizesMatch = record.pointX.size() == points && record.pointY.size() == points &&
                      record.u.size() == points && record.v.size() == points;
    for (const FlowRecord::Field& field : record.scalars)
        sizesMatch = sizesMatch && field.values.size() == points;
    if (!sizesMatch)
        return fail(errorMessage, QStringLiteral("values do not match the grid"));

    const auto cellName = [&](size_t k) {
        const size_t i = std::min(k % columns, columns - 2);
        const size_t j = std::min(k / columns, rows - 2);
        return QStringLiteral("cell (%1, %2)").arg(i).arg(j);
    };
    // Positions as the data set holds them (floats), written straight into
    // the grid's array so that the checks see the cells the resampling will
    // see; converted, checked and bounded on every core, the first
    // non-finite point of all named, then scaled in place.
    if (!geometry.allocateForOverwrite(int(points)))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    Vector3* const position = geometry.get();
    const auto px = [position](size_t k) { return position[k].x; };
    const auto py = [position](size_t k) { return position[k].y; };
    // Every refusal from here on leaves no half-filled grid behind.
    const auto refuse = [&](const QString& reason) {
        geometry.release();
        return fail(errorMessage, reason);
    };
    const int pointGrain = ParallelBlocks::grainFor(4);
    const int pointBlocks = ParallelBlocks::countFor(int(points), pointGrain);
    struct Bounds
    {
        float xLow = std::numeric_limits<float>::infinity();
        float xHigh = -std::numeric_limits<float>::infinity();
        float yLow = std::numeric_limits<float>::infinity();
        float yHigh = -std::numeric_limits<float>::infinity();
        size_t firstBad = SIZE_MAX;
    };
    std::vector<Bounds> bounds(static_cast<size_t>(pointBlocks));
    ParallelBlocks::run(int(points), pointGrain, [&](int block, int first, int last) {
        Bounds b;
        for (size_t k = size_t(first); k < size_t(last); ++k) {
            const float x = float(record.pointX[k]);
            const float y = float(record.pointY[k]);
            position[k] = Vector3(x, y, 0.0f);
            if (!std::isfinite(x) || !std::isfinite(y)) {
                b.firstBad = k;
                break;
            }
            b.xLow = std::min(b.xLow, x);
            b.xHigh = std::max(b.xHigh, x);
            b.yLow = std::min(b.yLow, y);
            b.yHigh = std::max(b.yHigh, y);
        }
        bounds[size_t(block)] = b;
    });
    Bounds all;
    for (const Bounds& b : bounds) {
        all.firstBad = std::min(all.firstBad, b.firstBad);
        all.xLow = std::min(all.xLow, b.xLow);
        all.xHigh = std::max(all.xHigh, b.xHigh);
        all.yLow = std::min(all.yLow, b.yLow);
        all.yHigh = std::max(all.yHigh, b.yHigh);
    }
    if (all.firstBad != SIZE_MAX) {
        const size_t k = all.firstBad;
        return refuse(cellName(k) +
                      QStringLiteral(": grid point %1 of column %2, row %3 not finite")
                          .arg(k)
                          .arg(k % columns)
                          .arg(k / columns));
    }
    const float xLow = all.xLow;
    const float xHigh = all.xHigh;
    const float yLow = all.yLow;
    const float yHigh = all.yHigh;
    const double width = double(xHigh) - double(xLow);
    const double height = double(yHigh) - double(yLow);
    if (!(width > 0.0) || !(height > 0.0)) {
        return refuse(QStringLiteral("the grid points do not span an area"));
    }

    const size_t cellsAcross = columns - 1;
    const size_t cells = cellsAcross * (rows - 1);
    // Cells by their first corner k.
    const auto firstCorner = [&](size_t c) { return c / cellsAcross * columns + c % cellsAcross; };
    // A cell's ring of corners a = k, b = k + 1, c = k + columns + 1,
    // d = k + columns, in doubles.
    struct Ring
    {
        double ax, ay, bx, by, cx, cy, dx, dy;
    };
    const auto ringOf = [&](size_t k) {
        return Ring{px(k),
                    py(k),
                    px(k + 1),
                    py(k + 1),
                    px(k + columns + 1),
                    py(k + columns + 1),
                    px(k + columns),
                    py(k + columns)};
    };
    // Half the cross product of the diagonals.
    const auto areaOf = [](const Ring& r) {
        return 0.5 * ((r.cx - r.ax) * (r.dy - r.by) - (r.cy - r.ay) * (r.dx - r.bx));
    };
    // A simple cell, convex or not, turns against the grid's sense at one
    // corner at most; a cell crossing itself (a bow tie) does at two. A turn
    // counts when |turn| > 1e-6 |a| |b| (squared: no root per corner). The
    // corner turns of both senses are counted in the pass that sums the
    // areas, which fixes the sense.
    // With `sense` (+1 or -1) given, a cell none of whose corners turns
    // against it has nothing against it to count, and its turns the other
    // way are not asked for: the common convex cell skips the tolerance.
    const auto turnsOf = [](const Ring& r, int& negative, int& positive, double sense = 0.0) {
        const double ex[4] = {r.bx - r.ax, r.cx - r.bx, r.dx - r.cx, r.ax - r.dx};
        const double ey[4] = {r.by - r.ay, r.cy - r.by, r.dy - r.cy, r.ay - r.dy};
        negative = 0;
        positive = 0;
        double turns[4];
        bool against = sense == 0.0;
        for (int corner = 0; corner < 4; ++corner) {
            const int before = (corner + 3) % 4;
            turns[corner] = ey[corner] * ex[before] - ex[corner] * ey[before];
            against = against || !(sense * turns[corner] >= 0.0);
        }
        if (!against)
            return;
        for (int corner = 0; corner < 4; ++corner) {
            const int before = (corner + 3) % 4;
            const double turn = turns[corner];
            const bool counts =
                turn * turn > 1e-12 * (ex[corner] * ex[corner] + ey[corner] * ey[corner]) *
                                  (ex[before] * ex[before] + ey[before] * ey[before]);
            negative += counts && turn < 0.0;
            positive += counts && turn > 0.0;
        }
    };
    // Sums per block of cells, added in block order: the same sums on any
    // number of cores. Each block also keeps its first cell that may be
    // folded for either sense (turned at two corners, or of the opposite
    // sign at all), which the exact test below then starts from.
    const int cellGrain = ParallelBlocks::grainFor(32);
    const int cellBlocks = ParallelBlocks::countFor(int(cells), cellGrain);
    struct CellSums
    {
        double total = 0.0;
        double absolute = 0.0;
        size_t suspectForward = SIZE_MAX;
        size_t suspectBackward = SIZE_MAX;
    };
    std::vector<CellSums> sums(static_cast<size_t>(cellBlocks));
    ParallelBlocks::run(int(cells), cellGrain, [&](int block, int first, int last) {
        CellSums b;
        size_t i = size_t(first) % cellsAcross;
        size_t k = firstCorner(size_t(first));
        // A cell's left corners are the last one's right.
        Ring ring = ringOf(k);
        for (size_t c = size_t(first); c < size_t(last); ++c, ++k) {
            if (i == cellsAcross) {
                i = 0;
                ++k;
                ring = ringOf(k);
            } else if (c > size_t(first)) {
                ring.ax = ring.bx;
                ring.ay = ring.by;
                ring.dx = ring.cx;
                ring.dy = ring.cy;
                ring.bx = px(k + 1);
                ring.by = py(k + 1);
                ring.cx = px(k + columns + 1);
                ring.cy = py(k + columns + 1);
            }
            ++i;
            const double area = areaOf(ring);
            b.total += area;
            b.absolute += std::fabs(area);
            int negative = 0;
            int positive = 0;
            // A cell of positive area is a suspect for the backward sense
            // whatever its turns, so only its negative ones count (and the
            // other way round).
            turnsOf(ring, negative, positive, area > 0.0 ? 1.0 : area < 0.0 ? -1.0 : 0.0);
            if (b.suspectForward == SIZE_MAX && (area < 0.0 || negative >= 2))
                b.suspectForward = c;
            if (b.suspectBackward == SIZE_MAX && (area > 0.0 || positive >= 2))
                b.suspectBackward = c;
        }
        sums[size_t(block)] = b;
    });
    double total = 0.0;
    double absolute = 0.0;
    size_t suspectForward = SIZE_MAX;
    size_t suspectBackward = SIZE_MAX;
    for (const CellSums& b : sums) {
        total += b.total;
        absolute += b.absolute;
        suspectForward = std::min(suspectForward, b.suspectForward);
        suspectBackward = std::min(suspectBackward, b.suspectBackward);
    }
    if (!(absolute > 0.0)) {
        return refuse(QStringLiteral("the grid's cells have no area"));
    }
    // Rounding leaves a flat cell a tiny area of either sign.
    const double tolerance = 1e-6 * absolute / double(cells);
    const bool forward = total > 0.0;
    const double sense = forward ? 1.0 : -1.0;
    const size_t suspect = std::min(forward ? suspectForward : suspectBackward, cells);
    // The first folded cell of each block from the first suspect on; the
    // first of all is named.
    const int checkBlocks = ParallelBlocks::countFor(int(cells - suspect), cellGrain);
    std::vector<size_t> folded(size_t(std::max(checkBlocks, 1)), cells);
    if (suspect < cells)
        ParallelBlocks::run(int(cells - suspect), cellGrain, [&](int block, int first, int last) {
            for (size_t c = suspect + size_t(first); c < suspect + size_t(last); ++c) {
                int negative = 0;
                int positive = 0;
                const Ring ring = ringOf(firstCorner(c));
                turnsOf(ring, negative, positive);
                const int against = forward ? negative : positive;
                if (sense * areaOf(ring) < -tolerance || against >= 2) {
                    folded[size_t(block)] = c;
                    return;
                }
            }
        });
    const size_t firstFolded = *std::min_element(folded.begin(), folded.end());
    if (firstFolded < cells) {
        return refuse(QStringLiteral("cell (%1, %2) is turned against its "
                                     "neighbours: the grid folds over itself")
                          .arg(firstFolded % cellsAcross)
                          .arg(firstFolded / cellsAcross));
    }

    resolutionX = int(columns);
    resolutionY = int(rows);
    geometryMin = Vector3(xLow, yLow, 0.0f);
    geometryMax = Vector3(xHigh, yHigh, 0.0f);
    // Each axis onto [0, 1] with the native loader's arithmetic, as the
    // rectilinear grid is, so that such a grid given as points gives the
    // same positions.
    const double xScale = 1.0 / width;
    const double yScale = 1.0 / height;
    ParallelBlocks::run(int(points), pointGrain, [&](int, int first, int last) {
        for (size_t k = size_t(first); k < size_t(last); ++k)
            position[k] = Vector3(float((position[k].x - double(xLow)) * xScale),
                                  float((position[k].y - double(yLow)) * yScale), 0.0f);
    });
    releaseVector(record.pointX);
    releaseVector(record.pointY);
    if (!installValues(record, errorMessage))
        return false;
    curvilinearGrid = true;
    aspect = float(width / height);
    return true;
}
