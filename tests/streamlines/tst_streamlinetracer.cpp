#include "streamlines/SeparationGrid.h"
#include "streamlines/StreamlineTracer.h"
#include "tests/streamlines/AnalyticField.h"

#include <cmath>
#include <memory>
#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <unordered_map>

class TestStreamlineTracer : public QObject
{
    Q_OBJECT

private slots:
    void uniformLine_data();
    void uniformLine();
    void stalledLine_data();
    void stalledLine();
    void firstSeedFallback_data();
    void firstSeedFallback();
    void vortexLineClosesOnItself_data();
    void vortexLineClosesOnItself();
    void placementKeepsLinesApart_data();
    void placementKeepsLinesApart();
    void pointBudget_data();
    void pointBudget();
    void hostileFields_data();
    void hostileFields();
};

namespace {

using FieldPtr = std::shared_ptr<FlowData>;

StreamlineParameters startValues(int method = EulerMethod)
{
    StreamlineParameters p;
    p.dSep = 0.03;
    p.dTest = 0.5;
    p.stepSize = 0.003;
    p.method = method;
    return p;
}

FieldPtr uniformField(float aspect)
{
    return std::make_shared<AnalyticField>(
        aspect, [](double, double) { return Vector3(1.0f, 0.0f, 0.0f); });
}

// Circular flow around (0.5, 0.5), counter-clockwise, speed growing with the radius.
FieldPtr vortexField()
{
    return std::make_shared<AnalyticField>(
        1.0f, [](double x, double y) { return Vector3(float(0.5 - y), float(x - 0.5), 0.0f); });
}

// Uniform flow except inside a still disk.
FieldPtr stillDiskField(float aspect, double cx, double cy, double radius)
{
    return std::make_shared<AnalyticField>(aspect, [=](double x, double y) {
        return std::hypot(x - cx, y - cy) < radius ? Vector3() : Vector3(1.0f, 0.0f, 0.0f);
    });
}

FieldPtr doubleGyreField()
{
    return std::make_shared<AnalyticField>(2.0f, [](double x, double y) {
        const double px = M_PI * 2.0 * x;
        const double py = M_PI * 2.0 * y;
        return Vector3(float(-0.3 * std::sin(px) * std::cos(py)),
                       float(0.3 * std::cos(px) * std::sin(py)), 0.0f);
    });
}

FieldPtr loadField(const QString& path)
{
    if (!QFile::exists(path))
        return nullptr;
    QString error;
    FieldPtr data(FlowData::fromFile(path, &error));
    if (!data)
        qWarning() << "cannot load" << path << error;
    return data;
}

std::int64_t pointCount(const std::vector<Streamline>& lines)
{
    std::int64_t n = 0;
    for (const Streamline& line : lines)
        n += std::int64_t(line.size());
    return n;
}

bool identical(const StreamlinePoint& a, const StreamlinePoint& b)
{
    auto same = [](double u, double v) { return u == v || (std::isnan(u) && std::isnan(v)); };
    return same(a.x, b.x) && same(a.y, b.y) && same(a.magnitude, b.magnitude) &&
           same(a.texture, b.texture) && same(a.taper, b.taper);
}

// Smallest distance from (x, y) to any point of any line.
double distanceToLines(const std::vector<Streamline>& lines, double x, double y)
{
    double best = INFINITY;
    for (const Streamline& line : lines)
        for (const StreamlinePoint& p : line)
            best = std::min(best, std::hypot(p.x - x, p.y - y));
    return best;
}

} // namespace

Q_DECLARE_METATYPE(FieldPtr)
Q_DECLARE_METATYPE(AnalyticField::Field)

void TestStreamlineTracer::uniformLine_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<double>("seedX");
    QTest::addColumn<QList<double>>("expectedX");

    QList<double> full;
    for (int k = 0; k <= 8; ++k)
        full << 0.125 * k;
    QList<double> shifted;
    for (int k = 0; k <= 7; ++k)
        shifted << 0.09375 + 0.125 * k;

    QTest::newRow("euler, seed inside") << int(EulerMethod) << 0.5 << full;
    QTest::newRow("midpoint, seed inside") << int(RungeKuttaMethod) << 0.5 << full;
    QTest::newRow("euler, seed on the right border") << int(EulerMethod) << 1.0 << full;
    // Beyond x = 1 the field turns upwards: a midpoint sampled there would
    // bring the full step back inside at (1, 0.625).
    QTest::newRow("midpoint, midpoint leaves the domain") << int(RungeKuttaMethod) << 1.0 << full;
    QTest::newRow("midpoint, first midpoint outside")
        << int(RungeKuttaMethod) << 0.96875 << shifted;
}

