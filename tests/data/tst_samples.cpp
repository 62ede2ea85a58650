#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "data/RectangularFlowData.h"
#include "tests/common/FakeFlowData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

// The writer of the native pair, read back through the loader. The samples in
// dat/ are checked against the generator by gendata_matches_samples.
class TestSamples : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
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

void TestSamples::roundTrip_data()
{
    QTest::addColumn<QList<float>>("xs");
    QTest::addColumn<QList<float>>("ys");
    QTest::addColumn<int>("scalarSets");
    QTest::addColumn<bool>("fastIndexAlongY");
    QTest::addColumn<float>("timeDifference"); // written with the fewest digits

    QTest::newRow("non-uniform 5 x 4, two scalars")
        << QList<float>({-3.0f, -2.5f, -2.25f, 0.0f, 10.0f})
        << QList<float>({5.0f, 5.5f, 7.0f, 7.125f}) << 2 << false << 0.1f;
    QTest::newRow("fast index along y, 4 x 3, one scalar, nine-digit time difference")
        << QList<float>({0.0f, 0.5f, 1.5f, 4.0f}) << QList<float>({100.0f, 101.0f, 103.0f}) << 1
        << true << -0.123456791f;
}

// Written physical values come back normalised: positions onto the unit
// square, vectors divided by the largest length, each scalar set onto [0, 1].
// A file with y fastest is shown with the file's y axis horizontal, so there
// the loaded columns are the written rows and the vector components swap.
void TestSamples::roundTrip()
{
    QFETCH(QList<float>, xs);
    QFETCH(QList<float>, ys);
    QFETCH(int, scalarSets);
    QFETCH(bool, fastIndexAlongY);
    QFETCH(float, timeDifference);

    const int nx = int(xs.size());
    FlowFiles::Grid grid{xs, ys, {}, {}};
    QList<QList<float>>& scalars = grid.scalars = QList<QList<float>>(scalarSets);
    float largest = 0.0f;
    for (int j = 0; j < int(ys.size()); ++j) {
        for (int i = 0; i < nx; ++i) {
            // Distinct per point and component: a swap or wrong index shows.
            const Vector3 v(float(i + 1) * 0.75f, -float(j + 1) * 1.5f + float(i), 0.0f);
            grid.vectors.append(v);
            largest = std::max(largest, v.length());
            for (int s = 0; s < scalarSets; ++s)
                scalars[s].append(float((s + 2) * i) - float(j * j) * 0.5f);
        }
    }
    grid.timeSteps = 7;
    grid.timeDifference = timeDifference;
    grid.fastIndexAlongY = fastIndexAlongY;
    QTemporaryDir dir;
    QVERIFY(grid.write(dir.filePath("flow")));

    QString error;
    std::unique_ptr<FlowData> loaded(FlowData::fromFile(dir.filePath("flow.dat"), &error));
    QVERIFY2(loaded, qPrintable(error));
    const auto* data = dynamic_cast<const RectangularFlowData*>(loaded.get());
    QVERIFY(data);
    QCOMPARE(data->timeStepsValue(), 7);
    QCOMPARE(data->timeDifferenceValue(), timeDifference);
    QCOMPARE(data->scalarSetCount(), scalarSets + 1);

    // Physical axes as the loaded data set shows them.
    const QList<float>& horizontal = fastIndexAlongY ? ys : xs;
    const QList<float>& vertical = fastIndexAlongY ? xs : ys;
    const int columns = int(horizontal.size());
    const int rows = int(vertical.size());
    QCOMPARE(data->resolutionXValue(), columns);
    QCOMPARE(data->resolutionYValue(), rows);
    QCOMPARE(data->aspectRatio(), float(columns) / float(rows));

    auto onUnitRange = [](const QList<float>& axis, const SharedArray<float>& loaded) {
        for (int k = 0; k < axis.size(); ++k)
            if (std::fabs(loaded[k] - (axis[k] - axis.first()) / (axis.last() - axis.first())) >
                tolerance)
                return false;
        return true;
    };
    QVERIFY(onUnitRange(horizontal, data->xCoordinates()));
    QVERIFY(onUnitRange(vertical, data->yCoordinates()));

    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            // Index into the written arrays of the point shown at (c, r).
            const int source = fastIndexAlongY ? c * nx + r : r * nx + c;
            const int k = r * columns + c;
            const Vector3 written = grid.vectors[source] / largest;
            const Vector3 expected =
                fastIndexAlongY ? Vector3(written.y, written.x, 0.0f) : written;
            const Vector3 got = data->vectorArray()[k];
            QVERIFY2(std::fabs(got.x - expected.x) <= tolerance &&
                         std::fabs(got.y - expected.y) <= tolerance,
                     qPrintable(QStringLiteral("vector at column %1 row %2").arg(c).arg(r)));
            for (int s = 0; s < scalarSets; ++s) {
                const auto [low, high] =
                    std::minmax_element(scalars[s].cbegin(), scalars[s].cend());
                const float want = (scalars[s][source] - *low) / (*high - *low);
                QVERIFY2(std::fabs(data->scalarSets()[s].values[k] - want) <= tolerance,
                         qPrintable(
                             QStringLiteral("scalar %1 at column %2 row %3").arg(s).arg(c).arg(r)));
            }
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
