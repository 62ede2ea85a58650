#include "app/shell/CollapseableWidget.h"
#include "app/ViewPort.h"
#include "tests/app/ImageLayer.h"
#include "tests/app/ShapedFlowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>
#include <memory>

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

void sendWheel(ViewPort& view, const QPoint& angleDelta)
{
    const QPointF pos(10, 10);
    QWheelEvent event(pos, view.mapToGlobal(pos), QPoint(), angleDelta, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &event);
}

void sendMouse(ViewPort& view, QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), view.mapToGlobal(QPointF(pos)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
}

// Press, one move and release, holding `buttons` throughout.
void dragWith(ViewPort& view, Qt::MouseButtons buttons, const QPoint& from, const QPoint& to)
{
    const Qt::MouseButton first = (buttons & Qt::LeftButton)     ? Qt::LeftButton
                                  : (buttons & Qt::MiddleButton) ? Qt::MiddleButton
                                                                 : Qt::RightButton;
    sendMouse(view, QEvent::MouseButtonPress, from, first, buttons);
    sendMouse(view, QEvent::MouseMove, to, Qt::NoButton, buttons);
    sendMouse(view, QEvent::MouseButtonRelease, to, first, Qt::NoButton);
}

int longerSide(const QSize& size)
{
    return std::max(size.width(), size.height());
}

bool closeTo(const QColor& actual, const QColor& expected, int tolerance)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

class PaintCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TestViewPort : public QObject
{
    Q_OBJECT

private slots:
    void imageSize_data();
    void imageSize();
    void zoom_data();
    void zoom();
    void drag_data();
    void drag();
    void middleDragBelowLowerLimitThenFit();
    void middleDragStopsAtCap();
    void repaintsMergeDuringSizeUpdate();
    void panMovesPicture();
    void exportPicture_data();
    void exportPicture();
    void exportWithoutData();
    void layerPanels();
};

void TestViewPort::imageSize_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("aspect 2 at scale 1") << 2.0f << 1.0f << QSize(1000, 500);
    QTest::newRow("aspect 0.5 at scale 1") << 0.5f << 1.0f << QSize(500, 1000);
    QTest::newRow("aspect 1.5 at scale 1.25") << 1.5f << 1.25f << QSize(1250, 833);
    QTest::newRow("extreme wide keeps one row") << 5000.0f << 0.2f << QSize(200, 1);
    QTest::newRow("extreme tall keeps one column") << 1.0f / 5000.0f << 0.2f << QSize(1, 200);
}

void TestViewPort::imageSize()
{
    QFETCH(float, aspect);
    QFETCH(float, scale);
    QFETCH(QSize, expected);
    QCOMPARE(ViewPort::imageSizeFor(aspect, scale), expected);

    if (scale != 1.0f)
        return;
    // Through a loaded data set: every layer receives the data set first,
    // then the size.
    auto* layer = new ImageLayer(bottomColor, QRectF(0, 0, 1, 1));
    ViewPort view({layer});
    QSignalSpy sizeSpy(&view, &ViewPort::sizeChanged);
    ShapedFlowData data(aspect);
    view.setFlowData(&data);
    QCOMPARE(sizeSpy.count(), 1);
    QCOMPARE(view.imageSize(), expected);
    QCOMPARE(layer->sizes, QList<QSize>{expected});
    QCOMPARE(layer->currentFlowData(), &data);
    QCOMPARE(layer->image.size(), expected);
}