void TestStreamlineTracer::uniformLine()
{
    QFETCH(int, method);
    QFETCH(double, seedX);
    QFETCH(QList<double>, expectedX);

    // Dyadic step and offsets keep every position exact.
    const double seedY = 0.5;
    StreamlineParameters params;
    params.stepSize = 0.125;
    params.dSep = 0.25;
    params.dTest = 0.5;
    params.textureLength = 8.0;
    params.method = method;
    StreamlineTracer tracer(params);
    AnalyticField field(1.0f, [](double x, double) {
        return x > 1.0 ? Vector3(0.0f, 1.0f, 0.0f) : Vector3(1.0f, 0.0f, 0.0f);
    });
    QVERIFY(tracer.beginPlacement(field));

    const Streamline line = tracer.genStreamline(seedX, seedY);
    QCOMPARE(int(line.size()), expectedX.size());
    const int seedIndex = int(expectedX.indexOf(seedX));
    QVERIFY(seedIndex >= 0);
    for (int k = 0; k < expectedX.size(); ++k) {
        const StreamlinePoint& p = line[std::size_t(k)];
        const QByteArray where = "point " + QByteArray::number(k);
        QVERIFY2(p.x == expectedX[k], where + " x " + QByteArray::number(p.x, 'g', 17));
        QVERIFY2(p.y == seedY, where);
        QVERIFY2(p.magnitude == 1.0f, where);
        QVERIFY2(p.taper == 1.0, where + " taper " + QByteArray::number(p.taper));
        // Signed index: negative upstream (left of the seed), period 8 points.
        const double expectedTexture = (std::sin((k - seedIndex) * M_PI / 4.0) + 1.0) * 0.5;
        QVERIFY2(std::abs(p.texture - expectedTexture) < 1e-8, where + " texture");
    }
    QCOMPARE(line[std::size_t(seedIndex)].texture, 0.5);

    // A pair beside every point a step was attempted from: downstream from
    // the seed (left = above), then upstream from the seed (left = below).
    QList<double> candidates;
    for (int k = seedIndex; k < expectedX.size(); ++k)
        candidates << expectedX[k] << seedY + 0.25 << expectedX[k] << seedY - 0.25;
    for (int k = seedIndex; k >= 0; --k)
        candidates << expectedX[k] << seedY - 0.25 << expectedX[k] << seedY + 0.25;
    QList<double> queued;
    for (const DomainPoint& c : tracer.currentSeeds()->points)
        queued << c.x << c.y;
    QCOMPARE(queued, candidates);
}

void TestStreamlineTracer::stalledLine_data()
{
    QTest::addColumn<double>("stepSize");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("stillEverywhere");
    QTest::addColumn<int>("ignoreCount");
    QTest::addColumn<int>("records");

    QTest::newRow("zero field, ignoreCount 13")
        << double(0.004f) << int(EulerMethod) << true << 13 << 3;
    QTest::newRow("zero field, ignoreCount 1") << 0.05 << int(EulerMethod) << true << 1 << 2;
    // The field flows only at the seed: every midpoint is still, every step is
    // lost, and the copies pile up until one of them is committed.
    QTest::newRow("still midpoints, ignoreCount 13")
        << double(0.004f) << int(RungeKuttaMethod) << false << 13 << 14;
}

void TestStreamlineTracer::stalledLine()
{
    QFETCH(double, stepSize);
    QFETCH(int, method);
    QFETCH(bool, stillEverywhere);
    QFETCH(int, ignoreCount);
    QFETCH(int, records);

    const double sx = 0.3, sy = 0.6;
    AnalyticField field(1.0f, [=](double x, double y) {
        const bool atSeed = x == sx && y == sy;
        return stillEverywhere || !atSeed ? Vector3() : Vector3(1.0f, 0.0f, 0.0f);
    });
    StreamlineParameters params;
    params.dSep = 0.05;
    params.stepSize = stepSize;
    params.method = method;
    StreamlineTracer tracer(params);
    QVERIFY(tracer.beginPlacement(field));
    QCOMPARE(tracer.separationGrid()->ignoreCount(), ignoreCount);

    const Streamline line = tracer.genStreamline(sx, sy);
    QCOMPARE(int(line.size()), records);
    for (const StreamlinePoint& p : line)
        QVERIFY(p.x == sx && p.y == sy);
    if (stillEverywhere) {
        QVERIFY(tracer.currentSeeds()->points.empty());
        // Upstream copy (index -1) first when there is one, then the seed.
        const std::size_t seed = records == 3 ? 1 : 0;
        QCOMPARE(line[seed].texture, 0.5);
        QVERIFY(line.back().texture > 0.5);
        if (records == 3)
            QVERIFY(line.front().texture < 0.5);
    }
}

