#include "data/FlowData.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/MessageCapture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

using FlowFiles::Grid;

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float infinity = std::numeric_limits<float>::infinity();

QByteArray floatBytes(std::initializer_list<float> values)
{
    QByteArray bytes;
    for (float v : values)
        FlowFiles::appendFloat(bytes, v);
    return bytes;
}

bool sameFloat(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// The smallest and largest finite values, the first of equal ones; 0 and 0
// when there is none.
template <typename T> struct PlainRange
{
    T low = std::numeric_limits<T>::infinity();
    T high = -std::numeric_limits<T>::infinity();
    void add(T v)
    {
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    T lowest() const { return low <= high ? low : T(0); }
    T highest() const { return low <= high ? high : T(0); }
};

// The index of the first float whose bits differ, or -1.
qint64 firstDifference(const float* a, const float* b, qint64 n)
{
    for (qint64 k = 0; k < n; ++k)
        if (std::memcmp(a + k, b + k, sizeof(float)) != 0)
            return k;
    return -1;
}

bool sameBits(float a, float b)
{
    return firstDifference(&a, &b, 1) < 0;
}

} // namespace

class TestFlowData : public QObject
{
    Q_OBJECT

private slots:
    void loadsFiles_data();
    void loadsFiles();
    void rejectsCorruptFiles_data();
    void rejectsCorruptFiles();
    void normalises_data();
    void normalises();
    void matchesPlainLoops_data();
    void matchesPlainLoops();
};

void TestFlowData::loadsFiles_data()
{
    QTest::addColumn<QByteArray>("headerText");
    QTest::addColumn<QString>("dataFile"); // written beside <dir>/flow.gri
    QTest::addColumn<QString>("chosen");   // the name handed to fromFile
    QTest::addColumn<int>("scalarSets");
    auto row = [](const char* name, const char* header, const char* dataFile, const char* chosen,
                  int scalarSets) {
        QTest::newRow(name) << QByteArray(header) << dataFile << chosen << scalarSets;
    };
    row("tabs and line breaks", "\n2\t3\r\n1\t\t1\n4\n0.25\n", "flow.dat", "flow.dat", 1);
    row("two scalar sets", "2 3 1 2 4 0.25", "flow.dat", "flow.gri", 2);
    row("numbered data file only", "2 3 1 1 4 0.25", "flow.00000.dat", "flow.gri", 1);
}

void TestFlowData::loadsFiles()
{
    QFETCH(QByteArray, headerText);
    QFETCH(QString, dataFile);
    QFETCH(QString, chosen);
    QFETCH(int, scalarSets);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray geometry = FlowFiles::header(headerText);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 2; ++i)
            geometry += floatBytes({float(i), float(j) * 0.5f, 0});
    QByteArray data;
    for (int k = 0; k < 6; ++k) {
        data += floatBytes({1.0f + k, 0, 0});
        for (int s = 0; s < scalarSets; ++s)
            FlowFiles::appendFloat(data, float(k * (s + 1)));
    }
    QVERIFY(FlowFiles::writeBytes(dir.filePath("flow.gri"), geometry));
    QVERIFY(FlowFiles::writeBytes(dir.filePath(dataFile), data));

    MessageCapture capture;
    const std::unique_ptr<FlowData> loaded(FlowData::fromFile(dir.filePath(chosen)));
    QVERIFY(loaded);
    QCOMPARE(loaded->resolutionXValue(), 2);
    QCOMPARE(loaded->resolutionYValue(), 3);
    QCOMPARE(loaded->aspectRatio(), 2.0f / 3.0f);
    QCOMPARE(loaded->timeStepsValue(), 4);
    QCOMPARE(loaded->timeDifferenceValue(), 0.25f);
    QCOMPARE(loaded->scalarSetCount(), scalarSets + 1); // and the magnitudes
    // Read at the right stride: magnitudes (k + 1) / 6, the file's sets 0 to 1.
    const QList<ScalarSet>& sets = loaded->scalarSets();
    for (int k = 0; k < 6; ++k) {
        QCOMPARE(sets.last().values[k], (1.0f + k) / 6.0f);
        for (int s = 0; s < scalarSets; ++s)
            QCOMPARE(sets[s].values[k], float(k) / 5.0f);
    }
}

