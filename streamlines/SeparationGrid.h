#pragma once

#include "streamlines/DomainPoint.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// The committed sample points of one placement, bucketed into square cells as
// wide as the separation distance (cellSize = dTest * dSep), so that every
// committed point within cellSize of a query lies in the query's 3 x 3 block
// and the separation test is exact. Cell (c, r) is number r * columns + c,
// c = trunc(x / cellSize), r = trunc(y / cellSize), clamped into the grid, so
// points on the far borders (x = 1, y = 1 / aspect) use the last column or row.
//
// Storage grows with the points, not with the cells: every cell is a singly
// linked list (commit order) in one node pool; the cell heads sit in a dense
// table while the grid has at most denseCellLimit cells and in an
// open-addressing hash table keyed by cell number beyond that, so tiny
// separation distances (10^10 cells) cost no more memory than coarse ones.
//
// The ignore queue holds the newest points of the line being traced. They are
// not committed yet, so a line is never stopped by its own last steps.
//
// When the steps are short against the cells (more than runStepsPerCell of
// them to a cell's width), committed points are first held in runs, in commit
// order: the part of a line committed between two commitIgnored calls is one
// run, the newest keptRuns runs are kept apart, and older ones go into the
// cells in the same order. A query walks a run with steps bounded by the
// largest gap between its neighbouring points: from a point at distance D it
// passes over every point that cannot come within the limit, so a long line
// does not scan its own thousands of points, nor those of its other half,
// in the cells around its head at every step; every result equals that of
// testing each point.
class SeparationGrid
{
public:
    // Cells in a dense head table at most; larger grids hash their cells.
    static constexpr std::int64_t denseCellLimit = std::int64_t(1) << 21;
    // Below this many steps to a cell's width a line's own points in the
    // cells cost less than walking the run.
    static constexpr double runStepsPerCell = 16.0;

    // aspect is the data set's width / height; lengths in domain units.
    // With `recycled`, a grid of an earlier placement, its storage is taken
    // over (and it is left empty): a placement like the last one then grows
    // no table a point at a time, nor faults in fresh pages.
    SeparationGrid(float aspect, double dSep = 0.05, double dTest = 0.5,
                   double stepSize = double(0.004f), SeparationGrid* recycled = nullptr);

    // False when the parameters give no usable grid (a non-positive or
    // non-finite length or aspect, or more cells than 64-bit numbering allows).
    // An invalid grid accepts no point.
    bool isValid() const { return valid; }

    // True when no committed point lies within cellSize of (x, y). When
    // nearest is given it receives the smaller of 1.0 and the distance to the
    // nearest committed point of the 3 x 3 block. A non-finite point is never
    // far enough.
    // nearestCap, when below 1.0, caps *nearest instead: a caller that only
    // tells distances below the cap apart lets the test pass over more points.
    bool isFarEnough(double x, double y, double* nearest = nullptr, double nearestCap = 1.0) const;
    // Applies isFarEnough; on success commits the oldest queued point once the
    // queue holds ignoreCount points and queues (x, y).
    bool addPoint(double x, double y, double* nearest, double nearestCap = 1.0);
    void commitIgnored();
    // Moves the committed point of (x, y)'s cell nearest to it (the first
    // stored among equals) back into the ignore queue as (x, y).
    void ignorePoint(double x, double y);

    int ignoreCount() const { return ignoreLimit; }
    double cellSize() const { return cell; }
    std::int64_t columns() const { return columnCount; }
    std::int64_t rows() const { return rowCount; }
    int queuedPoints() const { return int(ignoreQueue.size()); }
    std::int64_t committedPoints() const { return committedCount; }
    bool usesHashedCells() const { return hashed; }
    // Committed points measured against a query so far: the work of the
    // grid, which a caller may bound.
    std::int64_t distanceTests() const { return testCount; }
    // The bytes its tables hold, kept or not.
    std::size_t storageBytes() const;

private:
    struct Node
    {
        DomainPoint point;
        std::int32_t next;
    };
    struct CellList
    {
        std::int32_t head = -1;
        std::int32_t tail = -1;
    };
    struct HashSlot
    {
        std::int64_t key = -1;
        CellList list;
    };

    std::int64_t columnOf(double x) const;
    std::int64_t rowOf(double y) const;
    const CellList* findCell(std::int64_t column, std::int64_t row) const;
    CellList& cellFor(std::int64_t column, std::int64_t row);
    void growHash();
    void commit(const DomainPoint& p);
    struct Run
    {
        std::vector<DomainPoint> points;
        std::vector<std::uint8_t> removed; // moved back into the ignore queue
        double gap = 0.0;                  // largest distance between neighbours
    };
    void appendToRun(const DomainPoint& p);
    void closeRun();
    template <typename Visit>
    static void walkRun(const Run& run, double x, double y, const double& limit,
                        std::int64_t& tests, const Visit& visit);
    bool isFarFromRuns(double x, double y, std::int64_t c, std::int64_t r, double* nearest,
                       double& nearestLimit) const;

    double cell = 0.0;
    std::int64_t columnCount = 0;
    std::int64_t rowCount = 0;
    int ignoreLimit = 0;
    bool valid = false;
    bool hashed = false;
    bool keepsRun = false;

    std::vector<Node> nodes;
    std::vector<CellList> denseCells;
    std::vector<HashSlot> hashSlots; // power-of-two size, at most half full
    std::int64_t hashUsed = 0;
    std::int64_t committedCount = 0;
    std::deque<DomainPoint> ignoreQueue;
    // Oldest first; the last one receives the commits. commitIgnored closes
    // it, and beyond keptRuns the oldest go into the cells.
    static constexpr std::size_t keptRuns = 3;
    std::vector<Run> runs;
    std::size_t hintRun = std::size_t(-1); // where ignorePoint last removed a point
    std::size_t hintIndex = 0;
    mutable std::int64_t testCount = 0;
    // The committed points that last refused a query without a nearest
    // distance. Seed candidates come in pairs, one either side of a line
    // and a step from the pair before, so the point that refused one pair
    // mostly refuses the next; any within cellSize refuses, whichever the
    // scan would have met first, so trying these first changes no answer.
    // ignorePoint, which takes points out, forgets them.
    static constexpr int witnessSlots = 2;
    mutable DomainPoint witnesses[witnessSlots];
    mutable int witnessCount = 0;
    mutable int nextWitness = 0;
    void keepWitness(const DomainPoint& q) const;
};
