#include "data/Vector3.h"
#include "render/ArrowRenderer.h"
#include "render/ColorCodingRenderer.h"
#include "render/HugePageImage.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunction.h"

#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int side = 250;
// Arrow size 5 gives s = side * 5 / 400 pixels per glyph unit.
constexpr float arrowSize = 5.0f;
constexpr float glyphUnit = side * arrowSize / 400.0f;
constexpr int arrowTableSize = 256; // the arrow layer's

// A 3 x 3 grid straight from the renderer over a side x side image: arrows at
// 0, side / 2 and side, `middle` in the centre, the others along x.
QImage renderGrid(const Vector3& middle, const ColorTable& table, float normPerc)
{
    std::vector<Vector3> vectors(9, Vector3(0.5f, 0, 0));
    vectors[4] = middle;
    return ArrowRenderer::render(vectors.data(), QSize(3, 3), table, QSize(side, side), arrowSize,
                                 normPerc);
}

bool covered(const QImage& image, QPointF at)
{
    const QPoint pixel(int(std::floor(at.x())), int(std::floor(at.y())));
    return image.rect().contains(pixel) && qAlpha(image.pixel(pixel)) >= 128;
}

// Length of the covered run through `centre` along `direction`.
double extentAlong(const QImage& image, QPointF centre, QPointF direction)
{
    if (!covered(image, centre))
        return 0.0;
    constexpr double step = 0.25;
    double ahead = 0.0;
    while (covered(image, centre + direction * (ahead + step)))
        ahead += step;
    double behind = 0.0;
    while (covered(image, centre - direction * (behind + step)))
        behind += step;
    return ahead + behind;
}

} // namespace

class TestFieldRenderers : public QObject
{
    Q_OBJECT

private slots:
    void arrowLengthAndDirection_data();
    void arrowLengthAndDirection();
    void arrowColours_data();
    void arrowColours();
    void valuesSelectTableWords_data();
    void valuesSelectTableWords();
    void hugePagePictures_data();
    void hugePagePictures();
    void arrowsAcrossBandsMatchThePainter_data();
    void arrowsAcrossBandsMatchThePainter();
};

void TestFieldRenderers::arrowLengthAndDirection_data()
{
    QTest::addColumn<int>("lengthSlider");
    QTest::addColumn<Vector3>("vector");
    QTest::addColumn<double>("length"); // pixels; 0: no arrow

    const float s = glyphUnit;
    const float notANumber = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("no arrow at magnitude 0.001") << 100 << Vector3(0.001f, 0, 0) << 0.0;
    QTest::newRow("no arrow for NaN") << 100 << Vector3(notANumber, 0.5f, 0) << 0.0;
    QTest::newRow("magnitude 0.002 is drawn") << 100 << Vector3(0, 0.002f, 0) << 8.0 * s;
    QTest::newRow("half blended") << 50 << Vector3(0.2f, 0, 0) << 8.0 * s * (0.5 + 5.0 * 0.2);
    QTest::newRow("against x") << 0 << Vector3(-0.3f, 0, 0) << 80.0 * s * 0.3;
    QTest::newRow("diagonal") << 100 << Vector3(0.2f, 0.2f, 0) << 8.0 * s;
}

void TestFieldRenderers::arrowLengthAndDirection()
{
    QFETCH(int, lengthSlider);
    QFETCH(Vector3, vector);
    QFETCH(double, length);

    const TransferFunction white(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}), {Qt::white, Qt::white});
    const QImage image =
        renderGrid(vector, white.colorTable(arrowTableSize), lengthSlider / 100.0f);

    // Arrows on the borders are drawn, half outside.
    QVERIFY(covered(image, QPointF(side / 2 + 0.5, 0.5)));
    QVERIFY(covered(image, QPointF(side - 0.5, side - 0.5)));
    const QPointF centre(side / 2 + 0.5, side / 2 + 0.5);
    if (length == 0.0) {
        QVERIFY(!covered(image, centre));
        return;
    }
    const double planar = std::hypot(double(vector.x), double(vector.y));
    const QPointF along(vector.x / planar, vector.y / planar);
    const QPointF across(-along.y(), along.x());
    const double measured = extentAlong(image, centre, along);
    QVERIFY2(std::abs(measured - length) <= 3.0,
             qPrintable(QStringLiteral("length %1, expected %2").arg(measured).arg(length)));
    // Across, the glyph keeps its size whatever the length: one unit ahead of
    // the centre the head is 4.5 units wide, one unit behind the shaft 2.
    const double unitAlong = length / 8.0;
    const double headWidth = extentAlong(image, centre + along * unitAlong, across);
    const double shaftWidth = extentAlong(image, centre - along * unitAlong, across);
    QVERIFY2(std::abs(headWidth - 4.5 * glyphUnit) <= 3.0, qPrintable(QString::number(headWidth)));
    QVERIFY2(std::abs(shaftWidth - 2.0 * glyphUnit) <= 3.0,
             qPrintable(QString::number(shaftWidth)));
    const QPointF off = across * (1.6 * glyphUnit);
    QVERIFY2(covered(image, centre + along * unitAlong + off), "no head ahead of the centre");
    QVERIFY2(!covered(image, centre - along * unitAlong + off), "head behind the centre");
}

