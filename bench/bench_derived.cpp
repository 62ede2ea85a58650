// Derived fields of a 2000 x 2000 stretched grid held as a loaded data set
// holds it (Vector3 per point, divided by the largest speed): all seven sets
// in one pass, and vorticity alone. Its peer is bench/derived_peer.py, the
// numpy.gradient vorticity of the same field.

#include "data/DerivedField.h"
#include "data/DerivedFieldGrid.h"
#include "data/Vector3.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <vector>

namespace {

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The field and spacing of bench/derived_peer.py: Taylor-Green-like cells
// with a weak stream along x, the spacing growing along both axes.
struct Field
{
    std::vector<Vector3> vectors;
    DerivedFieldGrid grid;

    explicit Field(int n)
    {
        for (int k = 0; k < n; ++k) {
            const double s = double(k) / (n - 1);
            grid.x.push_back(s * s * 0.5 + s * 0.5);
            grid.y.push_back(s * s * 0.5 + s * 0.5);
        }
        vectors.resize(size_t(n) * size_t(n));
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const double x = grid.x[size_t(i)], y = grid.y[size_t(j)];
                vectors[size_t(j) * size_t(n) + size_t(i)] =
                    Vector3(float(0.3 * std::sin(6 * M_PI * x) * std::cos(6 * M_PI * y) + 0.05),
                            float(-0.3 * std::cos(6 * M_PI * x) * std::sin(6 * M_PI * y)), 0.0f);
            }
        grid.u = &vectors.front().x;
        grid.v = &vectors.front().y;
        grid.stride = 3;
        grid.scale = 2.5;
    }
};

void run(benchmark::State& state, const QList<DerivedField::Kind>& kinds)
{
    const Field field(int(state.range(0)));
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        const QList<ScalarSet> sets = DerivedField::compute(field.grid, kinds);
        benchmark::DoNotOptimize(sets.first().values.get());
    }
    state.SetItemsProcessed(state.iterations() * field.grid.pointCount());
    // The time of every thread: on a machine shared with other work the wall
    // time says little, the processor time per computation still holds.
    state.counters["process_cpu_ms"] =
        (processCpuSeconds() - cpuBefore) * 1000.0 / double(state.iterations());
}

void allSets(benchmark::State& state)
{
    run(state, {DerivedField::Vorticity, DerivedField::Divergence, DerivedField::QCriterion,
                DerivedField::SwirlingStrength, DerivedField::StrainRate,
                DerivedField::ShearStrainRate, DerivedField::NormalStrainRate});
}

void vorticity(benchmark::State& state)
{
    run(state, {DerivedField::Vorticity});
}

} // namespace

BENCHMARK(allSets)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(vorticity)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
