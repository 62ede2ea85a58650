#include "data/CurvilinearFlowData.h"
#include "data/DerivedField.h"
#include "data/DerivedFieldGrid.h"
#include "data/FlowProbe.h"

#include <QTest>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Field = std::function<double(double, double)>;

// A grid of points (x, y) = place(i, j) carrying u, v and one scalar from
// the given fields at each point.
FlowRecord gridRecord(int columns, int rows, const std::function<QPointF(int, int)>& place,
                      const Field& u, const Field& v, const Field& scalar)
{
    FlowRecord record;
    record.gridColumns = size_t(columns);
    record.gridRows = size_t(rows);
    record.scalars.push_back({QStringLiteral("s"), QString(), {}});
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const QPointF p = place(i, j);
            record.pointX.push_back(p.x());
            record.pointY.push_back(p.y());
            record.u.push_back(float(u(p.x(), p.y())));
            record.v.push_back(float(v(p.x(), p.y())));
            record.scalars[0].values.push_back(float(scalar(p.x(), p.y())));
        }
    }
    return record;
}

std::unique_ptr<FlowData> load(FlowRecord record)
{
    QString reason;
    std::unique_ptr<FlowData> data(FlowData::fromRecord(record, &reason));
    if (!data)
        qWarning() << reason;
    return data;
}

// Uneven spacing on both axes, so that a wrong cell or weight shows.
double unevenX(int i)
{
    return 2.0 * std::pow(i / 7.0, 1.3);
}
double unevenY(int j)
{
    return std::sin(1.5707963267948966 * j / 3.0);
}

// A ring of radial x around points, r from 1 to 2, closed at its seam.
QPointF ringPoint(int i, int j, int radial, int around)
{
    const double r = 1.0 + i / double(radial - 1);
    const double theta = 2.0 * M_PI * (j % (around - 1)) / double(around - 1);
    return QPointF(r * std::cos(theta), r * std::sin(theta));
}

QPointF turnedPoint(int i, int j)
{
    const double turn = M_PI / 6.0;
    return QPointF(i * std::cos(turn) - j * std::sin(turn),
                   i * std::sin(turn) + j * std::cos(turn));
}

} // namespace

class TestCurvilinearFlowData : public QObject
{
    Q_OBJECT

private slots:
    void inverseMap_data();
    void inverseMap();
    void rectilinearAsPoints_data();
    void rectilinearAsPoints();
    void rotatedUniformCurrent_data();
    void rotatedUniformCurrent();
    void cylinderPotentialFlow();
    void refusal_data();
    void refusal();
    void probeInIndexSpace_data();
    void probeInIndexSpace();
    void derivedOnTurnedGrid();
    void derivedConvergence();
    void rasterSizesFromTwoThreads();
};

void TestCurvilinearFlowData::inverseMap_data()
{
    QTest::addColumn<QList<QPointF>>("corners"); // p00, p10, p11, p01
    QTest::addColumn<QPointF>("cell");           // (xi, eta) mapped forward, or
    QTest::addColumn<QPointF>("point");          // the point itself when cell is unset
    QTest::addColumn<bool>("inside");
    const QList<QPointF> square = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const QList<QPointF> dart = {{0, 0}, {1, 0}, {0.3, 0.3}, {0, 1}};
    const QList<QPointF> triangle = {{0, 0}, {1, 0}, {0, 1}, {0, 1}};
    const QList<QPointF> skew = {{0.2, 0.1}, {1.7, 0.4}, {2.1, 1.9}, {-0.3, 1.2}};
    // A parallelogram with one corner moved a little: the linear solution
    // is off by about 1e-3 and its corrections must reach rounding.
    const QList<QPointF> nearlyParallelogram = {{0, 0}, {1, 0.2}, {1.3005, 1.1998}, {0.3, 1}};
    const QPointF none(-1, -1);
    QTest::newRow("square") << square << QPointF(0.25, 0.75) << none << true;
    QTest::newRow("square corner") << square << QPointF(1, 1) << none << true;
    QTest::newRow("skewed") << skew << QPointF(0.6, 0.3) << none << true;
    QTest::newRow("skewed edge") << skew << QPointF(0.0, 0.45) << none << true;
    QTest::newRow("nearly a parallelogram")
        << nearlyParallelogram << QPointF(0.7, 0.9) << none << true;
    QTest::newRow("non-convex") << dart << QPointF(0.5, 0.5) << none << true;
    QTest::newRow("non-convex, near the reflex corner")
        << dart << QPointF(0.2, 0.7) << none << true;
    QTest::newRow("non-convex notch") << dart << none << QPointF(0.6, 0.6) << false;
    QTest::newRow("collapsed edge") << triangle << QPointF(1.0 / 3.0, 0.25) << none << true;
    QTest::newRow("outside") << square << none << QPointF(1.5, 0.5) << false;
    QTest::newRow("flat") << QList<QPointF>{{0, 0}, {1, 1}, {2, 2}, {0.5, 0.5}} << none
                          << QPointF(0.7, 0.7) << false;
}

