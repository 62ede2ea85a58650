#include "app/LayerStack.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "render/ArrowRenderer.h"
#include "render/FigureAxes.h"
#include "render/ReferenceArrow.h"
#include "render/ScaleBar.h"
#include "streamlines/LayerStreamlines.h"
#include "tests/common/TestEnvironment.h"
#include "transfer/ColorLegend.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunction.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

// Mean absolute difference per channel (0..1) of two pictures of one size; 1 otherwise.
double meanDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0.0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int i = 0; i < x.width(); ++i)
            sum += std::abs(qRed(p[i]) - qRed(q[i])) + std::abs(qGreen(p[i]) - qGreen(q[i])) +
                   std::abs(qBlue(p[i]) - qBlue(q[i]));
    }
    return sum / (3.0 * 255.0 * x.width() * x.height());
}

// The columns of `band` holding at least half a pixel of black ink (over
// white), whatever the shape's position within a pixel row.
int inkedColumns(const QImage& image, const QRect& band)
{
    int columns = 0;
    for (int i = band.left(); i <= band.right(); ++i) {
        double ink = 0.0;
        for (int row = band.top(); row <= band.bottom(); ++row)
            ink += 1.0 - qGray(image.pixel(i, row)) / 255.0;
        columns += ink >= 0.5;
    }
    return columns;
}

} // namespace

class TestFigure : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropDebugLines(); }
    void vectorTwins_data();
    void vectorTwins();
    void axisTicks_data();
    void axisTicks();
    void viewShowsAxesWhileZoomed();
    void referenceArrowLength_data();
    void referenceArrowLength();
    void scaleBarLength_data();
    void scaleBarLength();
    void pictureSizeAndResolution_data();
    void pictureSizeAndResolution();
    void titleCarriesStepTime();
};

void TestFigure::vectorTwins_data()
{
    QTest::addColumn<int>("look");
    QTest::addColumn<double>("tolerance");
    // The vector lines take one colour each where the raster varies it per
    // segment (texture varies it most),
    // segment, and the PDF rasteriser hints the labels' text its own way.
    constexpr double plainTolerance = 0.008;
    constexpr double textureTolerance = 0.01;
    constexpr double glyphTolerance = 0.015;
    QTest::newRow("plain") << 0 << plainTolerance;
    QTest::newRow("glyphs") << 1 << glyphTolerance;
    QTest::newRow("texture") << 2 << textureTolerance;
    QTest::newRow("tapering") << 3 << plainTolerance;
}

// The SVG and the PDF of a view, rasterised by other programs, show what
// its PNG shows; every streamline is one path of the SVG.
void TestFigure::vectorTwins()
{
    QFETCH(int, look);
    QFETCH(double, tolerance);
    std::unique_ptr<FlowData> data(FlowData::fromFile(samplePath("vortex_street")));
    QVERIFY(data);
    ViewPort view;
    QWidget panels;
    view.createLayerPanels(&panels);
    QPalette palette = view.palette();
    palette.setColor(view.backgroundRole(), Qt::black);
    view.setPalette(palette);
    view.setAxesShown(true);
    const LayerStack stack = view.layerStack();
    auto* lines = static_cast<LayerStreamlines*>(stack.topmostVisible(Layer::Kind::Streamlines));
    lines->toggleGlyphMapping(look == 1);
    lines->toggleTexture(look == 2);
    lines->toggleTapering(look == 3);
    // Alone, so that the paths of the SVG are the lines' and the frame's.
    for (Layer* layer : view.layerList())
        if (layer != lines)
            layer->setVisibility(false);
    view.setFlowData(data.get());
    QVERIFY(stack.finishRendering(60000));
    QTemporaryDir dir;
    const QString base = dir.filePath("figure");
    for (const char* suffix : {".png", ".svg", ".pdf"})
        QVERIFY(view.exportImage(base + suffix));
    const QImage png(base + ".png");
    QCOMPARE(QProcess::execute("rsvg-convert", {"-w", QString::number(png.width()), "-h",
                                                QString::number(png.height()), base + ".svg", "-o",
                                                base + "-svg.png"}),
             0);
    QCOMPARE(QProcess::execute("pdftoppm",
                               {"-r", "96", "-png", "-singlefile", base + ".pdf", base + "-pdf"}),
             0);
    QCOMPARE(QImage(base + "-svg.png").size(), png.size());
    QVERIFY2(meanDifference(QImage(base + "-svg.png"), png) < tolerance, "SVG");
    QVERIFY2(meanDifference(QImage(base + "-pdf.png"), png) < tolerance, "PDF");

    QFile svg(base + ".svg");
    QVERIFY(svg.open(QIODevice::ReadOnly));
    const QByteArray text = svg.readAll();
    // The generator writes a path that is one closed polygon as a polyline.
    // Besides the lines' paths: the key-less frame's ticks, the page and the background.
    constexpr int otherPaths = 3;
    QCOMPARE(int(text.count("<path") + text.count("<polyline")) - otherPaths,
             int(lines->currentStreamlines().size()));
    QVERIFY(text.size() < 2'000'000);
}