void TestFlowData::rejectsCorruptFiles_data()
{
    QTest::addColumn<QByteArray>("geometry"); // empty: no geometry file
    QTest::addColumn<QByteArray>("data");     // empty: no data file
    QTest::addColumn<QString>("reason");

    // 2 x 2 points at the corners of the unit square.
    const QByteArray positions = floatBytes({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0});
    const QByteArray records = floatBytes({1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0});
    const QByteArray good = FlowFiles::header(2, 2, 0) + positions;

    auto row = [](const char* name, const QByteArray& geometry, const QByteArray& data,
                  const char* reason) { QTest::newRow(name) << geometry << data << reason; };
    row("gri: missing", QByteArray(), records, "opening geometry file failed");
    row("gri: header does not parse", FlowFiles::header("2 two 1 0 1 0") + positions, records,
        "geometry header does not parse");
    row("gri: resolution beyond int", FlowFiles::header("4294967298 2 1 0 1 0") + positions,
        records, "geometry header does not parse");
    row("gri: sixth number starts at byte 40",
        FlowFiles::header("2         2         1      0     1") + QByteArray("0.5 ") + positions,
        records, "geometry header does not parse");
    row("gri: depth 2", FlowFiles::header(2, 2, 0, 2) + positions, records,
        "depth not 1; only programmed for 1");
    row("gri: one column", FlowFiles::header(1, 4, 0) + positions, records,
        "resolution below 2 along an axis");
    row("gri: negative scalar sets", FlowFiles::header(2, 2, -1) + positions, records,
        "negative scalar sets count");
    row("gri: point count overflows int", FlowFiles::header(65536, 65536, 0) + positions, records,
        "grid too large");
    row("gri: shorter than the grid", FlowFiles::header(2, 2, 0) + positions.left(47), records,
        "geometry file shorter than the header promises");
    // The first pair of lines is compared too.
    row("gri: repeated first grid line",
        FlowFiles::header(2, 3, 0) +
            floatBytes({0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}),
        records + records, "y coordinates do not strictly ascend");
    // 2^24 - 2 and 2^24 - 1 are distinct floats, but both scale to 0.5 + 2^-24.
    row("gri: lines merge in float after scaling",
        FlowFiles::header(4, 2, 0) +
            floatBytes({0, 0, 0, 16777214, 0, 0, 16777215, 0, 0, 33554426, 0, 0,
                        0, 1, 0, 16777214, 1, 0, 16777215, 1, 0, 33554426, 1, 0}),
        records + records, "x coordinates do not strictly ascend");
    row("dat: missing", good, QByteArray(), "opening data file failed");
    row("dat: shorter than the grid", good, records.left(47),
        "data file shorter than the header promises");
    row("dat: records lack the scalar values", FlowFiles::header(2, 2, 1) + positions, records,
        "data file shorter than the header promises");
}

void TestFlowData::rejectsCorruptFiles()
{
    QFETCH(QByteArray, geometry);
    QFETCH(QByteArray, data);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!geometry.isEmpty())
        QVERIFY(FlowFiles::writeBytes(dir.filePath("flow.gri"), geometry));
    if (!data.isEmpty())
        QVERIFY(FlowFiles::writeBytes(dir.filePath("flow.dat"), data));

    MessageCapture capture;
    QString message;
    const std::unique_ptr<FlowData> loaded(FlowData::fromFile(dir.filePath("flow"), &message));
    QVERIFY(!loaded);
    QCOMPARE(message, reason);
    QVERIFY2(capture.lines().contains("FlowData/load: " + reason),
             qPrintable(capture.lines().join('\n')));

    // A failed load leaves nothing allocated, even in a reused object.
    const Grid previous{{0, 1}, {0, 1}, QList<Vector3>(4, Vector3(1, 0, 0)), {{1, 2, 3, 4}}};
    QVERIFY(previous.write(dir.filePath("previous")));
    FlowData reused;
    QVERIFY(reused.load(dir.filePath("previous")));
    QVERIFY(!reused.load(dir.filePath("flow")));
    QVERIFY(reused.geometryArray().isEmpty());
    QVERIFY(reused.vectorArray().isEmpty());
    QVERIFY(reused.scalarSets().isEmpty());
}

void TestFlowData::normalises_data()
{
    QTest::addColumn<QList<Vector3>>("vectors");
    QTest::addColumn<QList<float>>("scalars");
    QTest::addColumn<QList<Vector3>>("expectedVectors");
    QTest::addColumn<QList<float>>("expectedScalars");
    QTest::addColumn<QList<float>>("expectedMagnitudes");
    QTest::addColumn<float>("vectorMin");
    QTest::addColumn<float>("vectorMax");

    const Vector3 masked(notANumber, notANumber, notANumber);
    const QList<float> allMasked(4, notANumber);
    QTest::newRow("directions kept")
        << QList<Vector3>{{1, 0, 0}, {0, 2, 0}, {-0.5f, 0, 0}, {1.2f, 1.6f, 0}}
        << QList<float>{2, 4, 6, 10}
        << QList<Vector3>{{0.5f, 0, 0}, {0, 1, 0}, {-0.25f, 0, 0}, {0.6f, 0.8f, 0}}
        << QList<float>{0, 0.25f, 0.5f, 1} << QList<float>{0.5f, 1, 0.25f, 1} << 0.5f << 2.0f;
    QTest::newRow("all vectors zero, constant scalar")
        << QList<Vector3>(4) << QList<float>(4, 3.0f) << QList<Vector3>(4) << QList<float>(4)
        << QList<float>(4) << 0.0f << 0.0f;
    // Any component not finite masks the point; the mix of masked and finite
    // points is compared with plain loops below.
    QTest::newRow("only masked points")
        << QList<Vector3>{{notANumber, 0, 0},
                          {infinity, 0, 0},
                          {notANumber, 1, 0},
                          {-infinity, 0, 0}}
        << QList<float>{notANumber, notANumber, -infinity, notANumber} << QList<Vector3>(4, masked)
        << allMasked << allMasked << 0.0f << 0.0f;
}