void TestViewPort::zoom_data()
{
    QTest::addColumn<float>("aspect"); // 0: no data set
    QTest::addColumn<QSize>("viewSize");
    QTest::addColumn<QList<QPoint>>("wheelDeltas");
    QTest::addColumn<bool>("fit"); // Fit to Screen after the wheel
    QTest::addColumn<float>("scale");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<int>("sizeUpdates");

    const QSize view(400, 300);
    const QList<QPoint> none;
    const QPoint forward(0, 120);
    const QPoint backward(0, -120);
    // Ten steps reach 0.107; the eleventh is refused.
    float tenSteps = 1.0f;
    for (int i = 0; i < 10; ++i)
        tenSteps = float(tenSteps * 0.8f);
    const float cap = ViewPort::maximumScale;

    QTest::newRow("wheel: delta 240 applies the factor once")
        << 2.0f << view << QList<QPoint>{{0, 240}} << false << 0.8f << QSize(800, 400) << 1;
    QTest::newRow("wheel: delta -60 is zero steps and shrinks")
        << 2.0f << view << QList<QPoint>{{0, -60}} << false << 0.8f << QSize(800, 400) << 1;
    QTest::newRow("wheel: delta -120 enlarges")
        << 2.0f << view << QList<QPoint>{backward} << false << 1.25f << QSize(1250, 625) << 1;
    QTest::newRow("wheel: the eleventh step is refused")
        << 2.0f << view << QList<QPoint>(11, forward) << false << tenSteps << QSize(107, 54) << 10;
    QTest::newRow("wheel: horizontal scroll changes nothing")
        << 2.0f << view << QList<QPoint>{{120, 0}} << false << 1.0f << QSize(1000, 500) << 0;
    QTest::newRow("wheel: enlarging stops at the cap")
        << 2.0f << view << QList<QPoint>(8, backward) << false << cap << QSize(4000, 2000) << 7;
    QTest::newRow("fit: wide data in a landscape view")
        << 2.0f << QSize(800, 600) << none << true << 0.8f << QSize(800, 400) << 1;
    QTest::newRow("fit: wide data limited by height")
        << 2.0f << QSize(1000, 300) << none << true << 0.6f << QSize(600, 300) << 1;
    QTest::newRow("fit: tall data in a landscape view")
        << 0.5f << QSize(800, 600) << none << true << 0.6f << QSize(300, 600) << 1;
    QTest::newRow("fit: tall data limited by width")
        << 0.25f << QSize(200, 1000) << none << true << 0.8f << QSize(200, 800) << 1;
    QTest::newRow("fit: a view too small is refused")
        << 1.0f << QSize(100, 100) << none << true << 1.0f << QSize(1000, 1000) << 0;
    QTest::newRow("fit: a huge view stops at the cap")
        << 1.0f << QSize(6000, 6000) << none << true << cap << QSize(4000, 4000) << 1;
    QTest::newRow("fit: no data set")
        << 0.0f << QSize(800, 600) << none << true << 1.0f << QSize(-1, -1) << 0;
}

void TestViewPort::zoom()
{
    QFETCH(float, aspect);
    QFETCH(QSize, viewSize);
    QFETCH(QList<QPoint>, wheelDeltas);
    QFETCH(bool, fit);
    QFETCH(float, scale);
    QFETCH(QSize, imageSize);
    QFETCH(int, sizeUpdates);

    ViewPort view(QList<Layer*>{});
    setViewSize(view, viewSize);
    ShapedFlowData data(aspect);
    if (aspect > 0.0f)
        view.setFlowData(&data);
    QSignalSpy sizeSpy(&view, &ViewPort::sizeChanged);
    for (const QPoint& delta : wheelDeltas)
        sendWheel(view, delta);
    if (fit)
        view.fitToScreen();
    QCOMPARE(view.zoomScale(), scale);
    QCOMPARE(view.imageSize(), imageSize);
    QCOMPARE(sizeSpy.count(), sizeUpdates);
    QCOMPARE(view.centerFractionX(), 0.5);
    QCOMPARE(view.centerFractionY(), 0.5);
}

