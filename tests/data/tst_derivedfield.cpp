// Derived fields against analytic gradients: the three-point differences are
// exact for quadratic fields, so those are compared to float rounding; other
// fields must converge at second order. The loader rows check that the
// physical axes, speeds, frame and signs are recovered from a loaded data set.

#include "data/DerivedField.h"
#include "data/DerivedFieldCache.h"
#include "data/DerivedFieldGrid.h"
#include "data/RectangularFlowData.h"
#include "tests/common/FakeFlowData.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <thread>

using Field = std::function<std::array<double, 2>(double x, double y)>;
using Kind = DerivedField::Kind;
using Values = std::array<double, DerivedField::kindCount>;

namespace {

const double nan = std::nan("");

// Axis of n points over [a, b], denser towards a (stretch > 0).
std::vector<double> axis(int n, double a, double b, double stretch = 0.3)
{
    std::vector<double> values;
    for (int k = 0; k < n; ++k) {
        const double s = double(k) / (n - 1);
        values.push_back(a + (b - a) * (s + stretch * s * (s - 1.0)));
    }
    return values;
}

// Every set from the definitions, J = [[ux, uy], [vx, vy]] by central
// differences in double (errors far below float rounding).
Values analytic(const Field& f, double x, double y)
{
    const double h = 1e-6 * (1.0 + std::abs(x) + std::abs(y));
    const auto dx = [&](int c) { return (f(x + h, y)[c] - f(x - h, y)[c]) / (2 * h); };
    const auto dy = [&](int c) { return (f(x, y + h)[c] - f(x, y - h)[c]) / (2 * h); };
    const double j[2][2] = {{dx(0), dy(0)}, {dx(1), dy(1)}};
    double s2 = 0.0, w2 = 0.0;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) {
            s2 += std::pow((j[r][c] + j[c][r]) / 2, 2);
            w2 += std::pow((j[r][c] - j[c][r]) / 2, 2);
        }
    const double tr = j[0][0] + j[1][1];
    const double det = j[0][0] * j[1][1] - j[0][1] * j[1][0];
    const std::complex<double> root = std::sqrt(std::complex<double>(tr * tr / 4 - det));
    return {j[1][0] - j[0][1], j[0][0] + j[1][1], (w2 - s2) / 2,    std::abs(root.imag()),
            std::sqrt(2 * s2), j[0][1] + j[1][0], j[0][0] - j[1][1]};
}

const QList<Kind> allKinds = {DerivedField::Vorticity,       DerivedField::Divergence,
                              DerivedField::QCriterion,      DerivedField::SwirlingStrength,
                              DerivedField::StrainRate,      DerivedField::ShearStrainRate,
                              DerivedField::NormalStrainRate};

// The grid of f on xs x ys, x fastest; `holes` are NaN points.
struct Sampled
{
    std::vector<float> u, v;
    DerivedFieldGrid grid;
    Sampled(const Field& f, std::vector<double> xs, std::vector<double> ys, QList<int> holes = {})
    {
        for (double y : ys)
            for (double x : xs) {
                const bool hole = holes.contains(int(u.size()));
                u.push_back(hole ? float(nan) : float(f(x, y)[0]));
                v.push_back(hole ? float(nan) : float(f(x, y)[1]));
            }
        grid.x = std::move(xs);
        grid.y = std::move(ys);
        grid.u = u.data();
        grid.v = v.data();
    }
};

// Largest error of every set over the points accepted by `where`, in units
// of `scale` per set (0 when a value is not finite).
Values worst(const QList<ScalarSet>& sets, const std::vector<double>& xs,
             const std::vector<double>& ys, const Field& f, bool yFastest,
             const std::function<bool(int i, int j)>& where = {})
{
    Values error{};
    const int nx = int(xs.size()), ny = int(ys.size());
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            if (where && !where(i, j))
                continue;
            const Values want = analytic(f, xs[size_t(i)], ys[size_t(j)]);
            for (int k = 0; k < sets.size(); ++k) {
                const float got = sets[k].values[yFastest ? i * ny + j : j * nx + i];
                const double e = std::isfinite(got) ? std::abs(got - want[size_t(k)]) : HUGE_VAL;
                error[size_t(k)] = std::max(error[size_t(k)], e);
            }
        }
    return error;
}

