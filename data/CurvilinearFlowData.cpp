#include "data/CurvilinearFlowData.h"

#include "data/CellInverse.h"
#include "data/CellRasterMap.h"
#include "data/ParallelBlocks.h"
#include "data/ProfileTimer.h"

#include <QDebug>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr double cellTolerance = CellInverse::tolerance;
// Upper bound of the buckets per axis (memory for the bucket grid).
constexpr int maxBucketsPerAxis = 2048;
// Raster maps take 12 bytes a sample: one of a zoomed-in 2800 x 2800 layer
// is still kept, and all kept maps together stay within 200 MB.
constexpr size_t maxKeptSamples = size_t(1) << 23;
constexpr size_t maxKeptSamplesInAll = size_t(1) << 24;
// Samples per cell above which a raster is resampled cell by cell rather
// than by walking its rows (measured on a turned 1000 x 1000 grid).
constexpr double finerRaster = 3.0;

// Raster lines k0 ... k1 whose position k / (count - 1) lies in [low, high].
void rasterSpan(double low, double high, int count, int& k0, int& k1)
{
    const double scale = count > 1 ? double(count - 1) : 0.0;
    const double slack = 1e-9 * scale + 1e-9;
    k0 = std::max(0, int(std::ceil(low * scale - slack)));
    k1 = std::min(count - 1, int(std::floor(high * scale + slack)));
}

// The cell whose first corner is grid point k, in a grid `stride` points wide.
inline CellInverse inverseOf(const Vector3* g, int stride, int k)
{
    const double p00[2] = {g[k].x, g[k].y};
    const double p10[2] = {g[k + 1].x, g[k + 1].y};
    const double p11[2] = {g[k + stride + 1].x, g[k + stride + 1].y};
    const double p01[2] = {g[k + stride].x, g[k + stride].y};
    return CellInverse(p00, p10, p11, p01);
}

// Fills every sample of the map's raster, rows split over the cores, from
// the four grid values around it; outside every cell it is `outside`.
template <typename T, typename Weigh>
void gather(const CellRasterMap& map, T* out, const T& outside, Weigh weigh)
{
    const size_t width = size_t(map.width());
    const CellRasterMap::Sample* samples = map.data();
    ParallelBlocks::run(map.height(), ParallelBlocks::grainFor(map.width()),
                        [&](int, int first, int last) {
                            const size_t end = size_t(last) * width;
                            for (size_t s = size_t(first) * width; s < end; ++s) {
                                const CellRasterMap::Sample& m = samples[s];
                                out[s] = m.corner < 0 ? outside : weigh(m);
                            }
                        });
}

} // namespace

// The maps of the last raster sizes asked for, each slot read and replaced
// atomically, so that workers on other threads never wait for each other.
struct CurvilinearFlowData::RasterMaps
{
    static constexpr int count = 3;
    std::shared_ptr<const CellRasterMap> slot[count];
    std::atomic<unsigned> next{0};
};

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
    return CellInverse(p00, p10, p11, p01).solve(p, xi, eta);
}

