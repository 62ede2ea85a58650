#include "app/shell/PaintContext.h"
#include "data/FlowDataWriter.h"
#include "data/RectangularFlowData.h"
#include "layers/ColorCodingRenderer.h"
#include "layers/LayerColorCoding.h"
#include "tests/layers/FieldFlowData.h"
#include "tests/layers/TransferFunctionScript.h"
#include "transfer/ColorTable.h"
#include "transfer/HoverPoints.h"
#include "transfer/TransferFunctionWidget.h"

#include <QComboBox>
#include <QPainter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr int waitMs = 20000;
const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();

// A layer with its form built on a panel of its own.
struct ColorCodingFixture
{
    explicit ColorCodingFixture(int scalarIndex = 0) : layer(scalarIndex, true)
    {
        layer.setupControls(&panel);
        selector = panel.findChild<QComboBox*>(QStringLiteral("scalarIndex"));
        function = panel.findChild<TransferFunctionWidget*>(QStringLiteral("transferFunction"));
    }

    bool waitForPicture()
    {
        return QTest::qWaitFor([this] { return !layer.currentImage().isNull(); }, waitMs);
    }

    // Sets a function of two opaque colours, `left` at 0 and `right` at 1.
    void setColors(const QColor& left, const QColor& right)
    {
        setTransferFunction(function, left, right, 0.0);
    }

    QWidget panel;
    LayerColorCoding layer;
    QComboBox* selector = nullptr;
    TransferFunctionWidget* function = nullptr;
};

// What the view port does: the layer drawn into an image of the layer size.
QImage render(Layer& layer, QSize size, QRectF source = QRectF())
{
    if (source.isNull())
        source = QRectF(QPointF(0, 0), QSizeF(size));
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

QString describe(QRgb word)
{
    return QString::number(word, 16);
}

// One step of a series: scalar set 0 spans [minimum, maximum] in the file,
// the magnitude set [0, speed]; every normalised value is `value`.
struct StepFlowData : FieldFlowData
{
    StepFlowData(float minimum, float maximum, float speed, float value) : FieldFlowData(2, 1.0f)
    {
        scalars[0].minimum = minimum;
        scalars[0].maximum = maximum;
        vectorMax = speed;
        scalar = [value](int, int, int, int, int) { return value; };
    }
};

} // namespace

class TestLayerColorCoding : public QObject
{
    Q_OBJECT

private slots:
    void valuesSelectTableWords_data();
    void valuesSelectTableWords();
    void fieldSelectorEntries_data();
    void fieldSelectorEntries();
    void transferFunctionRecoloursWithoutResampling();
    void changeClearsThePicture_data();
    void changeClearsThePicture();
    void oldPictureStretchedAfterResize_data();
    void oldPictureStretchedAfterResize();
    void velocityFieldOfALoadedDataSet();
    void colorRange_data();
    void colorRange();
};

void TestLayerColorCoding::valuesSelectTableWords_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("entry"); // -1: transparent

    QTest::newRow("one") << 1.0f << 4095;
    QTest::newRow("half") << 0.5f << 2047;
    QTest::newRow("just below one") << 0.99999f << 4094;
    QTest::newRow("magnitude above one") << 1.7f << 4095;
    QTest::newRow("huge") << 3.0e38f << 4095;
    QTest::newRow("negative") << -0.3f << 0;
    QTest::newRow("NaN") << notANumber << -1;
    QTest::newRow("positive infinity") << inf << -1;
}

void TestLayerColorCoding::valuesSelectTableWords()
{
    QFETCH(float, value);
    QFETCH(int, entry);

    // Every word distinct and opaque, so the chosen entry shows in the pixel.
    QList<QRgb> table(LayerColorCoding::colorTableSize);
    for (int i = 0; i < table.size(); ++i)
        table[i] = qRgba(i >> 4, i & 15, 200, 255);
    // The value amid others, as in a row of the picture.
    const float values[3] = {0.5f, value, 0.0f};
    QRgb out[3] = {1, 1, 1};
    ColorCodingRenderer::mapValues(values, 3, table.constData(), out);

    const QRgb expected = entry < 0 ? 0u : table[entry];
    QVERIFY2(out[1] == expected, qPrintable(describe(out[1])));
    QCOMPARE(out[0], table[2047]);
    QCOMPARE(out[2], table[0]);
}

void TestLayerColorCoding::fieldSelectorEntries_data()
{
    QTest::addColumn<int>("previousSets"); // 0: no earlier data set
    QTest::addColumn<int>("previousIndex");
    QTest::addColumn<int>("sets"); // scalar list entries; -1: no data set
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QList<int>>("itemData");

    QTest::newRow("two scalar sets")
        << 0 << 0 << 3 << QStringList({"Scalar 0", "Scalar 1", "Velocity"})
        << QList<int>({0, 1, 2});
    QTest::newRow("no scalar sets") << 0 << 0 << 1 << QStringList({"Velocity"}) << QList<int>({0});
    QTest::newRow("data set removed") << 3 << 1 << -1 << QStringList() << QList<int>();
    QTest::newRow("smaller data set after the last entry")
        << 4 << 3 << 1 << QStringList({"Velocity"}) << QList<int>({0});
}