void TestFlowData::normalises()
{
    QFETCH(QList<Vector3>, vectors);
    QFETCH(QList<float>, scalars);
    QFETCH(QList<Vector3>, expectedVectors);
    QFETCH(QList<float>, expectedScalars);
    QFETCH(QList<float>, expectedMagnitudes);
    QFETCH(float, vectorMin);
    QFETCH(float, vectorMax);

    QTemporaryDir dir;
    const Grid grid{{0, 1}, {0, 1}, vectors, {scalars}};
    QVERIFY(grid.write(dir.filePath("flow")));

    MessageCapture capture;
    FlowData data;
    QVERIFY(data.load(dir.filePath("flow")));
    QCOMPARE(data.vectorMinimum(), vectorMin);
    QCOMPARE(data.vectorMaximum(), vectorMax);
    for (int k = 0; k < 4; ++k) {
        const Vector3 v = data.vectorArray()[k];
        const Vector3 e = expectedVectors[k];
        const QByteArray where = "point " + QByteArray::number(k);
        QVERIFY2(sameFloat(v.x, e.x) && sameFloat(v.y, e.y) && sameFloat(v.z, e.z), where);
        QVERIFY2(sameFloat(data.scalarSets()[0].values[k], expectedScalars[k]), where);
        QVERIFY2(sameFloat(data.scalarSets()[1].values[k], expectedMagnitudes[k]), where);
    }
}

// Values drawn from [low, high], each replaced with probability `share` by
// one of `special`. A grid of more points than one block of the loader has,
// and counts that leave remainders beside every multiple of four.
void TestFlowData::matchesPlainLoops_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::addColumn<float>("low");
    QTest::addColumn<float>("high");
    QTest::addColumn<QList<float>>("special");
    QTest::addColumn<double>("share");
    const float largest = std::numeric_limits<float>::max();
    QTest::newRow("NaN and infinities among them")
        << 601 << 450 << -1000.0f << 1000.0f << QList<float>{notANumber, infinity, -infinity}
        << 0.05;
    QTest::newRow("smallest value zero, both signs")
        << 601 << 450 << 0.0f << 1.0f << QList<float>{0.0f, -0.0f} << 0.3;
    QTest::newRow("largest value zero, both signs")
        << 601 << 450 << -1.0f << 0.0f << QList<float>{-0.0f, 0.0f} << 0.3;
    QTest::newRow("constant values") << 601 << 450 << 0.0f << 0.0f << QList<float>{7.5f} << 1.0;
    QTest::newRow("huge values") << 601 << 450 << -1e38f << 1e38f
                                 << QList<float>{largest, -largest, 3e38f} << 0.2;
    QTest::newRow("subnormal values")
        << 601 << 450 << -1e-38f << 1e-38f << QList<float>{1e-45f, -1e-45f, 0.0f} << 0.5;
    QTest::newRow("small grid, NaN and zeros")
        << 3 << 3 << -1.0f << 1.0f << QList<float>{notANumber, -0.0f, 0.0f} << 0.4;
}

