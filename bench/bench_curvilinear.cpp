// A 1000 x 1000 grid given as axes (RectangularFlowData) and the same grid
// turned by 30 degrees and given as points (CurvilinearFlowData):
//   - calcScalar onto a 1000 x 1000 and a 3000 x 3000 raster, calcVector
//     onto a 1000 x 1000 one; for the turned grid the first resampling of a
//     raster size (which finds the cell of every sample) and a repeated one
//     (which reuses them);
//   - vectorAt along short random walks, as a tracer steps;
//   - the default evenly-spaced streamlines (the layer form's start values);
//   - loading the record (checks, normalisation, tables) and, for the turned
//     grid, building its bucket grid alone.
// With the program's heap settings: otherwise whether a raster map's memory
// is reused or faulted in anew depends on what was freed before it.

#include "app/HeapSettings.h"
#include "data/CurvilinearFlowData.h"
#include "data/FlowData.h"
#include "streamlines/StreamlineTracer.h"

#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int gridSize = 1000;

FlowRecord makeRecord(bool curvilinear)
{
    FlowRecord record;
    const double turn = curvilinear ? M_PI / 6.0 : 0.0;
    const int n = gridSize;
    record.scalars.push_back({QStringLiteral("s"), QString(), {}});
    if (curvilinear) {
        record.gridColumns = size_t(n);
        record.gridRows = size_t(n);
    } else {
        for (int k = 0; k < n; ++k) {
            record.x.push_back(k);
            record.y.push_back(k);
        }
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            if (curvilinear) {
                record.pointX.push_back(i * std::cos(turn) - j * std::sin(turn));
                record.pointY.push_back(i * std::sin(turn) + j * std::cos(turn));
            }
            record.u.push_back(float(std::sin(i * 0.01) * std::cos(j * 0.01)));
            record.v.push_back(float(-std::cos(i * 0.01) * std::sin(j * 0.01)));
            record.scalars[0].values.push_back(float(i + j));
        }
    }
    return record;
}

FlowData* makeGrid(bool curvilinear)
{
    FlowRecord record = makeRecord(curvilinear);
    return FlowData::fromRecord(record);
}

// first: every resampling finds the cells again, as the first one of a
// raster size does.
void calcScalar(benchmark::State& state, bool curvilinear, bool first)
{
    const std::unique_ptr<FlowData> data(makeGrid(curvilinear));
    if (!data) {
        state.SkipWithError("no grid");
        return;
    }
    const auto* curved = dynamic_cast<const CurvilinearFlowData*>(data.get());
    const int rs = int(state.range(0));
    std::vector<float> out(size_t(rs) * size_t(rs));
    data->calcScalar(0, rs, rs, out.data());
    for (auto _ : state) {
        if (first && curved)
            curved->dropRasterMaps();
        data->calcScalar(0, rs, rs, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

void calcVector(benchmark::State& state, bool curvilinear)
{
    const std::unique_ptr<FlowData> data(makeGrid(curvilinear));
    if (!data) {
        state.SkipWithError("no grid");
        return;
    }
    std::vector<Vector3> out(size_t(gridSize) * size_t(gridSize));
    data->calcVector(gridSize, gridSize, out.data());
    for (auto _ : state) {
        data->calcVector(gridSize, gridSize, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

void placeStreamlines(benchmark::State& state, bool curvilinear)
{
    const std::unique_ptr<FlowData> data(makeGrid(curvilinear));
    if (!data) {
        state.SkipWithError("no grid");
        return;
    }
    StreamlineTracer tracer;
    std::int64_t points = 0;
    for (auto _ : state) {
        const std::vector<Streamline> lines = tracer.placeStreamlines(*data);
        benchmark::DoNotOptimize(lines.data());
        points = 0;
        for (const Streamline& line : lines)
            points += std::int64_t(line.size());
    }
    // The turned grid covers less of its box: compare the rate, not the time.
    state.counters["points"] = double(points);
    state.counters["points_per_s"] =
        benchmark::Counter(double(points), benchmark::Counter::kIsIterationInvariantRate);
}

void load(benchmark::State& state, bool curvilinear)
{
    const FlowRecord record = makeRecord(curvilinear);
    for (auto _ : state) {
        state.PauseTiming();
        FlowRecord copy = record;
        state.ResumeTiming();
        const std::unique_ptr<FlowData> data(FlowData::fromRecord(copy));
        benchmark::DoNotOptimize(data.get());
    }
}

void bucketGrid(benchmark::State& state)
{
    const std::unique_ptr<FlowData> data(makeGrid(true));
    if (!data) {
        state.SkipWithError("no grid");
        return;
    }
    // Through a plain FlowData, so that the copy builds its own tables.
    FlowData plain;
    plain.copyFrom(*data);
    for (auto _ : state) {
        CurvilinearFlowData grid;
        grid.copyFrom(plain);
        benchmark::DoNotOptimize(grid.hasTables());
    }
}

void vectorAtWalk(benchmark::State& state, bool curvilinear)
{
    const std::unique_ptr<FlowData> data(makeGrid(curvilinear));
    if (!data) {
        state.SkipWithError("no grid");
        return;
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<double> start(0.3, 0.7);
    std::normal_distribution<double> step(0.0, 0.3 / gridSize);
    const double height = 1.0 / data->aspectRatio();
    for (auto _ : state) {
        double x = start(random);
        double y = start(random) * height;
        for (int k = 0; k < 1000; ++k) {
            benchmark::DoNotOptimize(data->vectorAt(x, y));
            x += step(random);
            y += step(random);
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

} // namespace

// Rasters of the grid's size and three times finer (a zoomed-in view).
BENCHMARK_CAPTURE(calcScalar, rectilinear, false, false)
    ->ArgName("raster")
    ->Arg(gridSize)
    ->Arg(3 * gridSize)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcScalar, curvilinear_first, true, true)
    ->ArgName("raster")
    ->Arg(gridSize)
    ->Arg(3 * gridSize)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcScalar, curvilinear_repeated, true, false)
    ->ArgName("raster")
    ->Arg(gridSize)
    ->Arg(3 * gridSize)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcVector, rectilinear, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcVector, curvilinear_repeated, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(vectorAtWalk, rectilinear, false);
BENCHMARK_CAPTURE(vectorAtWalk, curvilinear, true);
BENCHMARK_CAPTURE(placeStreamlines, rectilinear, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(placeStreamlines, curvilinear, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(load, rectilinear, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(load, curvilinear, true)->Unit(benchmark::kMillisecond);
BENCHMARK(bucketGrid)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    HeapSettings::keepPictureMemory();
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
