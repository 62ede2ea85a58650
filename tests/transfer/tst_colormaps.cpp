#include "transfer/ColorLegend.h"
#include "transfer/ColorMap.h"
#include "transfer/ColorTable.h"

#include <QMap>
#include <QTest>

#include <cmath>

namespace {

// The map's own colour at value t, linear between its 256 entries, in 0..255.
void mapColor(const QList<QRgb>& table, double t, double rgb[3])
{
    const double position = t * 255.0;
    const int k = std::min(int(position), 254);
    const double w = position - k;
    const QRgb a = table.at(k);
    const QRgb b = table.at(k + 1);
    rgb[0] = qRed(a) + w * (qRed(b) - qRed(a));
    rgb[1] = qGreen(a) + w * (qGreen(b) - qGreen(a));
    rgb[2] = qBlue(a) + w * (qBlue(b) - qBlue(a));
}

} // namespace

class TestColorMaps : public QObject
{
    Q_OBJECT

private slots:
    void tableFollowsMap_data();
    void tableFollowsMap();
    void opacityProfileKept();
    void legendTicks_data();
    void legendTicks();
};

void TestColorMaps::tableFollowsMap_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<double>>("published"); // t, red, green, blue, ... in 0..1
    // An entry as its authors publish it: a reversed or swapped table shows.
    const QMap<QString, QList<double>> published = {
        {"viridis", {0.0, 0.267004, 0.004874, 0.329415}},
        {"magma", {1.0, 0.987053, 0.991438, 0.749504}},
        {"inferno", {1.0, 0.988362, 0.998364, 0.644924}},
        {"cividis", {1.0, 0.995737, 0.909344, 0.217772}},
        // Moreland's table: the neutral middle as well.
        {"coolwarm", {0.5, 0.865, 0.865, 0.865, 1.0, 0.705673, 0.015556, 0.150233}}};
    for (const QString& name : ColorMap::names()) {
        if (name != QLatin1String("white"))
            QTest::newRow(qPrintable(name)) << name << published.value(name);
    }
}

void TestColorMaps::tableFollowsMap()
{
    QFETCH(QString, name);
    QFETCH(QList<double>, published);
    const QList<QRgb> own = ColorMap::table(name);
    QCOMPARE(own.size(), 256);
    for (int k = 0; k + 3 < published.size(); k += 4) {
        double got[3];
        mapColor(own, published[k], got);
        for (int channel = 0; channel < 3; ++channel)
            QVERIFY2(std::abs(got[channel] - published[k + 1 + channel] * 255.0) <= 1.0,
                     qPrintable(QString("t %1 channel %2").arg(published[k]).arg(channel)));
    }
    const TransferFunction function = ColorMap::transferFunction(name, TransferFunction(), true);
    QVERIFY(function.points().size() >= 2);
    const ColorTable table(function, 4096);
    for (int c = 0; c < table.count(); ++c) {
        double expected[3];
        // Column c of a table holds the function at (c + 1/2) / width.
        mapColor(own, (c + 0.5) / 4096.0, expected);
        const QRgb word = table.premultiplied(c);
        const double got[3] = {double(qRed(word)), double(qGreen(word)), double(qBlue(word))};
        QCOMPARE(qAlpha(word), 255);
        for (int channel = 0; channel < 3; ++channel)
            QVERIFY2(std::abs(got[channel] - expected[channel]) <= 2.0,
                     qPrintable(QString("entry %1 channel %2").arg(c).arg(channel)));
    }
}

void TestColorMaps::opacityProfileKept()
{
    // A profile that rises, then falls: its points must survive the map.
    const TransferFunction profile(
        QPolygonF({QPointF(0.0, 1.0), QPointF(0.3, 0.0), QPointF(0.7, 0.8), QPointF(1.0, 0.2)}),
        {});
    const ColorTable before(profile, 256);
    const ColorTable after(ColorMap::transferFunction("viridis", profile, false), 256);
    for (int c = 0; c < 256; ++c)
        QVERIFY2(std::abs(qAlpha(before.premultiplied(c)) - qAlpha(after.premultiplied(c))) <= 1,
                 qPrintable(QString("entry %1").arg(c)));
    QCOMPARE(ColorMap::transferFunction("white", profile, false), TransferFunction());
}

