#include "data/CurvilinearFlowData.h"

#include "data/ParallelBlocks.h"
#include "data/ProfileTimer.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace {

// How far outside [0, 1] a cell coordinate may lie and still count as in the
// cell: points on a shared edge then belong to both cells, and rounding in
// the map cannot open a crack between them.
constexpr double cellTolerance = 1e-6;
// Upper bound of the buckets per axis (memory for the bucket grid).
constexpr int maxBucketsPerAxis = 2048;

double cross(double ax, double ay, double bx, double by)
{
    return ax * by - ay * bx;
}

double outside(double t)
{
    return t < 0.0 ? -t : (t > 1.0 ? t - 1.0 : 0.0);
}

// Raster lines k0 ... k1 whose position k / (count - 1) lies in [low, high].
void rasterSpan(double low, double high, int count, int& k0, int& k1)
{
    const double scale = count > 1 ? double(count - 1) : 0.0;
    const double slack = 1e-9 * scale + 1e-9;
    k0 = std::max(0, int(std::ceil(low * scale - slack)));
    k1 = std::min(count - 1, int(std::floor(high * scale + slack)));
}

} // namespace

CurvilinearFlowData::~CurvilinearFlowData()
{
    clear();
    bucketStart.release();
    bucketCells.release();
}

bool CurvilinearFlowData::inverseBilinear(const double p00[2], const double p10[2],
                                          const double p11[2], const double p01[2],
                                          const double p[2], double& xi, double& eta)
{
    const double ex = p10[0] - p00[0];
    const double ey = p10[1] - p00[1];
    const double fx = p01[0] - p00[0];
    const double fy = p01[1] - p00[1];
    const double gx = p00[0] - p10[0] + p11[0] - p01[0];
    const double gy = p00[1] - p10[1] + p11[1] - p01[1];
    const double hx = p[0] - p00[0];
    const double hy = p[1] - p00[1];
    // h = xi e + eta f + xi eta g: crossing with (e + eta g) removes xi and
    // leaves k2 eta^2 + k1 eta + k0 = 0.
    const double k2 = cross(gx, gy, fx, fy);
    const double k1 = cross(ex, ey, fx, fy) + cross(hx, hy, gx, gy);
    const double k0 = cross(hx, hy, ex, ey);

    double roots[2];
    int count = 0;
    if (k2 == 0.0) {
        if (k1 != 0.0)
            roots[count++] = -k0 / k1;
    } else {
        double discriminant = k1 * k1 - 4.0 * k0 * k2;
        // A point on the fold line of a non-convex cell gives a double root
        // that rounding may push just below zero.
        if (discriminant < 0.0 && discriminant > -1e-12 * k1 * k1)
            discriminant = 0.0;
        if (discriminant >= 0.0) {
            // The form without cancellation: a parallelogram's k2 is
            // rounding, and its root k0 / q stays exact.
            const double q = -0.5 * (k1 + std::copysign(std::sqrt(discriminant), k1));
            if (q != 0.0)
                roots[count++] = k0 / q;
            roots[count++] = q / k2;
        }
    }

    double bestMiss = std::numeric_limits<double>::infinity();
    for (int r = 0; r < count; ++r) {
        const double h = roots[r];
        if (!std::isfinite(h))
            continue;
        // xi along e + eta g, the least-squares solution where the two
        // components disagree by rounding.
        const double sx = ex + h * gx;
        const double sy = ey + h * gy;
        const double norm = sx * sx + sy * sy;
        if (!(norm > 0.0))
            continue;
        const double x = ((hx - h * fx) * sx + (hy - h * fy) * sy) / norm;
        const double miss = std::max(outside(x), outside(h));
        if (miss < bestMiss) {
            bestMiss = miss;
            xi = x;
            eta = h;
        }
    }
    return bestMiss <= cellTolerance;
}

bool CurvilinearFlowData::cellContains(int cell, double x, double y, double& xi, double& eta) const
{
    const int cellsAcross = resolutionX - 1;
    const int k = cell / cellsAcross * resolutionX + cell % cellsAcross;
    const Vector3* g = geometry.get();
    const double p00[2] = {g[k].x, g[k].y};
    const double p10[2] = {g[k + 1].x, g[k + 1].y};
    const double p11[2] = {g[k + resolutionX + 1].x, g[k + resolutionX + 1].y};
    const double p01[2] = {g[k + resolutionX].x, g[k + resolutionX].y};
    const double p[2] = {x, y};
    return inverseBilinear(p00, p10, p11, p01, p, xi, eta);
}

