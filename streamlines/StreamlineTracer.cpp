#include "streamlines/StreamlineTracer.h"

#include "data/FlowData.h"
#include "data/FlowProbe.h"
#include "data/ProfileTimer.h"
#include "data/Vector3.h"
#include "streamlines/SeparationGrid.h"

#include <algorithm>
#include <cmath>
#include <QDebug>

namespace {

// The fixed first seed of every placement.
constexpr double firstSeedX = 0.68;
constexpr double firstSeedY = 0.57;
// Fallback first seeds: cell centres of a grid of this many columns per width.
constexpr int fallbackColumns = 8;
constexpr double fallbackMaxRows = 4096.0;

} // namespace

StreamlineTracer::StreamlineTracer(const StreamlineParameters& parameters) : params(parameters) {}

StreamlineTracer::~StreamlineTracer() = default;

void StreamlineTracer::setParameters(const StreamlineParameters& parameters)
{
    params = parameters;
}

void StreamlineTracer::setSeeds(std::vector<DomainPoint> domainSeeds, bool fillEvenly)
{
    userSeeds = std::move(domainSeeds);
    fill = fillEvenly;
}

std::vector<DomainPoint> StreamlineTracer::domainSeeds(const FlowData& data,
                                                       const QList<QPointF>& fileSeeds)
{
    std::vector<DomainPoint> mapped;
    const double height = double(data.inverseAspectRatio());
    mapped.reserve(fileSeeds.size());
    for (const QPointF& seed : fileSeeds) {
        const QPointF unit = FlowProbe::unitPosition(data, seed.x(), seed.y());
        mapped.push_back({unit.x(), unit.y() * height});
    }
    return mapped;
}

bool StreamlineTracer::hasBudget()
{
    if (budgetReached)
        return false;
    if (pointCount >= pointBudget)
        stop = PointBudgetReached;
    else if (lineCount >= lineBudget)
        stop = LineBudgetReached;
    else if (grid && grid->distanceTests() >= testBudget)
        stop = TestBudgetReached;
    else
        return true;
    budgetReached = true;
    return false;
}

QString StreamlineTracer::incompleteReason() const
{
    switch (stop) {
    case PointBudgetReached:
        return QString("stopped at %1 points: the test distance is too short for the step")
            .arg(pointBudget);
    case LineBudgetReached:
        return QString("stopped at %1 lines: the test distance is too short for the step")
            .arg(lineBudget);
    case TestBudgetReached:
        return QString("stopped after %1 distance tests: the step is too short for the "
                       "separating distance")
            .arg(testBudget);
    case Complete:
        break;
    }
    return QString();
}

StreamlineTracer::SeedBatch* StreamlineTracer::startBatch()
{
    // Room for as many candidates as the batch before took: lines nearby
    // are about as long, and the vector then seldom grows from one by
    // doubling.
    const std::size_t recent = current ? current->points.size() : 0;
    seedQueue.emplace_back();
    current = &seedQueue.back();
    current->points.reserve(recent);
    return current;
}

bool StreamlineTracer::beginPlacement(const FlowData& data)
{
    endPlacement();
    flowData = &data;
    domainHeight = double(data.inverseAspectRatio());
    pointCount = 0;
    lineCount = 0;
    budgetReached = false;
    stop = Complete;
    grid = std::make_unique<SeparationGrid>(data.aspectRatio(), params.dSep, params.dTest,
                                            params.stepSize, spareGrid.get());
    spareGrid.reset();
    if (!grid->isValid()) {
        grid.reset();
        flowData = nullptr;
        return false;
    }
    startBatch();
    return true;
}

void StreamlineTracer::endPlacement()
{
    if (grid && grid->storageBytes() <= largestSpareGrid)
        spareGrid = std::move(grid);
    grid.reset();
    seedQueue.clear();
    current = nullptr;
    flowData = nullptr;
}

double StreamlineTracer::textureValue(int index) const
{
    // The constant is deliberately this decimal, not the exact 2 pi.
    return (std::sin(index * 6.283185308 / params.textureLength) + 1.0) * 0.5;
}

