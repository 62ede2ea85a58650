#include "streamlines/SeparationGrid.h"

#include <algorithm>
#include <cmath>
#include <QTest>
#include <vector>

class TestSeparationGrid : public QObject
{
    Q_OBJECT

private slots:
    void separation_data();
    void separation();
    void hashGrowthKeepsPositions();
    void queueCommitsOldestFirst_data();
    void queueCommitsOldestFirst();
    void ignorePoint_data();
    void ignorePoint();
    void unusableParameters_data();
    void unusableParameters();
    void runAnswersAsEveryPoint_data();
    void runAnswersAsEveryPoint();
};

namespace {

void commitPoint(SeparationGrid& grid, double x, double y)
{
    double nearest = 0.0;
    QVERIFY(grid.addPoint(x, y, &nearest));
    grid.commitIgnored();
}

} // namespace

// dSep 0.05, dTest 0.5: cells of cellSize 0.025.
void TestSeparationGrid::separation_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<QPointF>("committed"); // NaN: none
    QTest::addColumn<QPointF>("query");
    QTest::addColumn<bool>("farEnough");

    const double cell = 0.05 * 0.5;
    const double beyond = std::nextafter(cell, 1.0);
    const QPointF none(NAN, NAN);
    QTest::newRow("empty grid") << 1.0f << none << QPointF(0.4, 0.4) << true;
    QTest::newRow("exactly cellSize along x")
        << 1.0f << QPointF(0.0, 0.3) << QPointF(cell, 0.3) << false;
    QTest::newRow("just beyond cellSize along x")
        << 1.0f << QPointF(0.0, 0.3) << QPointF(beyond, 0.3) << true;
    QTest::newRow("farther than cellSize, nearer than 1")
        << 1.0f << QPointF(0.3, 0.3) << QPointF(0.32, 0.318) << true;
    // Both ways round, a diagonal pair reaches every edge of the 3 x 3 block.
    QTest::newRow("diagonal neighbour cell")
        << 1.0f << QPointF(0.049, 0.049) << QPointF(0.051, 0.051) << false;
    // 1 / cellSize is exactly 40: x = 1 computes column 40 of 0 ... 39.
    QTest::newRow("corner (1, H) against its diagonal neighbour")
        << 0.5f << QPointF(1.0, 2.0) << QPointF(1.0 - 0.6 * cell, 2.0 - 0.6 * cell) << false;
    QTest::newRow("query with a NaN coordinate") << 1.0f << none << QPointF(NAN, 0.3) << false;
}

void TestSeparationGrid::separation()
{
    QFETCH(float, aspect);
    QFETCH(QPointF, committed);
    QFETCH(QPointF, query);
    QFETCH(bool, farEnough);

    // Distance is symmetric: the roles swapped give the same answer, which
    // looks into the neighbour cells on the other side.
    for (const bool swapped : {false, true}) {
        const bool any = !std::isnan(committed.x());
        const QPointF stored = swapped && any ? query : committed;
        const QPointF asked = swapped && any ? committed : query;
        SeparationGrid grid(aspect, 0.05, 0.5, 0.003);
        QVERIFY(grid.isValid());
        if (any)
            commitPoint(grid, stored.x(), stored.y());
        double nearest = -1.0;
        QCOMPARE(grid.isFarEnough(asked.x(), asked.y(), &nearest), farEnough);
        if (farEnough)
            QCOMPARE(nearest,
                     any ? std::min(1.0, std::hypot(stored.x() - asked.x(), stored.y() - asked.y()))
                         : 1.0);
    }
}

// The sparse table starts small and doubles; every point committed before and
// after each growth must still be found in its cell.
void TestSeparationGrid::hashGrowthKeepsPositions()
{
    SeparationGrid grid(1.0f, 0.001, 0.01, 0.0001);
    QVERIFY(grid.usesHashedCells());
    const double cell = grid.cellSize();
    QList<QPointF> points;
    for (int k = 0; k < 5000; ++k) // distinct cells along a diagonal band
        points.append(QPointF(0.0001 + 0.00019 * k, 0.5 + 0.00007 * (k % 13)));
    for (const QPointF& p : points)
        commitPoint(grid, p.x(), p.y());
    QCOMPARE(grid.committedPoints(), std::int64_t(points.size()));
    for (const QPointF& p : points) {
        double nearest = 1.0;
        QVERIFY2(!grid.isFarEnough(p.x(), p.y() + 0.5 * cell, &nearest),
                 qPrintable(QString("lost (%1, %2)").arg(p.x()).arg(p.y())));
        QCOMPARE(nearest, std::abs(p.y() + 0.5 * cell - p.y()));
    }
    QVERIFY(grid.isFarEnough(0.5, 0.1));
}