void TestLayerColorCoding::fieldSelectorEntries()
{
    QFETCH(int, previousSets);
    QFETCH(int, previousIndex);
    QFETCH(int, sets);
    QFETCH(QStringList, entries);
    QFETCH(QList<int>, itemData);

    // Declared before the layer, which may still sample them while it goes.
    std::unique_ptr<FieldFlowData> previous;
    std::unique_ptr<FieldFlowData> data;
    ColorCodingFixture fixture;
    fixture.layer.setSize(QSize(8, 4));
    if (previousSets > 0) {
        previous = std::make_unique<FieldFlowData>(previousSets, 1.0f);
        fixture.layer.setFlowData(previous.get());
        fixture.selector->setCurrentIndex(previousIndex);
        QCOMPARE(fixture.layer.currentScalarIndex(), previousIndex);
    }
    if (sets >= 0)
        data = std::make_unique<FieldFlowData>(sets, 1.0f);
    fixture.layer.setFlowData(data.get());

    QStringList shown;
    QList<int> stored;
    for (int i = 0; i < fixture.selector->count(); ++i) {
        shown << fixture.selector->itemText(i);
        stored << fixture.selector->itemData(i).toInt();
    }
    QCOMPARE(shown, entries);
    QCOMPARE(stored, itemData);
    QCOMPARE(fixture.selector->currentIndex(), entries.isEmpty() ? -1 : 0);
    if (!data)
        return;
    QCOMPARE(fixture.layer.currentScalarIndex(), 0);
    // The new data set is resampled with the first entry, never with an
    // index meant for the previous one.
    QVERIFY(fixture.waitForPicture());
    const QList<FieldFlowData::Request> asked = data->requests();
    QVERIFY(!asked.isEmpty());
    for (const FieldFlowData::Request& request : asked)
        QCOMPARE(request.index, 0);
}

void TestLayerColorCoding::transferFunctionRecoloursWithoutResampling()
{
    FieldFlowData data(1, 2.0f);
    ColorCodingFixture fixture;
    data.scalar = [](int, int c, int, int w, int) { return float(c) / float(w - 1); };
    fixture.layer.setFlowData(&data);
    fixture.layer.setSize(QSize(64, 32));
    QVERIFY(fixture.waitForPicture());
    QSignalSpy changed(&fixture.layer, &Layer::layerChanged);

    fixture.setColors(Qt::green, Qt::green);
    // Recoloured at once, before any event is handled.
    QVERIFY(changed.count() >= 1);
    const QImage picture = fixture.layer.currentImage();
    QCOMPARE(picture.pixel(0, 0), qRgba(0, 255, 0, 255));
    QCOMPARE(picture.pixel(63, 31), qRgba(0, 255, 0, 255));
    QTest::qWait(50);
    QCOMPARE(data.requests().size(), 1);
}

void TestLayerColorCoding::changeClearsThePicture_data()
{
    QTest::addColumn<bool>("newDataSet");
    QTest::newRow("field chosen in the selector") << false;
    QTest::newRow("new data set") << true;
}

void TestLayerColorCoding::changeClearsThePicture()
{
    QFETCH(bool, newDataSet);
    FieldFlowData first(2, 1.0f);
    first.scalar = [](int index, int, int, int, int) { return index == 0 ? 0.0f : 1.0f; };
    FieldFlowData second(2, 1.0f);
    second.scalar = [](int, int, int, int, int) { return 1.0f; };
    ColorCodingFixture fixture;
    fixture.setColors(Qt::red, Qt::blue);
    fixture.layer.setFlowData(&first);
    fixture.layer.setSize(QSize(10, 10));
    QVERIFY(fixture.waitForPicture());
    const ColorTable table(fixture.function->transferFunction(), LayerColorCoding::colorTableSize);
    QCOMPARE(fixture.layer.currentImage().pixel(5, 5), table.premultiplied(0));

    QSignalSpy changed(&fixture.layer, &Layer::layerChanged);
    if (newDataSet)
        fixture.layer.setFlowData(&second);
    else
        fixture.selector->setCurrentIndex(1);
    QVERIFY(fixture.layer.currentImage().isNull());
    QVERIFY(render(fixture.layer, QSize(10, 10)).pixel(5, 5) == 0);
    // A recolouring in between has nothing to show and announces nothing.
    QTest::ignoreMessage(QtDebugMsg, "!!!rawData == 0!!!");
    emit fixture.function->colorsChanged();
    QVERIFY(fixture.layer.currentImage().isNull());
    QCOMPARE(changed.count(), 1);

    QVERIFY(fixture.waitForPicture());
    QCOMPARE(fixture.layer.currentImage().pixel(5, 5), table.premultiplied(4095));
}

