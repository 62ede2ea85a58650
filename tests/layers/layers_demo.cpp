// The vortex-street sample colour-coded by its first scalar field with arrows
// over it, and both layers' panels beside the picture, for a look by eye.
// With a folder argument it writes before.png, then drags the colour coding's
// left transfer-function point halfway down and writes after.png.
#include "FlowData.h"
#include "LayerArrows.h"
#include "LayerColorCoding.h"
#include "PaintContext.h"
#include "TransferFunctionScript.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <memory>

namespace {

// Composes the layers the way the view port does, at the canvas's own size.
class Canvas : public QWidget
{
public:
    explicit Canvas(const QList<Layer*>& layers) : layers(layers)
    {
        for (Layer* layer : layers)
            connect(layer, &Layer::layerChanged, this, [this] { update(); });
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        for (Layer* layer : layers)
            layer->setSize(size());
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.setRenderHint(QPainter::Antialiasing);
        PaintContext context;
        context.painter = &painter;
        context.target = QRectF(rect());
        context.source = QRectF(rect());
        for (Layer* layer : layers) {
            painter.setOpacity(layer->opacity());
            layer->draw(context);
        }
    }

private:
    QList<Layer*> layers;
};

void drag(QWidget* widget, QPoint from, QPoint to)
{
    const auto send = [widget](QEvent::Type type, QPoint at, Qt::MouseButton button,
                               Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        send(QEvent::MouseMove, from + (to - from) * step / 4, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QString source = QString::fromLocal8Bit(qgetenv("VELMORA_SOURCE_DIR"));
    std::unique_ptr<FlowData> data(
        FlowData::fromFile((source.isEmpty() ? QStringLiteral(VELMORA_SOURCE_DIR) : source) +
                           QStringLiteral("/dat/vortex_street.gri")));
    if (!data)
        return 1;

    LayerColorCoding colors(0, true);
    LayerArrows arrows(true);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Field layers"));
    auto* layout = new QHBoxLayout(&window);
    auto* canvas = new Canvas({&colors, &arrows});
    canvas->setFixedSize(800, 400);
    layout->addWidget(canvas);
    auto* side = new QVBoxLayout;
    layout->addLayout(side);
    auto* colorPanel = new QWidget;
    auto* arrowPanel = new QWidget;
    side->addWidget(colorPanel);
    side->addWidget(arrowPanel);
    colors.setupControls(colorPanel);
    arrows.setupControls(arrowPanel);
    auto* colorFunction = colorPanel->findChild<TransferFunctionWidget*>();
    setTransferFunction(colorFunction, QColor(30, 60, 200), QColor(230, 50, 30), 0.0);
    setTransferFunction(arrowPanel->findChild<TransferFunctionWidget*>(), QColor(255, 255, 255),
                        QColor(255, 255, 0), 0.1);

    colors.setFlowData(data.get());
    arrows.setFlowData(data.get());
    window.show();
    canvas->resize(800, 400);
    colors.setSize(canvas->size());
    arrows.setSize(canvas->size());

    if (argc < 2)
        return application.exec();

    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (int i = 0; i < 2000 && (colors.currentImage().isNull() || arrows.currentImage().isNull());
         ++i)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    if (!window.grab().save(folder.filePath(QStringLiteral("before.png"))))
        return 1;
    colorFunction->resize(colorFunction->width(), colorFunction->height());
    drag(colorFunction, QPoint(0, 0), QPoint(0, colorFunction->height() / 2));
    QCoreApplication::processEvents();
    return window.grab().save(folder.filePath(QStringLiteral("after.png"))) ? 0 : 1;
}