void TestFigure::axisTicks_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<bool>("flipped");
    QTest::newRow("negative") << -3.0 << 17.0 << false;
    QTest::newRow("negative flipped") << -5.0 << 5.0 << true;
    QTest::newRow("tiny") << 1.0e-6 << 3.5e-6 << false;
    QTest::newRow("huge") << -2.0e6 << 7.5e6 << true;
    QTest::newRow("degrees") << -180.0 << 180.0 << false;
    QTest::newRow("long labels") << 123456.0 << 123457.0 << false;
}

// Ticks sit where their values lie along the frame, read the legend's
// labels, and no two label boxes touch.
void TestFigure::axisTicks()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(bool, flipped);
    const FigureAxes axes({minimum, maximum, "x"}, {minimum, maximum, "y"});
    const QFontMetricsF metrics{QFont()};
    // Narrow and short, so that labels crowd.
    const QRectF picture(80, 20, 150, 90);
    for (bool across : {true, false}) {
        const QList<FigureAxes::Tick> ticks = across
                                                  ? axes.xTicks(picture, picture, metrics)
                                                  : axes.yTicks(picture, picture, flipped, metrics);
        QVERIFY(ticks.size() >= 2);
        const double step = ticks.at(1).value - ticks.at(0).value;
        int labelled = 0;
        for (int k = 0; k < ticks.size(); ++k) {
            const FigureAxes::Tick& tick = ticks.at(k);
            const double share = (tick.value - minimum) / (maximum - minimum);
            const double expected = across    ? picture.left() + share * picture.width()
                                    : flipped ? picture.top() + share * picture.height()
                                              : picture.bottom() - share * picture.height();
            QVERIFY(std::abs(tick.position - expected) < 1e-6);
            if (tick.label.isEmpty())
                continue;
            ++labelled;
            QCOMPARE(tick.label, ColorLegend::label(tick.value, step));
            for (int other = k + 1; other < ticks.size(); ++other)
                QVERIFY(!tick.box.intersects(ticks.at(other).box));
        }
        QVERIFY(labelled >= 2);
    }
}

// Zoomed in and panned, the view keeps the frame inside the window round the
// visible part of the picture, with the reference arrow's box in its corner.
void TestFigure::viewShowsAxesWhileZoomed()
{
    std::unique_ptr<FlowData> data(FlowData::fromFile(samplePath("vortex_street")));
    QVERIFY(data);
    ViewPort view;
    view.resize(700, 450);
    view.show();
    view.setFlowData(data.get());
    view.setScale(2.0f);
    view.setAxesShown(true);
    view.setReferenceArrowShown(true);
    QVERIFY(view.layerStack().finishRendering(60000));
    const QImage shown = view.grab().toImage();
    const QMarginsF room = FigureAxes::margins(QFontMetricsF(view.font()));
    const int left = int(room.left());
    int framed = 0;
    for (int row = int(room.top()) + 2; row < shown.height() - int(room.bottom()) - 2; ++row)
        framed += std::min(qGray(shown.pixel(left, row)), qGray(shown.pixel(left + 1, row))) < 160;
    QVERIFY(framed > (shown.height() - room.top() - room.bottom()) * 0.9);
}

