#pragma once

#include "render/Streamline.h"
#include "render/StreamlineParameters.h"
#include "streamlines/DomainPoint.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class FlowData;
class SeparationGrid;
struct Vector3;

// Traces evenly-spaced streamlines over a data set. Free of widgets; the
// streamline layer owns one and hands it its parameters.
//
// Coordinates are domain coordinates: x from 0 to 1, y from 0 to
// H = inverseAspectRatio(), both in widths; a point is inside when
// 0 <= x <= 1 and 0 <= y <= H, and a NaN coordinate is outside. Positions
// are doubles; vector lengths and normalisation are single precision, which
// decides the exact positions of the points.
//
// Placement is breadth-first over lines: every traced line leaves a batch of
// seed candidates (a pair beside every point it stepped from), and the
// batches are tried in the order the lines were traced.
class StreamlineTracer
{
public:
    // Total points one placement may trace before it stops and keeps what it
    // has. Sized so that tracing and drawing them stay within a quarter of a
    // second: a tiny test distance against a long step would otherwise trace
    // a million lines of one point, a domain a thousand widths tall 10^7
    // points. The samples at every ordinary setting stay well below it.
    static constexpr std::int64_t defaultPointBudget = 80000;
    // Lines one placement may trace likewise: every line costs far more
    // than a point (its own storage, its batch of seed candidates), and a
    // tiny test distance against a long step makes lines of one point.
    static constexpr std::int64_t defaultLineBudget = 20000;
    // Distance tests one placement may make before it stops likewise: a long
    // test distance against a tiny step packs thousands of points into the
    // cells around every head.
    static constexpr std::int64_t defaultTestBudget = 15000000;

    enum StopReason
    {
        Complete,
        PointBudgetReached,
        LineBudgetReached,
        TestBudgetReached,
    };

    // Seed candidates of one line, queued and consumed first in, first out.
    struct SeedBatch
    {
        std::vector<DomainPoint> points;
        std::size_t next = 0;
    };

    explicit StreamlineTracer(const StreamlineParameters& parameters = StreamlineParameters());
    ~StreamlineTracer();
    StreamlineTracer(const StreamlineTracer&) = delete;
    StreamlineTracer& operator=(const StreamlineTracer&) = delete;

    void setParameters(const StreamlineParameters& parameters);
    const StreamlineParameters& parameters() const { return params; }
    void setPointBudget(std::int64_t points) { pointBudget = points; }
    void setTestBudget(std::int64_t tests) { testBudget = tests; }
    void setLineBudget(std::int64_t lines) { lineBudget = lines; }
    // User seeds in domain coordinates, traced first, in order, each both
    // ways; with fillEvenly the placement then goes on from their lines (and
    // from the fixed first seeds when none of them leaves a candidate),
    // without it they are the only lines. A seed outside or too close to an
    // earlier line gives no line.
    void setSeeds(std::vector<DomainPoint> domainSeeds, bool fillEvenly = true);
    const std::vector<DomainPoint>& seeds() const { return userSeeds; }
    bool fillsEvenly() const { return fill; }
    // Seeds in the file's coordinates, as the view shows the axes, mapped to
    // domain coordinates of `data` (NaN for a grid without extent; none for
    // data that is not on a rectangular grid).
    static std::vector<DomainPoint> domainSeeds(const FlowData& data,
                                                const QList<QPointF>& fileSeeds);

    // Places the streamlines over `data` with the current parameters and
    // returns them in tracing order (the first line may be empty). Timed by a
    // ProfileTimer named "LayerStreamlines/genStreamline".
    //
    // The first seed is (0.68, 0.57). Where that line leaves no seed
    // candidates (the point lies outside a wide domain, or in still water),
    // further first seeds are tried in this order until a line leaves
    // candidates: (0.68, 0.57 * H), then the cell centres of a grid of 8
    // columns and round(8 H) rows (1 to 4096) over the domain, row by row
    // from y = 0, each row from x = 0. The first line is stored even when
    // empty, unless user seeds came first; later empty ones are not.
    // Returns no lines, with a diagnostic line, when the parameters give no
    // usable grid.
    std::vector<Streamline> placeStreamlines(const FlowData& data);

    // True when the last placement stopped at the point budget.
    bool pointBudgetReached() const { return stop == PointBudgetReached; }
    // Why the last placement stopped before every seed was tried.
    StopReason stopReason() const { return stop; }
    // The same for people: empty when the placement was complete.
    QString incompleteReason() const;

    // The steps of the placement, public for tests. beginPlacement builds
    // the separation grid for `data` (kept until endPlacement or the next
    // beginPlacement) and makes a fresh empty batch current; false when the
    // parameters give no usable grid. genStreamline and addSeedCandidates
    // require a begun placement.
    bool beginPlacement(const FlowData& data);
    void endPlacement();
    // One line through (xs, ys), upstream end first; empty when the seed is
    // outside the domain or too close to a committed point.
    Streamline genStreamline(double xs, double ys);
    // One step from (x, y) along the unit direction d; forward selects the
    // sign of the field sampled at the midpoint.
    DomainPoint advance(const Vector3& d, double x, double y, bool forward) const;
    // Width factor from 1 at dSep or farther down to 0 at dTest * dSep.
    double taperFactor(double distance) const;
    // Periodic value in [0, 1] of the signed point index, period textureLength.
    double textureValue(int index) const;
    // Queues the candidates dSep to the left, then to the right of the
    // direction of travel d at (x, y) into the current batch.
    void addSeedCandidates(double x, double y, const Vector3& d);

    SeparationGrid* separationGrid() const { return grid.get(); }
    const SeedBatch* currentSeeds() const { return current; }
    std::int64_t tracedPoints() const { return pointCount; }

private:
    bool isInside(double x, double y) const
    {
        return x >= 0.0 && x <= 1.0 && y >= 0.0 && y <= domainHeight;
    }
    bool hasBudget();
    // One part of a line; direction +1 appends downstream, -1 prepends upstream.
    void tracePart(Streamline& line, double xs, double ys, int direction);
    SeedBatch* startBatch();
    bool placeFirstLine(std::vector<Streamline>& lines);
    bool traceFirstLine(std::vector<Streamline>& lines, double x, double y, bool storeEmpty);
    bool placeUserSeeds(std::vector<Streamline>& lines);
    // textureValue(index), each index computed once per texture length:
    // every line walks the same indices from its seed.
    double texture(int index);

    StreamlineParameters params;
    std::int64_t pointBudget = defaultPointBudget;
    std::int64_t testBudget = defaultTestBudget;
    std::int64_t lineBudget = defaultLineBudget;
    std::vector<DomainPoint> userSeeds;
    bool fill = true;

    const FlowData* flowData = nullptr;
    double domainHeight = 0.0;
    std::unique_ptr<SeparationGrid> grid;
    // The last placement's grid, whose tables the next one reuses; only
    // while they are small, so that an idle tracer holds little.
    std::unique_ptr<SeparationGrid> spareGrid;
    static constexpr std::size_t largestSpareGrid = std::size_t(8) << 20;
    std::deque<SeedBatch> seedQueue;
    SeedBatch* current = nullptr;
    std::int64_t pointCount = 0;
    std::int64_t lineCount = 0; // lines of at least one point
    bool budgetReached = false;
    StopReason stop = Complete;
    std::vector<double> textureAhead;  // indices 0, 1, 2, ...
    std::vector<double> textureBehind; // indices 0, -1, -2, ...
    double textureTableLength = 0.0;
};