const Field quadratic = [](double x, double y) {
    return std::array<double, 2>{3 + 0.5 * x - 2 * y + 0.1 * x * y - 0.2 * y * y,
                                 -1 + 1.5 * x + 0.2 * y * y - 0.05 * x * x};
};

} // namespace

class TestDerivedField : public QObject
{
    Q_OBJECT

private slots:
    void exactOnStretchedGrids_data();
    void exactOnStretchedGrids();
    void secondOrder_data();
    void secondOrder();
    void holes_data();
    void holes();
    void fromLoadedFiles_data();
    void fromLoadedFiles();
    void sphere_data();
    void sphere();
    void units_data();
    void units();
    void cacheComputesOnce();
};

void TestDerivedField::exactOnStretchedGrids_data()
{
    QTest::addColumn<Field>("field");
    QTest::addColumn<QList<double>>("constant"); // every set, where the field is linear
    const double w = 0.7, a = 1.3;
    QTest::newRow("solid-body rotation") << Field([=](double x, double y) {
        return std::array<double, 2>{-w * (y - 1), w * x};
    }) << QList<double>{2 * w, 0, w * w, w, 0, 0, 0};
    QTest::newRow("pure strain") << Field([=](double x, double y) {
        return std::array<double, 2>{a * x, -a * y};
    }) << QList<double>{0, 0, -a * a, 0, 2 * a, 0, 2 * a};
    QTest::newRow("simple shear") << Field([=](double, double y) {
        return std::array<double, 2>{a * y, 0};
    }) << QList<double>{-a, 0, 0, 0, a, a, 0};
    QTest::newRow("quadratic") << quadratic << QList<double>{};
}

void TestDerivedField::exactOnStretchedGrids()
{
    QFETCH(Field, field);
    QFETCH(QList<double>, constant);
    Sampled s(field, axis(13, -2, 3), axis(9, -1, 2, -0.4));
    const QList<ScalarSet> sets = DerivedField::compute(s.grid, allKinds);
    const Values error = worst(sets, s.grid.x, s.grid.y, field, false);
    for (int k = 0; k < DerivedField::kindCount; ++k) {
        QVERIFY2(error[size_t(k)] < 2e-5, qPrintable(DerivedField::name(Kind(k))));
        if (!constant.isEmpty())
            QVERIFY2(std::abs(sets[k].minimum - constant[k]) < 2e-5 &&
                         std::abs(sets[k].maximum - constant[k]) < 2e-5,
                     qPrintable(DerivedField::name(Kind(k))));
    }
}

void TestDerivedField::secondOrder_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("edges");
    QTest::newRow("vorticity, inside") << int(DerivedField::Vorticity) << false;
    QTest::newRow("vorticity, edges") << int(DerivedField::Vorticity) << true;
    QTest::newRow("Q criterion, inside") << int(DerivedField::QCriterion) << false;
    QTest::newRow("Q criterion, edges") << int(DerivedField::QCriterion) << true;
}