// Every array and extreme equals, bit for bit, what one pass per quantity in
// file order gives.
void TestFlowData::matchesPlainLoops()
{
    QFETCH(int, columns);
    QFETCH(int, rows);
    QFETCH(float, low);
    QFETCH(float, high);
    QFETCH(QList<float>, special);
    QFETCH(double, share);

    std::mt19937 random(uint32_t(columns * rows) + uint32_t(special.size()));
    std::uniform_real_distribution<float> value(low, high);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> pick(0, std::max(0, int(special.size()) - 1));
    auto draw = [&] { return chance(random) < share ? special[pick(random)] : value(random); };

    // The first row and column ascend, as the loader demands, in steps that
    // stay apart after scaling; the rest is free.
    const float step = std::max(1.0f, (high - low) / float(columns));
    const int points = columns * rows;
    const int sets = 2;
    std::vector<float> geometry(size_t(points) * 3);
    std::vector<float> records(size_t(points) * (3 + sets));
    for (int k = 0; k < points; ++k) {
        const int i = k % columns;
        const int j = k / columns;
        geometry[size_t(k) * 3] = j == 0 ? float(1 + i) * step : draw();
        geometry[size_t(k) * 3 + 1] = i == 0 ? float(1 + j) * step : draw();
        geometry[size_t(k) * 3 + 2] = draw();
    }
    for (float& r : records)
        r = draw();

    QTemporaryDir dir;
    QByteArray gri = FlowFiles::header(columns, rows, sets);
    QByteArray dat;
    for (float g : geometry)
        FlowFiles::appendFloat(gri, g);
    for (float r : records)
        FlowFiles::appendFloat(dat, r);
    QVERIFY(FlowFiles::writeBytes(dir.filePath("flow.gri"), gri));
    QVERIFY(FlowFiles::writeBytes(dir.filePath("flow.dat"), dat));

    PlainRange<float> xs;
    PlainRange<float> ys;
    for (int k = 0; k < points; ++k) {
        xs.add(geometry[size_t(k) * 3]);
        ys.add(geometry[size_t(k) * 3 + 1]);
    }
    const double x0 = xs.lowest();
    const double y0 = ys.lowest();
    const double xRange = double(xs.highest()) - x0;
    const double yRange = double(ys.highest()) - y0;
    for (int k = 0; k < points; ++k) {
        float* p = geometry.data() + size_t(k) * 3;
        p[0] = float((p[0] - x0) * (xRange > 0.0 ? 1.0 / xRange : 0.0));
        p[1] = float((p[1] - y0) * (yRange > 0.0 ? 1.0 / yRange : 0.0));
    }

    PlainRange<double> squares;
    std::vector<PlainRange<float>> ranges(static_cast<size_t>(sets));
    for (int k = 0; k < points; ++k) {
        const float* r = records.data() + size_t(k) * (3 + sets);
        squares.add(double(r[0]) * r[0] + double(r[1]) * r[1] + double(r[2]) * r[2]);
        for (int s = 0; s < sets; ++s)
            ranges[size_t(s)].add(r[3 + s]);
    }
    const double largestLength = std::sqrt(squares.highest());
    const double vectorScale = largestLength > 0.0 ? 1.0 / largestLength : 1.0;
    std::vector<float> vectors(size_t(points) * 3);
    std::vector<std::vector<float>> values(size_t(sets + 1), std::vector<float>(size_t(points)));
    for (int k = 0; k < points; ++k) {
        const float* r = records.data() + size_t(k) * (3 + sets);
        float* v = vectors.data() + size_t(k) * 3;
        const bool finite = std::isfinite(r[0]) && std::isfinite(r[1]) && std::isfinite(r[2]);
        for (int c = 0; c < 3; ++c)
            v[c] = finite ? float(r[c] * vectorScale) : notANumber;
        values[size_t(sets)][size_t(k)] =
            finite ? std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) : notANumber;
        for (int s = 0; s < sets; ++s) {
            const double minimum = ranges[size_t(s)].lowest();
            const double range = double(ranges[size_t(s)].highest()) - minimum;
            const float x = r[3 + s];
            values[size_t(s)][size_t(k)] =
                std::isfinite(x) ? float((x - minimum) * (range > 0.0 ? 1.0 / range : 0.0))
                                 : notANumber;
        }
    }

    MessageCapture capture;
    FlowData data;
    QVERIFY(data.load(dir.filePath("flow")));
    QVERIFY(sameBits(data.geometryMinimum().x, xs.lowest()));
    QVERIFY(sameBits(data.geometryMaximum().x, xs.highest()));
    QVERIFY(sameBits(data.geometryMinimum().y, ys.lowest()));
    QVERIFY(sameBits(data.geometryMaximum().y, ys.highest()));
    QVERIFY(sameBits(data.vectorMinimum(), float(std::sqrt(squares.lowest()))));
    QVERIFY(sameBits(data.vectorMaximum(), float(largestLength)));
    QCOMPARE(firstDifference(reinterpret_cast<const float*>(data.geometryArray().get()),
                             geometry.data(), qint64(geometry.size())),
             qint64(-1));
    QCOMPARE(firstDifference(reinterpret_cast<const float*>(data.vectorArray().get()),
                             vectors.data(), qint64(vectors.size())),
             qint64(-1));
    QCOMPARE(data.scalarSetCount(), sets + 1);
    for (int s = 0; s <= sets; ++s) {
        const ScalarSet& set = data.scalarSets()[s];
        if (s < sets) {
            QVERIFY2(sameBits(set.minimum, ranges[size_t(s)].lowest()), "set minimum");
            QVERIFY2(sameBits(set.maximum, ranges[size_t(s)].highest()), "set maximum");
        }
        QCOMPARE(firstDifference(set.values.get(), values[size_t(s)].data(), points), qint64(-1));
    }
}

QTEST_GUILESS_MAIN(TestFlowData)
#include "tst_flowdata.moc"