void TestViewPort::drag_data()
{
    QTest::addColumn<bool>("withData");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<double>("centerX");
    QTest::addColumn<double>("centerY");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QSize>("imageSize");

    const int left = Qt::LeftButton;
    const int middle = Qt::MiddleButton;
    const QPoint start(100, 100);
    const QSize unscaled(1000, 500);
    QTest::newRow("left drag up and left")
        << true << left << start << QPoint(80, 60) << 0.52 << 0.58 << 1.0f << unscaled;
    QTest::newRow("left and middle together do nothing")
        << true << (left | middle) << start << QPoint(150, 50) << 0.5 << 0.5 << 1.0f << unscaled;
    QTest::newRow("right drag does nothing") << true << int(Qt::RightButton) << start
                                             << QPoint(150, 50) << 0.5 << 0.5 << 1.0f << unscaled;
    QTest::newRow("middle drag up enlarges")
        << true << middle << start << QPoint(100, 90) << 0.5 << 0.5 << 1.01f << QSize(1009, 505);
    QTest::newRow("middle drag down shrinks")
        << true << middle << start << QPoint(100, 130) << 0.5 << 0.5 << 0.99f << QSize(990, 495);
    QTest::newRow("middle drag sideways shrinks")
        << true << middle << start << QPoint(160, 100) << 0.5 << 0.5 << 0.99f << QSize(990, 495);
    QTest::newRow("left drag without data")
        << false << left << start << QPoint(150, 60) << 0.5 << 0.5 << 1.0f << QSize(-1, -1);
    QTest::newRow("middle drag without data")
        << false << middle << start << QPoint(100, 90) << 0.5 << 0.5 << 1.01f << QSize(-1, -1);
}

void TestViewPort::drag()
{
    QFETCH(bool, withData);
    QFETCH(int, buttons);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(double, centerX);
    QFETCH(double, centerY);
    QFETCH(float, scale);
    QFETCH(QSize, imageSize);

    auto* layer = new ImageLayer(bottomColor, QRectF(0, 0, 1, 1));
    ViewPort view({layer});
    setViewSize(view, QSize(400, 300));
    ShapedFlowData data(2.0f);
    if (withData)
        view.setFlowData(&data);
    const qsizetype rendersBefore = layer->sizes.size();

    dragWith(view, Qt::MouseButtons(buttons), from, to);
    QCOMPARE(view.centerFractionX(), centerX);
    QCOMPARE(view.centerFractionY(), centerY);
    QCOMPARE(view.zoomScale(), scale);
    QCOMPARE(view.imageSize(), imageSize);
    // A pan only repaints; only a zoom makes the layers render.
    const bool zoomed = withData && scale != 1.0f;
    QCOMPARE(layer->sizes.size(), rendersBefore + (zoomed ? 1 : 0));
}

void TestViewPort::middleDragBelowLowerLimitThenFit()
{
    ViewPort view(QList<Layer*>{});
    setViewSize(view, QSize(800, 600));
    ShapedFlowData data(2.0f);
    view.setFlowData(&data);
    for (int i = 0; i < 10; ++i)
        sendWheel(view, QPoint(0, 120));
    QCOMPARE(longerSide(view.imageSize()), 107);

    QSignalSpy sizeSpy(&view, &ViewPort::sizeChanged);
    QPoint pos(400, 300);
    sendMouse(view, QEvent::MouseButtonPress, pos, Qt::MiddleButton, Qt::MiddleButton);
    for (int i = 0; i < 100; ++i) {
        pos += QPoint(0, 5);
        sendMouse(view, QEvent::MouseMove, pos, Qt::NoButton, Qt::MiddleButton);
    }
    QVERIFY2(view.zoomScale() <= ViewPort::minimumScale,
             qPrintable(QString::number(view.zoomScale())));
    QVERIFY(view.zoomScale() > 0.0f);
    for (const QList<QVariant>& emitted : std::as_const(sizeSpy))
        QVERIFY(longerSide(emitted.at(0).toSize()) >= 100);
    // The image keeps the last size above the limit, now stale.
    QVERIFY(longerSide(view.imageSize()) >= 100);

    sendMouse(view, QEvent::MouseButtonRelease, pos, Qt::MiddleButton, Qt::NoButton);
    dragWith(view, Qt::LeftButton, QPoint(100, 100), QPoint(130, 120));
    view.fitToScreen();
    QCOMPARE(view.zoomScale(), 0.8f);
    QCOMPARE(view.imageSize(), QSize(800, 400));
    QCOMPARE(view.centerFractionX(), 0.5);
    QCOMPARE(view.centerFractionY(), 0.5);
}