void TestFieldRenderers::arrowColours_data()
{
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");
    QTest::addColumn<double>("pointHeight"); // 0 = opaque
    QTest::addColumn<float>("magnitude");
    QTest::addColumn<int>("alpha");

    QTest::newRow("half transparent white")
        << QColor(Qt::white) << QColor(Qt::white) << 0.5 << 0.5f << 127;
    QTest::newRow("opaque ramp, small magnitude")
        << QColor(Qt::red) << QColor(Qt::blue) << 0.0 << 0.1f << 255;
}

void TestFieldRenderers::arrowColours()
{
    QFETCH(QColor, left);
    QFETCH(QColor, right);
    QFETCH(double, pointHeight);
    QFETCH(float, magnitude);
    QFETCH(int, alpha);

    const TransferFunction function(QPolygonF(QList<QPointF>{{0, pointHeight}, {1, pointHeight}}),
                                    {left, right});
    const ColorTable table = function.colorTable(arrowTableSize);
    const Vector3 vector(magnitude, 0, 0);
    const QColor expected = table.straightColor(table.indexOf(magnitude));
    QCOMPARE(expected.alpha(), alpha);
    // Inside the shaft, fully covered: the brush's colour as it is composed
    // over transparency.
    const QRgb pixel = renderGrid(vector, table, 1.0f).pixel(side / 2 - 3, side / 2);
    const QRgb want = qPremultiply(expected.rgba());
    for (int shift : {0, 8, 16, 24})
        QVERIFY2(std::abs(int((pixel >> shift) & 0xff) - int((want >> shift) & 0xff)) <= 2,
                 qPrintable(QString::number(pixel, 16)));
}

void TestFieldRenderers::valuesSelectTableWords_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("entry"); // -1: transparent

    QTest::newRow("above one") << 1.7f << 4095;
    QTest::newRow("negative") << -0.3f << 0;
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << -1;
}

void TestFieldRenderers::valuesSelectTableWords()
{
    QFETCH(float, value);
    QFETCH(int, entry);
    QList<QRgb> table(ColorCodingRenderer::colorTableSize);
    for (int i = 0; i < table.size(); ++i)
        table[i] = qRgba(i >> 4, i & 15, 200, 255); // distinct: the entry shows in the pixel
    const float values[3] = {0.5f, value, 0.0f};
    QRgb out[3] = {1, 1, 1};
    ColorCodingRenderer::mapValues(values, 3, table.constData(), out);
    QCOMPARE(out[1], entry < 0 ? 0u : table[entry]);
    QCOMPARE(out[0], table[2047]);
    QCOMPARE(out[2], table[0]);
}

void TestFieldRenderers::hugePagePictures_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QSize>("size");
    QTest::newRow("premultiplied, small")
        << int(QImage::Format_ARGB32_Premultiplied) << QSize(5, 3);
    QTest::newRow("premultiplied, on huge pages")
        << int(QImage::Format_ARGB32_Premultiplied) << QSize(1500, 1001);
    QTest::newRow("grey bytes, rows padded") << int(QImage::Format_Grayscale8) << QSize(3, 7);
}

// A picture on huge pages is laid out as QImage lays out its own, and its
// rows turn over in place as QImage's own turn over.
void TestFieldRenderers::hugePagePictures()
{
    QFETCH(int, format);
    QFETCH(QSize, size);
    QImage picture = HugePageImage::create(size, QImage::Format(format));
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), size);
    const QImage own(size, QImage::Format(format));
    QCOMPARE(picture.bytesPerLine(), own.bytesPerLine());
    for (int row = 0; row < size.height(); ++row)
        for (qsizetype b = 0; b < picture.bytesPerLine(); ++b)
            picture.scanLine(row)[b] = uchar(row * 31 + b * 7);
    const QImage expected = picture.copy().mirrored(false, true);
    const uchar* before = picture.constBits();
    HugePageImage::mirrorRows(picture);
    QCOMPARE(picture.constBits(), before);
    QCOMPARE(picture, expected);
}

void TestFieldRenderers::arrowsAcrossBandsMatchThePainter_data()
{
    QTest::addColumn<Vector3>("vector");
    QTest::newRow("along y") << Vector3(0, 0.5f, 0);
    QTest::newRow("against y, turned") << Vector3(0.2f, -0.45f, 0);
}

// A picture 1000 wide is drawn in bands of 65 rows, and each band draws only
// the grid rows whose arrows can reach it: arrows standing across the bands'
// borders must come out whole, as the painter draws them.
void TestFieldRenderers::arrowsAcrossBandsMatchThePainter()
{
    QFETCH(Vector3, vector);
    const QSize counts(40, 9);
    const QSize size(1000, 200);
    const std::vector<Vector3> vectors(size_t(counts.width() * counts.height()), vector);
    const TransferFunction white(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}), {Qt::white, Qt::white});
    const ColorTable table = white.colorTable(arrowTableSize);
    const QImage drawn = ArrowRenderer::render(vectors.data(), counts, table, size, 5.0f, 1.0f);
    QImage painted(size, QImage::Format_ARGB32_Premultiplied);
    painted.fill(0);
    {
        QPainter painter(&painted);
        painter.setRenderHint(QPainter::Antialiasing);
        ArrowRenderer::paint(painter, vectors.data(), counts, table, size, 5.0f, 1.0f);
    }
    int largest = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            largest = std::max(largest,
                               std::abs(qAlpha(drawn.pixel(x, y)) - qAlpha(painted.pixel(x, y))));
    QCOMPARE_LE(largest, 3);
}

QTEST_GUILESS_MAIN(TestFieldRenderers)
#include "tst_fieldrenderers.moc"