void TestCurvilinearFlowData::inverseMap()
{
    QFETCH(QList<QPointF>, corners);
    QFETCH(QPointF, cell);
    QFETCH(QPointF, point);
    QFETCH(bool, inside);
    double c[4][2];
    for (int k = 0; k < 4; ++k) {
        c[k][0] = corners[k].x();
        c[k][1] = corners[k].y();
    }
    double p[2] = {point.x(), point.y()};
    if (cell.x() >= 0.0) {
        const double s = cell.x();
        const double t = cell.y();
        for (int a = 0; a < 2; ++a)
            p[a] = (1 - s) * (1 - t) * c[0][a] + s * (1 - t) * c[1][a] + s * t * c[2][a] +
                   (1 - s) * t * c[3][a];
    }
    double xi = -9.0;
    double eta = -9.0;
    QCOMPARE(CurvilinearFlowData::inverseBilinear(c[0], c[1], c[2], c[3], p, xi, eta), inside);
    if (inside && cell.x() >= 0.0) {
        QVERIFY2(std::fabs(xi - cell.x()) < 1e-9, qPrintable(QString::number(xi)));
        QVERIFY2(std::fabs(eta - cell.y()) < 1e-9, qPrintable(QString::number(eta)));
    }
}

void TestCurvilinearFlowData::rectilinearAsPoints_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("finer") << 61 << 47;
    QTest::newRow("as fine as the grid") << 11 << 6;
    QTest::newRow("coarser") << 5 << 3;
    QTest::newRow("one sample") << 1 << 1;
}

// The same grid and values given as axes and as points.
void TestCurvilinearFlowData::rectilinearAsPoints()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const int columns = 8;
    const int rows = 4;
    const Field u = [](double x, double y) { return std::sin(3 * x) + y * y; };
    const Field v = [](double x, double y) { return x * y - 1.0; };
    const Field s = [](double x, double y) { return std::cos(x + 2 * y); };
    FlowRecord points = gridRecord(
        columns, rows, [](int i, int j) { return QPointF(unevenX(i), unevenY(j)); }, u, v, s);
    FlowRecord axes = points;
    axes.pointX.clear();
    axes.pointY.clear();
    for (int i = 0; i < columns; ++i)
        axes.x.push_back(unevenX(i));
    for (int j = 0; j < rows; ++j)
        axes.y.push_back(unevenY(j));
    const std::unique_ptr<FlowData> curved = load(points);
    const std::unique_ptr<FlowData> straight = load(axes);
    QVERIFY(curved && straight);
    QVERIFY(curved->isCurvilinear() && !straight->isCurvilinear());
    QCOMPARE(curved->aspectRatio(), straight->aspectRatio());

    const int n = width * height;
    for (int index = 0; index < 2; ++index) {
        std::vector<float> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
        curved->calcScalar(index, width, height, a.data());
        straight->calcScalar(index, width, height, b.data());
        for (int k = 0; k < n; ++k)
            QVERIFY2(std::fabs(a[size_t(k)] - b[size_t(k)]) < 2e-6f,
                     qPrintable(QStringLiteral("set %1 sample %2: %3 vs %4")
                                    .arg(index)
                                    .arg(k)
                                    .arg(a[size_t(k)])
                                    .arg(b[size_t(k)])));
    }
    std::vector<Vector3> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
    curved->calcVector(width, height, a.data());
    straight->calcVector(width, height, b.data());
    for (int k = 0; k < n; ++k)
        QVERIFY(std::fabs(a[size_t(k)].x - b[size_t(k)].x) < 2e-6f &&
                std::fabs(a[size_t(k)].y - b[size_t(k)].y) < 2e-6f);

    // Away from the grid lines, where the two rules agree on the cell.
    unsigned state = 7u + unsigned(width);
    for (int k = 0; k < 300; ++k) {
        state = state * 1103515245u + 12345u;
        const double x = 0.999 * double(state >> 8) / double(1u << 24);
        state = state * 1103515245u + 12345u;
        const double y = 0.999 * double(state >> 8) / double(1u << 24) / curved->aspectRatio();
        const Vector3 p = curved->vectorAt(x, y);
        const Vector3 q = straight->vectorAt(x, y);
        QVERIFY2(p.x == q.x && p.y == q.y, qPrintable(QStringLiteral("%1, %2").arg(x).arg(y)));
    }
}

