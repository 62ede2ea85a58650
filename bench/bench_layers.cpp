// The field layers' GUI-thread work and their round trip through the worker:
// colouring a 1000 x 1000 raster through the 4096-entry table (the loop alone
// and the whole recolouring with table and picture), drawing 100 x 100 arrows
// into a 1000 x 1000 image, and the time from setSize to the coloured picture
// of a 1000 x 500 layer over the vortex-street sample (resampling on the
// worker thread, hand-over and colouring). Straight arrows against curly
// vectors, 40 x 40 of them into 1000 x 1000 over the cavity sample. The line
// integral convolution of a 1000 x 1000 raster of rotating cells over the
// cores (run under `taskset -c 0` for one core), by kernel length.
#include "bench/WidgetBenchmarkMain.h"
#include "data/FlowData.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "render/LineIntegralConvolution.h"
#include "transfer/TransferFunctionWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QList>
#include <QThread>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Rotating cells over the unit square, evaluated at the raster points.
class CellFlowData : public FlowData
{
public:
    CellFlowData()
    {
        scalars.append(ScalarSet());
        resolutionX = resolutionY = 2;
        depth = 1;
        aspect = 1.0f;
    }

    void calcVector(int width, int height, Vector3* out) const override
    {
        for (int r = 0; r < height; ++r) {
            const float y = float(r) / float(height - 1);
            for (int c = 0; c < width; ++c) {
                const float x = float(c) / float(width - 1);
                out[r * width + c] = Vector3(0.6f * std::sin(6.0f * x) * std::cos(5.0f * y),
                                             -0.6f * std::cos(6.0f * x) * std::sin(5.0f * y), 0);
            }
        }
    }
};

// The workers run at idle priority: on a busy machine the wait is long.
bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 120000) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return done();
}