void TestStreamlineTracer::firstSeedFallback_data()
{
    QTest::addColumn<FieldPtr>("field");
    QTest::addColumn<double>("stillX");
    QTest::addColumn<double>("stillY");
    QTest::addColumn<double>("stillRadius");
    QTest::addColumn<bool>("fixedSeedKept");

    QTest::newRow("square, flowing at the fixed seed")
        << uniformField(1.0f) << 0.0 << 0.0 << 0.0 << true;
    QTest::newRow("wake 2:1, fixed seed above the domain")
        << uniformField(2.0f) << 0.0 << 0.0 << 0.0 << false;
    QTest::newRow("fixed seed in still water")
        << stillDiskField(1.0f, 0.68, 0.57, 0.1) << 0.68 << 0.57 << 0.1 << false;
    QTest::newRow("both first seeds in still water")
        << stillDiskField(1.5f, 0.68, 0.5, 0.2) << 0.68 << 0.5 << 0.2 << false;
}

void TestStreamlineTracer::firstSeedFallback()
{
    QFETCH(FieldPtr, field);
    QFETCH(double, stillX);
    QFETCH(double, stillY);
    QFETCH(double, stillRadius);
    QFETCH(bool, fixedSeedKept);

    const StreamlineParameters params = startValues();
    StreamlineTracer tracer(params);
    const std::vector<Streamline> lines = tracer.placeStreamlines(*field);
    QVERIFY(lines.size() > 3);

    const Streamline& first = lines.front();
    const bool throughFixedSeed = std::any_of(
        first.begin(), first.end(), [](const auto& p) { return p.x == 0.68 && p.y == 0.57; });
    QCOMPARE(throughFixedSeed && first.size() > 3, fixedSeedKept);

    // Every flowing place is near a line: the fallback seeds filled the domain.
    const double height = field->inverseAspectRatio();
    for (double y = 0.01; y < height; y += 0.04) {
        for (double x = 0.01; x < 1.0; x += 0.04) {
            if (std::hypot(x - stillX, y - stillY) < stillRadius + params.dSep)
                continue;
            const double d = distanceToLines(lines, x, y);
            QVERIFY2(d < params.dSep,
                     qPrintable(QString("gap at (%1, %2): %3").arg(x).arg(y).arg(d)));
        }
    }
}

void TestStreamlineTracer::vortexLineClosesOnItself_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("euler") << int(EulerMethod);
    QTest::newRow("midpoint") << int(RungeKuttaMethod);
}

void TestStreamlineTracer::vortexLineClosesOnItself()
{
    QFETCH(int, method);
    const StreamlineParameters params = startValues(method);
    StreamlineTracer tracer(params);
    const FieldPtr field = vortexField();
    const std::vector<Streamline> lines = tracer.placeStreamlines(*field);

    // The first line is a circle through the fixed seed: it goes round once
    // and stops on meeting its own start, not before and not after.
    const double circumference = 2.0 * M_PI * std::hypot(0.68 - 0.5, 0.57 - 0.5);
    const double arc = (double(lines.front().size()) - 1.0) * params.stepSize;
    QVERIFY2(arc > circumference - 2.0 * params.dSep && arc < circumference + params.dSep,
             qPrintable(QString("arc %1 of circumference %2").arg(arc).arg(circumference)));
    QVERIFY(lines.size() > 15);
}

