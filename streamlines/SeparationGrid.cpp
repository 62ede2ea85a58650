#include "streamlines/SeparationGrid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <QDebug>

namespace {

bool isPositiveLength(double v)
{
    return std::isfinite(v) && v > 0.0;
}

// Largest cell count numbered without overflow, with room for the 3 x 3 block.
constexpr double maxCellCount = 4.0e18;

std::uint64_t mixCellNumber(std::int64_t key)
{
    std::uint64_t h = std::uint64_t(key);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

} // namespace

SeparationGrid::SeparationGrid(float aspect, double dSep, double dTest, double stepSize,
                               SeparationGrid* recycled)
{
    if (recycled) {
        nodes.swap(recycled->nodes);
        denseCells.swap(recycled->denseCells);
        hashSlots.swap(recycled->hashSlots);
        nodes.clear();
        denseCells.clear();
        hashSlots.clear();
    }
    const double widenedAspect = aspect;
    cell = dTest * dSep;
    if (!isPositiveLength(widenedAspect) || !isPositiveLength(dSep) || !isPositiveLength(dTest) ||
        !isPositiveLength(stepSize) || !isPositiveLength(cell))
        return;

    const double columnsExact = std::ceil(1.0 / cell);
    const double rowsExact = std::ceil((1.0 / widenedAspect) / cell);
    const double ignoreExact = std::ceil(dSep / stepSize);
    if (!(columnsExact >= 1.0) || !(rowsExact >= 1.0) || !std::isfinite(rowsExact) ||
        columnsExact * rowsExact > maxCellCount ||
        !(ignoreExact <= double(std::numeric_limits<int>::max())))
        return;

    columnCount = std::int64_t(columnsExact);
    rowCount = std::int64_t(rowsExact);
    ignoreLimit = std::max(1, int(ignoreExact));
    keepsRun = cell > runStepsPerCell * stepSize;
    const std::int64_t cellCount = columnCount * rowCount;
    hashed = cellCount > denseCellLimit;
    if (hashed)
        hashSlots.resize(1024);
    else
        denseCells.resize(std::size_t(cellCount));
    valid = true;
}

std::size_t SeparationGrid::storageBytes() const
{
    return nodes.capacity() * sizeof(Node) + denseCells.capacity() * sizeof(CellList) +
           hashSlots.capacity() * sizeof(HashSlot);
}

// Converting to an integer truncates toward zero, as the cell rule asks;
// clamping is 1-Lipschitz, so two points within cellSize stay within one
// column or row of each other and the 3 x 3 search stays exact.
inline std::int64_t SeparationGrid::columnOf(double x) const
{
    const double c = x / cell;
    if (!(c > 0.0))
        return 0;
    return c >= double(columnCount - 1) ? columnCount - 1 : std::int64_t(c);
}

inline std::int64_t SeparationGrid::rowOf(double y) const
{
    const double r = y / cell;
    if (!(r > 0.0))
        return 0;
    return r >= double(rowCount - 1) ? rowCount - 1 : std::int64_t(r);
}

// Inline: the separation test looks up nine cells per query.
inline const SeparationGrid::CellList* SeparationGrid::findCell(std::int64_t column,
                                                                std::int64_t row) const
{
    const std::int64_t key = row * columnCount + column;
    if (!hashed)
        return &denseCells[std::size_t(key)];
    const std::size_t mask = hashSlots.size() - 1;
    for (std::size_t i = mixCellNumber(key) & mask;; i = (i + 1) & mask) {
        const HashSlot& slot = hashSlots[i];
        if (slot.key == key)
            return &slot.list;
        if (slot.key < 0)
            return nullptr;
    }
}

SeparationGrid::CellList& SeparationGrid::cellFor(std::int64_t column, std::int64_t row)
{
    const std::int64_t key = row * columnCount + column;
    if (!hashed)
        return denseCells[std::size_t(key)];
    if (2 * (hashUsed + 1) > std::int64_t(hashSlots.size()))
        growHash();
    const std::size_t mask = hashSlots.size() - 1;
    for (std::size_t i = mixCellNumber(key) & mask;; i = (i + 1) & mask) {
        HashSlot& slot = hashSlots[i];
        if (slot.key == key)
            return slot.list;
        if (slot.key < 0) {
            slot.key = key;
            ++hashUsed;
            return slot.list;
        }
    }
}

void SeparationGrid::growHash()
{
    std::vector<HashSlot> old(hashSlots.size() * 2);
    old.swap(hashSlots);
    const std::size_t mask = hashSlots.size() - 1;
    for (const HashSlot& slot : old) {
        if (slot.key < 0)
            continue;
        std::size_t i = mixCellNumber(slot.key) & mask;
        while (hashSlots[i].key >= 0)
            i = (i + 1) & mask;
        hashSlots[i] = slot;
    }
}

void SeparationGrid::commit(const DomainPoint& p)
{
    CellList& list = cellFor(columnOf(p.x), rowOf(p.y));
    const std::int32_t index = std::int32_t(nodes.size());
    nodes.push_back({p, -1});
    if (list.tail < 0)
        list.head = index;
    else
        nodes[std::size_t(list.tail)].next = index;
    list.tail = index;
}

void SeparationGrid::appendToRun(const DomainPoint& p)
{
    if (runs.empty())
        runs.emplace_back();
    Run& open = runs.back();
    if (!open.points.empty()) {
        const DomainPoint& last = open.points.back();
        open.gap = std::max(open.gap, std::hypot(p.x - last.x, p.y - last.y));
    }
    open.points.push_back(p);
    open.removed.push_back(0);
}

void SeparationGrid::closeRun()
{
    if (runs.empty() || runs.back().points.empty())
        return;
    runs.emplace_back();
    hintRun = std::size_t(-1);
    while (runs.size() > keptRuns) {
        const Run& oldest = runs.front();
        for (std::size_t k = 0; k < oldest.points.size(); ++k)
            if (!oldest.removed[k])
                commit(oldest.points[k]);
        runs.erase(runs.begin());
    }
}

// Walks the run from its oldest point; from a point at distance D beyond
// `limit` (which may only shrink meanwhile) the next floor((D - limit) / gap)
// - 1 points cannot come within it and are passed over. Removed points still
// bound the distances of their neighbours, so they are walked, not tested.
template <typename Visit>
void SeparationGrid::walkRun(const Run& run, double x, double y, const double& limit,
                             std::int64_t& tests, const Visit& visit)
{
    // The margins keep every pass over points far above rounding.
    const double gap = run.gap * (1.0 + 1e-6) + 1e-12;
    const std::size_t n = run.points.size();
    for (std::size_t k = 0; k < n;) {
        const DomainPoint& q = run.points[k];
        ++tests;
        const double dx = q.x - x;
        const double dy = q.y - y;
        const double squared = dx * dx + dy * dy;
        const double bound = limit * (1.0 + 1e-6) + 1e-12;
        if (squared <= bound * bound) {
            if (!run.removed[k] && !visit(k, squared))
                return;
            ++k;
            continue;
        }
        const double reach = (std::sqrt(squared) - bound) / gap;
        k += reach >= 2.0 ? (reach < double(n) ? std::size_t(reach) : n) : 1;
    }
}

bool SeparationGrid::isFarFromRuns(double x, double y, std::int64_t c, std::int64_t r,
                                   double* nearest, double& nearestLimit) const
{
    const double margin = 1.0 + 1e-9;
    const double cellLimit = cell * cell * margin;
    double limit = std::sqrt(std::max(cellLimit, nearestLimit));
    std::int64_t tests = 0;
    bool far = true;
    for (const Run& run : runs) {
        walkRun(run, x, y, limit, tests, [&](std::size_t k, double squared) {
            if (squared > cellLimit && squared > nearestLimit)
                return true;
            // Only the points of the 3 x 3 block count, as in the cells.
            const DomainPoint& q = run.points[k];
            const std::int64_t qc = columnOf(q.x);
            const std::int64_t qr = rowOf(q.y);
            if (qc < c - 1 || qc > c + 1 || qr < r - 1 || qr > r + 1)
                return true;
            const double e = std::sqrt(squared);
            if (nearest && e < *nearest) {
                *nearest = e;
                nearestLimit = e * e * margin;
                limit = std::sqrt(std::max(cellLimit, nearestLimit));
            }
            if (e <= cell) {
                far = false;
                if (!nearest)
                    keepWitness(q);
                return false;
            }
            return true;
        });
        if (!far)
            break;
    }
    testCount += tests;
    return far;
}

void SeparationGrid::keepWitness(const DomainPoint& q) const
{
    witnesses[nextWitness] = q;
    nextWitness = (nextWitness + 1) % witnessSlots;
    witnessCount = std::min(witnessCount + 1, witnessSlots);
}

bool SeparationGrid::isFarEnough(double x, double y, double* nearest, double nearestCap) const
{
    if (nearest)
        *nearest = std::min(1.0, nearestCap);
    if (!valid || !std::isfinite(x) || !std::isfinite(y))
        return false;
    // Squared distances screen out the points that can neither fail the test
    // nor lower the nearest distance; the margin lies far above rounding, so
    // the square root is taken exactly where it can matter and every result
    // equals that of taking it for every point.
    const double margin = 1.0 + 1e-9;
    const double cellLimit = cell * cell * margin;
    if (!nearest) {
        for (int w = 0; w < witnessCount; ++w) {
            ++testCount;
            const double dx = witnesses[w].x - x;
            const double dy = witnesses[w].y - y;
            const double squared = dx * dx + dy * dy;
            if (squared <= cellLimit && std::sqrt(squared) <= cell)
                return false;
        }
    }
    double nearestLimit = nearest ? *nearest * *nearest * margin : 0.0;
    const std::int64_t c = columnOf(x);
    const std::int64_t r = rowOf(y);
    std::int64_t tests = 0;
    // The query's own cell first, where a refusing point mostly lies; the
    // answer and the nearest distance do not depend on the order.
    static constexpr int blockOrder[9][2] = {{0, 0}, {-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                             {0, 1}, {1, -1},  {1, 0},  {1, 1}};
    for (const auto& offset : blockOrder) {
        const std::int64_t column = c + offset[0];
        const std::int64_t row = r + offset[1];
        if (column < 0 || column >= columnCount || row < 0 || row >= rowCount)
            continue;
        const CellList* list = findCell(column, row);
        if (!list)
            continue;
        for (std::int32_t i = list->head; i >= 0; i = nodes[std::size_t(i)].next) {
            ++tests;
            const DomainPoint& q = nodes[std::size_t(i)].point;
            const double dx = q.x - x;
            const double dy = q.y - y;
            const double squared = dx * dx + dy * dy;
            if (squared > cellLimit && squared > nearestLimit)
                continue;
            const double e = std::sqrt(squared);
            if (nearest && e < *nearest) {
                *nearest = e;
                nearestLimit = e * e * margin;
            }
            if (e <= cell) {
                testCount += tests;
                if (!nearest)
                    keepWitness(q);
                return false;
            }
        }
    }
    testCount += tests;
    // Without runs (steps long against the cells) nothing is left to test.
    return runs.empty() || isFarFromRuns(x, y, c, r, nearest, nearestLimit);
}

bool SeparationGrid::addPoint(double x, double y, double* nearest, double nearestCap)
{
    if (!isFarEnough(x, y, nearest, nearestCap))
        return false;
    if (int(ignoreQueue.size()) >= ignoreLimit) {
        const DomainPoint& p = ignoreQueue.front();
        if (keepsRun)
            appendToRun(p);
        else
            commit(p);
        ++committedCount;
        ignoreQueue.pop_front();
    }
    ignoreQueue.push_back({x, y});
    return true;
}

void SeparationGrid::commitIgnored()
{
    for (const DomainPoint& p : ignoreQueue) {
        if (keepsRun)
            appendToRun(p);
        else
            commit(p);
    }
    committedCount += std::int64_t(ignoreQueue.size());
    ignoreQueue.clear();
    if (keepsRun)
        closeRun();
}

void SeparationGrid::ignorePoint(double x, double y)
{
    witnessCount = 0;
    const std::int32_t none = -1;
    std::int32_t best = none;
    std::int32_t beforeBest = none;
    // Runs hold newer points than the cells: one of theirs wins only when
    // strictly nearer, so the first stored among equals stays the choice.
    const std::size_t noRun = runs.size();
    std::size_t bestRun = noRun;
    std::size_t bestInRun = 0;
    if (valid && std::isfinite(x) && std::isfinite(y)) {
        double bestDistance = std::numeric_limits<double>::infinity();
        if (const CellList* list = findCell(columnOf(x), rowOf(y))) {
            std::int32_t previous = none;
            for (std::int32_t i = list->head; i >= 0; i = nodes[std::size_t(i)].next) {
                const DomainPoint& q = nodes[std::size_t(i)].point;
                const double dx = q.x - x;
                const double dy = q.y - y;
                const double e = std::sqrt(dx * dx + dy * dy);
                if (best == none || e < bestDistance) {
                    best = i;
                    beforeBest = previous;
                    bestDistance = e;
                }
                previous = i;
            }
        }
        const std::int64_t c = columnOf(x);
        const std::int64_t r = rowOf(y);
        auto inCell = [&](const DomainPoint& q) { return columnOf(q.x) == c && rowOf(q.y) == r; };
        // A hand-over ignores a line's first points newest first: the point
        // before the last one ignored is the likely match, and a near first
        // candidate lets the walk pass over nearly everything else.
        if (bestDistance > 0.0 && hintRun < runs.size() && hintIndex > 0) {
            const Run& run = runs[hintRun];
            const std::size_t k = hintIndex - 1;
            const DomainPoint& q = run.points[k];
            const double e = std::sqrt((q.x - x) * (q.x - x) + (q.y - y) * (q.y - y));
            if (!run.removed[k] && e < bestDistance && inCell(q)) {
                bestRun = hintRun;
                bestInRun = k;
                bestDistance = e;
            }
        }
        std::int64_t tests = 0;
        for (std::size_t index = 0; index < runs.size() && bestDistance > 0.0; ++index) {
            const Run& run = runs[index];
            walkRun(run, x, y, bestDistance, tests, [&](std::size_t k, double squared) {
                const double e = std::sqrt(squared);
                const bool before =
                    bestRun != noRun && (index < bestRun || (index == bestRun && k < bestInRun));
                if ((e < bestDistance || (e == bestDistance && before)) && inCell(run.points[k])) {
                    bestRun = index;
                    bestInRun = k;
                    bestDistance = e;
                }
                return true;
            });
        }
        testCount += tests;
    }
    if (bestRun != noRun) {
        runs[bestRun].removed[bestInRun] = 1;
        hintRun = bestRun;
        hintIndex = bestInRun;
        --committedCount;
        ignoreQueue.push_back({x, y});
        return;
    }
    if (best == none) {
        qDebug() << "to ignore point NOT FOUND!!!";
        return;
    }

    CellList& list = cellFor(columnOf(x), rowOf(y));
    const std::int32_t after = nodes[std::size_t(best)].next;
    if (beforeBest == none)
        list.head = after;
    else
        nodes[std::size_t(beforeBest)].next = after;
    if (list.tail == best)
        list.tail = beforeBest;
    --committedCount;
    ignoreQueue.push_back({x, y});
}