void TestCurvilinearFlowData::rotatedUniformCurrent_data()
{
    QTest::addColumn<int>("size");
    // Rasters much finer than the grid go cell by cell, the others walk.
    QTest::newRow("finer than the grid") << 97;
    QTest::newRow("as fine as the grid") << 29;
}

// A square grid turned by 30 degrees: a uniform current is uniform in every
// resampled sample, and nothing lies in the corners of the bounding box.
void TestCurvilinearFlowData::rotatedUniformCurrent()
{
    QFETCH(int, size);
    const double turn = M_PI / 6.0;
    const std::unique_ptr<FlowData> data = load(gridRecord(
        21, 21,
        [&](int i, int j) {
            return QPointF(i * std::cos(turn) - j * std::sin(turn),
                           i * std::sin(turn) + j * std::cos(turn));
        },
        [](double, double) { return 0.8; }, [](double, double) { return -0.6; },
        [](double, double) { return 1.0; }));
    QVERIFY(data);
    std::vector<Vector3> out(static_cast<size_t>(size * size));
    data->calcVector(size, size, out.data());
    // Which samples the turned square holds, from the turn undone.
    const double side = 20.0 * (std::cos(turn) + std::sin(turn));
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            const double x = -20.0 * std::sin(turn) + side * c / (size - 1);
            const double y = side * r / (size - 1);
            const double i = x * std::cos(turn) + y * std::sin(turn);
            const double j = -x * std::sin(turn) + y * std::cos(turn);
            const double margin = std::min(std::min(i, 20.0 - i), std::min(j, 20.0 - j));
            const Vector3& value = out[size_t(r * size + c)];
            if (std::fabs(margin) < 1e-4)
                continue;
            QVERIFY2(std::isnan(value.x) == (margin < 0.0),
                     qPrintable(QStringLiteral("sample %1, %2").arg(c).arg(r)));
            if (margin > 0.0)
                QVERIFY(std::fabs(value.x - 0.8f) < 1e-6f && std::fabs(value.y + 0.6f) < 1e-6f);
        }
    }
    QVERIFY(std::isnan(out[0].x) && std::isnan(out[size_t(size * size - 1)].x));
    const Vector3 middle = data->vectorAt(0.5, 0.5 / data->aspectRatio());
    QVERIFY(std::fabs(middle.x - 0.8f) < 1e-6f && std::fabs(middle.y + 0.6f) < 1e-6f);
    QCOMPARE(data->vectorAt(0.01, 0.01).x, 0.0f);
}

// Potential flow round a unit cylinder on a polar O-grid closed at its seam:
// the resampled x velocity agrees with the analytic field to the grid's
// discretisation error, the cylinder is empty, the ring full.
void TestCurvilinearFlowData::cylinderPotentialFlow()
{
    const int radial = 41;
    const int around = 161;
    const auto place = [&](int i, int j) {
        const double r = 1.0 + 2.0 * i / double(radial - 1);
        const double theta = 2.0 * M_PI * (j % (around - 1)) / double(around - 1);
        return QPointF(r * std::cos(theta), r * std::sin(theta));
    };
    const Field u = [](double x, double y) {
        const double r2 = x * x + y * y;
        return 1.0 - (x * x - y * y) / (r2 * r2);
    };
    const Field v = [](double x, double y) { return -2.0 * x * y / std::pow(x * x + y * y, 2); };
    const std::unique_ptr<FlowData> data = load(gridRecord(radial, around, place, u, v, u));
    QVERIFY(data);
    const ScalarSet& set = data->scalarSets().first();
    const int size = 121;
    std::vector<float> out(static_cast<size_t>(size * size));
    data->calcScalar(0, size, size, out.data());
    double worst = 0.0;
    for (int row = 0; row < size; ++row) {
        for (int c = 0; c < size; ++c) {
            const double x = -3.0 + 6.0 * c / (size - 1);
            const double y = -3.0 + 6.0 * row / (size - 1);
            const double r = std::hypot(x, y);
            const float value = out[size_t(row * size + c)];
            if (r < 0.99 || r > 3.01) {
                QVERIFY2(std::isnan(value), qPrintable(QStringLiteral("%1, %2").arg(x).arg(y)));
            } else if (r > 1.01 && r < 2.99) {
                QVERIFY2(!std::isnan(value), qPrintable(QStringLiteral("%1, %2").arg(x).arg(y)));
                const double inUnits = set.minimum + value * (double(set.maximum) - set.minimum);
                worst = std::max(worst, std::fabs(inUnits - u(x, y)));
            }
        }
    }
    // Bilinear error: h^2 / 8 times the second derivatives (about 12 at the
    // wall) for cells 0.05 across and 0.04 round.
    QVERIFY2(worst < 0.02, qPrintable(QString::number(worst)));
}

