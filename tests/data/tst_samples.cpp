#include "tests/common/FakeFlowData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

// The writer of the native pair, read back through the loader. The samples in
// dat/ are checked against the generator by gendata_matches_samples.
class TestSamples : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip();
    void failedWriteKeepsFiles_data();
    void failedWriteKeepsFiles();
};

namespace {

// Loaded values are float arithmetic on float input: a few ulps of [0, 1].
constexpr float tolerance = 1e-6f;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Written physical values come back normalised: positions onto the unit
// square, vectors divided by the largest length, the scalars onto [0, 1]
// (checked exactly for the usual layout in tst_flowdata). A file with y
// fastest is shown with the file's y axis horizontal, so the loaded columns
// are the written rows and the vector components swap. The time difference
// is written with the fewest digits that read back to the same float.
void TestSamples::roundTrip()
{
    const QList<float> xs{0.0f, 0.5f, 1.5f, 4.0f};
    const QList<float> ys{100.0f, 101.0f, 103.0f};
    const int nx = int(xs.size());
    FlowFiles::Grid grid{xs, ys, {}, {}};
    QList<float> scalar;
    float largest = 0.0f;
    for (int j = 0; j < int(ys.size()); ++j) {
        for (int i = 0; i < nx; ++i) {
            // Distinct per point and component: a swap or wrong index shows.
            const Vector3 v(float(i + 1) * 0.75f, -float(j + 1) * 1.5f + float(i), 0.0f);
            grid.vectors.append(v);
            largest = std::max(largest, v.length());
            scalar.append(float(2 * i) - float(j * j) * 0.5f);
        }
    }
    grid.scalars = {scalar};
    grid.timeSteps = 7;
    grid.timeDifference = -0.123456806f; // eight digits read back to another float
    grid.fastIndexAlongY = true;
    QTemporaryDir dir;
    const auto data = FlowFiles::loadRectangular(grid, dir.filePath("flow"));
    QVERIFY(data);
    QCOMPARE(data->timeStepsValue(), 7);
    QVERIFY(data->timeDifferenceValue() == grid.timeDifference); // QCOMPARE would be fuzzy
    QCOMPARE(data->scalarSetCount(), 2);
    const int columns = int(ys.size());
    const int rows = nx;
    QCOMPARE(data->resolutionXValue(), columns);
    QCOMPARE(data->resolutionYValue(), rows);
    QCOMPARE(data->aspectRatio(), float(columns) / float(rows));

    for (int k = 0; k < columns; ++k)
        QVERIFY(std::fabs(data->xCoordinates()[k] - (ys[k] - ys[0]) / (ys.last() - ys[0])) <=
                tolerance);
    for (int k = 0; k < rows; ++k)
        QVERIFY(std::fabs(data->yCoordinates()[k] - xs[k] / xs.last()) <= tolerance);

    const auto [low, high] = std::minmax_element(scalar.cbegin(), scalar.cend());
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            // The written point shown at (c, r).
            const int source = c * nx + r;
            const int k = r * columns + c;
            const Vector3 written = grid.vectors[source] / largest;
            const Vector3 got = data->vectorArray()[k];
            const float want = (scalar[source] - *low) / (*high - *low);
            QVERIFY2(std::fabs(got.x - written.y) <= tolerance &&
                         std::fabs(got.y - written.x) <= tolerance &&
                         std::fabs(data->scalarSets()[0].values[k] - want) <= tolerance,
                     qPrintable(QStringLiteral("column %1 row %2").arg(c).arg(r)));
        }
    }
}

void TestSamples::failedWriteKeepsFiles_data()
{
    QTest::addColumn<int>("missingVectors");
    QTest::addColumn<int>("extraScalars");
    QTest::addColumn<bool>("missingDirectory");

    QTest::newRow("one vector short") << 1 << 0 << false;
    QTest::newRow("scalar set one value too long") << 0 << 1 << false;
    QTest::newRow("directory does not exist") << 0 << 0 << true;
}

// A write that fails must leave no half-written pair: an existing .gri/.dat
// of the same name stays byte for byte, and no file appears elsewhere.
void TestSamples::failedWriteKeepsFiles()
{
    QFETCH(int, missingVectors);
    QFETCH(int, extraScalars);
    QFETCH(bool, missingDirectory);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    const FlowFiles::Grid previous{{0, 1}, {0, 1}, QList<Vector3>(4, Vector3(1, 0, 0)), {}};
    QVERIFY(previous.write(dir.filePath("flow")));
    const QByteArray geometryBefore = fileBytes(dir.filePath("flow.gri"));
    const QByteArray dataBefore = fileBytes(dir.filePath("flow.dat"));

    FlowDataWriter writer;
    QVERIFY(writer.setGrid({0, 1, 2}, {0, 1}));
    writer.setVectors(QList<Vector3>(6 - missingVectors, Vector3(0.0f, 1.0f, 0.0f)));
    writer.addScalarSet(QList<float>(6 + extraScalars, 1.0f));
    const QString name = missingDirectory ? dir.filePath("absent/flow") : dir.filePath("flow");
    QString error;
    QVERIFY(!writer.write(name, &error));
    QVERIFY(!error.isEmpty());

    QCOMPARE(fileBytes(dir.filePath("flow.gri")), geometryBefore);
    QCOMPARE(fileBytes(dir.filePath("flow.dat")), dataBefore);
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList({"flow.dat", "flow.gri"}));
}

QTEST_GUILESS_MAIN(TestSamples)
#include "tst_samples.moc"
