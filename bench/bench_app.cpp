// Composition cost of the view port: six 1000 x 1000 layer images, each with
// its own opacity, into a 1200 x 900 view. A pan must repaint well inside a
// 60 Hz frame (16.7 ms).
#include "app/ViewPort.h"
#include "tests/app/ImageLayer.h"
#include "tests/common/FakeFlowData.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const QSize viewSize(1200, 900);

struct Scene
{
    Scene()
    {
        const QList<QColor> colors{Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow};
        QList<Layer*> layers;
        for (int i = 0; i < colors.size(); ++i) {
            auto* layer = new ImageLayer(colors.at(i), QRectF(0.1 * i, 0.05 * i, 0.6, 0.7));
            layers.append(layer);
        }
        view = std::make_unique<ViewPort>(layers);
        view->resize(viewSize);
        view->setFlowData(&data);
        for (int i = 0; i < layers.size(); ++i)
            layers.at(i)->setOpacity(0.3f + 0.14f * i);
        target = QImage(viewSize, QImage::Format_ARGB32_Premultiplied);
    }

    void paint()
    {
        view->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }

    void sendMouse(QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
                   Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, QPointF(pos), QPointF(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &event);
    }

    FakeFlowData data{1.0f};
    std::unique_ptr<ViewPort> view;
    QImage target;
};

void BM_PaintSixLayers(benchmark::State& state)
{
    Scene scene;
    for (auto _ : state)
        scene.paint();
}
BENCHMARK(BM_PaintSixLayers)->Unit(benchmark::kMillisecond);

// One left-button move event and the repaint it asks for.
void BM_PanStep(benchmark::State& state)
{
    Scene scene;
    scene.sendMouse(QEvent::MouseButtonPress, QPoint(600, 450), Qt::LeftButton, Qt::LeftButton);
    int step = 0;
    for (auto _ : state) {
        const int x = 600 + (step++ % 2 == 0 ? 7 : 0);
        scene.sendMouse(QEvent::MouseMove, QPoint(x, 450), Qt::NoButton, Qt::LeftButton);
        scene.paint();
    }
    scene.sendMouse(QEvent::MouseButtonRelease, QPoint(600, 450), Qt::LeftButton, Qt::NoButton);
}
BENCHMARK(BM_PanStep)->Unit(benchmark::kMillisecond);

void BM_ExportJpeg(benchmark::State& state)
{
    Scene scene;
    QTemporaryDir dir;
    const QString fileName = dir.filePath("picture.jpg");
    for (auto _ : state)
        benchmark::DoNotOptimize(scene.view->exportImage(fileName));
}
BENCHMARK(BM_ExportJpeg)->Unit(benchmark::kMillisecond);

void dropMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every paint writes its profiling line; keep the benchmark output clean.
    qInstallMessageHandler(dropMessages);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