bool CurvilinearFlowData::cellContains(int column, int row, double x, double y, double& xi,
                                       double& eta) const
{
    const double p[2] = {x, y};
    return inverseOf(geometry.get(), resolutionX, row * resolutionX + column).solve(p, xi, eta);
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
        maps = grid->maps;
        return;
    }
    bucketStart.release();
    bucketCells.release();
    maps.reset(new (std::nothrow) RasterMaps);
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
// each bucket, the second lists them. A bucket is about four cells on a
// side: a lookup rarely comes to the buckets (see locate), and a coarser
// grid lists each cell in fewer of them.
bool CurvilinearFlowData::buildBuckets()
{
    const int cellsAcross = resolutionX - 1;
    const int cells = cellsAcross * (resolutionY - 1);
    const int perAxis =
        std::clamp(int(std::ceil(0.25 * std::sqrt(double(cells)))), 1, maxBucketsPerAxis);
    bucketsX = perAxis;
    bucketsY = perAxis;
    const Vector3* g = geometry.get();
    // Bucket numbers grow with the position, so a cell's box covers the
    // extremes of its four corners' buckets, each corner's worked out once a
    // pass for the four cells around it. The boxes are worked out again in
    // each pass rather than kept: an array of them is two thirds the size of
    // the geometry, and faulting it in and reading it back costs more than the
    // comparisons.
    struct Corner
    {
        int x0, x1, y0, y1;
    };
    const auto bucket = [](double t, int n) { return std::clamp(int(t * n), 0, n - 1); };
    const auto cornersOf = [&](int gridRow, std::vector<Corner>& out) {
        const Vector3* p = g + size_t(gridRow) * size_t(resolutionX);
        for (int i = 0; i < resolutionX; ++i)
            out[size_t(i)] = Corner{bucket(double(p[i].x) - cellTolerance, bucketsX),
                                    bucket(double(p[i].x) + cellTolerance, bucketsX),
                                    bucket(double(p[i].y) - cellTolerance, bucketsY),
                                    bucket(double(p[i].y) + cellTolerance, bucketsY)};
    };
    // Calls visit(bucket, cell) for each bucket the box of each cell in
    // [first, last) overlaps, in cell order.
    const auto forBuckets = [&](int first, int last, const auto& visit) {
        std::vector<Corner> lower(static_cast<size_t>(resolutionX));
        std::vector<Corner> upper(static_cast<size_t>(resolutionX));
        int cell = first;
        int loaded = -1;
        while (cell < last) {
            const int row = cell / cellsAcross;
            const int rowEnd = std::min(last, (row + 1) * cellsAcross);
            if (loaded == row)
                lower.swap(upper);
            else
                cornersOf(row, lower);
            cornersOf(row + 1, upper);
            loaded = row + 1;
            for (int i = cell % cellsAcross; cell < rowEnd; ++cell, ++i) {
                const Corner& a = lower[size_t(i)];
                const Corner& b = lower[size_t(i) + 1];
                const Corner& c = upper[size_t(i)];
                const Corner& d = upper[size_t(i) + 1];
                const int x0 = std::min(std::min(a.x0, b.x0), std::min(c.x0, d.x0));
                const int x1 = std::max(std::max(a.x1, b.x1), std::max(c.x1, d.x1));
                const int y0 = std::min(std::min(a.y0, b.y0), std::min(c.y0, d.y0));
                const int y1 = std::max(std::max(a.y1, b.y1), std::max(c.y1, d.y1));
                for (int by = y0; by <= y1; ++by)
                    for (int bx = x0; bx <= x1; ++bx)
                        visit(by * bucketsX + bx, cell);
            }
        }
    };
    const int buckets = bucketsX * bucketsY;
    if (!bucketStart.allocate(buckets + 1))
        return false;
    // The cells in one contiguous run per thread, each run with counts of
    // its own: no two threads write one count, and every box is read once a
    // pass. A bucket lists run 0's cells, then run 1's, and so on, so every
    // list comes out ascending on any split.
    constexpr int maxRuns = 8;
    const int threads = std::clamp(QThread::idealThreadCount(), 1, maxRuns);
    const int runGrain =
        cells < ParallelBlocks::unitsPerBlock ? cells : (cells + threads - 1) / threads;
    const int runs = ParallelBlocks::countFor(cells, runGrain);
    SharedArray<int> runCounts;
    if (qint64(runs) * buckets > std::numeric_limits<int>::max() ||
        !runCounts.allocate(runs * buckets))
        return false;
    int* counts = runCounts.get();
    ParallelBlocks::run(cells, runGrain, [&](int run, int first, int last) {
        int* count = counts + qint64(run) * buckets;
        std::fill(count, count + buckets, 0);
        forBuckets(first, last, [count](int b, int) { ++count[b]; });
    });
    // Each run's count becomes where its cells of the bucket start.
    int* start = bucketStart.get();
    qint64 entries = 0;
    for (int b = 0; b < buckets; ++b) {
        start[b] = int(entries);
        for (int run = 0; run < runs; ++run) {
            int& count = counts[qint64(run) * buckets + b];
            const int n = count;
            count = int(entries);
            entries += n;
        }
        if (entries > std::numeric_limits<int>::max())
            return false;
    }
    start[buckets] = int(entries);
    if (!bucketCells.allocateForOverwrite(int(entries)))
        return false;
    int* list = bucketCells.get();
    ParallelBlocks::run(cells, runGrain, [&](int run, int first, int last) {
        int* next = counts + qint64(run) * buckets;
        forBuckets(first, last, [next, list](int b, int cell) { list[next[b]++] = cell; });
    });
    return true;
}

