#include "data/RectangularFlowData.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/MessageCapture.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using FlowFiles::Grid;

namespace {

// The cell containing p: the largest lower grid line not above p, limited to
// the cells 0 ... n - 2.
int containingCell(double p, const SharedArray<float>& coords)
{
    int cell = 0;
    for (int i = 0; i <= coords.size() - 2; ++i)
        if (double(coords[i]) <= p)
            cell = i;
    return cell;
}

// Probes: every grid line and its float neighbours, cell middles, the ends
// (the far corner belongs to the last cell), points outside and a
// pseudo-random spread.
std::vector<double> probes(const SharedArray<float>& coords)
{
    std::vector<double> p = {0.0, 1.0, -0.25, 1.5, -1e300, 1e300};
    for (int i = 0; i < coords.size(); ++i) {
        const float c = coords[i];
        p.push_back(c);
        p.push_back(std::nextafter(c, -1.0f));
        p.push_back(std::nextafter(c, 2.0f));
        if (i + 1 < coords.size())
            p.push_back((double(c) + coords[i + 1]) / 2.0);
    }
    unsigned state = 12345;
    for (int k = 0; k < 200; ++k) {
        state = state * 1103515245u + 12345u;
        p.push_back(-0.1 + 1.2 * double(state >> 8) / double(1u << 24));
    }
    return p;
}

// Distinct values at every point, so that a wrong index or weight shows.
Grid gridOf(const QList<float>& xs, const QList<float>& ys, bool fastIndexAlongY)
{
    Grid grid{xs, ys, {}, {}};
    grid.fastIndexAlongY = fastIndexAlongY;
    QList<float> scalar;
    for (int k = 0; k < int(xs.size() * ys.size()); ++k) {
        grid.vectors.append(Vector3(float(k + 1), -0.5f * float(k), 0.0f));
        scalar.append(float((k * 5) % 11));
    }
    grid.scalars = {scalar};
    return grid;
}

} // namespace

class TestRectangularFlowData : public QObject
{
    Q_OBJECT

private slots:
    void sampling_data();
    void sampling();
    void maskedPointStaysLocal();
    void loadIntoBuiltGrid_data();
    void loadIntoBuiltGrid();
};

// vectorAt must return the vector of the cell that holds the point, the
// largest lower grid line not above it, also on a table cut to
// maxLookupEntries. Every resampled value must be the very float that its own
// bilinear blend of the loaded arrays gives: on non-uniform grids, with the
// file's y axis across, and on rasters large enough to be split over threads,
// wherever the rows are cut. The loaded arrays themselves are checked against
// the written values in tst_samples.
void TestRectangularFlowData::sampling_data()
{
    QTest::addColumn<QList<float>>("xs");
    QTest::addColumn<QList<float>>("ys");
    QTest::addColumn<bool>("fastIndexAlongY");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    const QList<float> xs = {-2, -1.5f, 0, 0.1f, 3};
    const QList<float> ys = {10, 10.5f, 13, 20};
    QTest::newRow("non-uniform, odd raster") << xs << ys << false << 37 << 23;
    QTest::newRow("non-uniform, one row") << xs << ys << false << 11 << 1;
    QTest::newRow("non-uniform 6 x 3, cells 600 times apart")
        << QList<float>{-3, -2.5f, 0, 0.25f, 4, 9} << QList<float>{1, 1.01f, 7} << false << 9 << 8;
    QTest::newRow("cut table, cells a millionth apart")
        << QList<float>{0, 0.3f, 0.300001f, 0.300002f, 0.7f, 1}
        << QList<float>{0, 0.000001f, 0.5f, 1} << false << 13 << 6;
    QTest::newRow("raster coarser than the grid")
        << FlowFiles::axis(50, -1, 1) << FlowFiles::axis(31, 0, 9) << false << 7 << 5;
    const QList<float> wide = FlowFiles::axis(97);
    const QList<float> high = FlowFiles::axis(61);
    QTest::newRow("threads: odd rows and columns") << wide << high << false << 611 << 397;
    QTest::newRow("threads: one wide row block per core") << wide << high << false << 1501 << 90;
    QTest::newRow("threads: tall and narrow") << wide << high << true << 3 << 40001;
}

