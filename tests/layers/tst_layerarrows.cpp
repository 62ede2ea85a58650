#include "data/FlowDataReady.h"
#include "layers/LayerArrows.h"
#include "tests/common/FakeFlowData.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <limits>

namespace {

constexpr int waitMs = 20000;
// Pictures stay below 2^16 pixels, which Qt paints without its thread pool
// (not modelled by the thread sanitizer).
constexpr int side = 250;
constexpr int sizeSliderValue = 500;

} // namespace

class TestLayerArrows : public QObject
{
    Q_OBJECT

private slots:
    void gridCounts_data();
    void gridCounts();
    void redrawsWithoutResampling();
};

void TestLayerArrows::gridCounts_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<QSize>("counts");

    QTest::newRow("half rounded up") << 1.25f << 10 << QSize(13, 10); // 12.5
    QTest::newRow("2 x 2000 grid at quantity 100") << 0.001f << 100 << QSize(100, 400);
    QTest::newRow("quantity below the slider") << 1.0f << 1 << QSize(3, 3);
    QTest::newRow("aspect not finite")
        << std::numeric_limits<float>::infinity() << 20 << QSize(20, 20);
}

void TestLayerArrows::gridCounts()
{
    QFETCH(float, aspect);
    QFETCH(int, quantity);
    QFETCH(QSize, counts);

    FakeFlowData data(aspect);
    LayerArrows layer(true);
    layer.setFlowData(&data);
    layer.setQuantity(quantity);
    QCOMPARE(layer.arrowCounts(), counts);
    QVERIFY(QTest::qWaitFor([&] { return data.requests().size() == 2; }, waitMs));
    const FakeFlowData::Request asked = data.requests().last();
    QCOMPARE(QSize(asked.width, asked.height), counts);
}

// A new size, a new transfer function and a completion event that finds no
// raster each redraw the arrows held, without resampling.
void TestLayerArrows::redrawsWithoutResampling()
{
    FakeFlowData data(1.0f, [](double, double) { return Vector3(0.4f, 0.1f, 0); });
    LayerArrows layer(true);
    layer.setTransferFunction(TransferFunction(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}),
                                               {QColor(Qt::white), QColor(Qt::white)}));
    layer.setArrowSize(sizeSliderValue);
    layer.setFlowData(&data);
    layer.setSize(QSize(side, side));
    QVERIFY(QTest::qWaitFor([&] { return !layer.currentImage().isNull(); }, waitMs));
    QSignalSpy redrawn(&layer, &Layer::layerChanged);
    layer.setQuantity(3); // arrows at 0, side / 2 and side
    QVERIFY(QTest::qWaitFor([&] { return redrawn.count() > 0; }, waitMs));
    QCOMPARE(data.requests().size(), 2);
    const int requests = int(data.requests().size());
    const std::function<void()> changes[] = {
        [&] { layer.setSize(QSize(300, 120)); },
        [&] {
            layer.setTransferFunction(TransferFunction(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}),
                                                       {QColor(Qt::green), QColor(Qt::green)}));
        },
        [&] {
            QEvent ready(FlowDataReady);
            QCoreApplication::sendEvent(&layer, &ready);
        }};
    for (const std::function<void()>& change : changes) {
        QSignalSpy changed(&layer, &Layer::layerChanged);
        change();
        QVERIFY(changed.count() >= 1);
        const QImage after = layer.currentImage();
        QCOMPARE(after.size(), QSize(300, 120));
        QVERIFY(qAlpha(after.pixel(150, 60)) >= 128);
    }
    QTest::qWait(30);
    QCOMPARE(int(data.requests().size()), requests);
}

QTEST_MAIN(TestLayerArrows)
#include "tst_layerarrows.moc"