void TestViewPort::middleDragStopsAtCap()
{
    ViewPort view(QList<Layer*>{});
    setViewSize(view, QSize(400, 300));
    ShapedFlowData data(1.0f);
    view.setFlowData(&data);
    for (int i = 0; i < 8; ++i)
        sendWheel(view, QPoint(0, -120));
    QCOMPARE(view.zoomScale(), ViewPort::maximumScale);

    QSignalSpy sizeSpy(&view, &ViewPort::sizeChanged);
    dragWith(view, Qt::MiddleButton, QPoint(100, 200), QPoint(100, 100));
    QCOMPARE(view.zoomScale(), ViewPort::maximumScale);
    QCOMPARE(sizeSpy.count(), 0);
    QCOMPARE(view.imageSize(), QSize(4000, 4000));
    // Dragging down from the cap still shrinks.
    dragWith(view, Qt::MiddleButton, QPoint(100, 100), QPoint(100, 200));
    QVERIFY(view.zoomScale() < ViewPort::maximumScale);
    QVERIFY(view.zoomScale() > 0.0f);
    QCOMPARE(sizeSpy.count(), 1);
}

void TestViewPort::repaintsMergeDuringSizeUpdate()
{
    auto* first = new ImageLayer(bottomColor, QRectF(0, 0, 1, 1));
    auto* second = new ImageLayer(topColor, QRectF(0, 0, 0.5, 1));
    ViewPort view({first, second});
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    PaintCounter counter;
    view.installEventFilter(&counter);
    QCoreApplication::processEvents();

    // Each layer announces its new image inside the update; no paint may run
    // until every layer has its new size.
    QList<int> paintsSeenInside;
    const auto probe = [&] {
        QCoreApplication::processEvents();
        paintsSeenInside.append(counter.count);
    };
    first->afterSetSize = probe;
    second->afterSetSize = probe;
    const int before = counter.count;
    ShapedFlowData data(1.5f);
    view.setFlowData(&data);
    QCOMPARE(paintsSeenInside, (QList<int>{before, before}));
    QTRY_COMPARE(counter.count, before + 1);

    // Outside an update, a change repaints on its own.
    first->afterSetSize = nullptr;
    second->afterSetSize = nullptr;
    first->setOpacity(0.5f);
    QTRY_COMPARE(counter.count, before + 2);
}