// A Lamb-Oseen vortex (circulation 1, core radius 0.3) off the grid's middle;
// the error at the coarse grid's points must fall by about four on the grid
// of half the spacing.
void TestDerivedField::secondOrder()
{
    QFETCH(int, kind);
    QFETCH(bool, edges);
    const Field vortex = [](double x, double y) {
        x -= 0.1, y -= 0.05;
        const double r2 = x * x + y * y;
        const double f = (1 - std::exp(-r2 / 0.09)) / (2 * M_PI * r2);
        return std::array<double, 2>{-y * f, x * f};
    };
    double error[2];
    for (int level = 0; level < 2; ++level) {
        const int n = 20 * (level + 1) + 1;
        Sampled s(vortex, axis(n, -1, 1, 0.2), axis(n, -0.8, 0.9, -0.2));
        const int step = level + 1;
        const auto coarse = [&](int i, int j) {
            const bool edge = i == 0 || j == 0 || i == n - 1 || j == n - 1;
            return i % step == 0 && j % step == 0 && edge == edges;
        };
        const QList<ScalarSet> sets = DerivedField::compute(s.grid, allKinds);
        error[level] = worst(sets, s.grid.x, s.grid.y, vortex, false, coarse)[size_t(kind)];
    }
    QVERIFY2(error[0] / error[1] > 3.3 && error[0] / error[1] < 5,
             qPrintable(QStringLiteral("%1 / %2").arg(error[0]).arg(error[1])));
}

void TestDerivedField::holes_data()
{
    QTest::addColumn<QList<int>>("holes"); // points of a 9 x 7 grid
    QTest::addColumn<QList<int>>("unknown");
    QTest::newRow("inside") << QList<int>{31} << QList<int>{31};
    QTest::newRow("on the edge") << QList<int>{27} << QList<int>{27};
    QTest::newRow("beside the edge: the edge point has no pair")
        << QList<int>{28} << QList<int>{27, 28};
    QTest::newRow("two apart: the point between has no pair")
        << QList<int>{30, 32} << QList<int>{30, 31, 32};
    QTest::newRow("corner below a hole") << QList<int>{9} << QList<int>{0, 9};
}

void TestDerivedField::holes()
{
    QFETCH(QList<int>, holes);
    QFETCH(QList<int>, unknown);
    Sampled s(quadratic, axis(9, 0, 2), axis(7, -1, 1), holes);
    const QList<ScalarSet> sets = DerivedField::compute(s.grid, allKinds);
    for (int p = 0; p < 63; ++p) {
        const Values want = analytic(quadratic, s.grid.x[size_t(p % 9)], s.grid.y[size_t(p / 9)]);
        for (int k = 0; k < DerivedField::kindCount; ++k) {
            const float got = sets[k].values[p];
            if (unknown.contains(p))
                QVERIFY2(std::isnan(got), qPrintable(QString::number(p)));
            else
                QVERIFY2(std::abs(got - want[size_t(k)]) < 2e-5, qPrintable(QString::number(p)));
        }
    }
}

void TestDerivedField::fromLoadedFiles_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("yFastest");
    QTest::addColumn<QString>("unit");
    QTest::newRow("native pair") << "native" << false << QString();
    QTest::newRow("native pair, fast index along y") << "native" << true << QString();
    QTest::newRow("VTK, y descending") << "vtk" << false << QString();
    QTest::newRow("column text in m/s over m") << "txt" << false << "1/s";
}

