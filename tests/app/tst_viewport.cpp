#include "app/shell/CollapseableWidget.h"
#include "app/ViewPort.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"
#include "tests/app/ImageLayer.h"
#include "tests/common/FakeFlowData.h"
#include "tests/transfer/MouseScript.h"

#include <QApplication>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cmath>

namespace {

// JPEG at quality 80 keeps flat areas within a few levels; probes sit far
// from colour edges.
constexpr int jpegTolerance = 10;

const QColor bottomColor(255, 0, 0);
const QColor topColor(0, 0, 255);

void setViewSize(ViewPort& view, const QSize& size)
{
    view.resize(size);
    QResizeEvent event(size, QSize());
    QApplication::sendEvent(&view, &event);
}

bool closeTo(const QColor& actual, const QColor& expected, int tolerance)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

// True when the bottom colour ends at `column` on row 150 of the view.
bool layerEdgeAt(ViewPort& view, int column)
{
    const QImage shot = view.grab().toImage();
    return shot.pixelColor(column - 1, 150) == bottomColor &&
           shot.pixelColor(column, 150) != bottomColor;
}

} // namespace

class TestViewPort : public QObject
{
    Q_OBJECT

private slots:
    void imageSize_data();
    void imageSize();
    void zoom_data();
    void zoom();
    void panMovesPicture();
    void burstStretchesPicture();
    void exportPicture_data();
    void exportPicture();
    void layerPanel();
    void layersByKind_data();
    void layersByKind();
};

void TestViewPort::imageSize_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("aspect 2 at scale 1") << 2.0f << 1.0f << QSize(1000, 500);
    QTest::newRow("aspect 1.5 at scale 1.25") << 1.5f << 1.25f << QSize(1250, 833);
    QTest::newRow("extreme wide keeps one row") << 5000.0f << 0.2f << QSize(200, 1);
}

void TestViewPort::imageSize()
{
    QFETCH(float, aspect);
    QFETCH(float, scale);
    QFETCH(QSize, expected);
    QCOMPARE(ViewPort::imageSizeFor(aspect, scale), expected);
}

void TestViewPort::zoom_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<QSize>("viewSize");
    QTest::addColumn<QList<int>>("wheelDeltas");
    QTest::addColumn<bool>("burst"); // notches sent in one pass of the event loop
    QTest::addColumn<bool>("fit");   // Fit to Screen after the wheel
    QTest::addColumn<float>("scale");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<int>("sizeUpdates"); // the first one comes with the data set

    const QSize view(400, 300);
    const QList<int> none;
    const int forward = 120;
    const int backward = -120;
    // Ten steps reach 0.107; the eleventh is refused.
    const float tenSteps = float(std::pow(0.8, 10));
    const float cap = ViewPort::maximumScale;

    QTest::newRow("wheel: delta 240 applies the factor once")
        << 2.0f << view << QList<int>{240} << false << false << 0.8f << QSize(800, 400) << 2;
    QTest::newRow("wheel: the eleventh step is refused")
        << 2.0f << view << QList<int>(11, forward) << false << false << tenSteps << QSize(107, 54)
        << 11;
    QTest::newRow("wheel: enlarging stops at the cap")
        << 2.0f << view << QList<int>(8, backward) << false << false << cap << QSize(4000, 2000)
        << 8;
    // The first notch of a burst sizes the layers at once, the rest once.
    QTest::newRow("wheel: a burst sizes the layers twice")
        << 2.0f << view << QList<int>(11, forward) << true << false << tenSteps << QSize(107, 54)
        << 3;
    QTest::newRow("wheel: Fit to Screen settles a burst")
        << 2.0f << QSize(800, 600) << QList<int>(3, backward) << true << true << 0.8f
        << QSize(800, 400) << 3;
    QTest::newRow("fit: wide data in a landscape view")
        << 2.0f << QSize(800, 600) << none << false << true << 0.8f << QSize(800, 400) << 2;
    QTest::newRow("fit: tall data limited by width")
        << 0.25f << QSize(200, 1000) << none << false << true << 0.8f << QSize(200, 800) << 2;
    QTest::newRow("fit: a view too small is refused")
        << 1.0f << QSize(100, 100) << none << false << true << 1.0f << QSize(1000, 1000) << 1;
}

