// The whole program's response times: from "Load Flow Data" to the finished,
// painted picture (loading, six layers resampling, tracing and drawing, one
// repaint of the view), a burst of wheel notches, and one wheel-zoom step: with the start-up stack,
// whose three hidden layers do not render, with the start-up stack and the LIC look on
// in its colour coding, and with all six layers shown. (The program's peak
// memory with a data set loaded is measured on velmora-render, which runs the same window and
// layers, with /usr/bin/time -v: see the README.)
//
// Data sets: the vortex-street sample from dat/, and a 2000 x 2000 field
// with one scalar set that the benchmark writes into a temporary folder.

#include "app/Main.h"
#include "app/shell/Layer.h"
#include "app/ViewPort.h"
#include "bench/WidgetBenchmarkMain.h"
#include "data/FlowDataWriter.h"
#include "layers/LayerColorCoding.h"

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <chrono>
#include <cmath>
#include <memory>

namespace {

// An n x n double gyre with its vorticity, written once per run and size.
QString gyreDataSet(int n)
{
    static QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("gyre%1").arg(n));
    if (QFile::exists(base + QStringLiteral(".gri")))
        return base + QStringLiteral(".gri");
    QList<float> coordinates(n);
    for (int i = 0; i < n; ++i)
        coordinates[i] = float(i) / float(n - 1);
    QList<Vector3> vectors(n * n);
    QList<float> vorticity(n * n);
    const double pi = 3.14159265358979;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const double x = 2.0 * i / (n - 1);
            const double y = double(j) / (n - 1);
            vectors[j * n + i] = Vector3(float(-pi * std::sin(pi * x) * std::cos(pi * y)),
                                         float(pi * std::cos(pi * x) * std::sin(pi * y)), 0.0f);
            vorticity[j * n + i] = float(2.0 * pi * pi * std::sin(pi * x) * std::sin(pi * y));
        }
    }
    FlowDataWriter writer;
    writer.setGrid(coordinates, coordinates);
    writer.setVectors(vectors);
    writer.addScalarSet(vorticity);
    return writer.write(base) ? base + QStringLiteral(".gri") : QString();
}

QString sample(const QString& name)
{
    return QStringLiteral(VELMORA_SOURCE_DIR "/dat/") + name + QStringLiteral(".gri");
}

// Loads through the window as the menu command does and waits until every
// layer has rendered and the view has painted.
bool loadAndPaint(Main& window, const QString& fileName)
{
    if (!window.loadFlowData(fileName) || !window.viewPort()->layerStack().finishRendering(120000))
        return false;
    window.viewPort()->repaint();
    return true;
}

void loadToPicture(benchmark::State& state, const QString& fileName)
{
    if (fileName.isEmpty() || !QFile::exists(fileName)) {
        state.SkipWithError("data set missing");
        return;
    }
    Main window;
    window.resize(1200, 900);
    window.show();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!loadAndPaint(window, fileName)) {
            state.SkipWithError("did not load");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void loadVortexStreet(benchmark::State& state)
{
    loadToPicture(state, sample("vortex_street"));
}

void loadBig(benchmark::State& state)
{
    loadToPicture(state, gyreDataSet(2000));
}

// The window at the benchmarks' size with the vortex street painted.
bool showStreet(Main& window)
{
    window.resize(1200, 900);
    window.show();
    return loadAndPaint(window, sample("vortex_street"));
}

// One notch in or out, alternately, so the scale stays near 1; the argument
// is the number of layers shown (3: the start-up stack, 6: all).
void zoomSteps(benchmark::State& state, bool lic)
{
    Main window;
    if (!showStreet(window)) {
        state.SkipWithError("did not load");
        return;
    }
    ViewPort* viewPort = window.viewPort();
    if (state.range(0) == 6) {
        for (Layer* layer : viewPort->layerList())
            layer->setVisibility(true);
        viewPort->layerStack().finishRendering(120000);
    }
    if (lic) {
        LayerColorCoding* coding = viewPort->layerStack().topmostVisibleColorCoding();
        coding->setLic(true, coding->licParameters(), coding->licCombine());
        viewPort->layerStack().finishRendering(120000);
    }
    const QPointF centre(viewPort->width() / 2.0, viewPort->height() / 2.0);
    int delta = -120;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QWheelEvent wheel(centre, viewPort->mapToGlobal(centre), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewPort, &wheel);
        viewPort->layerStack().finishRendering(120000);
        viewPort->repaint();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        delta = -delta;
    }
}

