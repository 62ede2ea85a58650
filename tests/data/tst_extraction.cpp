#include "data/DominantFrequency.h"
#include "data/FlowProbe.h"
#include "data/FlowSeries.h"
#include "data/LineProfile.h"
#include "data/PointHistory.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>

using Polyline = QList<QPointF>;
using Function = std::function<double(double, double)>;

namespace {

// u, v and one scalar from functions of the physical position on an n x n
// grid over [x0, x0 + 4] x [y0, y0 + 3]; vectors where u or v is NaN stay NaN.
std::unique_ptr<RectangularFlowData> field(const QString& name, int n, Function u, Function v,
                                           Function scalar)
{
    FlowFiles::Grid grid{FlowFiles::axis(n, -1.0f, 3.0f), FlowFiles::axis(n, 2.0f, 5.0f), {}, {}};
    for (const auto& [x, y] : grid.sample([](float x, float y) { return std::pair(x, y); }))
        grid.vectors.append(Vector3(float(u(x, y)), float(v(x, y)), 0.0f));
    grid.scalars = {grid.sample([&](float x, float y) { return float(scalar(x, y)); })};
    return FlowFiles::loadRectangular(grid, name);
}

double closeness(double a, double b)
{
    return std::abs(a - b) / (1.0 + std::abs(b));
}

} // namespace

class TestExtraction : public QObject
{
    Q_OBJECT

private slots:
    void bilinearProfile_data();
    void bilinearProfile();
    void streamComponents_data();
    void streamComponents();
    void closedFlux_data();
    void closedFlux();
    void cavityHistory_data();
    void cavityHistory();
    void dominantFrequency_data();
    void dominantFrequency();
    void csvReadsBack();
};

void TestExtraction::bilinearProfile_data()
{
    QTest::addColumn<Polyline>("line");
    QTest::addColumn<int>("outside"); // samples off the grid
    QTest::newRow("diagonal") << Polyline{{-1, 2}, {3, 5}} << 0;
    QTest::newRow("backwards, short") << Polyline{{2.3, 4.1}, {2.2, 3.9}} << 0;
    QTest::newRow("three segments, a repeated vertex")
        << Polyline{{-0.5, 2.5}, {2.5, 2.5}, {2.5, 2.5}, {0.0, 4.9}, {2.9, 4.9}} << 0;
    QTest::newRow("leaving the grid") << Polyline{{1, 3}, {5, 3}} << 24;
}

// Bilinear functions are what bilinear interpolation reproduces: every
// sample equals the function at its position, which lies on the polyline at
// its arc length.
void TestExtraction::bilinearProfile()
{
    QFETCH(Polyline, line);
    QFETCH(int, outside);
    QTemporaryDir dir;
    const auto u = [](double x, double y) { return 1.5 - 0.5 * x + 0.25 * y + 0.125 * x * y; };
    const auto v = [](double x, double y) { return -0.75 + x - 0.5 * y - 0.2 * x * y; };
    const auto c = [](double x, double y) { return 10.0 + 3.0 * x + 2.0 * y - x * y; };
    const auto data = field(dir.filePath("f"), 9, u, v, c);
    QVERIFY(data);
    const LineProfile profile(*data, line, 49);
    const ExtractionTable& t = profile.samples();
    QCOMPARE(t.rowCount(), 49);
    QCOMPARE(profile.outsideCount(), outside);
    for (int k = 0; k < t.rowCount(); ++k) {
        const double s = t.value(k, LineProfile::S);
        QVERIFY(closeness(s, profile.length() * k / 48.0) < 1e-12);
        double walked = 0.0; // the polyline's point at arc length s
        QPointF expected = line.last();
        for (int j = 0; j + 1 < line.size(); ++j) {
            const QPointF d = line[j + 1] - line[j];
            const double length = std::hypot(d.x(), d.y());
            if (length > 0.0 && s <= walked + length) {
                expected = line[j] + d * ((s - walked) / length);
                break;
            }
            walked += length;
        }
        const double x = t.value(k, LineProfile::X);
        const double y = t.value(k, LineProfile::Y);
        QVERIFY(closeness(x, expected.x()) < 1e-12 && closeness(y, expected.y()) < 1e-12);
        const bool in = x <= 3.0;
        QCOMPARE(std::isfinite(t.value(k, LineProfile::U)), in);
        if (!in)
            continue;
        const double tolerance = 4e-7; // the data set holds normalised floats
        QVERIFY2(closeness(t.value(k, LineProfile::U), u(x, y)) < tolerance &&
                     closeness(t.value(k, LineProfile::V), v(x, y)) < tolerance &&
                     closeness(t.value(k, LineProfile::FirstScalar), c(x, y)) < tolerance,
                 qPrintable(QStringLiteral("sample %1 at (%2, %3)").arg(k).arg(x).arg(y)));
    }
}

