// The profile dock while a line is dragged over the vortex street: one
// pointer move costs a coarse LineProfile, the table handed to the panel and
// the plot painted at the dock's size; the release samples the full profile.
// A frame is 16 ms.

#include "app/ExtractionDock.h"
#include "app/ExtractionPanel.h"
#include "app/PlotWidget.h"
#include "bench/WidgetBenchmarkMain.h"
#include "data/FlowData.h"
#include "data/RectangularFlowData.h"

#include <benchmark/benchmark.h>
#include <QImage>
#include <QPainter>

#include <memory>

namespace {

void dragOrRelease(benchmark::State& state)
{
    const bool dragging = state.range(0) != 0;
    std::unique_ptr<FlowData> data(
        FlowData::fromFile(QStringLiteral(VELMORA_SOURCE_DIR "/dat/vortex_street.gri")));
    const auto* grid = dynamic_cast<const RectangularFlowData*>(data.get());
    if (!grid) {
        state.SkipWithError("vortex_street did not load");
        return;
    }
    ExtractionDock dock;
    dock.setFlowData(grid, {}, {});
    PlotWidget* plot = dock.profilePanel()->plotWidget();
    plot->resize(1000, 300);
    QImage picture(plot->size(), QImage::Format_ARGB32_Premultiplied);
    double end = 0.1;
    for (auto _ : state) {
        // The line's end moves as the pointer does, a pixel or two a move.
        end = end < 0.9 ? end + 0.002 : 0.1;
        dock.setProfileLine({QPointF(0.3, 0.1), QPointF(0.3 + end * 0.2, end)}, dragging);
        QPainter painter(&picture);
        plot->render(&painter);
        painter.end();
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.counters["samples"] = double(dock.profilePanel()->table().rowCount());
}

} // namespace

BENCHMARK(dragOrRelease)->ArgName("dragging")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
