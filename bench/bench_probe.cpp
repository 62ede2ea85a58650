// Measuring along a line and through time: a 1000-sample LineProfile on a
// 2000 x 2000 data set (as the profile plot redraws while its line is
// dragged), and a PointHistory over a 1000-step series of a 1000 x 1000 grid
// (steps per second, to set beside bench_series' step from request to
// picture). The files are written into a temporary folder first: the series
// has four distinct data files that its 1000 steps are linked to, read with
// a warm page cache.

#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "data/FlowSeries.h"
#include "data/LineProfile.h"
#include "data/PointHistory.h"
#include "data/RectangularFlowData.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

QString folder;

QString stepName(const QString& base, int k)
{
    return base + QStringLiteral(".%1.dat").arg(k, 5, 10, QLatin1Char('0'));
}

// A side x side grid over [0, 4] x [0, 4] of swaying cells; `phase` sways them.
bool writeGrid(FlowDataWriter& writer, int side, double phase)
{
    QList<float> coordinates(side);
    for (int i = 0; i < side; ++i)
        coordinates[i] = float(4.0 * i / (side - 1));
    QList<Vector3> vectors(qsizetype(side) * side);
    QList<float> scalar(qsizetype(side) * side);
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const double x = coordinates[i] + 0.2 * std::sin(phase);
            const double y = coordinates[j];
            const size_t k = size_t(j) * size_t(side) + size_t(i);
            vectors[qsizetype(k)] = Vector3(float(std::sin(x) * std::cos(y) + 0.1),
                                            float(-std::cos(x) * std::sin(y)), 0.0f);
            scalar[qsizetype(k)] = float(std::sin(x) * std::sin(y));
        }
    }
    writer.setVectors(vectors);
    writer.addScalarSet(scalar);
    writer.setTimeInformation(4, 0.1f);
    return writer.setGrid(coordinates, coordinates);
}

QString bigName()
{
    return folder + QStringLiteral("/big_2000x2000");
}

QString seriesName()
{
    return folder + QStringLiteral("/long.gri");
}

bool writeFiles()
{
    FlowDataWriter big;
    if (!writeGrid(big, 2000, 0.0) || !big.write(bigName()))
        return false;
    for (int k = 0; k < 4; ++k) {
        FlowDataWriter step;
        if (!writeGrid(step, 1000, 0.5 * M_PI * k) ||
            (k == 0 && !step.writeGeometry(seriesName())) ||
            !step.writeData(stepName(folder + QStringLiteral("/distinct"), k)))
            return false;
    }
    for (int k = 0; k < 1000; ++k)
        if (!QFile::link(stepName(folder + QStringLiteral("/distinct"), k % 4),
                         stepName(folder + QStringLiteral("/long"), k)))
            return false;
    return true;
}

void lineProfile(benchmark::State& state)
{
    static const std::unique_ptr<FlowData> data(FlowData::fromFile(bigName()));
    const auto* grid = dynamic_cast<const RectangularFlowData*>(data.get());
    if (!grid) {
        state.SkipWithError("the data set did not load");
        return;
    }
    // Across the cells with a corner: two segments, every sample in another cell.
    const QList<QPointF> line{{0.1, 0.3}, {3.7, 2.1}, {1.2, 3.9}};
    const int samples = int(state.range(0));
    for (auto _ : state) {
        const LineProfile profile(*grid, line, samples);
        benchmark::DoNotOptimize(profile.flux());
    }
}
BENCHMARK(lineProfile)->ArgName("samples")->Arg(1000)->Unit(benchmark::kMicrosecond);

void pointHistory(benchmark::State& state)
{
    const std::unique_ptr<FlowSeries> series(FlowSeries::open(seriesName()));
    if (!series || series->stepCount() != 1000) {
        state.SkipWithError("the series did not open with 1000 steps");
        return;
    }
    int rows = 0;
    for (auto _ : state) {
        const PointHistory history = PointHistory::read(*series, 1.3, 2.2, 0, 999);
        rows += history.rows().rowCount() - history.gapCount();
    }
    state.counters["steps_per_s"] = benchmark::Counter(rows, benchmark::Counter::kIsRate);
}
BENCHMARK(pointHistory)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(quiet); // the loader talks on every step
    QTemporaryDir dir;
    folder = dir.path();
    if (!dir.isValid() || !writeFiles()) {
        std::fprintf(stderr, "bench_probe: cannot write the data sets\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
