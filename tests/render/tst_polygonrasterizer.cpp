#include "render/PolygonRasterizer.h"

#include <QPainter>
#include <QPen>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A shape as the arrow and streamline drawing hands it over: a filled polygon,
// or a segment (the first two points) stroked with a square cap.
struct Shape
{
    QPolygonF points;
    double strokeWidth = 0.0; // 0: filled
    QColor color;
    int height = 48; // of the 64 pixels wide picture
};

} // namespace

Q_DECLARE_METATYPE(Shape)

namespace {

QImage canvas(QColor background, int height)
{
    QImage image(64, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    // A second colour under the right half, so blending meets two backgrounds.
    QPainter painter(&image);
    painter.fillRect(QRect(32, 0, 32, height), QColor(20, 160, 90, 200));
    return image;
}

// The painter's picture of the shape's outline; a segment's is the rectangle
// its square-capped stroke covers.
QImage painted(const Shape& shape, QColor background)
{
    QPolygonF outline = shape.points;
    if (shape.strokeWidth > 0.0) {
        const QPointF a = shape.points[0];
        const QPointF b = shape.points[1];
        const QPointF along =
            (b - a) * (shape.strokeWidth / 2 / std::hypot(b.x() - a.x(), b.y() - a.y()));
        const QPointF beside(-along.y(), along.x());
        outline = QPolygonF(
            {a - along + beside, b + along + beside, b + along - beside, a - along - beside});
    }
    QImage image = canvas(background, shape.height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(shape.color);
    painter.drawPolygon(outline);
    return image;
}

// The painter's own stroke, which draws pens up to a pixel wide with a
// line algorithm of its own antialiasing.
QImage stroked(const Shape& shape, QColor background)
{
    QImage image = canvas(background, shape.height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(shape.color, shape.strokeWidth, Qt::SolidLine, Qt::SquareCap));
    painter.drawLine(shape.points[0], shape.points[1]);
    return image;
}

// The largest channel difference, of single pixels or of 3 x 3 means.
int largestDifference(const QImage& a, const QImage& b, int radius)
{
    int largest = 0;
    for (int y = radius; y < a.height() - radius; ++y) {
        for (int x = radius; x < a.width() - radius; ++x) {
            for (int shift : {0, 8, 16, 24}) {
                int difference = 0;
                for (int dy = -radius; dy <= radius; ++dy)
                    for (int dx = -radius; dx <= radius; ++dx)
                        difference += int((a.pixel(x + dx, y + dy) >> shift) & 0xff) -
                                      int((b.pixel(x + dx, y + dy) >> shift) & 0xff);
                largest =
                    std::max(largest, std::abs(difference) / ((2 * radius + 1) * (2 * radius + 1)));
            }
        }
    }
    return largest;
}

qint64 ink(const QImage& image)
{
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qAlpha(image.pixel(x, y));
    return sum;
}

QImage rasterized(const Shape& shape, QColor background, int bands)
{
    QImage image = canvas(background, shape.height);
    const QRgb color = qPremultiply(shape.color.rgba());
    for (int band = 0; band < bands; ++band) {
        PolygonRasterizer rasterizer(image, shape.height * band / bands,
                                     shape.height * (band + 1) / bands);
        if (shape.strokeWidth > 0.0)
            rasterizer.strokeSegment(shape.points[0], shape.points[1], shape.strokeWidth, color);
        else
            rasterizer.fillPolygon(shape.points.constData(), int(shape.points.size()), color);
    }
    return image;
}

QPolygonF arrow(QPointF at, double degrees, double unit)
{
    const double c = std::cos(degrees * M_PI / 180.0) * unit;
    const double s = std::sin(degrees * M_PI / 180.0) * unit;
    QPolygonF polygon;
    for (const QPointF& g : {QPointF(-4, -1), QPointF(-4, 1), QPointF(0, 1), QPointF(0, 3),
                             QPointF(4, 0), QPointF(0, -3), QPointF(0, -1)})
        polygon << at + QPointF(c * g.x() - s * g.y(), s * g.x() + c * g.y());
    return polygon;
}

} // namespace

class TestPolygonRasterizer : public QObject
{
    Q_OBJECT

private slots:
    void matchesPainter_data();
    void matchesPainter();
    void bandsDrawTheSamePixels_data() { matchesPainter_data(); }
    void bandsDrawTheSamePixels();
    void laneWidthsDrawTheSamePixels_data() { matchesPainter_data(); }
    void laneWidthsDrawTheSamePixels();
    void rowEndsAtTheBorderBlendAsElsewhere_data();
    void rowEndsAtTheBorderBlendAsElsewhere();
};

void TestPolygonRasterizer::matchesPainter_data()
{
    QTest::addColumn<Shape>("shape");
    QTest::addColumn<QColor>("background");
    const QColor clear(Qt::transparent);
    const QColor grey(128, 128, 128, 128);
    const QColor red(230, 20, 10);
    const QColor faintWhite(255, 255, 255, 90);
    QTest::newRow("arrow, 30 degrees") << Shape{arrow({20, 20}, 30, 2.5), 0, red} << clear;
    QTest::newRow("arrow, 200 degrees, translucent over translucent")
        << Shape{arrow({33.3, 24.7}, 200, 3.1), 0, faintWhite} << grey;
    QTest::newRow("sliver") << Shape{QPolygonF(QList<QPointF>{{2, 3}, {60, 9.5}, {2, 4.2}}), 0, red}
                            << grey;
    QTest::newRow("across the top left corner")
        << Shape{arrow({1.5, 0.5}, 135, 2.5), 0, faintWhite} << grey;
    QTest::newRow("across the bottom right corner")
        << Shape{arrow({62.5, 47.2}, -60, 2.5), 0, red} << clear;
    // Its part beyond the border spans less than a float in y.
    QTest::newRow("nearly level edge leaving the picture")
        << Shape{QPolygonF(QList<QPointF>{{30, 1}, {30, 20.3}, {90, 20.300001}}), 0, red} << grey;
    // Even-odd: the pentagon in the middle stays empty.
    QTest::newRow("self-crossing star")
        << Shape{QPolygonF(QList<QPointF>{{32, 2}, {44, 40}, {12, 16}, {52, 16}, {20, 40}}), 0, red}
        << grey;
    // Taller than a strip of the rasterizer's rows, so it is drawn in several.
    QTest::newRow("tall, 10 x 200")
        << Shape{QPolygonF(QList<QPointF>{{20.3, 0.4}, {30.3, 0.4}, {30.3, 200.4}, {20.3, 200.4}}),
                 0, red, 201}
        << grey;
    QTest::newRow("outside") << Shape{QPolygonF(QList<QPointF>{{-9, -9}, {-1, -9}, {-5, -2}}), 0,
                                      red}
                             << grey;
    QTest::newRow("segment, diagonal, 1 wide")
        << Shape{QPolygonF(QList<QPointF>{{5.2, 40.1}, {50.7, 3.3}}), 1.0, red} << grey;
    QTest::newRow("segment, 0.3 wide")
        << Shape{QPolygonF(QList<QPointF>{{3.5, 10.25}, {40.5, 12.75}}), 0.3, faintWhite} << clear;
    QTest::newRow("segment, horizontal, 2 wide")
        << Shape{QPolygonF(QList<QPointF>{{10.5, 30.5}, {44.5, 30.5}}), 2.0, red} << grey;
    QTest::newRow("segment, out of the picture")
        << Shape{QPolygonF(QList<QPointF>{{-30, 60}, {90, -20}}), 1.5, faintWhite} << grey;
}

// The painter is the reference: the same outlines differ by coverage rounding
// only. Its thin lines differ more on edge pixels, but not in place or ink.
void TestPolygonRasterizer::matchesPainter()
{
    QFETCH(Shape, shape);
    QFETCH(QColor, background);
    const QImage actual = rasterized(shape, background, 1);
    QCOMPARE_LE(largestDifference(painted(shape, background), actual, 0), 3);
    if (shape.strokeWidth > 0.0) {
        const QImage line = stroked(shape, background);
        QCOMPARE_LE(largestDifference(line, actual, 1), 32);
        QVERIFY(std::abs(ink(line) - ink(actual)) <= ink(actual) / 100);
    }
}

void TestPolygonRasterizer::bandsDrawTheSamePixels()
{
    QFETCH(Shape, shape);
    QFETCH(QColor, background);
    QCOMPARE(rasterized(shape, background, 5), rasterized(shape, background, 1));
}

// Edges taken eight rows at a time or one, rows padded to groups of eight
// pixels or of four and blended by the vector loops or, at the picture's
// right border, pixel by pixel: the same pixels.
void TestPolygonRasterizer::laneWidthsDrawTheSamePixels()
{
    QFETCH(Shape, shape);
    QFETCH(QColor, background);
    PolygonRasterizer::setEightLanes(false);
    const QImage four = rasterized(shape, background, 1);
    PolygonRasterizer::setEightLanes(true);
    QCOMPARE(rasterized(shape, background, 1), four);
}

void TestPolygonRasterizer::rowEndsAtTheBorderBlendAsElsewhere_data()
{
    QTest::addColumn<QPolygonF>("shape");
    QTest::addColumn<QColor>("color");
    // Channels whose products with some coverage levels round differently
    // under the usual shortcut for dividing by 255.
    const QColor rare(152, 169, 173);
    QTest::newRow("arrow, level") << arrow({55.7, 15.4}, 0, 1.5) << rare;
    QTest::newRow("arrow, 100 degrees, translucent")
        << arrow({57.2, 15.4}, 100, 1.5) << QColor(40, 90, 200, 170);
    // Its right edge crosses the last columns at every coverage level.
    QTest::newRow("slanted right edge")
        << QPolygonF(QList<QPointF>{{30.2, 0.5}, {61.1, 0.5}, {63.9, 31.5}, {30.2, 31.5}}) << rare;
}

// Near the picture's right border a row cannot run on to a whole group of
// pixels and its last ones are blended one at a time; in a wider picture the
// same shape is blended in groups. The pixels must not tell the two apart.
void TestPolygonRasterizer::rowEndsAtTheBorderBlendAsElsewhere()
{
    QFETCH(QPolygonF, shape);
    QFETCH(QColor, color);
    auto drawn = [&](int width) {
        QImage image(width, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(191, 196, 188, 255));
        PolygonRasterizer(image).fillPolygon(shape.constData(), int(shape.size()),
                                             qPremultiply(color.rgba()));
        return image;
    };
    QCOMPARE(drawn(64), drawn(128).copy(0, 0, 64, 32));
}

QTEST_GUILESS_MAIN(TestPolygonRasterizer)
#include "tst_polygonrasterizer.moc"