bool CurvilinearFlowData::locate(double x, double y, int& column, int& row, double& xi,
                                 double& eta) const
{
    if (!hasTables() || !std::isfinite(x) || !std::isfinite(y))
        return false;
    // A tracer steps within a cell or into a neighbour most of the time, so
    // the cell found last on this thread is tried first, then the cells its
    // cell coordinates point to.
    thread_local int lastColumn = 0;
    thread_local int lastRow = 0;
    const int across = resolutionX - 1;
    const int down = resolutionY - 1;
    if (lastColumn < across && lastRow < down) {
        if (cellContains(lastColumn, lastRow, x, y, xi, eta)) {
            column = lastColumn;
            row = lastRow;
            return true;
        }
        // The miss's cell coordinates point the way; a walk of a few cells
        // also serves the tracer's jumps (back to a seed, to a candidate a
        // separation away) that would otherwise each search a bucket.
        int c = lastColumn;
        int r = lastRow;
        CellInverse cell;
        if (walkTo(x, y, c, r, xi, eta, cell)) {
            column = lastColumn = c;
            row = lastRow = r;
            return true;
        }
    }
    if (!searchBucket(x, y, column, row, xi, eta))
        return false;
    lastColumn = column;
    lastRow = row;
    return true;
}

bool CurvilinearFlowData::searchBucket(double x, double y, int& column, int& row, double& xi,
                                       double& eta) const
{
    if (x < -cellTolerance || x > 1.0 + cellTolerance || y < -cellTolerance ||
        y > 1.0 + cellTolerance)
        return false;
    const int across = resolutionX - 1;
    const int bx = std::clamp(int(x * bucketsX), 0, bucketsX - 1);
    const int by = std::clamp(int(y * bucketsY), 0, bucketsY - 1);
    const int bucket = by * bucketsX + bx;
    const Vector3* g = geometry.get();
    for (int e = bucketStart[bucket]; e < bucketStart[bucket + 1]; ++e) {
        const int cell = bucketCells[e];
        const int cellColumn = cell % across;
        const int cellRow = cell / across;
        // Most cells of a bucket miss the point by their bounding box, which
        // costs far less than the inverse map. The box is widened by what
        // the inverse's tolerance can reach beyond the corners.
        const int k = cellRow * resolutionX + cellColumn;
        const Vector3& p00 = g[k];
        const Vector3& p10 = g[k + 1];
        const Vector3& p01 = g[k + resolutionX];
        const Vector3& p11 = g[k + resolutionX + 1];
        const double x0 = std::min(std::min(p00.x, p10.x), std::min(p01.x, p11.x));
        const double x1 = std::max(std::max(p00.x, p10.x), std::max(p01.x, p11.x));
        const double y0 = std::min(std::min(p00.y, p10.y), std::min(p01.y, p11.y));
        const double y1 = std::max(std::max(p00.y, p10.y), std::max(p01.y, p11.y));
        const double margin = cellTolerance + 4.0 * CellInverse::tolerance * (x1 - x0 + y1 - y0);
        if (x < x0 - margin || x > x1 + margin || y < y0 - margin || y > y1 + margin)
            continue;
        if (cellContains(cellColumn, cellRow, x, y, xi, eta)) {
            column = cellColumn;
            row = cellRow;
            return true;
        }
    }
    return false;
}

// From the cell (column, row), which does not hold (x, y), towards it: the
// miss's (xi, eta) in that cell say how many cells on the point lies along
// each grid direction, exactly so on a parallelogram grid and nearly on any
// smooth one, so a few jumps reach it. False where a jump would leave the
// grid (outside it, or across a cut) or the cells give no direction (a fold,
// a collapsed cell); the buckets then decide.
bool CurvilinearFlowData::walkTo(double x, double y, int& column, int& row, double& xi, double& eta,
                                 CellInverse& cell) const
{
    constexpr int maxJumps = 4;
    constexpr double maxCells = 8.0;
    const double p[2] = {x, y};
    int c = column;
    int r = row;
    for (int jump = 0; jump < maxJumps; ++jump) {
        if (!std::isfinite(xi) || !std::isfinite(eta))
            return false;
        // floor by truncation: the values are bounded to +-maxCells first.
        const double across = std::clamp(xi, -maxCells, maxCells);
        const double down = std::clamp(eta, -maxCells, maxCells);
        const int dc = int(across) - (across < double(int(across)) ? 1 : 0);
        const int dr = int(down) - (down < double(int(down)) ? 1 : 0);
        if (dc == 0 && dr == 0)
            return false;
        c += dc;
        r += dr;
        if (c < 0 || c >= resolutionX - 1 || r < 0 || r >= resolutionY - 1)
            return false;
        xi = std::numeric_limits<double>::quiet_NaN();
        eta = xi;
        const CellInverse next = inverseOf(geometry.get(), resolutionX, r * resolutionX + c);
        if (next.solve(p, xi, eta)) {
            cell = next;
            column = c;
            row = r;
            return true;
        }
    }
    return false;
}