void TestColorMaps::legendTicks_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("count"); // of the finest step that gives at most six
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("unit range: steps of 0.2")
        << 0.0 << 1.0 << 6 << QStringList{"0", "0.2", "0.4", "0.6", "0.8", "1"};
    QTest::newRow("small signed: steps of 2e-5")
        << -3.2e-5 << 7.9e-5 << 5 << QStringList{"-2e-05", "0", "2e-05", "4e-05", "6e-05"};
    QTest::newRow("pressure in hPa: steps of 5")
        << 1013.0 << 1030.0 << 4 << QStringList{"1015", "1020", "1025", "1030"};
    QTest::newRow("wide: steps of 20000")
        << -12345.0 << 98765.0 << 5 << QStringList{"0", "20000", "40000", "60000", "80000"};
    QTest::newRow("PIV pixels: steps of 200")
        << 15.0 << 1263.0 << 6 << QStringList{"200", "400", "600", "800", "1000", "1200"};
    QTest::newRow("ocean metres: steps of 2e5")
        << -2.96e6 << -2.16e6 << 4 << QStringList{"-2.8e+06", "-2.6e+06", "-2.4e+06", "-2.2e+06"};
    QTest::newRow("ocean metres across -2e6: one mantissa width")
        << -2.1e6 << -1.5e6 << 3 << QStringList{"-2.0e+06", "-1.8e+06", "-1.6e+06"};
    QTest::newRow("steps of 2.5e6 across a decade")
        << 4.0e6 << 1.65e7 << 5
        << QStringList{"5.0e+06", "7.5e+06", "1.00e+07", "1.25e+07", "1.50e+07"};
}

void TestColorMaps::legendTicks()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(int, count);
    QFETCH(QStringList, labels);
    const QList<double> ticks = ColorLegend::ticks(minimum, maximum);
    QCOMPARE(int(ticks.size()), count);
    QStringList printed;
    for (double tick : ticks)
        printed.append(ColorLegend::label(tick, ticks.at(1) - ticks.at(0)));
    QCOMPARE(printed, labels);
    const double step = ticks.at(1) - ticks.at(0);
    const double decade = std::pow(10.0, std::floor(std::log10(step)));
    const double mantissa = step / decade;
    QVERIFY2(std::abs(mantissa - 1.0) < 1e-9 || std::abs(mantissa - 2.0) < 1e-9 ||
                 std::abs(mantissa - 2.5) < 1e-9 || std::abs(mantissa - 5.0) < 1e-9,
             qPrintable(QString("step %1").arg(step)));
    // The extremes read back to one digit finer than the step.
    const double resolution = decade / 10.0;
    for (double extreme : {minimum, maximum})
        QVERIFY2(std::abs(ColorLegend::label(extreme, step).toDouble() - extreme) <=
                     0.5 * resolution * (1.0 + 1e-9),
                 qPrintable(ColorLegend::label(extreme, step)));
    for (double tick : ticks) {
        QVERIFY(tick >= minimum && tick <= maximum);
        QVERIFY2(std::abs(tick / step - std::round(tick / step)) < 1e-9,
                 qPrintable(QString("%1 is not a multiple of %2").arg(tick).arg(step)));
        // The printed label reads back as the tick.
        QVERIFY2(std::abs(ColorLegend::label(tick, step).toDouble() - tick) < step * 1e-6,
                 qPrintable(ColorLegend::label(tick, step)));
    }
}

QTEST_GUILESS_MAIN(TestColorMaps)
#include "tst_colormaps.moc"