void CurvilinearFlowData::copyFrom(const FlowData& other)
{
    if (&other == this)
        return;
    FlowData::copyFrom(other);
    if (const auto* grid = dynamic_cast<const CurvilinearFlowData*>(&other)) {
        bucketsX = grid->bucketsX;
        bucketsY = grid->bucketsY;
        bucketStart = grid->bucketStart;
        bucketCells = grid->bucketCells;
        return;
    }
    bucketStart.release();
    bucketCells.release();
    const qint64 points = qint64(resolutionX) * qint64(resolutionY);
    if (resolutionX < 2 || resolutionY < 2 || geometry.size() != points ||
        vectors.size() != points) {
        qDebug()
            << "!!!CurvilinearFlowData/copyFrom: needs a loaded grid of two points per axis!!!";
        return;
    }
    if (!buildBuckets()) {
        bucketStart.release();
        bucketCells.release();
    }
}

bool CurvilinearFlowData::hasTables() const
{
    const qint64 points = qint64(resolutionX) * qint64(resolutionY);
    return !bucketStart.isEmpty() && resolutionX >= 2 && resolutionY >= 2 &&
           geometry.size() == points && vectors.size() == points &&
           (scalars.isEmpty() || scalars.last().values.size() == points);
}

// Two passes over the cells' bounding boxes: the first counts the cells of
// each bucket, the second lists them.
bool CurvilinearFlowData::buildBuckets()
{
    const int cellsAcross = resolutionX - 1;
    const int cells = cellsAcross * (resolutionY - 1);
    const int perAxis = std::clamp(int(std::ceil(std::sqrt(double(cells)))), 1, maxBucketsPerAxis);
    bucketsX = perAxis;
    bucketsY = perAxis;
    const Vector3* g = geometry.get();
    const auto boxOf = [&](int cell, int& bx0, int& bx1, int& by0, int& by1) {
        const int k = cell / cellsAcross * resolutionX + cell % cellsAcross;
        const Vector3 corners[4] = {g[k], g[k + 1], g[k + resolutionX], g[k + resolutionX + 1]};
        float x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
        for (const Vector3& c : corners) {
            x0 = std::min(x0, c.x);
            x1 = std::max(x1, c.x);
            y0 = std::min(y0, c.y);
            y1 = std::max(y1, c.y);
        }
        const auto bucket = [](double t, int n) { return std::clamp(int(t * n), 0, n - 1); };
        bx0 = bucket(x0 - cellTolerance, bucketsX);
        bx1 = bucket(x1 + cellTolerance, bucketsX);
        by0 = bucket(y0 - cellTolerance, bucketsY);
        by1 = bucket(y1 + cellTolerance, bucketsY);
    };
    const int buckets = bucketsX * bucketsY;
    if (!bucketStart.allocate(buckets + 1))
        return false;
    int* start = bucketStart.get();
    std::fill(start, start + buckets + 1, 0);
    qint64 entries = 0;
    for (int c = 0; c < cells; ++c) {
        int bx0, bx1, by0, by1;
        boxOf(c, bx0, bx1, by0, by1);
        for (int by = by0; by <= by1; ++by)
            for (int bx = bx0; bx <= bx1; ++bx)
                ++start[by * bucketsX + bx + 1];
        entries += qint64(bx1 - bx0 + 1) * qint64(by1 - by0 + 1);
    }
    if (entries > std::numeric_limits<int>::max() ||
        !bucketCells.allocateForOverwrite(int(entries)))
        return false;
    for (int b = 0; b < buckets; ++b)
        start[b + 1] += start[b];
    std::vector<int> filled(start, start + buckets);
    int* list = bucketCells.get();
    for (int c = 0; c < cells; ++c) {
        int bx0, bx1, by0, by1;
        boxOf(c, bx0, bx1, by0, by1);
        for (int by = by0; by <= by1; ++by)
            for (int bx = bx0; bx <= bx1; ++bx)
                list[filled[size_t(by * bucketsX + bx)]++] = c;
    }
    return true;
}