int CurvilinearFlowData::cellAt(double x, double y, double* xi, double* eta) const
{
    int column = 0;
    int row = 0;
    double a = 0.0;
    double b = 0.0;
    if (!locate(x, y, column, row, a, b))
        return -1;
    if (xi)
        *xi = a;
    if (eta)
        *eta = b;
    return row * (resolutionX - 1) + column;
}

Vector3 CurvilinearFlowData::vectorAt(double x, double y) const
{
    int column = 0;
    int row = 0;
    double xi = 0.0;
    double eta = 0.0;
    if (!locate(x, double(aspect) * y, column, row, xi, eta))
        return Vector3();
    return vectors[row * resolutionX + column];
}

// Calls visit(sample, k, xi, eta) for every raster sample inside a cell,
// with k the cell's first corner, after the sample rows of the block have
// been cleared by clearRows(first, last). For rasters not much finer than
// the grid (a few samples a cell at most).
// The rows go in bands of a fixed height. The first two rows of a band walk
// from sample to sample through the grid, starting from the cell of the one
// before, and ask the buckets only where the walk fails (a row's first
// sample, the edge of the grid, a cut). Every later row guesses each
// sample's cell from the two samples above it (their grid positions
// extrapolated, exact on a parallelogram grid, within a cell or so on any
// smooth one) and walks from there: the samples of such a row do not wait
// for each other, which is most of the time a walk from the sample before
// costs. A band finds the same cells on any split of the bands.
template <typename Visit>
void CurvilinearFlowData::scanRows(int width, int height, Visit visit) const
{
    constexpr int bandRows = 64;
    const double xScale = width > 1 ? 1.0 / double(width - 1) : 0.0;
    const double yScale = height > 1 ? 1.0 / double(height - 1) : 0.0;
    const Vector3* g = geometry.get();
    const int bands = (height + bandRows - 1) / bandRows;
    // A sample's cell plus its (xi, eta): its position in grid columns and
    // rows; NaN outside every cell.
    struct GridPosition
    {
        float column;
        float row;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ParallelBlocks::run(
        bands, ParallelBlocks::grainFor(4 * bandRows * width),
        [&](int, int firstBand, int lastBand) {
            const int first = firstBand * bandRows;
            const int last = std::min(height, lastBand * bandRows);
            visit.clearRows(first, last);
            std::vector<GridPosition> above(static_cast<size_t>(width));
            std::vector<GridPosition> twoAbove(static_cast<size_t>(width));
            for (int r = first; r < last; ++r) {
                const bool guessing = (r % bandRows) >= 2;
                const double y = double(r) * yScale;
                bool known = false;
                int column = 0;
                int row = 0;
                // The cell found last: on a raster finer than the grid most
                // samples lie in the cell of the one before.
                CellInverse cell;
                for (int c = 0; c < width; ++c) {
                    const double p[2] = {double(c) * xScale, y};
                    double xi = std::numeric_limits<double>::quiet_NaN();
                    double eta = xi;
                    bool found = false;
                    if (guessing) {
                        const GridPosition& a = above[size_t(c)];
                        const GridPosition& b = twoAbove[size_t(c)];
                        // NaN fails the comparisons.
                        const float guessColumn = 2.0f * a.column - b.column;
                        const float guessRow = 2.0f * a.row - b.row;
                        if (guessColumn >= 0.0f && guessRow >= 0.0f &&
                            guessColumn < float(resolutionX - 1) &&
                            guessRow < float(resolutionY - 1)) {
                            int guessedColumn = int(guessColumn);
                            int guessedRow = int(guessRow);
                            CellInverse guessed =
                                inverseOf(g, resolutionX, guessedRow * resolutionX + guessedColumn);
                            found = guessed.solve(p, xi, eta) ||
                                    walkTo(p[0], y, guessedColumn, guessedRow, xi, eta, guessed);
                            if (found) {
                                cell = guessed;
                                column = guessedColumn;
                                row = guessedRow;
                                known = true;
                            }
                        }
                    }
                    if (!found && !(known && cell.solve(p, xi, eta))) {
                        if (!(known && walkTo(p[0], y, column, row, xi, eta, cell))) {
                            known = searchBucket(p[0], y, column, row, xi, eta);
                            if (!known) {
                                twoAbove[size_t(c)] = GridPosition{nan, nan};
                                continue;
                            }
                            cell = inverseOf(g, resolutionX, row * resolutionX + column);
                        }
                    }
                    xi = std::clamp(xi, 0.0, 1.0);
                    eta = std::clamp(eta, 0.0, 1.0);
                    // This row's positions replace those two rows up, which the
                    // next row no longer needs.
                    twoAbove[size_t(c)] =
                        GridPosition{float(double(column) + xi), float(double(row) + eta)};
                    visit(size_t(r) * size_t(width) + size_t(c), row * resolutionX + column, xi,
                          eta);
                }
                above.swap(twoAbove);
            }
        });
}

// scanRows' work for a raster finer than the grid, cell by cell: each cell
// tries the samples of its box, with what depends on the corners alone
// worked out once. The cells are sorted by the first raster row they touch,
// so that a block of rows visits only its own cells.
template <typename Visit>
void CurvilinearFlowData::scanCells(int width, int height, Visit visit) const
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

    // The boxes on every core, then a counting sort by first row; cells that
    // miss every raster row are left out.
    std::vector<Box> boxes(static_cast<size_t>(cells));
    const int boxGrain = ParallelBlocks::grainFor(64);
    std::vector<int> tallestOf(size_t(ParallelBlocks::countFor(cells, boxGrain)), 0);
    ParallelBlocks::run(cells, boxGrain, [&](int block, int first, int last) {
        int tall = 0;
        for (int c = first; c < last; ++c) {
            Box& box = boxes[size_t(c)];
            box = boxOf(c);
            if (box.r0 <= box.r1 && box.c0 <= box.c1)
                tall = std::max(tall, box.r1 - box.r0 + 1);
            else
                box.r0 = -1;
        }
        tallestOf[size_t(block)] = tall;
    });
    const int tallest =
        tallestOf.empty() ? 0 : *std::max_element(tallestOf.begin(), tallestOf.end());
    std::vector<int> rowStart(size_t(height) + 1, 0);
    for (const Box& box : boxes)
        if (box.r0 >= 0)
            ++rowStart[size_t(box.r0) + 1];
    for (int r = 0; r < height; ++r)
        rowStart[size_t(r) + 1] += rowStart[size_t(r)];
    struct Entry
    {
        int cell;
        Box box;
    };
    std::vector<Entry> sorted(static_cast<size_t>(rowStart[size_t(height)]));
    {
        std::vector<int> filled(rowStart.begin(), rowStart.end() - 1);
        for (int c = 0; c < cells; ++c)
            if (boxes[size_t(c)].r0 >= 0)
                sorted[size_t(filled[size_t(boxes[size_t(c)].r0)]++)] = {c, boxes[size_t(c)]};
    }
    std::vector<Box>().swap(boxes);

    const double xScale = width > 1 ? 1.0 / double(width - 1) : 0.0;
    const double yScale = height > 1 ? 1.0 / double(height - 1) : 0.0;
    ParallelBlocks::run(height, ParallelBlocks::grainFor(width), [&](int, int first, int last) {
        visit.clearRows(first, last);
        const int from = rowStart[size_t(std::max(0, first - tallest + 1))];
        const int to = rowStart[size_t(last)];
        for (int s = from; s < to; ++s) {
            const int cell = sorted[size_t(s)].cell;
            const Box& box = sorted[size_t(s)].box;
            const int r0 = std::max(box.r0, first);
            const int r1 = std::min(box.r1, last - 1);
            if (r0 > r1)
                continue;
            const int k = cell / cellsAcross * resolutionX + cell % cellsAcross;
            const CellInverse inverse = inverseOf(g, resolutionX, k);
            for (int r = r0; r <= r1; ++r) {
                for (int c = box.c0; c <= box.c1; ++c) {
                    const double p[2] = {double(c) * xScale, double(r) * yScale};
                    double xi = 0.0;
                    double eta = 0.0;
                    if (inverse.solve(p, xi, eta))
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

void CurvilinearFlowData::dropRasterMaps() const
{
    if (!maps)
        return;
    for (std::shared_ptr<const CellRasterMap>& slot : maps->slot)
        std::atomic_store(&slot, std::shared_ptr<const CellRasterMap>());
}

std::shared_ptr<const CellRasterMap> CurvilinearFlowData::rasterMap(int width, int height) const
{
    if (maps) {
        for (const std::shared_ptr<const CellRasterMap>& slot : maps->slot) {
            std::shared_ptr<const CellRasterMap> kept = std::atomic_load(&slot);
            if (kept && kept->width() == width && kept->height() == height)
                return kept;
        }
    }
    std::shared_ptr<CellRasterMap> built = CellRasterMap::create(width, height);
    if (!built)
        return nullptr;
    struct Visit
    {
        CellRasterMap::Sample* samples;
        int width;
        void clearRows(int first, int last) const
        {
            std::fill(samples + size_t(first) * size_t(width),
                      samples + size_t(last) * size_t(width),
                      CellRasterMap::Sample{-1, 0.0f, 0.0f});
        }
        void operator()(size_t sample, int k, double xi, double eta) const
        {
            samples[sample] = CellRasterMap::Sample{k, float(xi), float(eta)};
        }
    };
    // Walking costs a cell's set-up at every change of cell; on a raster
    // much finer than the grid, cell by cell costs it once.
    const double samplesPerCell =
        double(width) * double(height) / (double(resolutionX - 1) * double(resolutionY - 1));
    if (samplesPerCell > finerRaster)
        scanCells(width, height, Visit{built->data(), width});
    else
        scanRows(width, height, Visit{built->data(), width});
    if (maps && built->size() <= maxKeptSamples) {
        // Room for the new map first: the oldest go while the rest would
        // exceed the bound.
        const unsigned first = maps->next.fetch_add(1u);
        size_t kept = built->size();
        for (int n = 1; n < RasterMaps::count; ++n) {
            std::shared_ptr<const CellRasterMap>& slot =
                maps->slot[(first + unsigned(n)) % RasterMaps::count];
            const std::shared_ptr<const CellRasterMap> other = std::atomic_load(&slot);
            if (other && kept + other->size() > maxKeptSamplesInAll)
                std::atomic_store(&slot, std::shared_ptr<const CellRasterMap>());
            else if (other)
                kept += other->size();
        }
        std::atomic_store(&maps->slot[first % RasterMaps::count],
                          std::shared_ptr<const CellRasterMap>(built));
    }
    return built;
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
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::shared_ptr<const CellRasterMap> map = rasterMap(width, height);
    if (!map) {
        qDebug() << "CurvilinearFlowData/calcValues: no memory for the raster's cells";
        std::fill(out, out + size_t(width) * size_t(height), nan);
        return;
    }
    const float* values = set.values.get();
    const int stride = resolutionX;
    gather(*map, out, nan, [&](const CellRasterMap::Sample& m) {
        const float* v = values + m.corner;
        const float low = v[0] + m.xi * (v[1] - v[0]);
        const float high = v[stride] + m.xi * (v[stride + 1] - v[stride]);
        return low + m.eta * (high - low);
    });
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
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Vector3 outside(nan, nan, nan);
    const std::shared_ptr<const CellRasterMap> map = rasterMap(width, height);
    if (!map) {
        qDebug() << "CurvilinearFlowData/calcVector: no memory for the raster's cells";
        std::fill(out, out + size_t(width) * size_t(height), outside);
        return;
    }
    const Vector3* values = vectors.get();
    const int stride = resolutionX;
    gather(*map, out, outside, [&](const CellRasterMap::Sample& m) {
        const Vector3* v = values + m.corner;
        const auto mix = [&](float Vector3::*c) {
            const float low = v[0].*c + m.xi * (v[1].*c - v[0].*c);
            const float high = v[stride].*c + m.xi * (v[stride + 1].*c - v[stride].*c);
            return low + m.eta * (high - low);
        };
        return Vector3(mix(&Vector3::x), mix(&Vector3::y), mix(&Vector3::z));
    });
    timer.stop();
}
