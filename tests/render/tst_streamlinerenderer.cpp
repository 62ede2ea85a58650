#include "render/StreamlineParameters.h"
#include "render/StreamlineRenderer.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunction.h"

#include <QPainter>
#include <QTest>

#include <cmath>
#include <cstdlib>

// The renderer draws its segments without a painter; its pictures must stay
// those of stroking every segment with its own pen.
class TestStreamlineRenderer : public QObject
{
    Q_OBJECT

private slots:
    void segmentsAsDrawnOneByOne_data();
    void segmentsAsDrawnOneByOne();
    void segmentColour_data();
    void segmentColour();
    void glyphInterval_data();
    void glyphInterval();
};

namespace {

// Three lines along +x, wavy or straight at a pixel row's middle (400
// pixels to the width), magnitudes stepping every three points, tapers varying.
std::vector<Streamline> testLines(bool wavy)
{
    std::vector<Streamline> lines;
    for (int l = 0; l < 3; ++l) {
        Streamline line;
        for (int k = 0; k < 60; ++k) {
            StreamlinePoint p;
            p.x = 0.05 + 0.015 * k;
            p.y = (40.5 + 48.0 * l) / 400.0 + (wavy ? 0.03 * std::sin(k * 0.4 + l) : 0.0);
            p.magnitude = float((k / 3) % 7) / 6.0f;
            p.texture = 0.5 + 0.5 * std::cos(k * 0.7);
            p.taper = 0.3 + 0.7 * double((k * 7 + l) % 10) / 9.0;
            line.push_back(p);
        }
        lines.push_back(line);
    }
    return lines;
}

// Every segment stroked with a pen of its own, as the look asks.
QImage strokedOneByOne(const std::vector<Streamline>& lines, const ColorTable& table, QSize size,
                       const StreamlineParameters& look)
{
    QImage canvas(size, QImage::Format_ARGB32);
    canvas.fill(0);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.scale(size.width(), size.width());
    const double baseWidth = look.lineWidth * 20.0 / size.width();
    for (const Streamline& line : lines) {
        for (std::size_t k = 1; k < line.size(); ++k) {
            const StreamlinePoint& p = line[k];
            QColor color = table.straightColor(table.indexOf(p.magnitude));
            if (look.texture)
                color = QColor(int(color.red() * p.texture), int(color.green() * p.texture),
                               int(color.blue() * p.texture), color.alpha());
            // The rectangle a square-capped pen covers, filled: the painter's
            // own thin lines use an antialiasing of their own.
            const QPointF a(line[k - 1].x, line[k - 1].y);
            const QPointF b(p.x, p.y);
            const double width = look.tapering ? baseWidth * p.taper : baseWidth;
            const QPointF along = (b - a) * (width / 2 / std::hypot(b.x() - a.x(), b.y() - a.y()));
            const QPointF beside(-along.y(), along.x());
            painter.setBrush(color);
            painter.drawPolygon(QPolygonF(
                {a - along + beside, b + along + beside, b + along - beside, a - along - beside}));
        }
    }
    painter.end();
    return canvas;
}

bool near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance &&
           std::abs(qAlpha(a) - qAlpha(b)) <= tolerance;
}

} // namespace

void TestStreamlineRenderer::segmentsAsDrawnOneByOne_data()
{
    QTest::addColumn<bool>("tapering");
    QTest::addColumn<bool>("texture");
    QTest::addColumn<bool>("glyphs");

    QTest::newRow("plain") << false << false << false;
    QTest::newRow("tapering") << true << false << false;
    QTest::newRow("texture") << false << true << false;
    // Glyphs take the pen away; every later segment must get it back.
    QTest::newRow("glyphs") << false << false << true;
}