void mapValues(benchmark::State& state)
{
    TransferFunctionWidget function;
    QImage table(LayerColorCoding::colorTableSize, 1, QImage::Format_ARGB32_Premultiplied);
    function.fillColorTable(&table);
    const int width = 1000;
    const int height = 1000;
    QList<float> raster(width * height);
    for (int i = 0; i < raster.size(); ++i)
        raster[i] = -0.1f + 1.2f * float((i * 7919) % 10007) / 10007.0f;
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        for (int r = 0; r < height; ++r)
            ColorCodingRenderer::mapValues(raster.constData() + r * width, width,
                                           reinterpret_cast<const QRgb*>(table.constScanLine(0)),
                                           reinterpret_cast<QRgb*>(picture.scanLine(r)));
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

// The vortex street's first scalar coloured at `size` by a layer with its
// panel, the picture in hand; null (and the benchmark skipped) otherwise.
struct ColoredStreet
{
    std::unique_ptr<FlowData> data;
    QWidget panel;
    LayerColorCoding layer{0, true};

    bool prepare(benchmark::State& state, const QSize& size)
    {
        data.reset(FlowData::fromFile(QStringLiteral(VELMORA_SOURCE_DIR "/dat/vortex_street.gri")));
        if (!data) {
            state.SkipWithError("dat/vortex_street.gri did not load");
            return false;
        }
        layer.setupControls(&panel);
        layer.setFlowData(data.get());
        layer.setSize(size);
        if (!waitFor([&] { return !layer.currentImage().isNull(); })) {
            state.SkipWithError("no picture");
            return false;
        }
        return true;
    }
};

void recolour(benchmark::State& state)
{
    ColoredStreet street;
    if (!street.prepare(state, QSize(1000, 1000)))
        return;
    for (auto _ : state) {
        street.layer.setTransferFunction(street.layer.transferFunction());
        benchmark::DoNotOptimize(street.layer.currentImage().constBits());
    }
}

// Choosing a colour map in the panel's menu until the 1000 x 500 picture is
// recoloured: the points fitted to the map, the table, the colouring.
void chooseColorMap(benchmark::State& state)
{
    ColoredStreet street;
    if (!street.prepare(state, QSize(1000, 500)))
        return;
    auto* editor = street.panel.findChild<TransferFunctionWidget*>();
    int k = 0;
    for (auto _ : state) {
        editor->applyColorMap(k++ % 2 ? QStringLiteral("viridis") : QStringLiteral("coolwarm"));
        benchmark::DoNotOptimize(street.layer.currentImage().constBits());
    }
}

void arrows(benchmark::State& state)
{
    CellFlowData data;
    QWidget panel;
    LayerArrows layer(true);
    layer.setupControls(&panel);
    layer.setFlowData(&data);
    // 1000 x 500 is the canvas of the matplotlib quiver peer.
    layer.setSize(QSize(1000, int(state.range(1))));
    // Every redraw after the quantity change draws vectors of the new counts:
    // a raster of the old counts still in the worker is dropped by the change.
    int redraws = 0;
    QObject::connect(&layer, &Layer::layerChanged, [&redraws] { ++redraws; });
    layer.setQuantity(int(state.range(0)));
    const QSize counts = layer.arrowCounts();
    if (!waitFor([&] { return redraws > 0; })) {
        state.SkipWithError("no picture");
        return;
    }
    for (auto _ : state) {
        layer.updateImage();
        benchmark::DoNotOptimize(layer.currentImage().constBits());
    }
    state.counters["arrows"] = counts.width() * counts.height();
}

void arrowStyle(benchmark::State& state)
{
    std::unique_ptr<FlowData> data(
        FlowData::fromFile(QStringLiteral(VELMORA_SOURCE_DIR "/dat/cavity.00000.gri")));
    if (!data) {
        state.SkipWithError("dat/cavity.00000.gri did not load");
        return;
    }
    QWidget panel;
    LayerArrows layer(true);
    layer.setupControls(&panel);
    layer.setFlowData(data.get());
    layer.setSize(QSize(1000, 1000));
    int redraws = 0;
    QObject::connect(&layer, &Layer::layerChanged, [&redraws] { ++redraws; });
    layer.setQuantity(40);
    layer.setCurly(state.range(0) == 1);
    if (!waitFor([&] { return redraws > 0; })) {
        state.SkipWithError("no picture");
        return;
    }
    for (auto _ : state) {
        layer.updateImage();
        benchmark::DoNotOptimize(layer.currentImage().constBits());
    }
    state.counters["arrows"] = layer.arrowCounts().width() * layer.arrowCounts().height();
}

void sizeToPicture(benchmark::State& state)
{
    std::unique_ptr<FlowData> data(
        FlowData::fromFile(QStringLiteral(VELMORA_SOURCE_DIR "/dat/vortex_street.gri")));
    if (!data) {
        state.SkipWithError("dat/vortex_street.gri did not load");
        return;
    }
    QWidget panel;
    LayerColorCoding layer(0, true);
    layer.setupControls(&panel);
    layer.setFlowData(data.get());
    int width = 1000;
    for (auto _ : state) {
        // Alternating widths, so that every step needs a new raster.
        width = width == 1000 ? 999 : 1000;
        const QSize size(width, 500);
        layer.setSize(size);
        if (!waitFor([&] { return layer.currentImage().size() == size; })) {
            state.SkipWithError("no picture");
            return;
        }
    }
}

void lic(benchmark::State& state)
{
    const QSize size(1000, 1000);
    std::vector<Vector3> vectors(std::size_t(size.width()) * size.height());
    CellFlowData().calcVector(size.width(), size.height(), vectors.data());
    std::vector<float> texture(vectors.size());
    LineIntegralConvolution::Parameters parameters;
    parameters.kernelLength = int(state.range(0));
    for (auto _ : state) {
        if (!LineIntegralConvolution::compute(vectors.data(), size, 1.0f, parameters,
                                              texture.data())) {
            state.SkipWithError("no texture");
            return;
        }
        benchmark::DoNotOptimize(texture.data());
    }
    state.counters["threads"] = QThread::idealThreadCount();
}

} // namespace

BENCHMARK(lic)->ArgName("kernel")->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(mapValues)->Unit(benchmark::kMillisecond);
BENCHMARK(recolour)->Unit(benchmark::kMillisecond);
BENCHMARK(chooseColorMap)->Unit(benchmark::kMillisecond);
BENCHMARK(arrows)
    ->ArgNames({"quantity", "height"})
    ->Args({20, 1000})
    ->Args({100, 1000})
    ->Args({100, 500})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(arrowStyle)->ArgName("curly")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(sizeToPicture)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