void TestCurvilinearFlowData::refusal_data()
{
    QTest::addColumn<int>("badColumn");
    QTest::addColumn<int>("badRow");
    QTest::addColumn<bool>("fold");
    QTest::addColumn<bool>("mirrored");         // a grid of the other sense: x falls along i
    QTest::addColumn<QList<QPointF>>("points"); // a grid of two rows instead of the lattice
    QTest::addColumn<QString>("reason");        // empty: the grid loads
    const QList<QPointF> lattice;
    QTest::newRow("fold") << 2 << 1 << true << false << lattice << "cell (1, 0) is turned against";
    QTest::newRow("fold at the far corner")
        << 4 << 3 << true << false << lattice << "cell (3, 2) is turned against";
    QTest::newRow("fold in a mirrored grid")
        << 2 << 1 << true << true << lattice << "cell (1, 0) is turned against";
    QTest::newRow("mirrored grid") << -1 << -1 << false << true << lattice << QString();
    // The first cell is flat, its area a rounding's worth below zero; the
    // second is non-convex, turning against the grid at one corner.
    QTest::newRow("flat cell, then a non-convex one")
        << -1 << -1 << false << false
        << QList<QPointF>{{-2, 0}, {0, 0}, {2, -1}, {-1, -1e-7}, {1, 0}, {2, 2}} << QString();
    // The middle cell's top corners swapped: it crosses itself, its area nil.
    QTest::newRow("bow tie between two sound cells")
        << -1 << -1 << false << false
        << QList<QPointF>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {2, 1}, {1, 1}, {3, 1}}
        << "cell (1, 0) is turned against";
    QTest::newRow("not finite") << 0 << 2 << false << false << lattice << "cell (0, 2): grid point";
    QTest::newRow("not finite at the far corner")
        << 4 << 3 << false << false << lattice << "cell (3, 2): grid point";
}

void TestCurvilinearFlowData::refusal()
{
    QFETCH(int, badColumn);
    QFETCH(int, badRow);
    QFETCH(bool, fold);
    QFETCH(bool, mirrored);
    QFETCH(QList<QPointF>, points);
    QFETCH(QString, reason);
    const double sense = mirrored ? -1.0 : 1.0;
    const int columns = points.isEmpty() ? 5 : int(points.size()) / 2;
    FlowRecord record = gridRecord(
        columns, points.isEmpty() ? 4 : 2,
        [&](int i, int j) {
            return points.isEmpty() ? QPointF(sense * i, j) : points[j * columns + i];
        },
        [](double, double) { return 1.0; }, [](double, double) { return 0.0; },
        [](double, double) { return 0.0; });
    const size_t k = size_t(badRow * columns + badColumn);
    if (badColumn >= 0 && fold)
        record.pointX[k] -= sense * 1.6; // past its neighbour: that cell turns over
    else if (badColumn >= 0)
        record.pointY[k] = std::numeric_limits<double>::quiet_NaN();
    QString message;
    std::unique_ptr<FlowData> data(FlowData::fromRecord(record, &message));
    if (reason.isEmpty()) {
        QVERIFY2(data, qPrintable(message));
        return;
    }
    QVERIFY(!data);
    QVERIFY2(message.startsWith(reason), qPrintable(message));
}

void TestCurvilinearFlowData::probeInIndexSpace_data()
{
    QTest::addColumn<bool>("ring");
    QTest::addColumn<double>("growth"); // of the ring's radius from cell to cell
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::newRow("turned square") << false << 1.0 << 6 << 25;
    QTest::newRow("ring") << true << 1.0 << 6 << 25;
    // Cells of very different sizes, through which a walk needs several jumps.
    QTest::newRow("stretched ring") << true << 1.6 << 6 << 25;
    // Enough cells for the lookup tables to be built by several threads.
    QTest::newRow("turned square of 300 x 300 points") << false << 1.0 << 300 << 300;
}

