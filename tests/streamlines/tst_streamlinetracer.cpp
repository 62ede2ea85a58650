#include "data/FlowData.h"
#include "streamlines/SeparationGrid.h"
#include "streamlines/StreamlineTracer.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/TestEnvironment.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <QRegularExpression>
#include <QTest>

class TestStreamlineTracer : public QObject
{
    Q_OBJECT

private slots:
    void uniformStream_data();
    void uniformStream();
    void rotation_data();
    void rotation();
    void taper_data();
    void taper();
    void stalledLine_data();
    void stalledLine();
    void uniformStreamFilledEvenly();
    void fallbackSeedsCoverTheDomain_data();
    void fallbackSeedsCoverTheDomain();
    void placementKeepsLinesApart_data();
    void placementKeepsLinesApart();
    void pointBudget();
    void reusedTracerMatchesFresh_data();
    void reusedTracerMatchesFresh();
    void userSeeds_data();
    void userSeeds();
    void turnedGridEastward_data();
    void turnedGridEastward();
};

namespace {

using DataPtr = std::shared_ptr<FlowData>;

StreamlineParameters parameters(int method, double step = 0.003, double dSep = 0.03,
                                double dTest = 0.5)
{
    StreamlineParameters p;
    p.method = method;
    p.stepSize = step;
    p.dSep = dSep;
    p.dTest = dTest;
    return p;
}

std::size_t seedIndex(const Streamline& line, double x, double y)
{
    for (std::size_t k = 0; k < line.size(); ++k)
        if (line[k].x == x && line[k].y == y)
            return k;
    return line.size();
}

} // namespace

Q_DECLARE_METATYPE(DataPtr)

namespace {

using Seeds = std::vector<DomainPoint>;

// n seeds evenly from a to b, both ends included.
Seeds rake(QPointF a, QPointF b, int n)
{
    Seeds seeds;
    for (int k = 0; k < n; ++k) {
        const double t = n > 1 ? double(k) / (n - 1) : 0.0;
        seeds.push_back({a.x() + t * (b.x() - a.x()), a.y() + t * (b.y() - a.y())});
    }
    return seeds;
}

} // namespace

Q_DECLARE_METATYPE(Seeds)

void TestStreamlineTracer::uniformStream_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<float>("aspect");
    QTest::addColumn<QPointF>("seed");

    // Each method off the axes, and a domain wider and one taller than square.
    QTest::newRow("euler, 135 degrees") << int(EulerMethod) << 135.0 << 1.0f << QPointF(0.6, 0.5);
    QTest::newRow("midpoint, along x, wide domain")
        << int(RungeKuttaMethod) << 0.0 << 2.0f << QPointF(0.3, 0.2);
    QTest::newRow("midpoint, 250 degrees, tall domain")
        << int(RungeKuttaMethod) << 250.0 << 0.5f << QPointF(0.5, 1.2);
}

