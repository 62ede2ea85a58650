#include "app/shell/PaintContext.h"
#include "data/DerivedFieldCache.h"
#include "data/RectangularFlowData.h"
#include "layers/LayerColorCoding.h"
#include "render/ColorCodingRenderer.h"
#include "tests/common/FakeFlowData.h"
#include "transfer/ColorTable.h"

#include <QComboBox>
#include <QPainter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int waitMs = 20000;
const TransferFunction redToBlue(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}),
                                 {QColor(Qt::red), QColor(Qt::blue)});

// A layer with its form on a panel of its own.
struct Fixture
{
    Fixture() : layer(0, true)
    {
        layer.setupControls(&panel);
        selector = panel.findChild<QComboBox*>(QStringLiteral("scalarIndex"));
        layer.setTransferFunction(redToBlue);
    }
    bool waitForPicture()
    {
        return QTest::qWaitFor([this] { return !layer.currentImage().isNull(); }, waitMs);
    }
    QRgb word(int entry) const
    {
        return layer.transferFunction()
            .colorTable(LayerColorCoding::colorTableSize)
            .premultiplied(entry);
    }
    QWidget panel;
    LayerColorCoding layer;
    QComboBox* selector = nullptr;
};

// What the view port does: the layer drawn into an image of the source size.
QImage render(Layer& layer, const QRectF& source)
{
    QImage target(source.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    target.fill(0);
    QPainter painter(&target);
    PaintContext context;
    context.painter = &painter;
    context.target = QRectF(QPointF(0, 0), source.size());
    context.source = source;
    layer.draw(context);
    return target;
}

// One step of a series: scalar set 0 spans [minimum, maximum] in the file,
// the magnitude set [0, speed]; every normalised value is `value`.
struct StepFlowData : FakeFlowData
{
    StepFlowData(float minimum, float maximum, float speed, float value)
        : FakeFlowData(1.0f, {}, 2, [value](int, double, double) { return value; })
    {
        scalars[0].minimum = minimum;
        scalars[0].maximum = maximum;
        vectorMax = speed;
    }
};

} // namespace

class TestLayerColorCoding : public QObject
{
    Q_OBJECT

private slots:
    void fieldSelectorEntries();
    void changeClearsThePicture();
    void oldPictureStretchedAfterResize();
    void colorRange_data();
    void colorRange();
};

// The selector lists the data set's scalar sets and the velocity; a new data
// set is sampled with its first entry, never with an index of the former one.
void TestLayerColorCoding::fieldSelectorEntries()
{
    FakeFlowData previous(1.0f, {}, 4);
    FakeFlowData data(1.0f, {}, 3);
    Fixture fixture;
    fixture.layer.setSize(QSize(8, 4));
    fixture.layer.setFlowData(&previous);
    fixture.selector->setCurrentIndex(3);
    QCOMPARE(fixture.layer.currentScalarIndex(), 3);
    fixture.layer.setFlowData(&data);
    QCOMPARE(fixture.selector->count(), 3);
    QCOMPARE(fixture.selector->itemData(2).toInt(), 2); // the velocity after the scalar sets
    QCOMPARE(fixture.layer.currentScalarIndex(), 0);
    QVERIFY(fixture.waitForPicture());
    for (const FakeFlowData::Request& request : data.requests())
        QCOMPARE(request.index, 0);
    fixture.layer.setFlowData(nullptr);
    QCOMPARE(fixture.selector->count(), 0);

    // After the velocity the derived fields, coloured from the cache's set
    // resampled and spread over its own extremes.
    QTemporaryDir dir;
    FlowFiles::Grid grid;
    grid.xs = {0, 1, 3, 4};
    grid.ys = {0, 2, 3};
    for (float y : grid.ys)
        for (float x : grid.xs)
            grid.vectors.append({-y * y, x * y, 0});
    QVERIFY(grid.write(dir.filePath(QStringLiteral("f"))));
    std::unique_ptr<FlowData> loaded(FlowData::fromFile(dir.filePath(QStringLiteral("f"))));
    auto* rect = dynamic_cast<RectangularFlowData*>(loaded.get());
    QVERIFY(rect);
    DerivedFieldCache cache(*rect);
    fixture.layer.setFlowData(rect);
    fixture.layer.setDerivedFieldCache(&cache);
    const int vorticity = rect->scalarSetCount() + DerivedField::Vorticity;
    QCOMPARE(fixture.selector->itemText(vorticity), DerivedField::name(DerivedField::Vorticity));
    fixture.selector->setCurrentIndex(vorticity);
    QVERIFY(QTest::qWaitFor([&] { return !fixture.layer.currentImage().isNull(); }, waitMs));
    const ScalarSet* set = cache.find(DerivedField::Vorticity);
    QVERIFY(set && set->maximum > set->minimum);
    std::vector<float> raster(8 * 4);
    rect->calcValues(*set, 8, 4, raster.data());
    const float span = set->maximum - set->minimum;
    QCOMPARE(fixture.layer.currentImage(),
             ColorCodingRenderer::render(raster.data(), QSize(8, 4),
                                         redToBlue.colorTable(LayerColorCoding::colorTableSize),
                                         1.0f / span, -set->minimum / span));
    QCOMPARE(fixture.layer.valueRange().maximum, double(set->maximum));
    fixture.layer.setFlowData(nullptr);
}