// The read-out at the point (i + xi, j + eta) of the index space, placed by
// the cell's own bilinear map, is the bilinear blend of the four corners.
void TestCurvilinearFlowData::probeInIndexSpace()
{
    QFETCH(bool, ring);
    QFETCH(double, growth);
    QFETCH(int, columns);
    QFETCH(int, rows);
    const auto place = [&](int i, int j) {
        // The square spans six units at any count, so that the fields vary
        // as little within a cell as on the small grid.
        if (!ring)
            return turnedPoint(i, j) * (6.0 / columns);
        const QPointF p = ringPoint(0, j, columns, rows);
        return p * std::pow(growth, i) * (1.0 + i / double(columns - 1));
    };
    const Field u = [](double x, double y) { return std::sin(x) + y; };
    const Field v = [](double x, double y) { return x * y; };
    const Field s = [](double x, double y) { return std::cos(x - y); };
    const FlowRecord record = gridRecord(columns, rows, place, u, v, s);
    const std::unique_ptr<FlowData> data = load(record);
    QVERIFY(data);
    const double spots[][4] = {{0, 0, 0.25, 0.5},
                               {4, 23, 0.9, 0.1},
                               {2, 11, 0.5, 0.5},
                               {3, 7, 0.05, 0.95},
                               {1, 18, 0.7, 0.3}};
    for (const auto& spot : spots) {
        const int i = int(spot[0]);
        const int j = int(spot[1]);
        const double w[4] = {(1 - spot[2]) * (1 - spot[3]), spot[2] * (1 - spot[3]),
                             (1 - spot[2]) * spot[3], spot[2] * spot[3]};
        const size_t k[4] = {size_t(j * columns + i), size_t(j * columns + i + 1),
                             size_t((j + 1) * columns + i), size_t((j + 1) * columns + i + 1)};
        double expected[5] = {0, 0, 0, 0, 0};
        for (int c = 0; c < 4; ++c) {
            expected[0] += w[c] * record.pointX[k[c]];
            expected[1] += w[c] * record.pointY[k[c]];
            expected[2] += w[c] * record.u[k[c]];
            expected[3] += w[c] * record.v[k[c]];
            expected[4] += w[c] * record.scalars[0].values[k[c]];
        }
        const QPointF unit = FlowProbe::unitPosition(*data, expected[0], expected[1]);
        const FlowProbe::Reading reading = FlowProbe::read(*data, unit.x(), unit.y());
        QVERIFY(reading.inside);
        const double got[3] = {reading.vx, reading.vy, reading.scalars.value(0)};
        for (int c = 0; c < 3; ++c)
            QVERIFY2(std::fabs(got[c] - expected[c + 2]) < 2e-5 * (1 + std::fabs(expected[c + 2])),
                     qPrintable(QStringLiteral("%1 %2: %3 vs %4")
                                    .arg(i)
                                    .arg(j)
                                    .arg(got[c])
                                    .arg(expected[c + 2])));
    }
    QCOMPARE(FlowProbe::read(*data, 0.5, 0.5).inside, !ring);

    // Resampled, every sample holds the blend at the cell the lookup finds
    // for its position (samples walk from cell to cell on the coarser
    // rasters, go cell by cell on the finer one).
    const auto* grid = dynamic_cast<const CurvilinearFlowData*>(data.get());
    QVERIFY(grid);
    const float* values = data->scalarSets().first().values.get();
    for (const int size : {7, 11, 40}) {
        std::vector<float> out(size_t(size) * size_t(size));
        data->calcScalar(0, size, size, out.data());
        for (int r = 0; r < size; ++r) {
            for (int c = 0; c < size; ++c) {
                double xi = 0.0;
                double eta = 0.0;
                const int cell = grid->cellAt(c / (size - 1.0), r / (size - 1.0), &xi, &eta);
                const float got = out[size_t(r * size + c)];
                QVERIFY2(std::isnan(got) == (cell < 0),
                         qPrintable(QStringLiteral("%1: %2, %3").arg(size).arg(c).arg(r)));
                if (cell < 0)
                    continue;
                const float* corner =
                    values + cell / (columns - 1) * columns + cell % (columns - 1);
                const double low = corner[0] + xi * (corner[1] - corner[0]);
                const double high = corner[columns] + xi * (corner[columns + 1] - corner[columns]);
                QVERIFY2(std::fabs(got - (low + eta * (high - low))) < 1e-5,
                         qPrintable(QStringLiteral("%1: %2, %3").arg(size).arg(c).arg(r)));
            }
        }
    }
}