// The exact streamline is the straight line through the seed: point k lies at
// seed + (k - seed index) * step * direction, until the next step would leave
// the domain; the texture runs with the signed index; a pair of seed
// candidates lies dSep to either side of every point a step was taken from.
void TestStreamlineTracer::uniformStream()
{
    QFETCH(int, method);
    QFETCH(double, degrees);
    QFETCH(float, aspect);
    QFETCH(QPointF, seed);

    const double a = degrees * M_PI / 180.0;
    FakeFlowData field(aspect, Fields::uniform(degrees));
    Vector3 d = field.vectorAt(0, 0);
    d.normalize(); // the tracer steps along the normalised single-precision vector
    const double dx = d.x, dy = d.y;
    StreamlineParameters params = parameters(method, 0.05, 0.1, 0.5);
    params.textureLength = 8.0;
    StreamlineTracer tracer(params);
    QVERIFY(tracer.beginPlacement(field));
    const Streamline line = tracer.genStreamline(seed.x(), seed.y());
    const std::size_t s = seedIndex(line, seed.x(), seed.y());
    QVERIFY(s < line.size());

    const double h = params.stepSize, height = 1.0 / aspect;
    auto inside = [&](double x, double y) { return x >= 0 && x <= 1 && y >= 0 && y <= height; };
    for (std::size_t k = 0; k < line.size(); ++k) {
        const double i = double(k) - double(s);
        const StreamlinePoint& p = line[k];
        const QByteArray where = "point " + QByteArray::number(int(k));
        QVERIFY2(std::abs(p.x - (seed.x() + i * h * dx)) < 1e-9, where);
        QVERIFY2(std::abs(p.y - (seed.y() + i * h * dy)) < 1e-9, where);
        QVERIFY2(std::abs(p.magnitude - 1.0) < 1e-6 && p.taper == 1.0, where);
        QVERIFY2(std::abs(p.texture - (std::sin(i * M_PI / 4.0) + 1.0) * 0.5) < 1e-8, where);
    }
    const StreamlinePoint &first = line.front(), &last = line.back();
    QVERIFY(!inside(last.x + h * dx, last.y + h * dy));
    QVERIFY(!inside(first.x - h * dx, first.y - h * dy));

    const std::vector<DomainPoint>& seeds = tracer.currentSeeds()->points;
    QCOMPARE(seeds.size(), 2 * line.size() + 2);
    for (std::size_t j = 0; j + 1 < seeds.size(); j += 2) {
        // Downstream from the seed first, then upstream: the travel direction flips.
        const double t = j / 2 < line.size() - s ? 1.0 : -1.0;
        const double mx = (seeds[j].x + seeds[j + 1].x) / 2, my = (seeds[j].y + seeds[j + 1].y) / 2;
        QVERIFY(std::abs(seeds[j].x - mx + t * params.dSep * std::sin(a)) < 1e-6);
        QVERIFY(std::abs(seeds[j].y - my - t * params.dSep * std::cos(a)) < 1e-6);
        QVERIFY(std::any_of(line.begin(), line.end(), [&](const StreamlinePoint& p) {
            return std::hypot(p.x - mx, p.y - my) < 1e-9;
        }));
    }
}

void TestStreamlineTracer::rotation_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("euler") << int(EulerMethod);
    QTest::newRow("midpoint") << int(RungeKuttaMethod);
}

// Solid-body rotation about (0.5, -0.1): exact streamlines are circles run
// counter-clockwise. A step of length h along the tangent grows the squared
// radius by exactly h^2 (Euler); the midpoint step grows it by
// h^2 (1 - r / sqrt(r^2 + h^2 / 4)), positive and of order h^4 / r^2.
void TestStreamlineTracer::rotation()
{
    QFETCH(int, method);
    // The arc through (0.5, 0.2) leaves the domain at both ends, so that
    // neither part stops the other.
    FakeFlowData field(1.0f, Fields::rotation(0.5, -0.1));
    const StreamlineParameters params = parameters(method, 0.02, 0.03, 0.5);
    StreamlineTracer tracer(params);
    QVERIFY(tracer.beginPlacement(field));
    const Streamline line = tracer.genStreamline(0.5, 0.2);
    const std::size_t s = seedIndex(line, 0.5, 0.2);
    QVERIFY(s > 10 && line.size() - s > 10);

    const double h = params.stepSize;
    auto grow = [&](double r2) {
        return method == EulerMethod ? r2 + h * h
                                     : r2 + h * h * (1.0 - std::sqrt(r2 / (r2 + h * h / 4)));
    };
    auto radius2 = [](const StreamlinePoint& p) {
        return (p.x - 0.5) * (p.x - 0.5) + (p.y + 0.1) * (p.y + 0.1);
    };
    double expectedUp = 0.09, expectedDown = 0.09;
    for (std::size_t k = 1; k <= 10; ++k) {
        expectedUp = grow(expectedUp);
        expectedDown = grow(expectedDown);
        const StreamlinePoint &up = line[s + k], &down = line[s - k];
        QVERIFY2(std::abs(radius2(up) - expectedUp) < 1e-8 * k, qPrintable(QString::number(k)));
        QVERIFY2(std::abs(radius2(down) - expectedDown) < 1e-8 * k, qPrintable(QString::number(k)));
    }
    QVERIFY(radius2(line[s + 10]) > 0.09); // the sign of the error: outward for both
    // Counter-clockwise along the whole line, one step apart.
    for (std::size_t k = 1; k < line.size(); ++k) {
        const StreamlinePoint &p = line[k - 1], &q = line[k];
        QVERIFY((p.x - 0.5) * (q.y + 0.1) - (p.y + 0.1) * (q.x - 0.5) > 0.0);
        QVERIFY(std::abs(std::hypot(q.x - p.x, q.y - p.y) - h) < 1e-6);
    }
}