// A new field clears the picture until its raster arrives; a new transfer
// function recolours the raster held, at once and without resampling.
void TestLayerColorCoding::changeClearsThePicture()
{
    FakeFlowData data(1.0f, {}, 2,
                      [](int index, double, double) { return index == 0 ? 0.f : 1.f; });
    Fixture fixture;
    fixture.layer.setFlowData(&data);
    fixture.layer.setSize(QSize(10, 10));
    QVERIFY(fixture.waitForPicture());
    QCOMPARE(fixture.layer.currentImage().pixel(5, 5), fixture.word(0));

    QSignalSpy changed(&fixture.layer, &Layer::layerChanged);
    fixture.selector->setCurrentIndex(1);
    QVERIFY(fixture.layer.currentImage().isNull());
    QCOMPARE(render(fixture.layer, QRectF(0, 0, 10, 10)).pixel(5, 5), 0u);
    QVERIFY(fixture.waitForPicture());
    QCOMPARE(fixture.layer.currentImage().pixel(5, 5), fixture.word(4095));

    const int asked = int(data.requests().size());
    fixture.layer.setTransferFunction(TransferFunction(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}),
                                                       {QColor(Qt::green), QColor(Qt::green)}));
    QCOMPARE(fixture.layer.currentImage().pixel(9, 9), qRgba(0, 255, 0, 255));
    QTest::qWait(50);
    QCOMPARE(int(data.requests().size()), asked);
}

// While the raster of a new size is computed, the former picture is shown
// stretched over the new size.
void TestLayerColorCoding::oldPictureStretchedAfterResize()
{
    FakeFlowData data(2.0f, {}, 1, [](int, double x, double) { return x < 0.5 ? 0.0f : 1.0f; });
    Fixture fixture;
    fixture.layer.setFlowData(&data);
    fixture.layer.setSize(QSize(100, 50));
    QVERIFY(fixture.waitForPicture());

    data.holding = true;
    auto letGo = qScopeGuard([&] {
        data.holding = false;
        data.proceed.release();
    });
    fixture.layer.setSize(QSize(200, 100));
    QVERIFY(data.entered.tryAcquire(1, waitMs));
    QCOMPARE(fixture.layer.currentImage().size(), QSize(100, 50));
    const QRectF source(100, 0, 100, 100); // the right half
    const QImage shown = render(fixture.layer, source);
    for (int y = 2; y < shown.height(); y += 7)
        for (int x = 4; x < shown.width(); x += 7)
            QCOMPARE(shown.pixel(x, y), fixture.word(4095));
    QCOMPARE(render(fixture.layer, QRectF(0, 0, 200, 100)).pixel(40, 50), fixture.word(0));
}

void TestLayerColorCoding::colorRange_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<float>("value");
    QTest::addColumn<bool>("wholeSeries");
    // Over the series: scalar set 0, then the magnitude; none when empty.
    QTest::addColumn<QList<double>>("series");
    QTest::addColumn<double>("expected");     // where the colour is taken, 0..1
    QTest::addColumn<QList<double>>("range"); // valueRange()

    // The step spans [2, 6] in scalar set 0 and [0, 4] in speed.
    QTest::newRow("per step") << 0 << 0.5f << false << QList<double>{0, 10, 0, 8} << 0.5
                              << QList<double>{2, 6};
    QTest::newRow("whole series") << 0 << 0.5f << true << QList<double>{0, 10, 0, 8} << 0.4
                                  << QList<double>{0, 10};
    QTest::newRow("speed over the series")
        << 1 << 0.5f << true << QList<double>{0, 10, 0, 8} << 0.25 << QList<double>{0, 8};
    QTest::newRow("series extremes not known yet")
        << 0 << 0.75f << true << QList<double>() << 0.75 << QList<double>{2, 6};
    QTest::newRow("constant over the series")
        << 0 << 0.5f << true << QList<double>{3, 3, 0, 8} << 0.0 << QList<double>{3, 3};
}

void TestLayerColorCoding::colorRange()
{
    QFETCH(int, index);
    QFETCH(float, value);
    QFETCH(bool, wholeSeries);
    QFETCH(QList<double>, series);
    QFETCH(double, expected);
    QFETCH(QList<double>, range);

    StepFlowData data(2.0f, 6.0f, 4.0f, value);
    Fixture fixture;
    fixture.layer.setTransferFunction(TransferFunction(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}),
                                                       {QColor(Qt::black), QColor(Qt::white)}));
    fixture.layer.setFlowData(&data);
    fixture.selector->setCurrentIndex(index);
    fixture.layer.setSize(QSize(8, 8));
    QList<ValueRange> ranges;
    for (int k = 0; k + 1 < series.size(); k += 2)
        ranges.append(ValueRange{series[k], series[k + 1]});
    fixture.layer.setSeriesRanges(ranges);
    fixture.layer.setColorRange(wholeSeries ? LayerColorCoding::WholeSeries
                                            : LayerColorCoding::PerStep);
    QVERIFY(fixture.waitForPicture());
    const int grey = qRed(fixture.layer.currentImage().pixel(4, 4));
    QVERIFY2(std::abs(grey - 255.0 * expected) <= 2.0, qPrintable(QString::number(grey)));
    QCOMPARE(fixture.layer.valueRange(), (ValueRange{range[0], range[1]}));
}

QTEST_MAIN(TestLayerColorCoding)
#include "tst_layercolorcoding.moc"