void TestRectangularFlowData::sampling()
{
    QFETCH(QList<float>, xs);
    QFETCH(QList<float>, ys);
    QFETCH(bool, fastIndexAlongY);
    QFETCH(int, width);
    QFETCH(int, height);

    QTemporaryDir dir;
    MessageCapture quiet;
    const auto data =
        FlowFiles::loadRectangular(gridOf(xs, ys, fastIndexAlongY), dir.filePath("flow"));
    QVERIFY(data);
    const SharedArray<float>& cx = data->xCoordinates();
    const SharedArray<float>& cy = data->yCoordinates();
    const int nx = cx.size();
    const double aspect = data->aspectRatio();
    const std::vector<double> yProbes = probes(cy);
    for (double x : probes(cx)) {
        for (double probe : yProbes) {
            // vectorAt takes y in widths and multiplies by the aspect first.
            const double y = probe / aspect;
            const double scaled = aspect * y;
            const int i = containingCell(x, cx);
            const int j = containingCell(scaled, cy);
            const Vector3 expected = data->vectorArray()[j * nx + i];
            const Vector3 got = data->vectorAt(x, y);
            if (got.x != expected.x || got.y != expected.y)
                QFAIL(qPrintable(
                    QString::asprintf("(%.17g, %.17g): expected cell (%d, %d)", x, scaled, i, j)));
        }
    }
    // Not a number must not index outside the grid.
    data->vectorAt(std::nan(""), std::nan(""));

    std::vector<float> scalars(size_t(width) * size_t(height));
    std::vector<Vector3> vectors(size_t(width) * size_t(height));
    data->calcScalar(0, width, height, scalars.data());
    data->calcVector(width, height, vectors.data());
    const float* f = data->scalarSets()[0].values.get();
    const Vector3* v = data->vectorArray().get();
    auto axisSample = [](int k, int count, const SharedArray<float>& coords, int* cell) {
        const double t = count > 1 ? double(k) / double(count - 1) : 0.0;
        int i = 0;
        while (i < coords.size() - 2 && coords[i + 1] < t)
            ++i;
        *cell = i;
        return float((t - coords[i + 1]) / (double(coords[i]) - double(coords[i + 1])));
    };
    for (int r = 0; r < height; ++r) {
        int j = 0;
        const float wy = axisSample(r, height, cy, &j);
        const float vy = 1.0f - wy;
        for (int c = 0; c < width; ++c) {
            int i = 0;
            const float wx = axisSample(c, width, cx, &i);
            const float vx = 1.0f - wx;
            const int a = j * nx + i;
            const int d = a + nx;
            const float expected =
                wy * (wx * f[a] + vx * f[a + 1]) + vy * (wx * f[d] + vx * f[d + 1]);
            const Vector3 blend(
                wy * (wx * v[a].x + vx * v[a + 1].x) + vy * (wx * v[d].x + vx * v[d + 1].x),
                wy * (wx * v[a].y + vx * v[a + 1].y) + vy * (wx * v[d].y + vx * v[d + 1].y),
                wy * (wx * v[a].z + vx * v[a + 1].z) + vy * (wx * v[d].z + vx * v[d + 1].z));
            const size_t k = size_t(r) * size_t(width) + size_t(c);
            if (std::memcmp(&scalars[k], &expected, sizeof expected) != 0 ||
                std::memcmp(&vectors[k], &blend, sizeof blend) != 0)
                QFAIL(qPrintable(QStringLiteral("sample (%1, %2) differs").arg(c).arg(r)));
        }
    }
}

// A non-finite value makes the samples of its own cells NaN, and no others.
void TestRectangularFlowData::maskedPointStaysLocal()
{
    QTemporaryDir dir;
    MessageCapture quiet;
    Grid grid = gridOf(FlowFiles::axis(4), FlowFiles::axis(4), false);
    grid.scalars[0][1 * 4 + 1] = std::numeric_limits<float>::quiet_NaN();
    grid.vectors[1 * 4 + 1].x = std::numeric_limits<float>::infinity();
    const auto data = FlowFiles::loadRectangular(grid, dir.filePath("flow"));
    QVERIFY(data);

    const int size = 7; // samples at k / 6: grid lines and cell middles
    std::vector<float> scalars(size * size), magnitude(size * size);
    std::vector<Vector3> vectors(size * size);
    data->calcScalar(0, size, size, scalars.data());
    data->calcScalar(1, size, size, magnitude.data());
    data->calcVector(size, size, vectors.data());
    for (int k = 0; k < size * size; ++k) {
        const int c = k % size, r = k / size;
        const bool masked = c <= 3 && r <= 3;
        if (!masked && c < 5 && r < 5)
            continue; // on the lines of the masked cells: either
        const float values[4] = {scalars[k], magnitude[k], vectors[k].x, vectors[k].y};
        for (float value : values)
            QVERIFY2(masked ? std::isnan(value) : std::isfinite(value),
                     qPrintable(QString("%1, %2").arg(c).arg(r)));
    }
}

void TestRectangularFlowData::loadIntoBuiltGrid_data()
{
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QList<float>>("xs");
    QTest::newRow("larger grid loaded") << true << FlowFiles::axis(40);
    QTest::newRow("load failed") << false << QList<float>{0, 1};
}

// load() is not virtual and cannot rebuild the grid tables; sampling the
// object afterwards must not read through tables of the former grid.
void TestRectangularFlowData::loadIntoBuiltGrid()
{
    QFETCH(bool, loads);
    QFETCH(QList<float>, xs);

    QTemporaryDir dir;
    MessageCapture quiet;
    const auto data = FlowFiles::loadRectangular(
        gridOf(FlowFiles::axis(9), FlowFiles::axis(7), false), dir.filePath("flow"));
    QVERIFY(data);
    const QString other = dir.filePath("other");
    QVERIFY(gridOf(xs, {0, 1, 2}, false).write(other));
    if (!loads)
        QVERIFY(QFile::remove(other + ".dat"));

    QCOMPARE(data->load(other), loads);
    std::vector<float> scalars(12, -1.0f);
    std::vector<Vector3> vectors(12, Vector3(-1, -1, -1));
    data->calcScalar(0, 4, 3, scalars.data());
    data->calcVector(4, 3, vectors.data());
    for (size_t k = 0; k < 12; ++k)
        QVERIFY(scalars[k] == -1.0f && vectors[k].x == -1.0f);
    const Vector3 v = data->vectorAt(0.99, 0.99 / data->aspectRatio());
    QVERIFY(v.x == 0.0f && v.y == 0.0f);
}

QTEST_GUILESS_MAIN(TestRectangularFlowData)
#include "tst_rectangularflowdata.moc"