// The quadratic field at physical positions away from the origin, with speeds
// of tens of metres per second: every set must come out as for the file. The
// file's float positions near 100 are good to 4e-6 of spacings near 0.3, so
// gradients near 10 to about 3e-4 (and Q, near 70, to 20 times that).
void TestDerivedField::fromLoadedFiles()
{
    QFETCH(QString, format);
    QFETCH(bool, yFastest);
    QFETCH(QString, unit);
    const std::vector<double> xs = axis(11, 100, 104), ys = axis(8, -3, 3, -0.3);
    const auto number = [](double value) { return QByteArray::number(float(value), 'g', 9); };
    FlowFiles::Grid native{{}, {}, {}, {}, yFastest};
    QByteArray text = "x [m]\ty [m]\tu [m/s]\tv [m/s]\n";
    QByteArray vtk = "# vtk DataFile Version 3.0\nt\nASCII\nDATASET RECTILINEAR_GRID\n"
                     "DIMENSIONS 11 8 1\nX_COORDINATES 11 float\n";
    QByteArray vtkVectors = "\nZ_COORDINATES 1 float\n0\nPOINT_DATA 88\nVECTORS v float\n";
    for (double x : xs)
        native.xs << float(x), vtk += number(x) + ' ';
    vtk += "\nY_COORDINATES 8 float\n";
    for (int j = 0; j < 8; ++j) {
        native.ys << float(ys[size_t(j)]);
        const double yDown = ys[size_t(7 - j)];
        vtk += number(yDown) + ' ';
        for (double x : xs) {
            const auto uv = quadratic(float(x), float(ys[size_t(j)]));
            const auto down = quadratic(float(x), float(yDown));
            native.vectors << Vector3(float(uv[0]), float(uv[1]), 0);
            text += number(x) + '\t' + number(ys[size_t(j)]) + '\t' + number(uv[0]) + '\t' +
                    number(uv[1]) + '\n';
            vtkVectors += number(down[0]) + ' ' + number(down[1]) + " 0\n";
        }
    }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("f"));
    if (format == QLatin1String("native")) {
        QVERIFY(native.write(path));
    } else {
        path += QLatin1Char('.') + format;
        QFile file(path);
        const QByteArray bytes = format == QLatin1String("vtk") ? vtk + vtkVectors : text;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QString reason;
    std::unique_ptr<FlowData> loaded(FlowData::fromFile(path, &reason));
    QVERIFY2(loaded, qPrintable(reason));
    const auto& data = static_cast<const RectangularFlowData&>(*loaded);
    QCOMPARE(data.axesExchanged(), yFastest);
    const QList<ScalarSet> sets =
        DerivedField::compute(DerivedFieldGrid::fromFlowData(data), allKinds);
    const Values error = worst(sets, xs, ys, quadratic, yFastest);
    for (int k = 0; k < DerivedField::kindCount; ++k)
        QVERIFY2(error[size_t(k)] < (k == DerivedField::QCriterion ? 2e-2 : 1e-3),
                 qPrintable(DerivedField::name(Kind(k))));
    QCOMPARE(sets[0].unit, unit);
}

void TestDerivedField::sphere_data()
{
    QTest::addColumn<QString>("longitude");
    QTest::newRow("degrees_east") << "degrees_east";
    QTest::newRow("degree_E") << "degree_E";
}

// Solid-body rotation about the pole at the earth's rate on a 1-degree
// longitude-latitude grid, through the loader: w = 2 W sin(phi),
// Q = (W sin phi)^2, lambda_ci = W |sin phi|, no divergence and no strain.
void TestDerivedField::sphere()
{
    QFETCH(QString, longitude);
    const double w = 7.292e-5, r = DerivedFieldGrid::earthRadius;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("globe.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("lon [%1]\tlat [degrees_north]\tu [m s-1]\tv [m s-1]\n")
                   .arg(longitude)
                   .toLatin1());
    for (int lat = -60; lat <= 70; ++lat)
        for (int lon = 10; lon <= 40; ++lon)
            file.write(QByteArray::number(lon) + '\t' + QByteArray::number(lat) + '\t' +
                       QByteArray::number(w * r * std::cos(lat * M_PI / 180), 'g', 9) + "\t0\n");
    file.close();
    QString reason;
    std::unique_ptr<FlowData> loaded(FlowData::fromFile(file.fileName(), &reason));
    QVERIFY2(loaded, qPrintable(reason));
    const DerivedFieldGrid grid =
        DerivedFieldGrid::fromFlowData(static_cast<const RectangularFlowData&>(*loaded));
    QCOMPARE(grid.metric, DerivedFieldGrid::Sphere);
    const QList<ScalarSet> sets = DerivedField::compute(grid, allKinds);
    for (int p = 0; p < grid.pointCount(); ++p) {
        const double s = std::sin(grid.y[size_t(p / 31)] * M_PI / 180);
        const Values want{2 * w * s, 0, w * w * s * s, w * std::abs(s), 0, 0, 0};
        for (int k = 0; k < DerivedField::kindCount; ++k)
            QVERIFY2(std::abs(sets[k].values[p] - want[size_t(k)]) <
                         (k == 2 ? 1e-3 * w * w : 1e-3 * w),
                     qPrintable(DerivedField::name(Kind(k)) + QString::number(p)));
    }
    QCOMPARE(sets[0].unit, QStringLiteral("s-1"));
    QCOMPARE(sets[2].unit, QStringLiteral("s-2"));
}

