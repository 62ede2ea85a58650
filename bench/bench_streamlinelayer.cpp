#include "bench/WidgetBenchmarkMain.h"
#include "data/FlowData.h"
#include "streamlines/LayerStreamlines.h"

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <memory>

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
    return runWidgetBenchmarks(argc, argv);
}
