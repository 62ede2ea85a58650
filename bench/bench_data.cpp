// Loading and sampling a data set: FlowData::fromFile of a 2000 x 2000 grid
// with one scalar set (112 MB of files, written here into a temporary
// folder, read with a warm page cache), calcScalar and calcVector onto 1000 x
// 500 and 2000 x 2000 rasters, and vectorAt at random points.

#include "data/FlowData.h"
#include "data/FlowProbe.h"
#include "data/RectangularFlowData.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

QString dataFolder;

// Taylor-Green-like cells with a weak stream along x on a grid whose
// spacing grows along both axes when `stretched`.
bool writeDataSet(const QString& name, int columns, int rows, bool stretched)
{
    auto axis = [stretched](int n, double k) {
        const double s = k / (n - 1);
        return stretched ? s * s * 0.5 + s * 0.5 : s;
    };
    QFile geometry(name + ".gri");
    QFile data(name + ".dat");
    if (!geometry.open(QIODevice::WriteOnly) || !data.open(QIODevice::WriteOnly))
        return false;
    QByteArray header =
        "BENCH " + QByteArray::number(columns) + " " + QByteArray::number(rows) + " 1 1 1 0.1";
    header.append(QByteArray(40 - int(header.size()), ' '));
    geometry.write(header);

    std::vector<float> positions(size_t(columns) * 3);
    std::vector<float> records(size_t(columns) * 4);
    for (int j = 0; j < rows; ++j) {
        const double y = axis(rows, j);
        for (int i = 0; i < columns; ++i) {
            const double x = axis(columns, i);
            const double u = 0.3 * std::sin(6 * M_PI * x) * std::cos(6 * M_PI * y) + 0.05;
            const double v = -0.3 * std::cos(6 * M_PI * x) * std::sin(6 * M_PI * y);
            const float p[3] = {float(x), float(y), 0.0f};
            const float r[4] = {float(u), float(v), 0.0f, float(std::hypot(u, v))};
            for (int c = 0; c < 3; ++c)
                positions[size_t(i) * 3 + size_t(c)] = qToLittleEndian(p[c]);
            for (int c = 0; c < 4; ++c)
                records[size_t(i) * 4 + size_t(c)] = qToLittleEndian(r[c]);
        }
        const qint64 positionBytes = qint64(positions.size() * sizeof(float));
        const qint64 recordBytes = qint64(records.size() * sizeof(float));
        if (geometry.write(reinterpret_cast<const char*>(positions.data()), positionBytes) !=
                positionBytes ||
            data.write(reinterpret_cast<const char*>(records.data()), recordBytes) != recordBytes)
            return false;
    }
    return true;
}

QString bigName()
{
    return dataFolder + "/big_2000x2000";
}

QString streetName()
{
    return dataFolder + "/stretched_1000x500";
}

const FlowData& loaded(const QString& name)
{
    static std::unique_ptr<FlowData> big(FlowData::fromFile(bigName()));
    static std::unique_ptr<FlowData> street(FlowData::fromFile(streetName()));
    return name == bigName() ? *big : *street;
}

void fromFile(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<FlowData> data(FlowData::fromFile(bigName()));
        if (!data)
            state.SkipWithError("loading failed");
        benchmark::DoNotOptimize(data.get());
    }
    state.SetBytesProcessed(state.iterations() * qint64(2000) * 2000 * 28);
}
BENCHMARK(fromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void calcScalar(benchmark::State& state, const QString& source)
{
    const FlowData& data = loaded(source);
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    std::vector<float> out(size_t(width) * size_t(height));
    for (auto _ : state) {
        data.calcScalar(0, width, height, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void calcVector(benchmark::State& state, const QString& source)
{
    const FlowData& data = loaded(source);
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    std::vector<Vector3> out(size_t(width) * size_t(height));
    for (auto _ : state) {
        data.calcVector(width, height, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void vectorAt(benchmark::State& state)
{
    const FlowData& data = loaded(streetName());
    std::mt19937 random(7);
    std::uniform_real_distribution<double> across(0.0, 1.0);
    std::uniform_real_distribution<double> up(0.0, 1.0 / data.aspectRatio());
    std::vector<std::pair<double, double>> points(4096);
    for (auto& p : points)
        p = {across(random), up(random)};
    size_t k = 0;
    for (auto _ : state) {
        const auto& p = points[k++ & 4095];
        benchmark::DoNotOptimize(data.vectorAt(p.first, p.second));
    }
}
BENCHMARK(vectorAt);

// What the status bar's read-out costs per mouse move: one probe and its text.
void probe(benchmark::State& state)
{
    const auto& data = dynamic_cast<const RectangularFlowData&>(loaded(streetName()));
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::pair<double, double>> points(4096);
    for (auto& p : points)
        p = {unit(random), unit(random)};
    size_t k = 0;
    const bool describe = state.range(0) != 0;
    for (auto _ : state) {
        const auto& p = points[k++ & 4095];
        const FlowProbe::Reading reading = FlowProbe::read(data, p.first, p.second);
        if (describe)
            benchmark::DoNotOptimize(FlowProbe::describe(data, reading));
        else
            benchmark::DoNotOptimize(reading.speed);
    }
}
BENCHMARK(probe)->ArgName("describe")->Arg(0)->Arg(1);

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

BENCHMARK_CAPTURE(calcScalar, big_2000x2000, bigName())
    ->Args({1000, 500})
    ->Args({2000, 2000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcScalar, stretched_1000x500, streetName())
    ->Args({1000, 500})
    ->Args({2000, 2000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcVector, big_2000x2000, bigName())
    ->Args({1000, 500})
    ->Args({2000, 2000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(calcVector, stretched_1000x500, streetName())
    ->Args({1000, 500})
    ->Args({2000, 2000})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // calcScalar and calcVector write their timer line on every call.
    qInstallMessageHandler(quiet);
    QTemporaryDir folder;
    dataFolder = folder.path();
    if (!folder.isValid() || !writeDataSet(bigName(), 2000, 2000, false) ||
        !writeDataSet(streetName(), 1000, 500, true)) {
        std::fprintf(stderr, "bench_data: cannot write the data sets\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