void wheelZoom(benchmark::State& state)
{
    zoomSteps(state, false);
}

void wheelZoomLic(benchmark::State& state)
{
    zoomSteps(state, true);
}

// A burst of 30 notches queued at once, as while a slow rendering holds the
// window, from scale 1 out (to the lower limit) or in (to the cap), until
// the final picture is painted; the argument is the direction (1 out, -1 in).
void wheelBurst(benchmark::State& state)
{
    constexpr int notches = 30;
    Main window;
    if (!showStreet(window)) {
        state.SkipWithError("did not load");
        return;
    }
    ViewPort* viewPort = window.viewPort();
    const QPointF centre(viewPort->width() / 2.0, viewPort->height() / 2.0);
    const int delta = int(state.range(0)) * 120;
    for (auto _ : state) {
        viewPort->setScale(1.0f);
        viewPort->layerStack().finishRendering(120000);
        viewPort->repaint();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < notches; ++i)
            QCoreApplication::postEvent(viewPort,
                                        new QWheelEvent(centre, viewPort->mapToGlobal(centre),
                                                        QPoint(), QPoint(0, delta), Qt::NoButton,
                                                        Qt::NoModifier, Qt::NoScrollPhase, false));
        viewPort->layerStack().finishRendering(120000);
        viewPort->repaint();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const float expected = delta > 0 ? float(std::pow(0.8, 10)) : ViewPort::maximumScale;
    if (std::abs(viewPort->zoomScale() - expected) > 1e-4f)
        state.SkipWithError("the burst did not reach its scale");
}

// Choosing the vorticity in the shown colour coding's list of a data set just
// loaded (so no derived set is kept yet), until the view has painted it: the
// derivatives off the GUI thread, the resampling and the colouring.
void chooseDerivedField(benchmark::State& state)
{
    const QString fileName = gyreDataSet(int(state.range(0)));
    if (fileName.isEmpty()) {
        state.SkipWithError("data set missing");
        return;
    }
    Main window;
    window.resize(1200, 900);
    window.show();
    for (auto _ : state) {
        if (!loadAndPaint(window, fileName)) {
            state.SkipWithError("did not load");
            return;
        }
        ViewPort* viewPort = window.viewPort();
        LayerColorCoding* coding = viewPort->layerStack().topmostVisibleColorCoding();
        const int vorticity = coding ? LayerColorCoding::fieldIndex(coding->currentFlowData(),
                                                                    QStringLiteral("vorticity"))
                                     : -1;
        if (vorticity < 0) {
            state.SkipWithError("no colour coding offers the vorticity");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        coding->setField(vorticity);
        viewPort->layerStack().finishRendering(120000);
        viewPort->repaint();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (coding->currentScalarIndex() != vorticity)
            state.SkipWithError("the choice did not take");
    }
}

} // namespace

BENCHMARK(loadVortexStreet)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
BENCHMARK(wheelZoom)
    ->ArgName("shown")
    ->Arg(3)
    ->Arg(6)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);
BENCHMARK(wheelZoomLic)
    ->ArgName("shown")
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);
BENCHMARK(wheelBurst)
    ->ArgName("direction")
    ->Arg(1)
    ->Arg(-1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);
BENCHMARK(chooseDerivedField)
    ->ArgName("points")
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(loadBig)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