void TestViewPort::zoom()
{
    QFETCH(float, aspect);
    QFETCH(QSize, viewSize);
    QFETCH(QList<int>, wheelDeltas);
    QFETCH(bool, burst);
    QFETCH(bool, fit);
    QFETCH(float, scale);
    QFETCH(QSize, imageSize);
    QFETCH(int, sizeUpdates);

    auto* layer = new ImageLayer(bottomColor, QRectF(0, 0, 1, 1));
    ViewPort view({layer});
    setViewSize(view, viewSize);
    QSignalSpy sizeSpy(&view, &ViewPort::sizeChanged);
    FakeFlowData data(aspect);
    view.setFlowData(&data);
    // Every layer receives the data set first, then each size.
    QCOMPARE(layer->currentFlowData(), &data);
    for (const int delta : wheelDeltas) {
        wheel(&view, QPointF(10, 10), delta);
        if (!burst)
            QCoreApplication::processEvents();
    }
    if (fit)
        view.fitToScreen();
    QCoreApplication::processEvents();
    QCOMPARE(view.zoomScale(), scale);
    QCOMPARE(view.imageSize(), imageSize);
    QCOMPARE(sizeSpy.count(), sizeUpdates);
    QCOMPARE(int(layer->sizes.size()), sizeUpdates);
    QCOMPARE(layer->sizes.last(), imageSize);
}

void TestViewPort::panMovesPicture()
{
    // The layer covers the left half of the image, so with the image centred
    // its right edge sits at the widget's centre column.
    auto* layer = new ImageLayer(bottomColor, QRectF(0, 0, 0.5, 1));
    ViewPort view({layer});
    view.resize(400, 300);
    FakeFlowData data(1.0f);
    view.setFlowData(&data);

    const auto edgeAt = [&](int column) { return layerEdgeAt(view, column); };
    QVERIFY(edgeAt(200));
    play(&view, {press(100, 100), move(150, 100), release(150, 100)});
    QVERIFY(edgeAt(250));
}

void TestViewPort::burstStretchesPicture()
{
    // The layer's right edge at a quarter of the image: 200 - W / 4 in the
    // view, so the column tells the size the picture is shown at.
    auto* layer = new ImageLayer(bottomColor, QRectF(0, 0, 0.25, 1));
    ViewPort view({layer});
    setViewSize(view, QSize(400, 300));
    FakeFlowData data(1.0f);
    view.setFlowData(&data);
    const auto edgeAt = [&](int column) { return layerEdgeAt(view, column); };
    wheel(&view, QPointF(10, 10), 120); // 800 pixels, rendered at once
    wheel(&view, QPointF(10, 10), 120); // 640, the picture in hand stretched
    QCOMPARE(view.imageSize(), QSize(800, 800));
    QVERIFY(edgeAt(40));
    QPointF unit;
    QVERIFY(view.domainPosition(QPointF(40, 150), &unit));
    QVERIFY(std::abs(unit.x() - 0.25) < 1e-9);
    QCoreApplication::processEvents();
    QCOMPARE(layer->sizes, (QList<QSize>{{1000, 1000}, {800, 800}, {640, 640}}));
    QVERIFY(edgeAt(40));
}

void TestViewPort::exportPicture_data()
{
    QTest::addColumn<QRectF>("bottomCoverage");
    QTest::addColumn<bool>("topVisible");
    QTest::addColumn<float>("topOpacity");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QColor>("expected"); // invalid: the view's background

    const QRectF whole(0, 0, 1, 1);
    const QPoint underTop(250, 250);
    QTest::newRow("translucent top over opaque bottom")
        << whole << true << 0.5f << underTop << QColor(128, 0, 127);
    QTest::newRow("zero opacity top") << whole << true << 0.0f << underTop << bottomColor;
    QTest::newRow("uncovered pixels show the background")
        << QRectF(0, 0, 1, 0.5) << false << 1.0f << QPoint(750, 400) << QColor();
}