void TestViewPort::panMovesPicture()
{
    // The layer covers the left half of the image, so with the image centred
    // its right edge sits at the widget's centre column.
    auto* layer = new ImageLayer(bottomColor, QRectF(0, 0, 0.5, 1));
    ViewPort view({layer});
    view.resize(400, 300);
    ShapedFlowData data(1.0f);
    view.setFlowData(&data);

    const auto edgeAt = [&](int column) {
        const QImage shot = view.grab().toImage();
        return shot.pixelColor(column - 1, 150) == bottomColor &&
               shot.pixelColor(column, 150) != bottomColor;
    };
    QVERIFY(edgeAt(200));
    dragWith(view, Qt::LeftButton, QPoint(100, 100), QPoint(150, 100));
    QVERIFY(edgeAt(250));
    // Zooming keeps the image point at the widget centre in place.
    dragWith(view, Qt::LeftButton, QPoint(150, 100), QPoint(100, 100));
    sendWheel(view, QPoint(0, 120));
    QVERIFY(edgeAt(200));
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
    QTest::newRow("hidden top is skipped") << whole << false << 1.0f << underTop << bottomColor;
    QTest::newRow("zero opacity top") << whole << true << 0.0f << underTop << bottomColor;
    QTest::newRow("uncovered pixels show the background")
        << QRectF(0, 0, 1, 0.5) << false << 1.0f << QPoint(750, 400) << QColor();
    QTest::newRow("translucent top over nothing")
        << QRectF(0, 0, 1, 0.5) << true << 0.5f << QPoint(250, 400) << QColor(0, 0, 1);
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
    ShapedFlowData data(2.0f);
    view.setFlowData(&data);
    top->setOpacity(topOpacity);
    // Neither the pan nor the widget size reaches the export.
    dragWith(view, Qt::LeftButton, QPoint(100, 100), QPoint(170, 40));

    const QColor background = view.palette().color(view.backgroundRole());
    if (!expected.isValid())
        expected = background;
    else if (expected == QColor(0, 0, 1))
        expected = QColor((background.red() + 1) / 2, (background.green() + 1) / 2,
                          (background.blue() + 255 + 1) / 2);

    QTemporaryDir dir;
    const QString fileName = dir.filePath("picture.jpg");
    QVERIFY(view.exportImage(fileName));
    const QImage saved(fileName);
    QCOMPARE(saved.size(), QSize(1000, 500));
    const QColor actual = saved.pixelColor(probe);
    QVERIFY2(closeTo(actual, expected, jpegTolerance), qPrintable(actual.name()));
}

void TestViewPort::exportWithoutData()
{
    ViewPort view({new ImageLayer(bottomColor, QRectF(0, 0, 1, 1))});
    QTemporaryDir dir;
    const QString fileName = dir.filePath("out.jpg");
    QVERIFY(!view.exportImage(fileName));
    QVERIFY(!QFile::exists(fileName));
}

void TestViewPort::layerPanels()
{
    auto* shown = new ImageLayer(bottomColor, QRectF(0, 0, 1, 1), true, "Shown");
    auto* hidden = new ImageLayer(topColor, QRectF(0, 0, 1, 1), false, "Hidden");
    ViewPort view({shown, hidden});
    QWidget container;
    auto* layout = new QVBoxLayout(&container);
    QSignalSpy hiddenSpy(hidden, &Layer::layerChanged);

    view.createLayerPanels(&container);
    QCOMPARE(layout->count(), 3);
    auto* shownPanel = qobject_cast<CollapseableWidget*>(layout->itemAt(0)->widget());
    auto* hiddenPanel = qobject_cast<CollapseableWidget*>(layout->itemAt(1)->widget());
    QVERIFY(shownPanel && hiddenPanel);
    QVERIFY(layout->itemAt(2)->spacerItem());
    QVERIFY(layout->itemAt(2)->expandingDirections() & Qt::Vertical);
    QCOMPARE(shownPanel->title(), QString("Shown"));
    QCOMPARE(hiddenPanel->title(), QString("Hidden"));
    QCOMPARE(shown->setupCount, 1);
    QCOMPARE(hidden->setupCount, 1);
    QVERIFY(!shownPanel->isCollapsed());
    QVERIFY(shownPanel->findChild<QCheckBox*>()->isChecked());
    QVERIFY(hiddenPanel->isCollapsed());
    QVERIFY(!hiddenPanel->findChild<QCheckBox*>()->isChecked());
    // Unchecking the hidden layer's panel did not reach the layer.
    QCOMPARE(hiddenSpy.count(), 0);

    shownPanel->findChild<QSlider*>()->setValue(37);
    QCOMPARE(shown->opacity(), 0.37f);
    hiddenPanel->findChild<QCheckBox*>()->click();
    QVERIFY(hidden->isVisible());
    QCOMPARE(hiddenSpy.count(), 1);
}

QTEST_MAIN(TestViewPort)
#include "tst_viewport.moc"
