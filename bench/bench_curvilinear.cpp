// A 1000 x 1000 grid given as axes (RectangularFlowData) and the same grid
// turned by 30 degrees and given as points (CurvilinearFlowData): calcScalar
// onto a 1000 x 1000 raster, and vectorAt along short random walks, as a
// tracer steps.

#include "data/FlowData.h"

#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int gridSize = 1000;

FlowData* makeGrid(bool curvilinear)
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
    return FlowData::fromRecord(record);
}

void calcScalar(benchmark::State& state, bool curvilinear)
{
    const std::unique_ptr<FlowData> data(makeGrid(curvilinear));
    if (!data) {
        state.SkipWithError("no grid");
        return;
    }
    std::vector<float> out(size_t(gridSize) * size_t(gridSize));
    for (auto _ : state) {
        data->calcScalar(0, gridSize, gridSize, out.data());
        benchmark::DoNotOptimize(out.data());
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

BENCHMARK_CAPTURE(calcScalar, rectilinear, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcScalar, curvilinear, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(vectorAtWalk, rectilinear, false);
BENCHMARK_CAPTURE(vectorAtWalk, curvilinear, true);

int main(int argc, char** argv)
{
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