void TestExtraction::streamComponents_data()
{
    QTest::addColumn<double>("stream"); // degrees from the x axis
    QTest::addColumn<double>("line");
    for (double stream : {0.0, 37.0, 180.0})
        for (double line : {0.0, 90.0, 123.0, -60.0})
            QTest::addRow("stream %g, line %g", stream, line) << stream << line;
}

// A uniform stream at angle a across a straight line at angle b: u·t =
// cos(a - b), u·n = sin(a - b) with n to the left, flux = L sin(a - b).
void TestExtraction::streamComponents()
{
    QFETCH(double, stream);
    QFETCH(double, line);
    QTemporaryDir dir;
    const double a = qDegreesToRadians(stream);
    const double b = qDegreesToRadians(line);
    const auto data = field(
        dir.filePath("f"), 5, [&](double, double) { return 2.0 * std::cos(a); },
        [&](double, double) { return 2.0 * std::sin(a); }, [](double, double) { return 0.0; });
    QVERIFY(data);
    const QPointF from(1.0, 3.5);
    const LineProfile profile(*data, {from, from + 1.4 * QPointF(std::cos(b), std::sin(b))}, 7);
    for (int k = 0; k < 7; ++k) {
        QVERIFY(std::abs(profile.samples().value(k, LineProfile::Tangential) -
                         2.0 * std::cos(a - b)) < 1e-6);
        QVERIFY(std::abs(profile.samples().value(k, LineProfile::Normal) - 2.0 * std::sin(a - b)) <
                1e-6);
    }
    QVERIFY(std::abs(profile.flux() - 2.8 * std::sin(a - b)) < 1e-6);
    QCOMPARE(profile.fluxGapLength(), 0.0);
}

void TestExtraction::closedFlux_data()
{
    QTest::addColumn<double>("strength"); // of a source at (1.1, 3.45); 0: a swirl
    QTest::addColumn<Polyline>("loop");   // counter-clockwise: n points inwards
    const Polyline pentagon{{0.2, 2.6}, {2.4, 2.9},  {2.7, 4.2},
                            {1.0, 4.8}, {-0.3, 3.7}, {0.2, 2.6}};
    QTest::newRow("swirl, pentagon") << 0.0 << pentagon;
    QTest::newRow("source, pentagon") << 2.5 << pentagon;
    QTest::newRow("source, triangle")
        << -1.0 << Polyline{{-0.8, 2.2}, {2.9, 3.1}, {0.0, 4.9}, {-0.8, 2.2}};
}

// The flux into a closed loop is the source strength inside, 0 for a
// divergence-free flow (of the stream function sin(1.3 x + 0.8 y^2)). The error comes from the
// bilinear grid and the trapezoids, both second order: halving the spacing quarters it.
void TestExtraction::closedFlux()
{
    QFETCH(double, strength);
    QFETCH(Polyline, loop);
    double errors[2];
    for (int level = 0; level < 2; ++level) {
        QTemporaryDir dir;
        const int n = 40 << level;
        const auto radial = [&](double x, double y, double d) {
            const double r2 = (x - 1.1) * (x - 1.1) + (y - 3.45) * (y - 3.45);
            return r2 < 0.01 ? NAN : strength / (2.0 * M_PI) * d / r2;
        };
        const auto data =
            strength == 0.0
                ? field(
                      dir.filePath("f"), n,
                      [](double x, double y) { return 1.6 * y * std::cos(1.3 * x + 0.8 * y * y); },
                      [](double x, double y) { return -1.3 * std::cos(1.3 * x + 0.8 * y * y); },
                      [](double, double) { return 0.0; })
                : field(
                      dir.filePath("f"), n,
                      [&](double x, double y) { return radial(x, y, x - 1.1); },
                      [&](double x, double y) { return radial(x, y, y - 3.45); },
                      [](double, double) { return 0.0; });
        QVERIFY(data);
        const LineProfile profile(*data, loop, 8 * n);
        QCOMPARE(profile.fluxGapLength(), 0.0);
        errors[level] = std::abs(profile.flux() + strength);
    }
    QVERIFY2(std::log2(errors[0] / errors[1]) > 1.5,
             qPrintable(QStringLiteral("errors %1, %2").arg(errors[0]).arg(errors[1])));
}

void TestExtraction::cavityHistory_data()
{
    QTest::addColumn<int>("missing"); // the step left out, or -1
    QTest::newRow("every step") << -1;
    QTest::newRow("step 2 missing") << 2;
}