void TestStreamlineTracer::placementKeepsLinesApart_data()
{
    QTest::addColumn<FieldPtr>("field");
    QTest::addColumn<int>("method");

    QTest::newRow("vortex, euler") << vortexField() << int(EulerMethod);
    QTest::newRow("double gyre, midpoint") << doubleGyreField() << int(RungeKuttaMethod);

    const QString source = qEnvironmentVariable("VELMORA_SOURCE_DIR");
    const QString real = source + "/../shared/realdata/";
    for (const char* name : {"piv_tipvortex_dlr", "ocean_roms_arctic20_t000"}) {
        const FieldPtr field = loadField(real + name + ".gri");
        QTest::addRow("real: %s, euler", name) << field << int(EulerMethod);
        QTest::addRow("real: %s, midpoint", name) << field << int(RungeKuttaMethod);
    }
    for (const char* name : {"vortex_street", "double_gyre", "channel_transposed"})
        QTest::addRow("sample: %s", name)
            << loadField(source + "/dat/" + name + ".gri") << int(RungeKuttaMethod);
}

void TestStreamlineTracer::placementKeepsLinesApart()
{
    QFETCH(FieldPtr, field);
    QFETCH(int, method);
    if (!field)
        QSKIP("data set not available");

    const StreamlineParameters params = startValues(method);
    StreamlineTracer tracer(params);
    const std::vector<Streamline> lines = tracer.placeStreamlines(*field);
    QVERIFY(pointCount(lines) > 1000);

    const double separation = params.dTest * params.dSep;
    const int ignoreCount = int(std::ceil(params.dSep / params.stepSize));
    const double height = field->inverseAspectRatio();

    // Every point against every point of its 3 x 3 block of separation cells.
    struct Entry
    {
        int line;
        int index;
        double x, y;
    };
    std::unordered_map<std::int64_t, std::vector<Entry>> cells;
    auto key = [&](std::int64_t c, std::int64_t r) { return r * 100000 + c; };
    for (int l = 0; l < int(lines.size()); ++l) {
        for (int i = 0; i < int(lines[l].size()); ++i) {
            const StreamlinePoint& p = lines[l][std::size_t(i)];
            QVERIFY(p.x >= 0.0 && p.x <= 1.0 && p.y >= 0.0 && p.y <= height);
            cells[key(std::int64_t(p.x / separation), std::int64_t(p.y / separation))].push_back(
                {l, i, p.x, p.y});
        }
    }
    for (const auto& [cellKey, entries] : cells) {
        const std::int64_t c = cellKey % 100000, r = cellKey / 100000;
        for (std::int64_t nc = c - 1; nc <= c + 1; ++nc) {
            for (std::int64_t nr = r - 1; nr <= r + 1; ++nr) {
                const auto other = cells.find(key(nc, nr));
                if (other == cells.end())
                    continue;
                for (const Entry& a : entries) {
                    for (const Entry& b : other->second) {
                        // A line only meets its own points once they have
                        // left the ignore queue, which spans the hand-over.
                        const bool exempt =
                            a.line == b.line && std::abs(a.index - b.index) <= 2 * ignoreCount + 1;
                        if (exempt || std::hypot(a.x - b.x, a.y - b.y) > separation)
                            continue;
                        QFAIL(qPrintable(QString::asprintf("line %d point %d too near line %d "
                                                           "point %d",
                                                           a.line, a.index, b.line, b.index)));
                    }
                }
            }
        }
    }

    // A retrace starts from scratch: the same lines, bit for bit.
    const std::vector<Streamline> again = StreamlineTracer(params).placeStreamlines(*field);
    QCOMPARE(again.size(), lines.size());
    for (std::size_t l = 0; l < lines.size(); ++l) {
        QCOMPARE(again[l].size(), lines[l].size());
        QVERIFY(std::equal(lines[l].begin(), lines[l].end(), again[l].begin(), identical));
    }
}

void TestStreamlineTracer::pointBudget_data()
{
    QTest::addColumn<FieldPtr>("field");
    QTest::addColumn<double>("dSep");
    QTest::addColumn<double>("dTest");
    QTest::addColumn<double>("stepSize");
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("stop");

    const int points = StreamlineTracer::PointBudgetReached;
    const int tests = StreamlineTracer::TestBudgetReached;
    const int lines = StreamlineTracer::LineBudgetReached;
    // A 2 x 2000 grid is a domain 1000 widths tall: about 10^7 points.
    QTest::newRow("tall domain at the start values")
        << uniformField(0.001f) << 0.03 << 0.5 << 0.003 << int(EulerMethod) << points;
    QTest::newRow("smallest control values, vortex")
        << vortexField() << 0.001 << 0.01 << 0.0001 << int(RungeKuttaMethod) << points;
    // Thousands of a line's neighbours' points in the cells around every head.
    QTest::newRow("long test distance against the smallest step")
        << uniformField(0.1f) << 0.5 << 1.0 << 0.0001 << int(EulerMethod) << tests;
    // Lines of a few points each, seeds packed a hundredth of dSep apart.
    QTest::newRow("smallest test distance against the longest step")
        << vortexField() << 0.03 << 0.01 << 0.3 << int(EulerMethod) << lines;
}

