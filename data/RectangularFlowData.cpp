#include "data/RectangularFlowData.h"

#include "data/ArrayPasses.h"
#include "data/ParallelBlocks.h"
#include "data/ProfileTimer.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace {

// The per-axis cells and weights of one resampling call.
struct AxisSamples
{
    std::unique_ptr<int[]> cell;
    std::unique_ptr<float[]> weight;

    // Cell (lower grid line) and weight of the lower line for `count`
    // samples at t = k / (count - 1) along an axis of n ascending
    // coordinates; false when out of memory.
    bool sample(int n, int count, const float* coords)
    {
        cell.reset(new (std::nothrow) int[size_t(count)]);
        weight.reset(new (std::nothrow) float[size_t(count)]);
        if (!cell || !weight)
            return false;
        int i = 0;
        for (int k = 0; k < count; ++k) {
            const double t = count > 1 ? double(k) / double(count - 1) : 0.0;
            while (i < n - 2 && coords[i + 1] < t)
                ++i;
            cell[k] = i;
            weight[k] = float((t - coords[i + 1]) / (double(coords[i]) - double(coords[i + 1])));
        }
        return true;
    }
};

// Raster columns resampled together (see calcScalar).
constexpr int columnsPerPass = 4096;

} // namespace

RectangularFlowData::~RectangularFlowData()
{
    clear();
    xCoords.release();
    yCoords.release();
    xLookup.release();
    yLookup.release();
}

void RectangularFlowData::copyFrom(const FlowData& other)
{
    if (&other == this)
        return;
    FlowData::copyFrom(other);

    // A grid already built (and possibly transposed) is shared as it is;
    // building again would swap its vector components a second time.
    if (const auto* grid = dynamic_cast<const RectangularFlowData*>(&other)) {
        xCoords = grid->xCoords;
        yCoords = grid->yCoords;
        xLookup = grid->xLookup;
        yLookup = grid->yLookup;
        return;
    }

    xCoords.release();
    yCoords.release();
    xLookup.release();
    yLookup.release();
    const qint64 points = qint64(resolutionX) * qint64(resolutionY);
    if (resolutionX < 2 || resolutionY < 2 || geometry.size() != points ||
        vectors.size() != points) {
        qDebug()
            << "!!!RectangularFlowData/copyFrom: needs a loaded grid of two points per axis!!!";
        return;
    }

    const bool transposed = fastIndexAlongY();
    if (!xCoords.allocate(resolutionX) || !yCoords.allocate(resolutionY)) {
        xCoords.release();
        yCoords.release();
        return;
    }
    for (int i = 0; i < resolutionX; ++i)
        xCoords[i] = transposed ? geometry[i].y : geometry[i].x;
    for (int j = 0; j < resolutionY; ++j)
        yCoords[j] = transposed ? geometry[j * resolutionX].x : geometry[j * resolutionX].y;

    if (transposed) {
        // The arrays are shared with `other`, which must not see the swap.
        SharedArray<Vector3> swapped;
        if (!swapped.allocate(int(points))) {
            xCoords.release();
            yCoords.release();
            return;
        }
        const Vector3* from = vectors.get();
        Vector3* to = swapped.get();
        for (qint64 k = 0; k < points; ++k)
            to[k] = Vector3(from[k].y, from[k].x, from[k].z);
        vectors = swapped;
    }

    if (!buildLookupTable(resolutionX, xCoords.get(), xLookup) ||
        !buildLookupTable(resolutionY, yCoords.get(), yLookup)) {
        xCoords.release();
        yCoords.release();
        xLookup.release();
        yLookup.release();
    }
}

// The tables describe the arrays held: load() called on this object
// releases or replaces the arrays but cannot rebuild the tables.
bool RectangularFlowData::tablesFit() const
{
    const qint64 points = qint64(xCoords.size()) * qint64(yCoords.size());
    return !xLookup.isEmpty() && !yLookup.isEmpty() && xCoords.size() == resolutionX &&
           yCoords.size() == resolutionY && vectors.size() == points &&
           (scalars.isEmpty() || scalars.last().values.size() == points);
}

// Entry q of the m entries covers the bin ending at (q + 1) / (m - 1) and
// holds the largest cell whose lower line does not exceed that end. With bins
// at most half the smallest cell wide, the containing cell is the entry or the
// one before it; a table cut to maxLookupEntries may be further off.
bool RectangularFlowData::buildLookupTable(int n, const float* coords, SharedArray<int>& lookup)
{
    float minDistance = coords[1] - coords[0];
    for (int k = 2; k < n; ++k) {
        const float distance = coords[k] - coords[k - 1];
        if (distance < minDistance)
            minDistance = distance;
    }
    qDebug() << "minDistance: " << minDistance;
    if (!(minDistance > 0.0f)) {
        qDebug() << "!!!RectangularFlowData: grid lines do not strictly ascend!!!";
        return false;
    }

    const float wanted = 2.0f / minDistance;
    const int m = wanted >= float(maxLookupEntries) ? maxLookupEntries : qMax(2, int(wanted));
    if (!lookup.allocate(m))
        return false;
    int i = n - 2;
    for (int q = m - 1; q >= 0; --q) {
        const double t = double(q + 1) / double(m - 1);
        while (i > 0 && coords[i] > t)
            --i;
        lookup[q] = i;
    }
    return true;
}

void RectangularFlowData::calcScalar(int index, int width, int height, float* out) const
{
    if (index < 0 || index >= scalars.size()) {
        qDebug() << "!!!RectangularFlowData/calcScalar: no scalar set" << index << "!!!";
        return;
    }
    calcValues(scalars[index], width, height, out);
}