void TestSeparationGrid::queueCommitsOldestFirst_data()
{
    QTest::addColumn<int>("added");
    // Defaults: dSep 0.05, step 0.004f, so ignoreCount is 13.
    QTest::newRow("exactly ignoreCount") << 13;
    QTest::newRow("one more than ignoreCount") << 14;
}

void TestSeparationGrid::queueCommitsOldestFirst()
{
    QFETCH(int, added);
    SeparationGrid grid(1.0f);
    QCOMPARE(grid.ignoreCount(), 13);

    // Points 0.02 apart along x, closer than cellSize (0.025): each one would
    // block its successor if it were committed at once.
    double nearest = 0.0;
    for (int i = 0; i < added; ++i)
        QVERIFY2(grid.addPoint(0.1 + 0.02 * i, 0.5, &nearest), qPrintable(QString::number(i)));

    const int queued = std::min(added, grid.ignoreCount());
    QCOMPARE(grid.queuedPoints(), queued);
    QCOMPARE(grid.committedPoints(), std::int64_t(added - queued));
    // Queued points block nothing: only a committed point or its committed
    // predecessor blocks a place.
    for (int i = 0; i < added; ++i) {
        auto committed = [&](int j) { return j >= 0 && j < added - queued; };
        QCOMPARE(grid.isFarEnough(0.1 + 0.02 * i, 0.5), !committed(i) && !committed(i - 1));
    }
    grid.commitIgnored();
    QCOMPARE(grid.queuedPoints(), 0);
    QCOMPARE(grid.committedPoints(), std::int64_t(added));
}

void TestSeparationGrid::ignorePoint_data()
{
    QTest::addColumn<QList<double>>("committed"); // x, y pairs
    QTest::addColumn<double>("queryX");
    QTest::addColumn<double>("queryY");
    QTest::addColumn<int>("removedIndex"); // -1: nothing found

    // Cells are 0.025 wide; the tie row uses dyadic values for equal distances.
    QTest::newRow("nearest of two")
        << QList<double>{0.001, 0.301, 0.02, 0.322} << 0.018 << 0.32 << 1;
    QTest::newRow("equal distances: first stored wins")
        << QList<double>{0.0009765625, 0.30078125, 0.0234375, 0.32421875} << 0.01220703125 << 0.3125
        << 0;
    QTest::newRow("neighbour cell holds the only point")
        << QList<double>{0.026, 0.31} << 0.024 << 0.31 << -1;
}

void TestSeparationGrid::ignorePoint()
{
    QFETCH(QList<double>, committed);
    QFETCH(double, queryX);
    QFETCH(double, queryY);
    QFETCH(int, removedIndex);

    SeparationGrid grid(1.0f);
    for (int i = 0; i + 1 < committed.size(); i += 2)
        commitPoint(grid, committed[i], committed[i + 1]);
    // The points that refuse these queries are tried first by later ones,
    // which must not outlive the removal.
    for (int i = 0; i + 1 < committed.size(); i += 2)
        QVERIFY(!grid.isFarEnough(committed[i], committed[i + 1]));
    const std::int64_t before = grid.committedPoints();
    if (removedIndex < 0)
        QTest::ignoreMessage(QtDebugMsg, "to ignore point NOT FOUND!!!");
    grid.ignorePoint(queryX, queryY);

    const bool found = removedIndex >= 0;
    QCOMPARE(grid.committedPoints(), before - (found ? 1 : 0));
    QCOMPARE(grid.queuedPoints(), found ? 1 : 0);
    for (int i = 0; i + 1 < committed.size(); i += 2)
        QCOMPARE(grid.isFarEnough(committed[i], committed[i + 1]), i / 2 == removedIndex);
}

