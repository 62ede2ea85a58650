#include "data/FlowProbe.h"
#include "data/ReferenceFrame.h"
#include "tests/common/FakeFlowData.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

// Bilinear in physical units, so that bilinear interpolation reproduces it.
double bilinear(double x, double y)
{
    return 2.5 - 0.75 * x + 1.5 * y + 0.4 * x * y;
}

const QList<float> xs{-1.0f, 0.5f, 2.0f, 6.0f};
const QList<float> ys{10.0f, 10.25f, 11.0f, 14.0f};

// vx = f, vy = f / 2, one scalar f, but NaN at the grid point (0.5, 10.25).
std::unique_ptr<RectangularFlowData> loadField(const QString& dir, bool fastIndexAlongY = false)
{
    FlowFiles::Grid grid{xs, ys, {}, {}};
    grid.fastIndexAlongY = fastIndexAlongY;
    QList<float> scalar = grid.sample([](float x, float y) { return float(bilinear(x, y)); });
    for (float f : scalar)
        grid.vectors.append(Vector3(f, 0.5f * f, 0.0f));
    scalar[1 * 4 + 1] = std::numeric_limits<float>::quiet_NaN();
    grid.scalars = {scalar};
    return FlowFiles::loadRectangular(grid, dir + "/field");
}

} // namespace

class TestFlowProbe : public QObject
{
    Q_OBJECT

private slots:
    void reads_data();
    void reads();
    void movingFrame_data();
    void movingFrame();
};

void TestFlowProbe::reads_data()
{
    QTest::addColumn<double>("x"); // physical
    QTest::addColumn<double>("y");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<bool>("scalarIsNumber");
    QTest::newRow("grid corner") << -1.0 << 14.0 << true << true;
    // The NaN is a corner of its cell, one without a share: no spoiling.
    QTest::newRow("grid point left of the NaN") << -1.0 << 10.25 << true << true;
    QTest::newRow("inside a narrow cell") << 3.1 << 10.2 << true << true;
    QTest::newRow("on a cell edge") << 0.5 << 12.0 << true << true;
    QTest::newRow("far corner") << 6.0 << 14.0 << true << true;
    QTest::newRow("cell with the NaN corner") << 0.4 << 10.2 << true << false;
    QTest::newRow("left of the grid") << -1.07 << 12.0 << false << false;
    QTest::newRow("above the grid") << 2.5 << 14.04 << false << false;
}

// Inside, the bilinear field is reproduced exactly (to the float storage),
// but for the scalar in the cells that share the NaN corner.
void TestFlowProbe::reads()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(bool, inside);
    QFETCH(bool, scalarIsNumber);
    QTemporaryDir dir;
    const auto data = loadField(dir.path());
    QVERIFY(data);

    const FlowProbe::Reading reading =
        FlowProbe::read(*data, (x - xs.first()) / 7.0, (y - ys.first()) / 4.0);
    QCOMPARE(reading.inside, inside);
    QCOMPARE(std::isfinite(reading.scalars.value(0)), scalarIsNumber);
    QCOMPARE(std::isfinite(reading.vx), inside);
    QCOMPARE(FlowProbe::describe(*data, reading).contains(QStringLiteral("—")), !scalarIsNumber);
    if (!inside)
        return;
    const double f = bilinear(x, y);
    // The data set holds its values as normalised floats.
    const double tolerance = 1e-5 * 10.0;
    QVERIFY2(std::abs(reading.x - x) < 1e-5 && std::abs(reading.y - y) < 1e-5,
             qPrintable(QString("position %1 %2").arg(reading.x).arg(reading.y)));
    QVERIFY2(!scalarIsNumber || std::abs(reading.scalars.value(0) - f) < tolerance,
             qPrintable(QString("scalar %1, expected %2").arg(reading.scalars.value(0)).arg(f)));
    QVERIFY2(std::abs(reading.vx - f) < tolerance, qPrintable(QString::number(reading.vx)));
    QVERIFY2(std::abs(reading.vy - 0.5 * f) < tolerance, qPrintable(QString::number(reading.vy)));
}

void TestFlowProbe::movingFrame_data()
{
    QTest::addColumn<bool>("mean");
    QTest::addColumn<double>("u"); // the file's components
    QTest::addColumn<double>("v");
    QTest::addColumn<bool>("fastIndexAlongY");
    // The mean of the written vectors (f, f / 2) over the 16 points.
    double sum = 0.0;
    for (float y : ys)
        for (float x : xs)
            sum += double(float(bilinear(x, y)));
    const double mean = sum / 16.0;
    QTest::newRow("given velocity") << false << 1.5 << -0.5 << false;
    QTest::newRow("given velocity, axes exchanged") << false << 1.5 << -0.5 << true;
    QTest::newRow("the mean") << true << mean << 0.5 * mean << false;
    QTest::newRow("the mean, axes exchanged") << true << mean << 0.5 * mean << true;
}

// The read-out in the moving frame is the file's velocity less the frame's,
// in the file's components whichever way the grid is shown.
void TestFlowProbe::movingFrame()
{
    QFETCH(bool, mean);
    QFETCH(double, u);
    QFETCH(double, v);
    QFETCH(bool, fastIndexAlongY);
    QTemporaryDir dir;
    const auto data = loadField(dir.path(), fastIndexAlongY);
    QVERIFY(data);
    const ReferenceFrame frame =
        mean ? ReferenceFrame::withMean() : ReferenceFrame::withVelocity(u, v);
    const std::unique_ptr<FlowData> moved = frame.apply(*data);
    const auto* grid = dynamic_cast<const RectangularFlowData*>(moved.get());
    QVERIFY(grid);
    const double shownU = fastIndexAlongY ? v : u;
    const double shownV = fastIndexAlongY ? u : v;
    for (const QPointF at : {QPointF(0.1, 0.2), QPointF(0.55, 0.9), QPointF(1.0, 0.0)}) {
        const FlowProbe::Reading before = FlowProbe::read(*data, at.x(), at.y());
        const FlowProbe::Reading after = FlowProbe::read(*grid, at.x(), at.y());
        QVERIFY2(
            std::abs(after.vx - (before.vx - shownU)) < 1e-4 &&
                std::abs(after.vy - (before.vy - shownV)) < 1e-4,
            qPrintable(
                QString("(%1, %2) at %3 %4").arg(after.vx).arg(after.vy).arg(at.x()).arg(at.y())));
        QCOMPARE(after.scalars.value(0), before.scalars.value(0));
    }
    // Normalised again: the longest vector of the moving frame has length 1.
    QCOMPARE(grid->vectorMaximum(), float(grid->largestSpeed()));
    float longest = 0.0f;
    for (int k = 0; k < 16; ++k)
        longest = std::max(longest, grid->vectorArray()[k].length());
    QVERIFY(std::abs(longest - 1.0f) < 1e-6f);
}

QTEST_GUILESS_MAIN(TestFlowProbe)
#include "tst_flowprobe.moc"