void TestStreamlineTracer::taper_data()
{
    QTest::addColumn<double>("distance");
    QTest::addColumn<double>("factor");
    // dSep 0.1, dTest 0.5: full width from 0.1, none at 0.05, linear between.
    QTest::newRow("at dSep") << 0.1 << 1.0;
    QTest::newRow("three quarters") << 0.0875 << 0.75;
    QTest::newRow("at the separation distance") << 0.05 << 0.0;
}

void TestStreamlineTracer::taper()
{
    QFETCH(double, distance);
    QFETCH(double, factor);
    QCOMPARE(StreamlineTracer(parameters(EulerMethod, 0.01, 0.1, 0.5)).taperFactor(distance) + 1.0,
             factor + 1.0);
}

void TestStreamlineTracer::stalledLine_data()
{
    QTest::addColumn<double>("stepSize");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("stillEverywhere");
    QTest::addColumn<int>("records");

    QTest::newRow("zero field, ignoreCount 13") << double(0.004f) << int(EulerMethod) << true << 3;
    QTest::newRow("zero field, ignoreCount 1") << 0.05 << int(EulerMethod) << true << 2;
    // Flowing only at the seed: every midpoint is still, every step is lost,
    // and the copies pile up until one of them is committed.
    QTest::newRow("still midpoints") << double(0.004f) << int(RungeKuttaMethod) << false << 14;
}

void TestStreamlineTracer::stalledLine()
{
    QFETCH(double, stepSize);
    QFETCH(int, method);
    QFETCH(bool, stillEverywhere);
    QFETCH(int, records);

    const double sx = 0.3, sy = 0.6;
    FakeFlowData field(1.0f, [=](double x, double y) {
        return stillEverywhere || x != sx || y != sy ? Vector3() : Vector3(1.0f, 0.0f, 0.0f);
    });
    StreamlineTracer tracer(parameters(method, stepSize, 0.05));
    QVERIFY(tracer.beginPlacement(field));
    const Streamline line = tracer.genStreamline(sx, sy);
    QCOMPARE(int(line.size()), records);
    for (const StreamlinePoint& p : line)
        QVERIFY(p.x == sx && p.y == sy);
}

// Each line seeds its neighbours dSep to either side: a uniform stream is
// covered by lines exactly dSep apart, with no gap and no line between.
void TestStreamlineTracer::uniformStreamFilledEvenly()
{
    const FakeFlowData flow(1.0f, Fields::uniform(0.0));
    std::vector<double> rows;
    for (const Streamline& line :
         StreamlineTracer(parameters(EulerMethod, 0.003, 0.05)).placeStreamlines(flow))
        if (!line.empty())
            rows.push_back(line.front().y);
    std::sort(rows.begin(), rows.end());
    QVERIFY(rows.size() >= 19);
    for (std::size_t k = 1; k < rows.size(); ++k)
        QVERIFY2(std::abs(rows[k] - rows[k - 1] - 0.05) < 1e-9, qPrintable(QString::number(k)));
}

void TestStreamlineTracer::fallbackSeedsCoverTheDomain_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<int>("lines");
    // Still water: every inside seed gives a line of its own point. The fixed
    // seed (0.68, 0.57) blocks the fallback centre (0.6875, 0.5625) on the square.
    QTest::newRow("square: fixed seed and 63 of 64 centres") << 1.0f << 64;
    QTest::newRow("wide 2:1: 32 centres, fixed seed outside") << 2.0f << 1 + 1 + 32;
}

