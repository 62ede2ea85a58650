#include "bench/WidgetBenchmarkMain.h"
#include "data/FlowData.h"
#include "streamlines/LayerStreamlines.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

namespace {

class MeasuredLayer : public LayerStreamlines
{
public:
    MeasuredLayer() : LayerStreamlines(true) {}

    std::int64_t pointCount() const
    {
        std::int64_t points = 0;
        for (const Streamline& line : streamlines)
            points += std::int64_t(line.size());
        return points;
    }
};

// The vortex-street sample, loaded once; null when the sample is missing.
FlowData* vortexStreet()
{
    static const std::unique_ptr<FlowData> data(
        FlowData::fromFile(QStringLiteral(VELMORA_SOURCE_DIR "/dat/vortex_street.gri")));
    return data.get();
}

// A layer with its form (start values dSep 0.03, dTest 0.5, step 0.003) whose
// lines are traced over the vortex street and drawn into a 1000 x 500 image.
struct Scene
{
    QWidget panel;
    MeasuredLayer layer;

    bool build(benchmark::State& state)
    {
        FlowData* data = vortexStreet();
        if (!data) {
            state.SkipWithError("dat/vortex_street.gri does not load");
            return false;
        }
        layer.setupControls(&panel);
        layer.setFlowData(data);
        layer.setSize(QSize(1000, 500));
        return true;
    }
};

// The look switches of drawImage, combined as a bit mask argument.
constexpr int glyphs = 1;
constexpr int texture = 2;
constexpr int tapering = 4;

// Every look change redraws the stored lines on the GUI thread.
void drawImage(benchmark::State& state)
{
    Scene scene;
    if (!scene.build(state))
        return;
    const auto look = state.range(0);
    scene.layer.toggleGlyphMapping(look & glyphs);
    scene.layer.toggleTexture(look & texture);
    scene.layer.toggleTapering(look & tapering);
    for (auto _ : state)
        scene.layer.drawImage();
    const std::int64_t points = scene.layer.pointCount();
    state.counters["points"] = double(points);
    state.SetItemsProcessed(state.iterations() * points);
}

// What a tracing-parameter change costs with auto update on.
void retraceAndRedraw(benchmark::State& state)
{
    Scene scene;
    if (!scene.build(state))
        return;
    for (auto _ : state)
        scene.layer.updateImage();
    const std::int64_t points = scene.layer.pointCount();
    state.counters["points"] = double(points);
    state.SetItemsProcessed(state.iterations() * points);
}

// The samples of dat/, loaded once each; null when missing.
FlowData* sample(const std::string& name)
{
    static std::map<std::string, std::unique_ptr<FlowData>> loaded;
    std::unique_ptr<FlowData>& slot = loaded[name];
    if (!slot)
        slot.reset(FlowData::fromFile(
            QString(VELMORA_SOURCE_DIR "/dat/%1.gri").arg(QString::fromStdString(name))));
    return slot.get();
}

double peakResidentMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// One corner of the form's ranges (dSep, dTest, step at their minimum or
// maximum) on one sample with one method: the retrace with its drawing, then
// a redraw in every other look. Reported time: the retrace (with its first
// drawing) plus the worst redraw over the looks. Counters: the two parts, points traced, whether
// the tracer stopped at a budget, and the process's peak resident memory so far.
void cornerSweep(benchmark::State& state, const std::string& name, int method, double dSep,
                 double dTest, double stepSize)
{
    FlowData* data = sample(name);
    if (!data) {
        state.SkipWithError("sample does not load");
        return;
    }
    const int looks[] = {0, glyphs, texture, tapering, glyphs | texture | tapering};
    for (auto _ : state) {
        QWidget panel;
        MeasuredLayer layer;
        layer.setupControls(&panel);
        layer.toggleAutoUpdate(false);
        layer.setSize(QSize(1000, 500));
        layer.setFlowData(data);
        layer.setDSep(dSep);
        layer.setDTest(dTest);
        layer.setStepSize(stepSize);
        if (method == EulerMethod)
            layer.setEulerMethod();
        else
            layer.setRungeKuttaMethod();

        QElapsedTimer clock;
        clock.start();
        layer.updateImage();
        const double retrace = double(clock.nsecsElapsed()) * 1e-9;
        double worstDraw = 0.0;
        for (const int look : looks) {
            layer.toggleGlyphMapping(look & glyphs);
            layer.toggleTexture(look & texture);
            clock.restart();
            layer.toggleTapering(look & tapering); // redraws
            worstDraw = std::max(worstDraw, double(clock.nsecsElapsed()) * 1e-9);
        }
        state.SetIterationTime(retrace + worstDraw);
        state.counters["retrace_ms"] = retrace * 1e3;
        state.counters["draw_ms"] = worstDraw * 1e3;
        state.counters["points"] = double(layer.pointCount());
        state.counters["incomplete"] = layer.incompleteReason().isEmpty() ? 0 : 1;
    }
    state.counters["peak_MB"] = peakResidentMegabytes();
}

void registerCornerSweep()
{
    for (const char* name : {"vortex_street", "double_gyre", "channel_transposed", "cavity"})
        for (const int method : {int(EulerMethod), int(RungeKuttaMethod)})
            for (const double dSep : {0.001, 1.0})
                for (const double dTest : {0.01, 1.0})
                    for (const double step : {0.0001, 1.0}) {
                        const std::string label = std::string("cornerSweep/") + name +
                                                  (method == EulerMethod ? "/euler" : "/midpoint") +
                                                  "/dsep:" + (dSep < 1.0 ? "0.001" : "1") +
                                                  "/dtest:" + (dTest < 1.0 ? "0.01" : "1") +
                                                  "/step:" + (step < 1.0 ? "0.0001" : "1");
                        benchmark::RegisterBenchmark(label.c_str(), cornerSweep, std::string(name),
                                                     method, dSep, dTest, step)
                            ->UseManualTime()
                            ->Iterations(1)
                            ->Unit(benchmark::kMillisecond);
                    }
}

} // namespace

BENCHMARK(drawImage)
    ->ArgName("look")
    ->Arg(0)
    ->Arg(glyphs)
    ->Arg(texture)
    ->Arg(tapering)
    ->Arg(glyphs | texture | tapering)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(retraceAndRedraw)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    registerCornerSweep();
    return runWidgetBenchmarks(argc, argv);
}