double StreamlineTracer::texture(int index)
{
    if (!(textureTableLength == params.textureLength)) {
        textureAhead.clear();
        textureBehind.clear();
        textureTableLength = params.textureLength;
    }
    std::vector<double>& table = index >= 0 ? textureAhead : textureBehind;
    const int sign = index >= 0 ? 1 : -1;
    const std::size_t slot = std::size_t(index >= 0 ? index : -std::int64_t(index));
    while (table.size() <= slot)
        table.push_back(textureValue(sign * int(table.size())));
    return table[slot];
}

double StreamlineTracer::taperFactor(double distance) const
{
    const double full = params.dSep;
    const double zero = params.dTest * params.dSep;
    if (distance >= full)
        return 1.0;
    if (zero == full)
        return 1.0;
    return (distance - zero) / (full - zero);
}

DomainPoint StreamlineTracer::advance(const Vector3& d, double x, double y, bool forward) const
{
    const double h = params.stepSize;
    if (params.method == EulerMethod)
        return {x + d.x * h, y + d.y * h};

    const DomainPoint middle{x + (d.x * h) * 0.5, y + (d.y * h) * 0.5};
    if (!isInside(middle.x, middle.y))
        return middle; // the caller's domain test ends the line here
    Vector3 v = flowData->vectorAt(middle.x, middle.y);
    if (!forward)
        v = v * -1.0f;
    if (v.length() < 0.001f)
        return {x, y}; // the step is lost, not shortened
    v.normalize();
    return {x + v.x * h, y + v.y * h};
}

void StreamlineTracer::addSeedCandidates(double x, double y, const Vector3& d)
{
    if (!current)
        return;
    const double s = params.dSep;
    current->points.push_back({x - d.y * s, y + d.x * s});
    current->points.push_back({x + d.y * s, y - d.x * s});
}

void StreamlineTracer::tracePart(Streamline& line, double xs, double ys, int direction)
{
    const bool forward = direction > 0;
    DomainPoint p{xs, ys};
    Vector3 v = flowData->vectorAt(xs, ys);
    if (!forward)
        v = v * -1.0f;
    int index = 0;
    bool done = false;
    for (;;) {
        index += direction;
        const double textureHere = texture(index);
        const float speed = v.length();
        if (!(speed > 0.001) || !std::isfinite(speed)) {
            done = true; // stalled: the point is recorded once more, then the part ends
        } else {
            v.normalize();
            addSeedCandidates(p.x, p.y, v);
            p = advance(v, p.x, p.y, forward);
        }
        if (!isInside(p.x, p.y) || !hasBudget())
            return;
        // The vector first: the separation test then runs while its grid
        // point, mostly a cache miss, is on its way.
        v = flowData->vectorAt(p.x, p.y);
        double nearest = 1.0;
        // Distances from dSep on all give a full width.
        if (!grid->addPoint(p.x, p.y, &nearest, params.dSep))
            return;
        if (!forward)
            v = v * -1.0f;
        const StreamlinePoint record{p.x, p.y, v.length(), textureHere, taperFactor(nearest)};
        if (forward)
            line.push_back(record);
        else
            line.push_front(record);
        ++pointCount;
        if (done)
            return;
    }
}

Streamline StreamlineTracer::genStreamline(double xs, double ys)
{
    Streamline line;
    if (!grid || !current) {
        qDebug() << "StreamlineTracer/genStreamline: !!!no placement begun!!!";
        return line;
    }
    grid->commitIgnored();
    if (!isInside(xs, ys) || !hasBudget())
        return line;
    double nearest = 1.0;
    if (!grid->addPoint(xs, ys, &nearest, params.dSep))
        return line;
    const Vector3 v = flowData->vectorAt(xs, ys);
    line.push_back({xs, ys, v.length(), texture(0), taperFactor(nearest)});
    ++pointCount;

    tracePart(line, xs, ys, +1);

    // Hand-over: the seed and its first downstream neighbours go back into the
    // ignore queue, seed newest, so the upstream part is not stopped by them.
    grid->commitIgnored();
    const std::size_t k = std::min(line.size(), std::size_t(grid->ignoreCount()));
    for (std::size_t j = k; j-- > 0;)
        grid->ignorePoint(line[j].x, line[j].y);

    tracePart(line, xs, ys, -1);
    ++lineCount;
    return line;
}