void TestStreamlineTracer::fallbackSeedsCoverTheDomain()
{
    QFETCH(float, aspect);
    QFETCH(int, lines);
    const FakeFlowData still(aspect);
    const std::vector<Streamline> placed =
        StreamlineTracer(parameters(EulerMethod)).placeStreamlines(still);
    QCOMPARE(int(placed.size()), lines);
    const double height = 1.0 / aspect;
    const int rows = int(std::lround(8 * height));
    for (const Streamline& line : placed) {
        if (line.empty() || (line.front().x == 0.68 && line.front().y == 0.57 * height))
            continue; // the fixed seeds
        const StreamlinePoint& p = line.front();
        const double column = p.x * 8 - 0.5, row = p.y / height * rows - 0.5;
        QVERIFY(column == std::round(column) && std::abs(row - std::round(row)) < 1e-9);
    }
}

void TestStreamlineTracer::placementKeepsLinesApart_data()
{
    QTest::addColumn<DataPtr>("field");
    QTest::addColumn<int>("method");
    QTest::addColumn<Seeds>("seeds");

    QTest::newRow("rotation, euler") << DataPtr(new FakeFlowData(1.0f, Fields::rotation(0.5, 0.5)))
                                     << int(EulerMethod) << Seeds();
    const DataPtr street(FlowData::fromFile(samplePath("vortex_street")));
    QTest::newRow("sample vortex street, midpoint") << street << int(RungeKuttaMethod) << Seeds();
    // Seeds closer together than the test distance, filled evenly afterwards.
    QTest::newRow("rotation, crowded rake, filled evenly")
        << DataPtr(new FakeFlowData(1.0f, Fields::rotation(0.5, 0.5))) << int(EulerMethod)
        << rake({0.1, 0.5}, {0.3, 0.5}, 30);
    if (street) {
        const double h = street->inverseAspectRatio();
        QTest::newRow("vortex street, rake across the wake, filled evenly")
            << street << int(RungeKuttaMethod) << rake({0.6, 0.1 * h}, {0.6, 0.9 * h}, 10);
    }
    // Hostile fields: stalled or cut lines, never a point outside.
    const float nan = std::nanf("");
    const FakeFlowData::Field hostile[] = {
        [=](double, double) { return Vector3(nan, nan, 0); },
        [=](double x, double) {
            return std::fmod(x, 0.01) < 0.001 ? Vector3(nan, nan, 0) : Vector3(0.2f, 1, 0);
        },
        [](double x, double y) {
            return Vector3(float(1e30 * (0.5 - y)), float(1e30 * (x - 0.5)), 0);
        }};
    const char* names[] = {"NaN everywhere", "NaN stripes", "length overflows"};
    for (int k = 0; k < 3; ++k) {
        for (int method : {int(EulerMethod), int(RungeKuttaMethod)})
            QTest::addRow("%s, %s", names[k], method == EulerMethod ? "euler" : "midpoint")
                << DataPtr(new FakeFlowData(1.0f, hostile[k])) << method << Seeds();
    }
}

// No two points of different lines, or of one line beyond its ignore window,
// come nearer than dTest * dSep; every point stays inside, also where the
// field is NaN or its length overflows. (The layer's test asks a second
// tracer for the same lines bit for bit.)
void TestStreamlineTracer::placementKeepsLinesApart()
{
    QFETCH(DataPtr, field);
    QFETCH(int, method);
    QFETCH(Seeds, seeds);
    QVERIFY(field);
    const StreamlineParameters params = parameters(method);
    StreamlineTracer tracer(params);
    tracer.setSeeds(seeds);
    const std::vector<Streamline> lines = tracer.placeStreamlines(*field);
    QVERIFY(lines.size() > 10);

    struct Entry
    {
        int line, index;
        double x, y;
    };
    std::vector<Entry> all;
    for (int l = 0; l < int(lines.size()); ++l)
        for (int i = 0; i < int(lines[l].size()); ++i)
            all.push_back({l, i, lines[l][i].x, lines[l][i].y});
    std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) { return a.x < b.x; });
    const double separation = params.dTest * params.dSep;
    const int window = 2 * int(std::ceil(params.dSep / params.stepSize)) + 1;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Entry& a = all[i];
        QVERIFY(a.x >= 0 && a.x <= 1 && a.y >= 0 && a.y <= field->inverseAspectRatio());
        for (std::size_t j = i + 1; j < all.size() && all[j].x - a.x <= separation; ++j) {
            const Entry& b = all[j];
            if ((a.line == b.line && std::abs(a.index - b.index) <= window) ||
                std::hypot(a.x - b.x, a.y - b.y) > separation)
                continue;
            QFAIL(qPrintable(QString::asprintf("line %d point %d too near line %d point %d", a.line,
                                               a.index, b.line, b.index)));
        }
    }
}

