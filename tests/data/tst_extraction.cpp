#include "data/DerivedFieldGrid.h"
#include "data/DominantFrequency.h"
#include "data/FlowProbe.h"
#include "data/FlowSeries.h"
#include "data/LineProfile.h"
#include "data/PointHistory.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/TestEnvironment.h"

#include <QDir>
#include <QLineF>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>

using Polyline = QList<QPointF>;
using Field = std::function<QPointF(double x, double y)>;

namespace {

// A velocity and the scalar 10 + 3x + 2y - xy, functions of the shown
// position, on an n x n grid over [-1, 3] x [2, 5]; with `exchanged` the
// file's fast index runs along y, so its own y axis is shown across.
std::unique_ptr<RectangularFlowData> field(const QString& name, int n, const Field& velocity,
                                           bool exchanged = false)
{
    FlowFiles::Grid grid{FlowFiles::axis(n, -1.0f, 3.0f), FlowFiles::axis(n, 2.0f, 5.0f), {}, {}};
    if (exchanged)
        std::swap(grid.xs, grid.ys);
    grid.fastIndexAlongY = exchanged;
    grid.scalars = {{}};
    for (auto [x, y] : grid.sample([](float x, float y) { return std::pair(x, y); })) {
        if (exchanged)
            std::swap(x, y);
        const QPointF shown = exchanged ? velocity(x, y).transposed() : velocity(x, y);
        grid.vectors.append(Vector3(float(shown.x()), float(shown.y()), 0.0f));
        grid.scalars[0].append(10.0f + 3.0f * x + 2.0f * y - x * y);
    }
    return FlowFiles::loadRectangular(grid, name);
}

QPointF bilinear(double x, double y)
{
    return {1.5 - 0.5 * x + 0.25 * y + 0.125 * x * y, -0.75 + x - 0.5 * y - 0.2 * x * y};
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
    void cavityHistory();
    void dominantFrequency_data();
    void dominantFrequency();
    void csvReadsBack();
    void probeTool_data();
    void probeTool();
};

void TestExtraction::bilinearProfile_data()
{
    QTest::addColumn<Polyline>("line");
    QTest::addColumn<int>("outside"); // samples off the grid
    QTest::addColumn<bool>("exchanged");
    const Polyline corners{{-0.5, 2.5}, {2.5, 2.5}, {2.5, 2.5}, {0.0, 4.9}, {2.9, 4.9}};
    QTest::newRow("diagonal") << Polyline{{-1, 2}, {3, 5}} << 0 << false;
    QTest::newRow("backwards, short") << Polyline{{2.3, 4.1}, {2.2, 3.9}} << 0 << false;
    QTest::newRow("three segments, a repeated vertex") << corners << 0 << false;
    QTest::newRow("fast index along y") << corners << 0 << true;
    QTest::newRow("leaving the grid") << Polyline{{1, 3}, {5, 3}} << 24 << false;
}

// Bilinear interpolation reproduces bilinear functions: every sample equals
// the function at its position, which lies on the polyline at its arc length.
void TestExtraction::bilinearProfile()
{
    QFETCH(Polyline, line);
    QFETCH(int, outside);
    QFETCH(bool, exchanged);
    QTemporaryDir dir;
    const auto data = field(dir.filePath("f"), 9, bilinear, exchanged);
    QVERIFY(data);
    const LineProfile profile(*data, line, 49);
    const ExtractionTable& t = profile.samples();
    QCOMPARE(t.rowCount(), 49);
    QCOMPARE(profile.outsideCount(), outside);
    for (int k = 0; k < 49; ++k) {
        double along = t.value(k, LineProfile::S);
        QVERIFY(std::abs(along - profile.length() * k / 48.0) < 1e-12);
        QPointF on = line.last(); // the polyline's point at that arc length
        for (int j = 0; j + 1 < line.size(); along -= QLineF(line[j], line[j + 1]).length(), ++j) {
            if (along < QLineF(line[j], line[j + 1]).length()) {
                on = QLineF(line[j], line[j + 1])
                         .pointAt(along / QLineF(line[j], line[j + 1]).length());
                break;
            }
        }
        const double x = t.value(k, LineProfile::X), y = t.value(k, LineProfile::Y);
        QVERIFY(std::hypot(x - on.x(), y - on.y()) < 1e-12);
        QCOMPARE(std::isfinite(t.value(k, LineProfile::U)), x <= 3.0);
        const double c = 10 + 3 * x + 2 * y - x * y;
        // 4e-7: the data set holds normalised floats.
        QVERIFY2(x > 3.0 || (std::hypot(t.value(k, LineProfile::U) - bilinear(x, y).x(),
                                        t.value(k, LineProfile::V) - bilinear(x, y).y()) < 4e-7 &&
                             std::abs(t.value(k, LineProfile::FirstScalar) - c) < 4e-7 * c),
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
    const double a = qDegreesToRadians(stream), b = qDegreesToRadians(line);
    const auto data = field(dir.filePath("f"), 5, [&](double, double) {
        return 2.0 * QPointF(std::cos(a), std::sin(a));
    });
    QVERIFY(data);
    const LineProfile profile(*data, {{1, 3.5}, QPointF(1, 3.5) + 1.4 * QPointF(cos(b), sin(b))},
                              7);
    for (int k = 0; k < 7; ++k)
        QVERIFY(std::hypot(
                    profile.samples().value(k, LineProfile::Tangential) - 2 * std::cos(a - b),
                    profile.samples().value(k, LineProfile::Normal) - 2 * std::sin(a - b)) < 1e-6);
    QVERIFY(std::abs(profile.flux() - 2.8 * std::sin(a - b)) < 1e-6);
}

void TestExtraction::closedFlux_data()
{
    QTest::addColumn<double>("strength"); // of a source at (1.1, 3.45); 0: a swirl
    QTest::addColumn<Polyline>("loop");   // counter-clockwise: n points inwards
    const Polyline pentagon{{.2, 2.6}, {2.4, 2.9}, {2.7, 4.2}, {1, 4.8}, {-.3, 3.7}, {.2, 2.6}};
    QTest::newRow("swirl, pentagon") << 0.0 << pentagon;
    QTest::newRow("source, pentagon") << 2.5 << pentagon;
    QTest::newRow("source, triangle")
        << -1.0 << Polyline{{-0.8, 2.2}, {2.9, 3.1}, {0.0, 4.9}, {-0.8, 2.2}};
}

// The flux into a closed loop is the source strength inside, 0 for a
// divergence-free flow (the swirl of stream function sin(1.3 x + 0.8 y^2)).
// The bilinear grid and the trapezoids are both second order: halving the
// spacing quarters the error (a flux whose n jumped inside an interval at a
// corner would only halve it).
void TestExtraction::closedFlux()
{
    QFETCH(double, strength);
    QFETCH(Polyline, loop);
    double errors[2];
    for (int level = 0; level < 2; ++level) {
        QTemporaryDir dir;
        const auto data = field(dir.filePath("f"), 40 << level, [&](double x, double y) {
            const QPointF r(x - 1.1, y - 3.45);
            const double r2 = QPointF::dotProduct(r, r), phase = 1.3 * x + 0.8 * y * y;
            if (strength == 0.0)
                return std::cos(phase) * QPointF(1.6 * y, -1.3);
            return r2 < 0.01 ? QPointF(NAN, NAN) : strength / (2.0 * M_PI * r2) * r;
        });
        QVERIFY(data);
        const LineProfile profile(*data, loop, 320 << level);
        errors[level] = std::abs(profile.flux() + strength);
    }
    QVERIFY2(std::log2(errors[0] / errors[1]) > 1.5, qPrintable(QString::number(errors[1])));
}

// Each row is the read-out of that step at the point; a missing step is a gap.
void TestExtraction::cavityHistory()
{
    QTemporaryDir dir; // step 2 missing
    const QDir samples = QFileInfo(samplePath(QStringLiteral("cavity"))).dir();
    for (const QString& file : samples.entryList({QStringLiteral("cavity.*")}))
        if (!file.contains(QStringLiteral(".00002.")))
            QVERIFY(QFile::copy(samples.filePath(file), dir.filePath(file)));
    const std::unique_ptr<FlowSeries> series(FlowSeries::open(dir.filePath("cavity.gri")));
    QVERIFY(series && series->stepCount() == 4);
    QList<int> progress;
    const PointHistory history = PointHistory::read(*series, 0.41, 0.63, 0, 3, {},
                                                    [&](int done, int) { progress.append(done); });
    QCOMPARE(progress, QList<int>({1, 2, 3, 4}));
    QCOMPARE(history.gapCount(), 1);
    const ExtractionTable& rows = history.rows();
    QCOMPARE(rows.rowCount(), 4);
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(rows.value(k, PointHistory::Time), 0.25 * k);
        QCOMPARE(history.gaps().at(k).isEmpty(), k != 2);
        const std::unique_ptr<FlowData> step(series->loadStep(k));
        const auto* grid = dynamic_cast<const RectangularFlowData*>(step.get());
        QCOMPARE(bool(grid), k != 2);
        const QPointF unit = grid ? FlowProbe::unitPosition(*grid, 0.41, 0.63) : QPointF();
        const FlowProbe::Reading reading =
            grid ? FlowProbe::read(*grid, unit.x(), unit.y()) : FlowProbe::Reading();
        QVERIFY(grid ? reading.inside && rows.value(k, PointHistory::U) == reading.vx &&
                           rows.value(k, PointHistory::V) == reading.vy &&
                           rows.value(k, PointHistory::FirstScalar) == reading.scalars.value(0)
                     : std::isnan(rows.value(k, PointHistory::U)));
    }
}

void TestExtraction::dominantFrequency_data()
{
    QTest::addColumn<double>("frequency");
    QTest::addColumn<int>("gapAt"); // a run of 7 NaN from there, -1 for none
    QTest::newRow("one period and a bit") << 0.031 << -1;
    QTest::newRow("near Nyquist") << 4.61 << -1;
    QTest::newRow("with a gap") << 1.23 << 211;
    QTest::newRow("gap at the start") << 2.2 << 0;
}

// Within one bin, 1 / (n dt), of 400 samples over a drift and a weaker tone.
void TestExtraction::dominantFrequency()
{
    QFETCH(double, frequency);
    QFETCH(int, gapAt);
    std::vector<double> signal;
    for (int k = 0; k < 400; ++k)
        signal.push_back(3.0 + 0.002 * k + 1.5 * std::sin(0.2 * M_PI * frequency * k + 0.3) +
                         0.3 * std::cos(0.2 * M_PI * 1.9 * frequency * k));
    for (int k = gapAt; k >= 0 && k < gapAt + 7; ++k)
        signal[size_t(k)] = NAN;
    const DominantFrequency found(signal, 0.1);
    QVERIFY2(std::abs(found.frequency() - frequency) < found.resolution(),
             qPrintable(QString::number(found.frequency())));
}

// Headings with units, a name holding the separator quoted, NaN an empty
// field. (The tool's test reads every number back.)
void TestExtraction::csvReadsBack()
{
    ExtractionTable table;
    table.addColumn("s", "m");
    table.addColumn("p, \"static\"");
    table.appendRow({0.1, NAN});
    QCOMPARE(table.toCsv(), QStringLiteral("s [m],\"p, \"\"static\"\"\"\n0.1,\n"));
}

void TestExtraction::probeTool_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // a part of standard error
    // The output's oracle: a profile along these vertices, a point's history for one.
    QTest::addColumn<Polyline>("vertices");
    QTest::newRow("line across the wake")
        << "vortex_street" << QStringList{"--line", "3,-2,3,2", "--samples", "41"} << 0 << QString()
        << Polyline{{3, -2}, {3, 2}};
    QTest::newRow("polyline with vorticity")
        << "vortex_street" << QStringList{"--polyline", "1,0.7,4,-0.5,6,1", "--derive", "vorticity"}
        << 0 << QString() << Polyline{{1, 0.7}, {4, -0.5}, {6, 1}};
    QTest::newRow("line leaving the grid")
        << "cavity" << QStringList{"--line", "0.5,0.5,1.5,0.5", "--samples", "5"} << 0
        << "2 of 5 samples lie outside the grid" << Polyline{{0.5, 0.5}, {1.5, 0.5}};
    QTest::newRow("point in the eddy, steps 1 to 2")
        << "cavity" << QStringList{"--point", "0.41,0.63", "--frames", "1:2"} << 0 << QString()
        << Polyline{{0.41, 0.63}};
    for (const QString& arguments : QStringList{
             "--line 1,2,3", "--line 1,2,3,x", "--polyline 1,2,3,4,5", "--line 1,1,1,1",
             "--line 0,0,1,1 --point 0,0", "--line 0,0,1,1 --samples 1", "--point 0,0 --frames 3:1",
             "--point 0,0 --derive vorticity,swirl", "--samples 4"})
        QTest::newRow(qPrintable("refused: " + arguments))
            << "cavity" << arguments.split(' ') << 2 << "usage: velmora-probe" << Polyline{};
}

// The CSV is the core's table, every number read back exactly, the header
// naming the columns.
void TestExtraction::probeTool()
{
    QFETCH(QString, sample);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(Polyline, vertices);
    const QString file = samplePath(sample);
    QProcess probe;
    probe.start(QStringLiteral(VELMORA_PROBE_PROGRAM), QStringList{file} + arguments);
    QVERIFY(probe.waitForFinished(60000));
    const QString errors = QString::fromUtf8(probe.readAllStandardError());
    QCOMPARE(probe.exitCode(), status);
    QVERIFY2(error.isEmpty() ? errors.isEmpty() : errors.contains(error), qPrintable(errors));
    if (vertices.isEmpty())
        return;
    ExtractionTable expected;
    const std::unique_ptr<FlowSeries> series(FlowSeries::open(file));
    const std::unique_ptr<FlowData> data(FlowData::fromFile(file));
    const auto* grid = dynamic_cast<const RectangularFlowData*>(data.get());
    QVERIFY(series && grid);
    const bool derived = arguments.contains("--derive");
    const QList<ScalarSet> sets =
        DerivedField::compute(DerivedFieldGrid::fromFlowData(*grid), {DerivedField::Vorticity});
    if (vertices.size() == 1)
        expected = PointHistory::read(*series, vertices[0].x(), vertices[0].y(), 1, 2).rows();
    else
        expected =
            LineProfile(*grid, vertices,
                        arguments.contains("--samples") ? arguments.last().toInt() : 101,
                        derived ? QList<const ScalarSet*>{&sets[0]} : QList<const ScalarSet*>())
                .samples();
    const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split('\n');
    QCOMPARE(lines.size(), expected.rowCount() + 2);
    QVERIFY(lines[0].startsWith(vertices.size() == 1
                                    ? "step,time,x,y,u,v,speed,Scalar 0"
                                    : "s,x,y,u,v,speed,tangential,normal,Scalar 0"));
    QCOMPARE(lines[0].endsWith(",Vorticity"), derived);
    for (int r = 0; r < expected.rowCount(); ++r) {
        const QStringList fields = lines[r + 1].split(',');
        QCOMPARE(fields.size(), expected.columnCount());
        for (int c = 0; c < expected.columnCount(); ++c)
            QVERIFY2(std::isnan(expected.value(r, c))
                         ? fields[c].isEmpty()
                         : fields[c].toDouble() == expected.value(r, c),
                     qPrintable(QStringLiteral("row %1: %2").arg(r).arg(lines[r + 1])));
    }
}

QTEST_GUILESS_MAIN(TestExtraction)
#include "tst_extraction.moc"