void TestSeparationGrid::unusableParameters_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<double>("dSep");
    QTest::addColumn<double>("dTest");
    QTest::addColumn<double>("stepSize");

    QTest::newRow("aspect NaN") << std::nanf("") << 0.03 << 0.5 << 0.003;
    QTest::newRow("dTest negative") << 1.0f << 0.03 << -0.5 << 0.003;
    QTest::newRow("step zero") << 1.0f << 0.03 << 0.5 << 0.0;
    QTest::newRow("more cells than can be numbered") << 1e-30f << 1e-6 << 1e-6 << 0.003;
}

void TestSeparationGrid::unusableParameters()
{
    QFETCH(float, aspect);
    QFETCH(double, dSep);
    QFETCH(double, dTest);
    QFETCH(double, stepSize);

    SeparationGrid grid(aspect, dSep, dTest, stepSize);
    QVERIFY(!grid.isValid());
    double nearest = 0.0;
    QVERIFY(!grid.addPoint(0.5, 0.5, &nearest));
    QCOMPARE(grid.queuedPoints(), 0);
}

QTEST_APPLESS_MAIN(TestSeparationGrid)
#include "tst_separationgrid.moc"

// Steps far shorter than the cells keep the line's committed points in a run
// that queries walk with skips; every answer must equal that of measuring
// every committed point of the query's 3 x 3 block.
void TestSeparationGrid::runAnswersAsEveryPoint_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<double>("dSep");
    QTest::addColumn<double>("dTest");
    QTest::addColumn<double>("step");

    QTest::newRow("straight line, dTest 1") << 0 << 0.2 << 1.0 << 0.0005;
    QTest::newRow("spiral inwards, dTest 0.5") << 1 << 0.1 << 0.5 << 0.0005;
    QTest::newRow("zigzag with uneven steps") << 2 << 0.1 << 0.9 << 0.001;
}

void TestSeparationGrid::runAnswersAsEveryPoint()
{
    QFETCH(int, shape);
    QFETCH(double, dSep);
    QFETCH(double, dTest);
    QFETCH(double, step);

    SeparationGrid grid(1.0f, dSep, dTest, step);
    QVERIFY(grid.isValid());
    const double cell = grid.cellSize();
    std::vector<DomainPoint> added;
    for (int i = 0; i < 4000; ++i) {
        const double t = i * step;
        DomainPoint p{0.5, 0.05 + t};
        if (shape == 1) {
            const double radius = 0.45 - 0.05 * t;
            p = {0.5 + radius * std::cos(t / 0.3), 0.5 + radius * std::sin(t / 0.3)};
        } else if (shape == 2) {
            const double along = i % 7 == 3 ? 0.2 * step : step; // an uneven gap now and then
            p = {0.2 + std::fmod(t, 0.6) + along, 0.1 + 0.3 * std::fabs(std::sin(t * 4.0))};
        }
        double nearest = 0.0;
        if (!grid.addPoint(p.x, p.y, &nearest, dSep))
            break;
        added.push_back(p);
    }
    const std::size_t committed = added.size() - std::size_t(grid.queuedPoints());
    QVERIFY(committed > 100);
    QCOMPARE(grid.committedPoints(), std::int64_t(committed));

    auto cellOf = [&](double v, std::int64_t count) {
        const double c = v / cell;
        return !(c > 0.0) ? 0 : c >= double(count - 1) ? count - 1 : std::int64_t(c);
    };
    int compared = 0;
    for (int qy = 0; qy <= 60; ++qy) {
        for (int qx = 0; qx <= 60; ++qx) {
            const double x = qx / 60.0;
            const double y = qy / 60.0;
            bool far = true;
            double nearestExpected = dSep;
            for (std::size_t k = 0; k < committed; ++k) {
                const DomainPoint& q = added[k];
                if (std::abs(cellOf(q.x, grid.columns()) - cellOf(x, grid.columns())) > 1 ||
                    std::abs(cellOf(q.y, grid.rows()) - cellOf(y, grid.rows())) > 1)
                    continue;
                const double e = std::sqrt((q.x - x) * (q.x - x) + (q.y - y) * (q.y - y));
                far = far && e > cell;
                nearestExpected = std::min(nearestExpected, e);
            }
            double nearest = -1.0;
            QCOMPARE(grid.isFarEnough(x, y, &nearest, dSep), far);
            if (far) {
                QCOMPARE(nearest, nearestExpected);
                ++compared;
            }
        }
    }
    QVERIFY(compared > 100);
}