// Solid-body rotation with a uniform expansion on a grid turned by 30
// degrees: the differences are exact for a linear field.
void TestCurvilinearFlowData::derivedOnTurnedGrid()
{
    const std::unique_ptr<FlowData> data = load(gridRecord(
        9, 7, turnedPoint, [](double x, double y) { return -0.5 * y + 0.2 * x; },
        [](double x, double y) { return 0.5 * x + 0.2 * y; }, [](double, double) { return 0.0; }));
    QVERIFY(data);
    const QList<ScalarSet> sets = DerivedField::compute(
        DerivedFieldGrid::fromFlowData(*data), {DerivedField::Vorticity, DerivedField::Divergence});
    QCOMPARE(sets.size(), 2);
    for (int k = 0; k < 63; ++k) {
        QVERIFY2(std::fabs(sets[0].values[k] - 1.0f) < 1e-5f, qPrintable(QString::number(k)));
        QVERIFY2(std::fabs(sets[1].values[k] - 0.4f) < 1e-5f, qPrintable(QString::number(k)));
    }
}

// On the ring, u = sin x cos y, v = -cos x sin y has vorticity 2 sin x sin y:
// halving the spacing quarters the largest error, seam and edges included.
void TestCurvilinearFlowData::derivedConvergence()
{
    double errors[2];
    for (int level = 0; level < 2; ++level) {
        const int radial = 9 << level;
        const int around = (32 << level) + 1;
        const std::unique_ptr<FlowData> data = load(gridRecord(
            radial, around, [&](int i, int j) { return ringPoint(i, j, radial, around); },
            [](double x, double y) { return std::sin(x) * std::cos(y); },
            [](double x, double y) { return -std::cos(x) * std::sin(y); },
            [](double, double) { return 0.0; }));
        QVERIFY(data);
        const DerivedFieldGrid grid = DerivedFieldGrid::fromFlowData(*data);
        const ScalarSet set = DerivedField::compute(grid, {DerivedField::Vorticity}).first();
        errors[level] = 0.0;
        for (int k = 0; k < set.values.size(); ++k) {
            const double x = grid.pointX[size_t(k)];
            const double y = grid.pointY[size_t(k)];
            errors[level] =
                std::max(errors[level], std::fabs(set.values[k] - 2 * std::sin(x) * std::sin(y)));
        }
    }
    const double order = std::log2(errors[0] / errors[1]);
    QVERIFY2(order > 1.8, qPrintable(QStringLiteral("%1 %2").arg(errors[0]).arg(errors[1])));
}

// Two workers resampling more raster sizes than are kept, at once: each gets
// the raster of its own size, as a fresh data set gives it.
void TestCurvilinearFlowData::rasterSizesFromTwoThreads()
{
    const FlowRecord record = gridRecord(
        31, 31, turnedPoint, [](double x, double) { return x; }, [](double, double y) { return y; },
        [](double x, double y) { return x * y; });
    const std::unique_ptr<FlowData> shared = load(record);
    QVERIFY(shared);
    const int sizes[][2] = {{40, 30}, {30, 40}, {40, 31}, {17, 60}, {60, 17}};
    std::vector<std::vector<float>> expected;
    for (const auto& size : sizes) {
        const std::unique_ptr<FlowData> fresh = load(record);
        expected.emplace_back(size_t(size[0] * size[1]));
        fresh->calcScalar(0, size[0], size[1], expected.back().data());
    }
    std::atomic<int> wrong{0};
    const auto work = [&](int offset) {
        for (int round = 0; round < 40; ++round) {
            const int n = (round + offset) % 5;
            std::vector<float> out(expected[size_t(n)].size());
            shared->calcScalar(0, sizes[n][0], sizes[n][1], out.data());
            for (size_t k = 0; k < out.size(); ++k)
                wrong += !(out[k] == expected[size_t(n)][k] ||
                           (std::isnan(out[k]) && std::isnan(expected[size_t(n)][k])));
        }
    };
    std::thread other(work, 2);
    work(0);
    other.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(TestCurvilinearFlowData)
#include "tst_curvilinearflowdata.moc"