void TestFigure::referenceArrowLength_data()
{
    QTest::addColumn<float>("magnitude");
    QTest::addColumn<float>("blend");
    QTest::newRow("proportional, slow") << 0.25f << 0.0f;
    QTest::newRow("proportional, fastest") << 1.0f << 0.0f;
    QTest::newRow("half fixed") << 0.5f << 0.5f;
}

// The key's arrow is as long, in pixels, as the layer draws an arrow of its speed.
void TestFigure::referenceArrowLength()
{
    QFETCH(float, magnitude);
    QFETCH(float, blend);
    const QSize size(400, 400);
    constexpr float arrowSize = 3.0f;
    // One arrow in the middle of a 3 x 3 grid, along x.
    std::vector<Vector3> vectors(9, Vector3(0.0f, 0.0f, 0.0f));
    vectors[4] = Vector3(magnitude, 0.0f, 0.0f);
    const TransferFunction opaque(QPolygonF{QPointF(0, 0), QPointF(1, 0)}, {Qt::black, Qt::black});
    QImage drawn(size, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::white);
    QPainter painter(&drawn);
    painter.drawImage(0, 0,
                      ArrowRenderer::render(vectors.data(), QSize(3, 3), ColorTable(opaque, 256),
                                            size, arrowSize, blend));
    painter.end();

    QImage key(size, QImage::Format_ARGB32_Premultiplied);
    key.fill(Qt::white);
    painter.begin(&key);
    const double length = ArrowRenderer::lengthFor(magnitude, size, arrowSize, blend);
    const QRect box = ReferenceArrow(2.0, "m/s", length, 400 * arrowSize / 400.0)
                          .paint(painter, QRectF(key.rect()))
                          .toAlignedRect();
    painter.end();
    // Between the box's border and its caption: the glyph alone.
    const QRect glyphBand =
        box.adjusted(3, 3, -3, 0)
            .intersected(QRect(0, box.top(), size.width(), 24 + int(6 * arrowSize)));
    const int drawnLength = inkedColumns(drawn, drawn.rect());
    QVERIFY(drawnLength > 40);
    QVERIFY(std::abs(inkedColumns(key, glyphBand) - drawnLength) <= 1);
}

void TestFigure::scaleBarLength_data()
{
    QTest::addColumn<float>("scale");
    QTest::addColumn<double>("shownShare");
    QTest::newRow("whole picture") << 1.0f << 1.0;
    QTest::newRow("zoomed in, a third shown") << 3.0f << 1.0 / 3.0;
    QTest::newRow("zoomed out") << 0.4f << 1.0;
}

// The drawn bar is as long, in pixels, as its length in the file's unit at
// the view's scale: vortex_street spans 20 along x (-3 to 17).
void TestFigure::scaleBarLength()
{
    QFETCH(float, scale);
    QFETCH(double, shownShare);
    std::unique_ptr<FlowData> data(FlowData::fromFile(samplePath("vortex_street")));
    QVERIFY(data);
    const std::optional<ScaleBar> bar = ScaleBar::of(*data);
    QVERIFY(bar);
    const QSize layers = ViewPort::imageSizeFor(data->aspectRatio(), scale);
    const QRectF picture(QPointF(0, 0), QSizeF(layers));
    const QRectF shown(0, 0, layers.width() * shownShare, layers.height());
    const ScaleBar::Bar drawn = bar->barFor(picture, shown);
    QCOMPARE(drawn.pixels, drawn.length * layers.width() / 20.0);
    const double fifth = shown.width() / 5.0;
    QVERIFY(drawn.pixels > fifth / 1.6 && drawn.pixels < fifth * 1.6);

    QImage key(shown.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    key.fill(Qt::white);
    QPainter painter(&key);
    const QRect box = bar->paint(painter, picture, shown).toAlignedRect();
    painter.end();
    // The bar's band, above its caption.
    const QRect band = box.adjusted(3, 3, -3, 0).intersected(QRect(0, box.top(), key.width(), 16));
    QVERIFY(std::abs(inkedColumns(key, band) - drawn.pixels) <= 1.0);
}

void TestFigure::pictureSizeAndResolution_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("dpi");
    QTest::newRow("PNG, wide") << "png" << QSize(1600, 900) << 300;
    QTest::newRow("PNG, tall") << "png" << QSize(500, 1200) << 72;
    QTest::newRow("PDF") << "pdf" << QSize(1200, 800) << 150;
}