void RectangularFlowData::calcValues(const ScalarSet& set, int width, int height, float* out) const
{
    if (!tablesFit() || set.values.size() != vectors.size() || !out) {
        qDebug() << "!!!RectangularFlowData/calcValues: the set does not fit the grid!!!";
        return;
    }
    if (width <= 0 || height <= 0)
        return;
    ProfileTimer timer(QStringLiteral("calcScalar"));
    timer.start();

    AxisSamples columns;
    AxisSamples rows;
    if (!columns.sample(resolutionX, width, xCoords.get()) ||
        !rows.sample(resolutionY, height, yCoords.get())) {
        qDebug() << "!!!RectangularFlowData/calcScalar: out of memory!!!";
        return;
    }

    const float* values = set.values.get();
    const int* colCell = columns.cell.get();
    const float* colWeight = columns.weight.get();
    const int* rowCell = rows.cell.get();
    const float* rowWeight = rows.weight.get();
    const int stride = resolutionX;
    // Each sample is wy * h(j) + (1 - wy) * h(j + 1), where h interpolates
    // grid rows j and j + 1 across: computed in that order, a row's h serves
    // every raster row that needs it, usually two in a row. The columns go in
    // passes narrow enough for the two rows of h to stay on the stack.
    ParallelBlocks::run(height, ParallelBlocks::grainFor(width), [=](int, int first, int last) {
        float rowsAcross[2][columnsPerPass];
        for (int c0 = 0; c0 < width; c0 += columnsPerPass) {
            const int n = std::min(columnsPerPass, width - c0);
            const auto across = [&](int j, float* h) {
                const float* row = values + size_t(j) * size_t(stride);
                for (int k = 0; k < n; ++k) {
                    const int i = colCell[c0 + k];
                    const float wx = colWeight[c0 + k];
                    h[k] = wx * row[i] + (1.0f - wx) * row[i + 1];
                }
            };
            float* lower = rowsAcross[0];
            float* upper = rowsAcross[1];
            int lowerRow = -1;
            int upperRow = -1;
            for (int r = first; r < last; ++r) {
                const int j = rowCell[r];
                if (j == upperRow) {
                    std::swap(lower, upper);
                    lowerRow = j;
                    upperRow = -1;
                } else if (j != lowerRow) {
                    across(j, lower);
                    lowerRow = j;
                }
                if (upperRow != j + 1) {
                    across(j + 1, upper);
                    upperRow = j + 1;
                }
                ArrayPasses::blend(lower, upper, rowWeight[r], n,
                                   out + size_t(r) * size_t(width) + size_t(c0));
            }
        }
    });
    timer.stop();
}

void RectangularFlowData::calcVector(int width, int height, Vector3* out) const
{
    if (!tablesFit() || !out) {
        qDebug() << "!!!RectangularFlowData/calcVector: no grid!!!";
        return;
    }
    if (width <= 0 || height <= 0)
        return;
    ProfileTimer timer(QStringLiteral("calcVector"));
    timer.start();

    AxisSamples columns;
    AxisSamples rows;
    if (!columns.sample(resolutionX, width, xCoords.get()) ||
        !rows.sample(resolutionY, height, yCoords.get())) {
        qDebug() << "!!!RectangularFlowData/calcVector: out of memory!!!";
        return;
    }

    const Vector3* values = vectors.get();
    const int* colCell = columns.cell.get();
    const float* colWeight = columns.weight.get();
    const int* rowCell = rows.cell.get();
    const float* rowWeight = rows.weight.get();
    const int stride = resolutionX;
    ParallelBlocks::run(height, ParallelBlocks::grainFor(width), [=](int, int first, int last) {
        for (int r = first; r < last; ++r) {
            const float wy = rowWeight[r];
            const float vy = 1.0f - wy;
            const Vector3* lower = values + size_t(rowCell[r]) * size_t(stride);
            const Vector3* upper = lower + stride;
            Vector3* line = out + size_t(r) * size_t(width);
            for (int c = 0; c < width; ++c) {
                const int i = colCell[c];
                const float wx = colWeight[c];
                const float vx = 1.0f - wx;
                const Vector3& a = lower[i];
                const Vector3& b = lower[i + 1];
                const Vector3& d = upper[i];
                const Vector3& e = upper[i + 1];
                line[c] = Vector3(wy * (wx * a.x + vx * b.x) + vy * (wx * d.x + vx * e.x),
                                  wy * (wx * a.y + vx * b.y) + vy * (wx * d.y + vx * e.y),
                                  wy * (wx * a.z + vx * b.z) + vy * (wx * d.z + vx * e.z));
            }
        }
    });
    timer.stop();
}

// Constant time: one table read per axis; the loops run at most once for a
// table of 2 / minDistance entries and only step further on a cut table.
Vector3 RectangularFlowData::vectorAt(double x, double y) const
{
    if (!tablesFit())
        return Vector3();
    const double ys = double(aspect) * y;
    const auto cellOf = [](double p, const SharedArray<int>& lookup, const SharedArray<float>& c) {
        const int last = lookup.size() - 1;
        const double position = p * last;
        const int q = position > 0.0 ? (position < last ? int(position) : last) : 0;
        int i = lookup[q];
        // The entry's cell or the one before: a step taken without a branch,
        // which would go either way at random along a line. The loops serve
        // tables cut to their largest size.
        i -= int(i > 0) & int(c[i] > p);
        while (i > 0 && c[i] > p)
            --i;
        while (i < c.size() - 2 && c[i + 1] <= p)
            ++i;
        return i;
    };
    const int i = cellOf(x, xLookup, xCoords);
    const int j = cellOf(ys, yLookup, yCoords);
    return vectors[j * resolutionX + i];
}