void TestDerivedField::units_data()
{
    QTest::addColumn<QString>("velocity");
    QTest::addColumn<QString>("length");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("unit");
    QTest::newRow("m/s over m") << "m/s"
                                << "m" << 0 << "1/s";
    QTest::newRow("Q of m/s over metres") << "m/s"
                                          << "metres" << 2 << "1/s2";
    QTest::newRow("m s-1 over m") << "m s-1"
                                  << "m" << 4 << "s-1";
    QTest::newRow("Q of m.s-1 over m") << "m.s-1"
                                       << "m" << 2 << "s-2";
    QTest::newRow("cm/s over m") << "cm/s"
                                 << "m" << 0 << "cm/(m s)";
    QTest::newRow("Q of cm s-1 over m") << "cm s-1"
                                        << "m" << 2 << "cm2 m-2 s-2";
    QTest::newRow("knots over km") << "kn"
                                   << "km" << 0 << "kn/km";
    QTest::newRow("no velocity unit") << ""
                                      << "m" << 0 << "";
    QTest::newRow("no length unit") << "m/s"
                                    << "" << 2 << "";
}

void TestDerivedField::units()
{
    QFETCH(QString, velocity);
    QFETCH(QString, length);
    QFETCH(int, kind);
    QFETCH(QString, unit);
    QCOMPARE(DerivedField::unit(Kind(kind), velocity, length), unit);
}

// Nothing is computed before it is asked for; a request answers at once and
// the set arrives by signal; callers on two threads get the one stored set.
void TestDerivedField::cacheComputesOnce()
{
    QTemporaryDir dir;
    FlowFiles::Grid g{FlowFiles::axis(300), FlowFiles::axis(200), {}, {}};
    g.vectors = g.sample([](float x, float y) { return Vector3(-y, x, 0); });
    QVERIFY(g.write(dir.filePath(QStringLiteral("f"))));
    std::unique_ptr<FlowData> loaded(FlowData::fromFile(dir.filePath(QStringLiteral("f"))));
    QVERIFY(loaded);
    DerivedFieldCache cache(static_cast<const RectangularFlowData&>(*loaded));
    QSignalSpy spy(&cache, &DerivedFieldCache::computed);
    QVERIFY(!cache.find(DerivedField::Vorticity));
    QVERIFY(!cache.request(DerivedField::Vorticity));
    QVERIFY(!cache.request(DerivedField::Vorticity));
    QVERIFY(spy.wait(10000));
    QCOMPARE(spy.first().at(0).toInt(), int(DerivedField::Vorticity));
    const ScalarSet* set = cache.find(DerivedField::Vorticity);
    QVERIFY(set && std::abs(set->minimum - 2) < 1e-4 && std::abs(set->maximum - 2) < 1e-4);
    QVERIFY(cache.request(DerivedField::Vorticity));
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
    QVERIFY(!cache.find(DerivedField::Divergence));
    const ScalarSet* there = nullptr;
    std::thread other([&] { there = cache.compute(DerivedField::Divergence); });
    const ScalarSet* here = cache.compute(DerivedField::Divergence);
    other.join();
    QVERIFY(here && here == there);
}

QTEST_GUILESS_MAIN(TestDerivedField)
#include "tst_derivedfield.moc"
