#include "streamlines/StreamlineParameters.h"
#include "streamlines/StreamlineRenderer.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunction.h"

#include <QPainter>
#include <QTest>

#include <cmath>
#include <cstdlib>

// The renderer sets its pen only when the colour or width changes; its
// pictures must stay those of stroking every segment with its own pen.
class TestStreamlineRenderer : public QObject
{
    Q_OBJECT

private slots:
    void segmentsAsDrawnOneByOne_data();
    void segmentsAsDrawnOneByOne();
};

namespace {

// Opaque colours along the magnitude, so no segment vanishes and colour
// changes come every few points.
TransferFunction opaqueRamp()
{
    return TransferFunction(QPolygonF({{0.0, 0.0}, {0.5, 0.0}, {1.0, 0.0}}),
                            {Qt::red, Qt::green, Qt::blue});
}

// Three wavy lines, magnitudes stepping every three points, tapers varying.
std::vector<Streamline> wavyLines()
{
    std::vector<Streamline> lines;
    for (int l = 0; l < 3; ++l) {
        Streamline line;
        for (int k = 0; k < 60; ++k) {
            StreamlinePoint p;
            p.x = 0.05 + 0.015 * k;
            p.y = 0.1 + 0.12 * l + 0.03 * std::sin(k * 0.4 + l);
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
    painter.scale(size.width(), size.width());
    const double baseWidth = look.lineWidth * 20.0 / size.width();
    for (const Streamline& line : lines) {
        for (std::size_t k = 1; k < line.size(); ++k) {
            const StreamlinePoint& p = line[k];
            QColor color = table.straightColor(table.indexOf(p.magnitude));
            if (look.texture)
                color = QColor(int(color.red() * p.texture), int(color.green() * p.texture),
                               int(color.blue() * p.texture), color.alpha());
            QPen pen(color, look.tapering ? baseWidth * p.taper : baseWidth);
            pen.setCapStyle(Qt::SquareCap);
            painter.setPen(pen);
            painter.drawLine(QPointF(line[k - 1].x, line[k - 1].y), QPointF(p.x, p.y));
        }
    }
    painter.end();
    return canvas;
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
    // Glyphs take the pen away; every segment pixel must still be painted.
    QTest::newRow("glyphs, tapering and texture") << true << true << true;
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
    const ColorTable table = opaqueRamp().colorTable(256);
    const QSize size(400, 300);
    const std::vector<Streamline> lines = wavyLines();

    const QImage picture = StreamlineRenderer::render(lines, table, size, look, 0.015);
    const QImage expected = strokedOneByOne(lines, table, size, look);
    QCOMPARE(picture.size(), size);
    int covered = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb want = expected.pixel(x, y);
            const QRgb got = picture.pixel(x, y);
            if (qAlpha(want) > 0)
                ++covered;
            if (glyphs) {
                // Glyphs only add paint over opaque strokes.
                QVERIFY2(qAlpha(got) >= qAlpha(want),
                         qPrintable(QString("pixel (%1, %2)").arg(x).arg(y)));
                continue;
            }
            // Equal up to antialiasing.
            const int tolerance = 8;
            QVERIFY2(std::abs(qRed(got) - qRed(want)) <= tolerance &&
                         std::abs(qGreen(got) - qGreen(want)) <= tolerance &&
                         std::abs(qBlue(got) - qBlue(want)) <= tolerance &&
                         std::abs(qAlpha(got) - qAlpha(want)) <= tolerance,
                     qPrintable(QString("pixel (%1, %2): %3 vs %4")
                                    .arg(x)
                                    .arg(y)
                                    .arg(got, 8, 16)
                                    .arg(want, 8, 16)));
        }
    }
    QVERIFY(covered > 1000);
}

QTEST_MAIN(TestStreamlineRenderer)
#include "tst_streamlinerenderer.moc"