int CurvilinearFlowData::cellAt(double x, double y, double* xi, double* eta) const
{
    if (!hasTables() || !std::isfinite(x) || !std::isfinite(y))
        return -1;
    // A tracer steps within a cell or into a neighbour most of the time, so
    // the cell found last on this thread is tried first.
    thread_local int lastCell = 0;
    const int cells = (resolutionX - 1) * (resolutionY - 1);
    double a = 0.0;
    double b = 0.0;
    if (lastCell < cells && cellContains(lastCell, x, y, a, b)) {
        if (xi)
            *xi = a;
        if (eta)
            *eta = b;
        return lastCell;
    }
    if (x < -cellTolerance || x > 1.0 + cellTolerance || y < -cellTolerance ||
        y > 1.0 + cellTolerance)
        return -1;
    const int bx = std::clamp(int(x * bucketsX), 0, bucketsX - 1);
    const int by = std::clamp(int(y * bucketsY), 0, bucketsY - 1);
    const int bucket = by * bucketsX + bx;
    for (int e = bucketStart[bucket]; e < bucketStart[bucket + 1]; ++e) {
        const int cell = bucketCells[e];
        if (cellContains(cell, x, y, a, b)) {
            lastCell = cell;
            if (xi)
                *xi = a;
            if (eta)
                *eta = b;
            return cell;
        }
    }
    return -1;
}

Vector3 CurvilinearFlowData::vectorAt(double x, double y) const
{
    const int cell = cellAt(x, double(aspect) * y);
    if (cell < 0)
        return Vector3();
    const int cellsAcross = resolutionX - 1;
    return vectors[cell / cellsAcross * resolutionX + cell % cellsAcross];
}

// Calls visit(sample, k, xi, eta) for every raster sample inside a cell,
// with k the cell's first corner, after the sample rows of the block have
// been cleared by clearRows(first, last). The cells are sorted by the first
// raster row they touch, so that a block of rows visits only its own cells.
template <typename Visit> void CurvilinearFlowData::scan(int width, int height, Visit visit) const
{
    const int cellsAcross = resolutionX - 1;
    const int cells = cellsAcross * (resolutionY - 1);
    const Vector3* g = geometry.get();
    struct Box
    {
        int c0, c1, r0, r1;
    };
    const auto boxOf = [&](int cell) {
        const int k = cell / cellsAcross * resolutionX + cell % cellsAcross;
        const Vector3 corners[4] = {g[k], g[k + 1], g[k + resolutionX], g[k + resolutionX + 1]};
        double x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
        for (const Vector3& c : corners) {
            x0 = std::min(x0, double(c.x));
            x1 = std::max(x1, double(c.x));
            y0 = std::min(y0, double(c.y));
            y1 = std::max(y1, double(c.y));
        }
        Box box;
        rasterSpan(x0, x1, width, box.c0, box.c1);
        rasterSpan(y0, y1, height, box.r0, box.r1);
        return box;
    };

    // Counting sort by first row; cells that miss every raster row are left out.
    std::vector<int> rowStart(size_t(height) + 1, 0);
    std::vector<int> firstRow(static_cast<size_t>(cells));
    int tallest = 0;
    for (int c = 0; c < cells; ++c) {
        const Box box = boxOf(c);
        const bool hit = box.r0 <= box.r1 && box.c0 <= box.c1;
        firstRow[size_t(c)] = hit ? box.r0 : -1;
        if (hit) {
            ++rowStart[size_t(box.r0) + 1];
            tallest = std::max(tallest, box.r1 - box.r0 + 1);
        }
    }
    for (int r = 0; r < height; ++r)
        rowStart[size_t(r) + 1] += rowStart[size_t(r)];
    std::vector<int> sorted(static_cast<size_t>(rowStart[size_t(height)]));
    {
        std::vector<int> filled(rowStart.begin(), rowStart.end() - 1);
        for (int c = 0; c < cells; ++c)
            if (firstRow[size_t(c)] >= 0)
                sorted[size_t(filled[size_t(firstRow[size_t(c)])]++)] = c;
    }

    const double xScale = width > 1 ? 1.0 / double(width - 1) : 0.0;
    const double yScale = height > 1 ? 1.0 / double(height - 1) : 0.0;
    ParallelBlocks::run(height, ParallelBlocks::grainFor(width), [&](int, int first, int last) {
        visit.clearRows(first, last);
        const int from = rowStart[size_t(std::max(0, first - tallest + 1))];
        const int to = rowStart[size_t(last)];
        for (int s = from; s < to; ++s) {
            const int cell = sorted[size_t(s)];
            const Box box = boxOf(cell);
            const int r0 = std::max(box.r0, first);
            const int r1 = std::min(box.r1, last - 1);
            if (r0 > r1)
                continue;
            const int k = cell / cellsAcross * resolutionX + cell % cellsAcross;
            const double p00[2] = {g[k].x, g[k].y};
            const double p10[2] = {g[k + 1].x, g[k + 1].y};
            const double p11[2] = {g[k + resolutionX + 1].x, g[k + resolutionX + 1].y};
            const double p01[2] = {g[k + resolutionX].x, g[k + resolutionX].y};
            for (int r = r0; r <= r1; ++r) {
                for (int c = box.c0; c <= box.c1; ++c) {
                    const double p[2] = {double(c) * xScale, double(r) * yScale};
                    double xi = 0.0;
                    double eta = 0.0;
                    if (inverseBilinear(p00, p10, p11, p01, p, xi, eta))
                        visit(size_t(r) * size_t(width) + size_t(c), k, std::clamp(xi, 0.0, 1.0),
                              std::clamp(eta, 0.0, 1.0));
                }
            }
        }
    });
}