void TestStreamlineTracer::pointBudget()
{
    // A domain 1000 widths tall holds about 10^7 points at these values.
    const FakeFlowData tall(0.001f, Fields::uniform(0.0));
    StreamlineTracer tracer(parameters(EulerMethod));
    tracer.setPointBudget(200000);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("point budget of 200000 points"));
    const std::vector<Streamline> lines = tracer.placeStreamlines(tall);
    QVERIFY(tracer.pointBudgetReached());
    std::int64_t points = 0;
    for (const Streamline& line : lines)
        points += std::int64_t(line.size());
    QCOMPARE(points, std::int64_t(200000));
}

// One tracer placing lines again and again (as a layer does at every step)
// takes over the last placement's tables, dense or hashed, larger or
// smaller: each placement gives the lines of a fresh tracer, also where the
// last one filled the very cells with another field's points.
void TestStreamlineTracer::reusedTracerMatchesFresh_data()
{
    QTest::addColumn<QList<double>>("separations");
    QTest::addColumn<QList<bool>>("turning"); // a rotation, or else a uniform stream
    QTest::newRow("coarser, then finer")
        << QList<double>{0.1, 0.03, 0.05} << QList<bool>{true, true, true};
    QTest::newRow("hashed, dense, hashed")
        << QList<double>{0.001, 0.04, 0.0012} << QList<bool>{true, true, true};
    QTest::newRow("the same cells, another field")
        << QList<double>{0.001, 0.001, 0.03, 0.03} << QList<bool>{true, false, true, false};
}

void TestStreamlineTracer::reusedTracerMatchesFresh()
{
    QFETCH(QList<double>, separations);
    QFETCH(QList<bool>, turning);
    const FakeFlowData rotation(1.0f, Fields::rotation(0.5, 0.5));
    const FakeFlowData stream(1.0f, Fields::uniform(30.0));
    StreamlineTracer reused;
    reused.setPointBudget(20000);
    for (qsizetype p = 0; p < separations.size(); ++p) {
        const FlowData& field = turning[p] ? static_cast<const FlowData&>(rotation) : stream;
        const StreamlineParameters params = parameters(RungeKuttaMethod, 0.003, separations[p]);
        reused.setParameters(params);
        StreamlineTracer fresh(params);
        fresh.setPointBudget(20000);
        const std::vector<Streamline> got = reused.placeStreamlines(field);
        const std::vector<Streamline> want = fresh.placeStreamlines(field);
        QVERIFY(!want.empty());
        QCOMPARE(got.size(), want.size());
        for (std::size_t l = 0; l < want.size(); ++l) {
            QCOMPARE(got[l].size(), want[l].size());
            for (std::size_t k = 0; k < want[l].size(); ++k)
                QVERIFY(got[l][k].x == want[l][k].x && got[l][k].y == want[l][k].y);
        }
    }
}