bool StreamlineTracer::traceFirstLine(std::vector<Streamline>& lines, double x, double y,
                                      bool storeEmpty)
{
    SeedBatch* batch = startBatch();
    Streamline line = genStreamline(x, y);
    if (storeEmpty || !line.empty())
        lines.push_back(std::move(line));
    if (!batch->points.empty())
        return true;
    seedQueue.pop_back();
    current = nullptr;
    return false;
}

bool StreamlineTracer::placeFirstLine(std::vector<Streamline>& lines)
{
    // beginPlacement left an empty batch current; the first line gets its own.
    seedQueue.clear();
    if (traceFirstLine(lines, firstSeedX, firstSeedY, lines.empty()))
        return true;
    if (traceFirstLine(lines, firstSeedX, firstSeedY * domainHeight, false))
        return true;
    const int rows =
        int(std::clamp(std::round(fallbackColumns * domainHeight), 1.0, fallbackMaxRows));
    for (int row = 0; row < rows && !budgetReached; ++row) {
        const double y = (row + 0.5) * domainHeight / rows;
        for (int column = 0; column < fallbackColumns && !budgetReached; ++column) {
            const double x = (column + 0.5) / fallbackColumns;
            if (traceFirstLine(lines, x, y, false))
                return true;
        }
    }
    return false;
}

bool StreamlineTracer::placeUserSeeds(std::vector<Streamline>& lines)
{
    seedQueue.clear();
    current = nullptr;
    for (const DomainPoint& seed : userSeeds) {
        if (budgetReached)
            break;
        SeedBatch* batch = startBatch();
        Streamline line = genStreamline(seed.x, seed.y);
        if (!line.empty())
            lines.push_back(std::move(line));
        if (batch->points.empty())
            seedQueue.pop_back();
    }
    current = nullptr;
    if (!fill)
        seedQueue.clear();
    return !seedQueue.empty();
}

std::vector<Streamline> StreamlineTracer::placeStreamlines(const FlowData& data)
{
    std::vector<Streamline> lines;
    if (!beginPlacement(data)) {
        qDebug() << "StreamlineTracer/placeStreamlines: !!!no separation grid for dSep"
                 << params.dSep << "dTest" << params.dTest << "step" << params.stepSize << "aspect"
                 << data.aspectRatio() << "!!!";
        return lines;
    }

    ProfileTimer timer("LayerStreamlines/genStreamline");
    timer.start();
    const bool seeded = !userSeeds.empty() && placeUserSeeds(lines);
    if (seeded || ((userSeeds.empty() || fill) && placeFirstLine(lines))) {
        while (!seedQueue.empty() && !budgetReached) {
            // Rejected candidates cost distance tests too.
            if (grid->distanceTests() >= testBudget && !hasBudget())
                break;
            SeedBatch& batch = seedQueue.front();
            current = &batch;
            if (batch.next == batch.points.size()) {
                seedQueue.pop_front();
                current = nullptr;
                continue;
            }
            const DomainPoint c = batch.points[batch.next++];
            if (!isInside(c.x, c.y) || !grid->isFarEnough(c.x, c.y))
                continue;
            startBatch();
            Streamline line = genStreamline(c.x, c.y);
            if (!line.empty())
                lines.push_back(std::move(line));
        }
    }
    timer.stop();

    if (stop == PointBudgetReached)
        qDebug() << "StreamlineTracer/placeStreamlines: stopped at the point budget of"
                 << pointBudget << "points, keeping" << lines.size() << "lines";
    else if (stop == LineBudgetReached)
        qDebug() << "StreamlineTracer/placeStreamlines: stopped at the budget of" << lineBudget
                 << "lines";
    else if (stop == TestBudgetReached)
        qDebug() << "StreamlineTracer/placeStreamlines: stopped at the budget of" << testBudget
                 << "distance tests, keeping" << lines.size() << "lines";
    endPlacement();
    return lines;
}