// Each row is the read-out of that step at the point; a missing step is a gap.
void TestExtraction::cavityHistory()
{
    QFETCH(int, missing);
    QTemporaryDir dir;
    const QDir samples = QFileInfo(samplePath(QStringLiteral("cavity"))).dir();
    for (const QString& file : samples.entryList({QStringLiteral("cavity.*")}))
        if (!file.contains(QStringLiteral(".0000%1.").arg(missing)))
            QVERIFY(QFile::copy(samples.filePath(file), dir.filePath(file)));
    const std::unique_ptr<FlowSeries> series(FlowSeries::open(dir.filePath("cavity.gri")));
    QVERIFY(series);
    QCOMPARE(series->stepCount(), 4);
    const QPointF point(0.41, 0.63);
    QList<int> progress;
    const PointHistory history = PointHistory::read(*series, point.x(), point.y(), 0, 3, {},
                                                    [&](int done, int) { progress.append(done); });
    QCOMPARE(progress, QList<int>({1, 2, 3, 4}));
    QCOMPARE(history.gapCount(), missing < 0 ? 0 : 1);
    const ExtractionTable& rows = history.rows();
    QCOMPARE(rows.rowCount(), 4);
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(rows.value(k, PointHistory::Time), 0.25 * k);
        QCOMPARE(history.gaps().at(k).isEmpty(), k != missing);
        const std::unique_ptr<FlowData> step(series->loadStep(k));
        const auto* grid = dynamic_cast<const RectangularFlowData*>(step.get());
        QCOMPARE(bool(grid), k != missing);
        if (!grid) {
            QVERIFY(std::isnan(rows.value(k, PointHistory::U)));
            continue;
        }
        const QPointF unit = FlowProbe::unitPosition(*grid, point.x(), point.y());
        const FlowProbe::Reading reading = FlowProbe::read(*grid, unit.x(), unit.y());
        QVERIFY(reading.inside);
        QCOMPARE(rows.value(k, PointHistory::U), reading.vx);
        QCOMPARE(rows.value(k, PointHistory::V), reading.vy);
        QCOMPARE(rows.value(k, PointHistory::FirstScalar), reading.scalars.value(0));
    }
}

void TestExtraction::dominantFrequency_data()
{
    QTest::addColumn<double>("frequency");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("gapAt"); // a run of 7 NaN from there, -1 for none
    QTest::newRow("0.37 Hz, 200 samples") << 0.37 << 200 << -1;
    QTest::newRow("a few periods") << 0.031 << 160 << -1;
    QTest::newRow("near Nyquist") << 4.61 << 300 << -1;
    QTest::newRow("with a gap") << 1.23 << 500 << 211;
    QTest::newRow("gap at the start") << 2.2 << 400 << 0;
}

// Within one bin of 1 / (n dt), on top of a slow drift and a weaker tone.
void TestExtraction::dominantFrequency()
{
    QFETCH(double, frequency);
    QFETCH(int, samples);
    QFETCH(int, gapAt);
    const double dt = 0.1;
    std::vector<double> signal;
    for (int k = 0; k < samples; ++k)
        signal.push_back(3.0 + 0.002 * k + 1.5 * std::sin(2 * M_PI * frequency * k * dt + 0.3) +
                         0.3 * std::cos(2 * M_PI * 1.9 * frequency * k * dt));
    for (int k = gapAt; k >= 0 && k < gapAt + 7; ++k)
        signal[size_t(k)] = NAN;
    const DominantFrequency found(signal, dt);
    QVERIFY(found.isValid());
    QVERIFY2(std::abs(found.frequency() - frequency) < found.resolution(),
             qPrintable(QString::number(found.frequency())));
}

// Headers with units and every number read back exactly; NaN is an empty field.
void TestExtraction::csvReadsBack()
{
    ExtractionTable table;
    table.addColumn("s", "m");
    table.addColumn("speed");
    table.addColumn("p, \"static\"", "Pa");
    const std::vector<double> values{1.0 / 3.0, 2e-5 / 7.0, 1e-300, NAN, 123456789.123,
                                     -2.5e17,   0.1,        7.0,    NAN};
    for (int r = 0; r < 3; ++r)
        table.appendRow({values.begin() + 3 * r, values.begin() + 3 * r + 3});
    const QStringList lines = table.toCsv().split('\n');
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QStringLiteral("s [m],speed,\"p, \"\"static\"\" [Pa]\""));
    QVERIFY(lines[4].isEmpty());
    for (int r = 0; r < 3; ++r) {
        const QStringList fields = lines[r + 1].split(',');
        QCOMPARE(fields.size(), 3);
        for (int c = 0; c < 3; ++c) {
            const double v = values[size_t(3 * r + c)];
            bool ok = false;
            const double read = fields[c].toDouble(&ok);
            QVERIFY(std::isnan(v) ? fields[c].isEmpty() : ok && read == v);
        }
    }
    QCOMPARE(table.toTabSeparated().split('\n')[1].split('\t').size(), 3);
}

QTEST_GUILESS_MAIN(TestExtraction)
#include "tst_extraction.moc"