// --size gives the whole picture's pixels, --dpi its stored resolution
// (PNG) or page size (PDF), with the data's aspect ratio kept inside the axes.
void TestFigure::pictureSizeAndResolution()
{
    QFETCH(QString, suffix);
    QFETCH(QSize, size);
    QFETCH(int, dpi);
    QTemporaryDir dir;
    const QString out = dir.filePath("picture." + suffix);
    QCOMPARE(QProcess::execute(VELMORA_RENDER_PROGRAM,
                               {samplePath("vortex_street"), out, "--axes", "--title", "wake",
                                "--size", QString("%1x%2").arg(size.width()).arg(size.height()),
                                "--dpi", QString::number(dpi)}),
             0);
    QImage picture;
    if (suffix == "png") {
        picture = QImage(out);
        QCOMPARE(picture.dotsPerMeterX(), int(std::lround(dpi / 0.0254)));
    } else {
        // Rasterised at the resolution, the page is as many pixels as asked.
        QCOMPARE(QProcess::execute("pdftoppm", {"-r", QString::number(dpi), "-png", "-singlefile",
                                                out, dir.filePath("pdf")}),
                 0);
        picture = QImage(dir.filePath("pdf.png"));
    }
    QCOMPARE(picture.size(), size);
    // The frame: the outermost columns and rows that are dark over an
    // eighth of their length; its sides keep the sample's 2:1.
    const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
    const auto side = [&](bool columns) {
        QList<int> dark;
        const int count = columns ? gray.width() : gray.height();
        const int length = columns ? gray.height() : gray.width();
        for (int k = 0; k < count; ++k) {
            int ink = 0;
            for (int j = 0; j < length; ++j)
                ink += qGray(gray.pixel(columns ? QPoint(k, j) : QPoint(j, k))) < 160;
            if (ink > length / 8)
                dark.append(k);
        }
        return dark.size() < 2 ? 0.0 : double(dark.last() - dark.first());
    };
    QVERIFY2(std::abs(side(true) / side(false) - 2.0) < 0.02,
             qPrintable(QString::number(side(true) / side(false))));
}

// {time} in the title becomes each frame's time: the cavity series' steps
// 0 to 3 are 0.25 apart (its header's time difference).
void TestFigure::titleCarriesStepTime()
{
    QTemporaryDir dir;
    QCOMPARE(QProcess::execute(VELMORA_RENDER_PROGRAM,
                               {samplePath("cavity.00000"), dir.filePath("frame.svg"), "--frames",
                                "all", "--title", "t = {time} s"}),
             0);
    const QStringList times{"0", "0.25", "0.5", "0.75"};
    for (int step = 0; step < int(times.size()); ++step) {
        QFile frame(dir.filePath(QString("frame.%1.svg").arg(step, 5, 10, QChar('0'))));
        QVERIFY(frame.open(QIODevice::ReadOnly));
        const QByteArray svg = frame.readAll();
        QVERIFY2(svg.contains(QString(">t = %1 s<").arg(times.at(step)).toUtf8()),
                 qPrintable(times.at(step)));
    }
}

QTEST_MAIN(TestFigure)
#include "tst_figure.moc"