void TestLayerColorCoding::oldPictureStretchedAfterResize_data()
{
    QTest::addColumn<QRectF>("source");
    QTest::newRow("whole picture") << QRectF(0, 0, 200, 100);
    QTest::newRow("right half") << QRectF(100, 0, 100, 100);
}

void TestLayerColorCoding::oldPictureStretchedAfterResize()
{
    QFETCH(QRectF, source);
    FieldFlowData data(1, 2.0f);
    ColorCodingFixture fixture;
    fixture.setColors(Qt::red, Qt::blue);
    // Left half red, right half blue, whatever the raster size.
    data.scalar = [](int, int c, int, int w, int) { return c < w / 2 ? 0.0f : 1.0f; };
    fixture.layer.setFlowData(&data);
    fixture.layer.setSize(QSize(100, 50));
    QVERIFY(fixture.waitForPicture());

    const ColorTable table(fixture.function->transferFunction(), LayerColorCoding::colorTableSize);
    data.holding = true;
    auto letGo = qScopeGuard([&] {
        data.holding = false;
        data.proceed.release();
    });
    fixture.layer.setSize(QSize(200, 100));
    QVERIFY(data.entered.tryAcquire(1, waitMs)); // the new raster is on its way
    QCOMPARE(fixture.layer.currentImage().size(), QSize(100, 50));

    const QImage shown = render(fixture.layer, QSize(200, 100), source);
    for (int y = 2; y < shown.height(); y += 7) {
        for (int x = 2; x < shown.width(); x += 7) {
            const qreal layerX = source.x() + x + 0.5;
            if (std::abs(layerX - 100.0) < 4.0)
                continue; // the blended seam
            const QRgb expected = table.premultiplied(layerX < 100.0 ? 0 : 4095);
            const QRgb pixel = shown.pixel(x, y);
            QVERIFY2(pixel == expected,
                     qPrintable(
                         QStringLiteral("pixel (%1, %2): %3").arg(x).arg(y).arg(describe(pixel))));
        }
    }

    letGo.dismiss();
    data.holding = false;
    data.proceed.release();
    QVERIFY(QTest::qWaitFor([&] { return fixture.layer.currentImage().size() == QSize(200, 100); },
                            waitMs));
}

void TestLayerColorCoding::velocityFieldOfALoadedDataSet()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FlowDataWriter writer;
    QVERIFY(writer.setGrid({0.0f, 1.0f, 2.0f}, {0.0f, 1.0f}));
    // Lengths 1 to 4 (normalised to 0.25 ... 1), scalar 10 ... 60.
    writer.setVectors({Vector3(1, 0, 0), Vector3(0, 2, 0), Vector3(3, 0, 0), Vector3(0, 4, 0),
                       Vector3(2, 0, 0), Vector3(0, 1, 0)});
    writer.addScalarSet({10, 20, 30, 40, 50, 60});
    const QString name = dir.filePath(QStringLiteral("flow"));
    QVERIFY(writer.write(name));
    std::unique_ptr<FlowData> data(FlowData::fromFile(name + QStringLiteral(".gri")));
    QVERIFY(data);

    ColorCodingFixture fixture;
    fixture.setColors(QColor(0, 0, 0), QColor(255, 255, 255));
    fixture.layer.setFlowData(data.get());
    fixture.layer.setSize(QSize(3, 2));
    QVERIFY(fixture.waitForPicture());
    const ColorTable table(fixture.function->transferFunction(), LayerColorCoding::colorTableSize);
    const QList<float> scalar = {0.0f, 0.2f, 0.4f, 0.6f, 0.8f, 1.0f};
    for (int k = 0; k < 6; ++k)
        QCOMPARE(fixture.layer.currentImage().pixel(k % 3, k / 3),
                 table.premultiplied(table.indexOf(scalar[k])));

    fixture.selector->setCurrentIndex(fixture.selector->findText(QStringLiteral("Velocity")));
    QVERIFY(fixture.layer.currentImage().isNull());
    QVERIFY(fixture.waitForPicture());
    const QList<float> magnitude = {0.25f, 0.5f, 0.75f, 1.0f, 0.5f, 0.25f};
    for (int k = 0; k < 6; ++k)
        QCOMPARE(fixture.layer.currentImage().pixel(k % 3, k / 3),
                 table.premultiplied(table.indexOf(magnitude[k])));
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
    QTest::newRow("step minimum above the series'")
        << 0 << 0.0f << true << QList<double>{1, 5, 0, 8} << 0.25 << QList<double>{1, 5};
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
    ColorCodingFixture fixture;
    fixture.setColors(Qt::black, Qt::white);
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
