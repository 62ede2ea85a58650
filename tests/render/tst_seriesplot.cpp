#include "render/SeriesPlot.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>

// The plot's geometry against a linear map of its own axis range, and what
// reaches the pixels: gaps at NaN, nothing of a hidden series.
class TestSeriesPlot : public QObject
{
    Q_OBJECT

private slots:
    void ticks_data();
    void ticks();
    void pixels_data();
    void pixels();
};

namespace {

SeriesPlot::Series line(double low, double high, int n, const QColor& color, double y)
{
    SeriesPlot::Series series{QStringLiteral("u"), QStringLiteral("m/s"), color, {}, {}, true};
    for (int k = 0; k < n; ++k) {
        series.x.push_back(low + (high - low) * k / (n - 1));
        series.y.push_back(y);
    }
    return series;
}

} // namespace

void TestSeriesPlot::ticks_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("width");
    QTest::newRow("unit range, wide") << 0.0 << 1.0 << 600;
    QTest::newRow("negative to positive, narrow") << -3.7 << 12.2 << 90;
    QTest::newRow("small values, narrow") << 1.25e-4 << 3.5e-4 << 70;
    QTest::newRow("large values, wide") << 98000.0 << 101325.0 << 500;
}

void TestSeriesPlot::ticks()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, width);
    SeriesPlot plot;
    plot.setSeries({line(low, high, 11, Qt::red, low)});
    QImage image(width, 300, QImage::Format_ARGB32);
    QPainter painter(&image);
    const SeriesPlot::Layout frame = plot.layout(image.rect(), QFontMetricsF(painter.font()));
    QCOMPARE(frame.xMinimum, low);
    QCOMPARE(frame.xMaximum, high);
    QVERIFY(frame.xTicks.size() >= 2);
    const QRectF& box = frame.plot;
    int labelled = 0;
    for (qsizetype k = 0; k < frame.xTicks.size(); ++k) {
        const SeriesPlot::Tick& tick = frame.xTicks.at(k);
        const double expected = box.left() + (tick.value - low) / (high - low) * box.width();
        QVERIFY2(std::abs(tick.position - expected) < 1e-6, qPrintable(tick.label));
        QVERIFY(tick.value >= low && tick.value <= high);
        QCOMPARE(tick.labelRect.center().x(), tick.position);
        labelled += tick.labelled;
        for (qsizetype j = 0; j < k; ++j)
            QVERIFY2(!(tick.labelled && frame.xTicks.at(j).labelled &&
                       tick.labelRect.intersects(frame.xTicks.at(j).labelRect)),
                     qPrintable(tick.label + " overlaps " + frame.xTicks.at(j).label));
    }
    QVERIFY(labelled >= 1);
    if (width >= 500)
        QVERIFY(labelled >= 3);
}

void TestSeriesPlot::pixels_data()
{
    QTest::addColumn<bool>("gap");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("NaN leaves a gap") << true << false;
    QTest::newRow("hidden series not painted") << false << true;
}

void TestSeriesPlot::pixels()
{
    QFETCH(bool, gap);
    QFETCH(bool, hidden);
    // Red rising from 0 to 1 over 0..1, then at 1 to x = 10, with x = 5 NaN
    // when asked; blue at 0.5, inside the axis range of red alone.
    SeriesPlot::Series red = line(0.0, 10.0, 11, Qt::red, 1.0);
    red.y[0] = 0.0;
    if (gap)
        red.y[5] = std::nan("");
    SeriesPlot::Series blue = line(0.0, 10.0, 11, Qt::blue, 0.5);
    blue.visible = !hidden;
    SeriesPlot plot;
    plot.setSeries({red, blue});
    QImage image(400, 300, QImage::Format_ARGB32);
    QPainter painter(&image);
    const SeriesPlot::Layout frame = plot.layout(image.rect(), QFontMetricsF(painter.font()));
    plot.paint(painter, image.rect());
    painter.end();
    const auto at = [&](double x, double y) {
        const QRectF& box = frame.plot;
        return image.pixelColor(
            int(box.left() +
                (x - frame.xMinimum) / (frame.xMaximum - frame.xMinimum) * box.width()),
            int(box.bottom() -
                (y - frame.yMinimum) / (frame.yMaximum - frame.yMinimum) * box.height()));
    };
    const auto isRed = [](const QColor& c) { return c.red() > 200 && c.green() < 80; };
    const auto isBlue = [](const QColor& c) { return c.blue() > 200 && c.green() < 80; };
    QVERIFY(isRed(at(2.5, 1.0)));
    QCOMPARE(isRed(at(5.0, 1.0)), !gap);
    if (!hidden)
        QVERIFY(isBlue(at(2.5, 0.5)));
    int bluePixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            bluePixels += isBlue(image.pixelColor(x, y));
    QCOMPARE(bluePixels == 0, hidden);
}

QTEST_MAIN(TestSeriesPlot)
#include "tst_seriesplot.moc"