void TestStreamlineTracer::pointBudget()
{
    QFETCH(FieldPtr, field);
    QFETCH(double, dSep);
    QFETCH(double, dTest);
    QFETCH(double, stepSize);
    QFETCH(int, method);
    QFETCH(int, stop);

    StreamlineParameters params;
    params.dSep = dSep;
    params.dTest = dTest;
    params.stepSize = stepSize;
    params.method = method;
    StreamlineTracer tracer(params);
    const std::int64_t budget = 200000;
    tracer.setPointBudget(budget);
    tracer.setTestBudget(stop == StreamlineTracer::TestBudgetReached ? 2000000 : 20000000);
    tracer.setLineBudget(5000);

    const char* message = stop == StreamlineTracer::PointBudgetReached  ? "200000 points"
                          : stop == StreamlineTracer::LineBudgetReached ? "5000 lines"
                                                                        : "2000000 distance tests";
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));
    const std::vector<Streamline> lines = tracer.placeStreamlines(*field);
    QCOMPARE(int(tracer.stopReason()), stop);
    QVERIFY(!tracer.incompleteReason().isEmpty());
    if (stop == StreamlineTracer::PointBudgetReached) {
        QCOMPARE(pointCount(lines), budget);
        QVERIFY(lines.size() > 1);
    } else if (stop == StreamlineTracer::LineBudgetReached) {
        QCOMPARE(std::count_if(lines.begin(), lines.end(),
                               [](const Streamline& line) { return !line.empty(); }),
                 std::ptrdiff_t(5000));
    } else {
        // The lines traced so far are kept, each still a whole line up to its stop.
        QVERIFY(pointCount(lines) > 1000);
        QVERIFY(pointCount(lines) < budget);
    }

    // The next placement within its budgets is complete again.
    params.dSep = 0.3;
    params.dTest = 0.5;
    params.stepSize = 0.1;
    tracer.setParameters(params);
    QVERIFY(!tracer.placeStreamlines(*field).empty());
    QCOMPARE(int(tracer.stopReason()), int(StreamlineTracer::Complete));
    QVERIFY(tracer.incompleteReason().isEmpty());
}

void TestStreamlineTracer::hostileFields_data()
{
    QTest::addColumn<AnalyticField::Field>("field");

    const float nan = std::nanf("");
    QTest::newRow("NaN everywhere")
        << AnalyticField::Field([=](double, double) { return Vector3(nan, nan, 0); });
    QTest::newRow("NaN stripes") << AnalyticField::Field([=](double x, double) {
        return std::fmod(x, 0.01) < 0.001 ? Vector3(nan, nan, 0) : Vector3(0.2f, 1, 0);
    });
    QTest::newRow("infinite component")
        << AnalyticField::Field([](double, double) { return Vector3(INFINITY, 1, 0); });
    QTest::newRow("length overflows") << AnalyticField::Field([](double x, double y) {
        return Vector3(float(1e30 * (0.5 - y)), float(1e30 * (x - 0.5)), 0);
    });
}

void TestStreamlineTracer::hostileFields()
{
    QFETCH(AnalyticField::Field, field);
    const AnalyticField data(1.0f, field);
    for (int method : {int(EulerMethod), int(RungeKuttaMethod)}) {
        const std::vector<Streamline> lines =
            StreamlineTracer(startValues(method)).placeStreamlines(data);
        QVERIFY(!lines.empty());
        for (const Streamline& line : lines)
            for (const StreamlinePoint& p : line)
                QVERIFY2(p.x >= 0.0 && p.x <= 1.0 && p.y >= 0.0 && p.y <= 1.0,
                         qPrintable(QString("(%1, %2)").arg(p.x).arg(p.y)));
    }
}

QTEST_APPLESS_MAIN(TestStreamlineTracer)
#include "tst_streamlinetracer.moc"