void TestStreamlineRenderer::segmentsAsDrawnOneByOne()
{
    QFETCH(bool, tapering);
    QFETCH(bool, texture);
    QFETCH(bool, glyphs);

    StreamlineParameters look;
    look.lineWidth = 0.15; // three pixels
    look.tapering = tapering;
    look.texture = texture;
    look.glyphs = glyphs;
    look.glyphSize = 0.05; // 27 pixels tall, less than the lines' spacing
    // Opaque colours along the magnitude, so no segment vanishes and colour
    // changes come every few points.
    const ColorTable table = TransferFunction(QPolygonF({{0.0, 0.0}, {0.5, 0.0}, {1.0, 0.0}}),
                                              {Qt::red, Qt::green, Qt::blue})
                                 .colorTable(256);
    const QSize size(400, 300);
    // Glyphs lie left of the direction of travel, above a line along +x;
    // below a straight line only the strokes paint.
    const std::vector<Streamline> lines = testLines(!glyphs);

    const QImage picture = StreamlineRenderer::render(lines, table, size, look, 0.015);
    const QImage expected = strokedOneByOne(lines, table, size, look);
    QCOMPARE(picture.size(), size);
    int covered = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            // Compared as shown: at a faint edge a straight colour's channels
            // magnify a coverage difference of one level many times.
            const QRgb want = qPremultiply(expected.pixel(x, y));
            const QRgb got = qPremultiply(picture.pixel(x, y));
            if (qAlpha(want) > 0)
                ++covered;
            const int belowLine = ((y - 40) % 48 + 48) % 48; // rows below a line centre
            if (glyphs && (belowLine < 1 || belowLine > 4))
                continue; // glyphs may paint here

            // Equal up to antialiasing.
            QVERIFY2(near(got, want, 8), qPrintable(QString("pixel (%1, %2)").arg(x).arg(y)));
        }
    }
    QVERIFY(covered > 1000);
}

void TestStreamlineRenderer::segmentColour_data()
{
    QTest::addColumn<double>("texture"); // NaN: texture off
    QTest::addColumn<QColor>("expected");

    // segmentsAsDrawnOneByOne draws opaque colours; the default function is
    // half transparent white at magnitude 0.5.
    QTest::newRow("not premultiplied twice") << qQNaN() << QColor(255, 255, 255, 127);
    QTest::newRow("texture 0: black with the table's alpha") << 0.0 << QColor(0, 0, 0, 127);
}

void TestStreamlineRenderer::segmentColour()
{
    QFETCH(double, texture);
    QFETCH(QColor, expected);

    StreamlineParameters look;
    look.lineWidth = 0.5; // 10 pixels: the centre row is fully covered
    look.texture = !std::isnan(texture);
    const Streamline line{{0.1, 0.25, 0.5f, look.texture ? texture : 0.5, 1.0},
                          {0.9, 0.25, 0.5f, look.texture ? texture : 0.5, 1.0}};
    const QImage image = StreamlineRenderer::render({line}, TransferFunction().colorTable(256),
                                                    QSize(200, 100), look, 0.004);
    const QRgb got = image.pixel(100, 50);
    QVERIFY2(near(got, expected.rgba(), 3), qPrintable(QString::number(got, 16)));
}

void TestStreamlineRenderer::glyphInterval_data()
{
    QTest::addColumn<double>("tracedStep");
    QTest::addColumn<int>("segments");
    QTest::addColumn<bool>("stalled");
    QTest::addColumn<int>("glyphs");

    // Glyph size 0.5: interval trunc(0.04 / traced step); a glyph's base is
    // 10 pixels at 1000 pixels across.
    QTest::newRow("every fourth point") << 0.009 << 20 << false << 5;
    QTest::newRow("interval 0 means every point") << 0.05 << 8 << false << 8;
    QTest::newRow("incomplete glyph at the end is dropped") << 0.009 << 22 << false << 5;
    // Every point twice: repeats count towards the interval.
    QTest::newRow("repeated points count") << 0.009 << 20 << true << 9;
}

void TestStreamlineRenderer::glyphInterval()
{
    QFETCH(double, tracedStep);
    QFETCH(int, segments);
    QFETCH(bool, stalled);
    QFETCH(int, glyphs);

    Streamline line;
    for (int k = 0; k <= segments; ++k)
        line.push_back({0.1 + tracedStep * k, 0.25, 1.0f, 0.5, 1.0});
    if (stalled)
        for (auto at = line.begin(); at != line.end(); at += 2)
            at = line.insert(at, *at);
    StreamlineParameters look;
    look.glyphs = true;
    look.glyphSize = 0.5;
    look.stepSize = 0.04; // changed after tracing: the traced step rules
    const QImage image =
        StreamlineRenderer::render({line, Streamline()}, TransferFunction().colorTable(256),
                                   QSize(1000, 500), look, tracedStep);
    int runs = 0;
    bool inside = false;
    for (int x = 0; x < image.width(); ++x) {
        const bool painted = qAlpha(image.pixel(x, 244)) > 128; // inside the base, above the line
        runs += painted && !inside;
        inside = painted;
    }
    QCOMPARE(runs, glyphs);
    QCOMPARE(qAlpha(image.pixel(500, 256)), 0); // glyphs lie left of the travel direction
}

QTEST_GUILESS_MAIN(TestStreamlineRenderer)
#include "tst_streamlinerenderer.moc"