void CurvilinearFlowData::calcScalar(int index, int width, int height, float* out) const
{
    if (index < 0 || index >= scalars.size()) {
        qDebug() << "!!!CurvilinearFlowData/calcScalar: no scalar set" << index << "!!!";
        return;
    }
    calcValues(scalars[index], width, height, out);
}

void CurvilinearFlowData::calcValues(const ScalarSet& set, int width, int height, float* out) const
{
    if (!hasTables() || set.values.size() != vectors.size() || !out) {
        qDebug() << "!!!CurvilinearFlowData/calcValues: the set does not fit the grid!!!";
        return;
    }
    if (width <= 0 || height <= 0)
        return;
    ProfileTimer timer(QStringLiteral("calcScalar"));
    timer.start();
    struct Visit
    {
        const float* values;
        float* out;
        int width;
        int stride;
        void clearRows(int first, int last) const
        {
            std::fill(out + size_t(first) * size_t(width), out + size_t(last) * size_t(width),
                      std::numeric_limits<float>::quiet_NaN());
        }
        void operator()(size_t sample, int k, double xi, double eta) const
        {
            const float* v = values + k;
            out[sample] = float((1.0 - eta) * ((1.0 - xi) * v[0] + xi * v[1]) +
                                eta * ((1.0 - xi) * v[stride] + xi * v[stride + 1]));
        }
    };
    scan(width, height, Visit{set.values.get(), out, width, resolutionX});
    timer.stop();
}

void CurvilinearFlowData::calcVector(int width, int height, Vector3* out) const
{
    if (!hasTables() || !out) {
        qDebug() << "!!!CurvilinearFlowData/calcVector: no grid!!!";
        return;
    }
    if (width <= 0 || height <= 0)
        return;
    ProfileTimer timer(QStringLiteral("calcVector"));
    timer.start();
    struct Visit
    {
        const Vector3* values;
        Vector3* out;
        int width;
        int stride;
        void clearRows(int first, int last) const
        {
            const float nan = std::numeric_limits<float>::quiet_NaN();
            std::fill(out + size_t(first) * size_t(width), out + size_t(last) * size_t(width),
                      Vector3(nan, nan, nan));
        }
        void operator()(size_t sample, int k, double xi, double eta) const
        {
            const Vector3* v = values + k;
            const double w00 = (1.0 - xi) * (1.0 - eta);
            const double w10 = xi * (1.0 - eta);
            const double w01 = (1.0 - xi) * eta;
            const double w11 = xi * eta;
            const auto mix = [&](float Vector3::*c) {
                return float(w00 * (v[0].*c) + w10 * (v[1].*c) + w01 * (v[stride].*c) +
                             w11 * (v[stride + 1].*c));
            };
            out[sample] = Vector3(mix(&Vector3::x), mix(&Vector3::y), mix(&Vector3::z));
        }
    };
    scan(width, height, Visit{vectors.get(), out, width, resolutionX});
    timer.stop();
}
