#include "data/FlowData.h"
#include "data/FlowProbe.h"
#include "data/RectangularFlowData.h"
#include "tests/common/FakeFlowData.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

// Bilinear in physical units, so that bilinear interpolation reproduces it.
double bilinear(double x, double y)
{
    return 2.5 - 0.75 * x + 1.5 * y + 0.4 * x * y;
}

const QList<float> xs{-1.0f, 0.5f, 2.0f, 6.0f};
const QList<float> ys{10.0f, 10.25f, 11.0f, 14.0f};

// vx = f, vy = f / 2, one scalar f; `nanAt` puts NaN into the scalar there.
std::unique_ptr<RectangularFlowData> loadField(const QString& dir, int nanAt = -1)
{
    FlowFiles::Grid grid{xs, ys, {}, {}};
    QList<float> scalar = grid.sample([](float x, float y) { return float(bilinear(x, y)); });
    for (float f : scalar)
        grid.vectors.append(Vector3(f, 0.5f * f, 0.0f));
    if (nanAt >= 0)
        scalar[nanAt] = std::numeric_limits<float>::quiet_NaN();
    grid.scalars = {scalar};
    if (!grid.write(dir + "/field"))
        return nullptr;
    return std::unique_ptr<RectangularFlowData>(
        dynamic_cast<RectangularFlowData*>(FlowData::fromFile(dir + "/field.gri")));
}

} // namespace

class TestFlowProbe : public QObject
{
    Q_OBJECT

private slots:
    void bilinearFieldIsExact_data();
    void bilinearFieldIsExact();
    void notANumber_data();
    void notANumber();
};

void TestFlowProbe::bilinearFieldIsExact_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::newRow("grid corner") << -1.0 << 10.0;
    QTest::newRow("inner grid point") << 2.0 << 11.0;
    QTest::newRow("inside a narrow cell") << 0.1 << 10.2;
    QTest::newRow("inside a wide cell") << 4.7 << 13.1;
    QTest::newRow("on a cell edge") << 0.5 << 12.0;
    QTest::newRow("far corner") << 6.0 << 14.0;
}

void TestFlowProbe::bilinearFieldIsExact()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QTemporaryDir dir;
    const auto data = loadField(dir.path());
    QVERIFY(data);

    const FlowProbe::Reading reading =
        FlowProbe::read(*data, (x - xs.first()) / 7.0, (y - ys.first()) / 4.0);
    const double f = bilinear(x, y);
    // The data set holds its values as normalised floats.
    const double tolerance = 1e-5 * 10.0;
    QVERIFY(reading.inside);
    QVERIFY2(std::abs(reading.x - x) < 1e-5 && std::abs(reading.y - y) < 1e-5,
             qPrintable(QString("position %1 %2").arg(reading.x).arg(reading.y)));
    QVERIFY2(std::abs(reading.scalars.value(0) - f) < tolerance,
             qPrintable(QString("scalar %1, expected %2").arg(reading.scalars.value(0)).arg(f)));
    QVERIFY2(std::abs(reading.vx - f) < tolerance, qPrintable(QString::number(reading.vx)));
    QVERIFY2(std::abs(reading.vy - 0.5 * f) < tolerance, qPrintable(QString::number(reading.vy)));
}

void TestFlowProbe::notANumber_data()
{
    QTest::addColumn<double>("unitX");
    QTest::addColumn<double>("unitY");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<bool>("scalarIsNumber");
    // The NaN sits at grid point (1, 1): x = 0.5, y = 10.25.
    QTest::newRow("left of the grid") << -0.01 << 0.5 << false << false;
    QTest::newRow("above the grid") << 0.5 << 1.01 << false << false;
    QTest::newRow("cell with the NaN corner") << 0.2 << 0.05 << true << false;
    QTest::newRow("next grid point: the NaN has no share") << 3.0 / 7.0 << 0.0625 << true << true;
    QTest::newRow("far cell") << 0.9 << 0.9 << true << true;
}

void TestFlowProbe::notANumber()
{
    QFETCH(double, unitX);
    QFETCH(double, unitY);
    QFETCH(bool, inside);
    QFETCH(bool, scalarIsNumber);
    QTemporaryDir dir;
    const auto data = loadField(dir.path(), 1 * 4 + 1);
    QVERIFY(data);

    const FlowProbe::Reading reading = FlowProbe::read(*data, unitX, unitY);
    QCOMPARE(reading.inside, inside);
    QCOMPARE(std::isfinite(reading.scalars.value(0)), scalarIsNumber);
    QCOMPARE(std::isfinite(reading.vx), inside);
    QCOMPARE(FlowProbe::describe(*data, reading).contains(QStringLiteral("—")), !scalarIsNumber);
}

QTEST_GUILESS_MAIN(TestFlowProbe)
#include "tst_flowprobe.moc"