void TestStreamlineTracer::userSeeds_data()
{
    QTest::addColumn<DataPtr>("field");
    QTest::addColumn<Seeds>("seeds");
    QTest::addColumn<bool>("fill");
    QTest::addColumn<int>("seedLines");

    const DataPtr street(FlowData::fromFile(samplePath("vortex_street")));
    QVERIFY(street);
    const double h = street->inverseAspectRatio();
    const Seeds wake = rake({0.6, 0.1 * h}, {0.6, 0.9 * h}, 10);
    QTest::newRow("rake across the wake, alone") << street << wake << false << 10;
    QTest::newRow("rake across the wake, filled evenly") << street << wake << true << 10;
    // Still water around the fixed first seed and the first fallbacks: the
    // user's seed starts the placement there.
    const DataPtr stillAtStart(new FakeFlowData(1.0f, [](double x, double y) {
        return std::hypot(x - 0.68, y - 0.57) < 0.3 ? Vector3(0, 0, 0) : Vector3(1, 0.3f, 0);
    }));
    QTest::newRow("still at the fixed seed") << stillAtStart << Seeds{{0.1, 0.1}} << true << 1;
    QTest::newRow("seed outside and one inside")
        << street << Seeds{{-0.1, 0.2}, {0.5, 0.5 * h}} << false << 1;
}

// Each accepted seed gives the next line, in order, the seed on it and its
// neighbours within a step; without the fill those are all the lines.
void TestStreamlineTracer::userSeeds()
{
    QFETCH(DataPtr, field);
    QFETCH(Seeds, seeds);
    QFETCH(bool, fill);
    QFETCH(int, seedLines);
    const StreamlineParameters params = parameters(RungeKuttaMethod);
    StreamlineTracer tracer(params);
    tracer.setSeeds(seeds, fill);
    const std::vector<Streamline> lines = tracer.placeStreamlines(*field);
    QVERIFY(int(lines.size()) >= seedLines);
    if (!fill)
        QCOMPARE(int(lines.size()), seedLines);
    else
        QVERIFY(int(lines.size()) > seedLines + 10);
    int line = 0;
    for (const DomainPoint& seed : seeds) {
        if (seed.x < 0.0)
            continue;
        QVERIFY(line < int(lines.size()));
        const Streamline& traced = lines[std::size_t(line++)];
        const std::size_t k = seedIndex(traced, seed.x, seed.y);
        QVERIFY2(k < traced.size(), "the seed is not on its line");
        QVERIFY(traced.size() > 10);
        for (std::size_t n : {k - 1, k + 1}) {
            if (n < traced.size())
                QVERIFY(std::hypot(traced[n].x - seed.x, traced[n].y - seed.y) <=
                        params.stepSize * (1.0 + 1e-6));
        }
    }
}

QTEST_APPLESS_MAIN(TestStreamlineTracer)
void TestStreamlineTracer::turnedGridEastward_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("Euler") << int(EulerMethod);
    QTest::newRow("midpoint") << int(RungeKuttaMethod);
}

// A square grid turned by 30 degrees under an eastward current (as a reader
// hands it on after turning grid-relative components by the angle): every
// line runs straight east across the turned square.
void TestStreamlineTracer::turnedGridEastward()
{
    QFETCH(int, method);
    FlowRecord record;
    record.gridColumns = record.gridRows = 21;
    const double turn = M_PI / 6.0;
    for (int j = 0; j < 21; ++j) {
        for (int i = 0; i < 21; ++i) {
            record.pointX.push_back(i * std::cos(turn) - j * std::sin(turn));
            record.pointY.push_back(i * std::sin(turn) + j * std::cos(turn));
            record.u.push_back(1.0f);
            record.v.push_back(0.0f);
        }
    }
    const std::unique_ptr<FlowData> data(FlowData::fromRecord(record));
    QVERIFY(data && data->isCurvilinear());
    StreamlineTracer tracer(parameters(method, 0.003, 0.05));
    const std::vector<Streamline> lines = tracer.placeStreamlines(*data);
    int longLines = 0;
    for (const Streamline& line : lines) {
        for (size_t k = 1; k < line.size(); ++k)
            // A line ends where the next step leaves the cells (a point may
            // repeat at either end): never off its row, never westward.
            QVERIFY(std::fabs(line[k].y - line[0].y) < 1e-6 && line[k].x >= line[k - 1].x);
        longLines += line.size() > 20;
    }
    QVERIFY(longLines >= 10);
}

#include "tst_streamlinetracer.moc"