void TestViewPort::exportPicture()
{
    QFETCH(QRectF, bottomCoverage);
    QFETCH(bool, topVisible);
    QFETCH(float, topOpacity);
    QFETCH(QPoint, probe);
    QFETCH(QColor, expected);

    auto* bottom = new ImageLayer(bottomColor, bottomCoverage);
    auto* top = new ImageLayer(topColor, QRectF(0, 0, 0.5, 1), topVisible);
    ViewPort view({bottom, top});
    // Layer image rows as the picture's rows; the y-up mirror has a test of its own.
    view.setFlippedVertically(true);
    setViewSize(view, QSize(300, 200));
    FakeFlowData data(2.0f);
    view.setFlowData(&data);
    top->setOpacity(topOpacity);
    // Neither the pan nor the widget size reaches the export.
    play(&view, {press(100, 100), move(170, 40), release(170, 40)});

    if (!expected.isValid())
        expected = view.palette().color(view.backgroundRole());

    QTemporaryDir dir;
    const QString fileName = dir.filePath("picture.jpg");
    QVERIFY(view.exportImage(fileName));
    const QImage saved(fileName);
    QCOMPARE(saved.size(), QSize(1000, 500));
    const QColor actual = saved.pixelColor(probe);
    QVERIFY2(closeTo(actual, expected, jpegTolerance), qPrintable(actual.name()));
}

// A layer's panel: the slider's percentage reaches the layer as a fraction; a
// click collapses the panel to its header, a second one gives back the
// maximum height it had been given.
void TestViewPort::layerPanel()
{
    auto* layer = new ImageLayer(bottomColor, QRectF(0, 0, 1, 1));
    ViewPort view({layer});
    QWidget container;
    view.createLayerPanels(&container);
    auto* panel = container.findChild<CollapseableWidget*>();
    QVERIFY(panel);
    panel->findChild<QSlider*>()->setValue(37);
    QCOMPARE(layer->opacity(), 0.37f);

    panel->setMaximumHeight(500);
    auto* button = panel->findChild<QToolButton*>();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(panel->isCollapsed() && !button->isChecked());
    QCOMPARE(panel->maximumHeight(), panel->minimumSizeHint().height());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!panel->isCollapsed() && button->isChecked());
    QCOMPARE(panel->maximumHeight(), 500);
}

void TestViewPort::layersByKind_data()
{
    // Per layer of an image layer, two colour codings, arrows, streamlines:
    // shown or hidden; the topmost shown colour coding (the legend's) and
    // arrows (what --colors sets), as list indices, -1 for none.
    QTest::addColumn<QList<bool>>("shown");
    QTest::addColumn<int>("colorCoding");
    QTest::addColumn<int>("arrows");
    QTest::newRow("the later of two shown") << QList<bool>{1, 1, 1, 1, 1} << 2 << 3;
    QTest::newRow("a hidden top gives way") << QList<bool>{1, 1, 0, 1, 1} << 1 << 3;
    QTest::newRow("none shown") << QList<bool>{1, 0, 0, 0, 1} << -1 << -1;
}

void TestViewPort::layersByKind()
{
    QFETCH(QList<bool>, shown);
    QFETCH(int, colorCoding);
    QFETCH(int, arrows);
    const QList<Layer*> layers{new ImageLayer(bottomColor, QRectF(0, 0, 1, 1), shown[0]),
                               new LayerColorCoding(0, shown[1]), new LayerColorCoding(0, shown[2]),
                               new LayerArrows(shown[3]), new LayerStreamlines(shown[4])};
    ViewPort view(layers);
    const LayerStack stack = view.layerStack();
    // The image layer is of no kind the stack lists.
    QCOMPARE(stack.colorCodings().size(), 2);
    QCOMPARE(stack.colorCodings().constLast(), layers[2]);
    QCOMPARE(stack.arrows().size(), 1);
    QCOMPARE(stack.streamlines().size(), 1);
    QCOMPARE(stack.topmostVisibleColorCoding(), layers.value(colorCoding));
    QCOMPARE(stack.topmostVisible(Layer::Kind::Arrows), layers.value(arrows));
}

QTEST_MAIN(TestViewPort)
#include "tst_viewport.moc"
