#include "data/FlowData.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/MessageCapture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

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
    QCOMPARE(geometry.size(), 40);
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
    row("gri: x descends",
        FlowFiles::header(2, 2, 0) + floatBytes({1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0}), records,
        "x coordinates do not strictly ascend");
    row("gri: repeated grid line",
        FlowFiles::header(3, 2, 0) +
            floatBytes({0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 1, 1, 0}),
        records + records, "x coordinates do not strictly ascend");
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
    // Any component not finite masks the point.
    QTest::newRow("masked points stay NaN, extremes of the rest")
        << QList<Vector3>{{1, notANumber, 0}, {0, 4, 0}, {1, 0, infinity}, {2, 0, 0}}
        << QList<float>{notANumber, -1, infinity, 1}
        << QList<Vector3>{masked, {0, 1, 0}, masked, {0.5f, 0, 0}}
        << QList<float>{notANumber, 0, notANumber, 1}
        << QList<float>{notANumber, 1, notANumber, 0.5f} << 2.0f << 4.0f;
    QTest::newRow("only masked points")
        << QList<Vector3>{{notANumber, 0, 0},
                          {infinity, 0, 0},
                          {notANumber, 1, 0},
                          {-infinity, 0, 0}}
        << QList<float>{notANumber, notANumber, -infinity, notANumber} << QList<Vector3>(4, masked)
        << allMasked << allMasked << 0.0f << 0.0f;
    QTest::newRow("speeds near the float limit")
        << QList<Vector3>{{3e38f, 3e38f, 0}, {0, 0, 0}, {0, 3e38f, 0}, {0, -3e38f, 0}}
        << QList<float>{-3e38f, 3e38f, 0, 0}
        << QList<Vector3>{{0.70710677f, 0.70710677f, 0},
                          {0, 0, 0},
                          {0, 0.70710677f, 0},
                          {0, -0.70710677f, 0}}
        << QList<float>{0, 1, 0.5f, 0.5f} << QList<float>{0.99999994f, 0, 0.70710677f, 0.70710677f}
        << 0.0f << infinity;
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
    Grid grid;
    grid.xs = {-3.0f, 5.0f};
    grid.ys = {100.0f, 102.0f};
    grid.vectors = vectors;
    grid.scalars = {scalars};
    QVERIFY(grid.write(dir.filePath("flow")));

    MessageCapture capture;
    FlowData data;
    QVERIFY(data.load(dir.filePath("flow")));
    QCOMPARE(data.vectorMinimum(), vectorMin);
    QCOMPARE(data.vectorMaximum(), vectorMax);
    QCOMPARE(data.geometryMinimum().x, -3.0f);
    QCOMPARE(data.geometryMaximum().y, 102.0f);
    for (int k = 0; k < 4; ++k) {
        const Vector3 v = data.vectorArray()[k];
        const Vector3 e = expectedVectors[k];
        const QByteArray where = "point " + QByteArray::number(k);
        QVERIFY2(sameFloat(v.x, e.x) && sameFloat(v.y, e.y) && sameFloat(v.z, e.z), where);
        QVERIFY2(sameFloat(data.scalarSets()[0].values[k], expectedScalars[k]), where);
        QVERIFY2(sameFloat(data.scalarSets()[1].values[k], expectedMagnitudes[k]), where);
        const Vector3 p = data.geometryArray()[k];
        QCOMPARE(p.x, float(k % 2));
        QCOMPARE(p.y, float(k / 2));
    }
}

QTEST_GUILESS_MAIN(TestFlowData)
#include "tst_flowdata.moc"
