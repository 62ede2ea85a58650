// Derived fields against analytic gradients: the three-point differences are
// exact for quadratic fields, so those are compared to float rounding; other
// fields must converge at second order. The loader rows check that axes,
// speeds, frame, signs and the sphere's metric are recovered from a file.

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

using Values = std::array<double, DerivedField::kindCount>;
using Field = std::function<std::array<double, 2>(double x, double y)>;
using Truth = std::function<Values(double x, double y)>;
using Kind = DerivedField::Kind;
using Points = QList<int>;
using Sets = QList<double>;

namespace {

// n points over [a, b], denser towards a for stretch > 0.
std::vector<double> axis(int n, double a, double b, double stretch = 0.3)
{
    std::vector<double> values;
    for (int k = 0; k < n; ++k) {
        const double s = double(k) / (n - 1);
        values.push_back(a + (b - a) * (s + stretch * s * (s - 1.0)));
    }
    return values;
}

// Every set from its definition; J by central differences in double, far
// below float rounding.
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
    const double tr = j[0][0] + j[1][1], det = j[0][0] * j[1][1] - j[0][1] * j[1][0];
    const double swirl = std::abs(std::sqrt(std::complex<double>(tr * tr / 4 - det)).imag());
    return {j[1][0] - j[0][1], tr, (w2 - s2) / 2, swirl, std::sqrt(2 * s2), j[0][1] + j[1][0],
            j[0][0] - j[1][1]};
}

const QList<Kind> allKinds = {DerivedField::Vorticity,       DerivedField::Divergence,
                              DerivedField::QCriterion,      DerivedField::SwirlingStrength,
                              DerivedField::StrainRate,      DerivedField::ShearStrainRate,
                              DerivedField::NormalStrainRate};

// f on xs x ys, x fastest, NaN at `holes`; the sets of every kind.
QList<ScalarSet> derived(const Field& f, const std::vector<double>& xs,
                         const std::vector<double>& ys, const QList<int>& holes = {})
{
    std::vector<float> u, v;
    for (double y : ys)
        for (double x : xs) {
            const bool hole = holes.contains(int(u.size()));
            u.push_back(hole ? NAN : float(f(x, y)[0]));
            v.push_back(hole ? NAN : float(f(x, y)[1]));
        }
    DerivedFieldGrid grid;
    grid.x = xs, grid.y = ys, grid.u = u.data(), grid.v = v.data();
    return DerivedField::compute(grid, allKinds);
}

// The largest error of each set at the points `where` accepts (HUGE_VAL for
// a value that is not finite).
Values worst(const QList<ScalarSet>& sets, const std::vector<double>& xs,
             const std::vector<double>& ys, const Truth& truth, bool yFastest = false,
             const std::function<bool(int, int)>& where = {})
{
    Values error{};
    const int nx = int(xs.size()), ny = int(ys.size());
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            if (where && !where(i, j))
                continue;
            const Values want = truth(xs[size_t(i)], ys[size_t(j)]);
            for (int k = 0; k < DerivedField::kindCount; ++k) {
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

// u = a x + b y, v = c x + d y.
Field linear(double a, double b, double c, double d)
{
    return [=](double x, double y) { return std::array<double, 2>{a * x + b * y, c * x + d * y}; };
}

Truth of(const Field& f)
{
    return [f](double x, double y) { return analytic(f, x, y); };
}

} // namespace

class TestDerivedField : public QObject
{
    Q_OBJECT

private slots:
    void stretchedGrids_data();
    void stretchedGrids();
    void secondOrder_data();
    void secondOrder();
    void loadedFiles_data();
    void loadedFiles();
    void units_data();
    void units();
    void cacheComputesOnce();
};

void TestDerivedField::stretchedGrids_data()
{
    QTest::addColumn<Field>("field");
    QTest::addColumn<Sets>("constant"); // every set of a linear field
    QTest::addColumn<Points>("holes");  // of the 9 x 7 grid
    QTest::addColumn<Points>("unknown");
    const double w = 0.7, a = 1.3;
    QTest::newRow("solid-body rotation")
        << linear(0, -w, w, 0) << Sets{2 * w, 0, w * w, w, 0, 0, 0} << Points{} << Points{};
    QTest::newRow("pure strain") << linear(a, 0, 0, -a) << Sets{0, 0, -a * a, 0, 2 * a, 0, 2 * a}
                                 << Points{} << Points{};
    QTest::newRow("simple shear") << linear(0, a, 0, 0) << Sets{-a, 0, 0, 0, a, a, 0} << Points{}
                                  << Points{};
    QTest::newRow("quadratic") << quadratic << Sets{} << Points{} << Points{};
    QTest::newRow("hole inside") << quadratic << Sets{} << Points{31} << Points{31};
    QTest::newRow("hole on the edge") << quadratic << Sets{} << Points{27} << Points{27};
    QTest::newRow("hole beside the edge: the edge point has no pair")
        << quadratic << Sets{} << Points{28} << Points{27, 28};
    QTest::newRow("holes two apart: the point between has no pair")
        << quadratic << Sets{} << Points{30, 32} << Points{30, 31, 32};
    QTest::newRow("hole above the corner") << quadratic << Sets{} << Points{9} << Points{0, 9};
}

// Every other point keeps its exact value: no NaN spreads further, no value
// is invented where a stencil has no valid points.
void TestDerivedField::stretchedGrids()
{
    QFETCH(Field, field);
    QFETCH(Sets, constant);
    QFETCH(Points, holes);
    QFETCH(Points, unknown);
    const std::vector<double> xs = axis(9, -2, 3), ys = axis(7, -1, 2, -0.4);
    const QList<ScalarSet> sets = derived(field, xs, ys, holes);
    const Values error = worst(sets, xs, ys, of(field), false,
                               [&](int i, int j) { return !unknown.contains(j * 9 + i); });
    for (int k = 0; k < DerivedField::kindCount; ++k) {
        const QString name = DerivedField::name(Kind(k));
        QVERIFY2(error[size_t(k)] < 2e-5, qPrintable(name));
        for (int p : unknown)
            QVERIFY2(std::isnan(sets[k].values[p]), qPrintable(name + QString::number(p)));
        if (!constant.isEmpty())
            QVERIFY2(std::abs(sets[k].minimum - constant[k]) < 2e-5 &&
                         std::abs(sets[k].maximum - constant[k]) < 2e-5,
                     qPrintable(name));
    }
}

void TestDerivedField::secondOrder_data()
{
    QTest::addColumn<bool>("edges");
    QTest::newRow("inside") << false;
    QTest::newRow("edges") << true;
}

// A Lamb-Oseen vortex (circulation 1, core radius 0.3) off the grid's middle:
// at the coarse grid's points the vorticity's error falls by about four on
// the grid of half the spacing.
void TestDerivedField::secondOrder()
{
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
        const std::vector<double> xs = axis(n, -1, 1, 0.2), ys = axis(n, -0.8, 0.9, -0.2);
        const auto coarse = [&](int i, int j) {
            const bool edge = i == 0 || j == 0 || i == n - 1 || j == n - 1;
            return i % (level + 1) == 0 && j % (level + 1) == 0 && edge == edges;
        };
        error[level] = worst(derived(vortex, xs, ys), xs, ys, of(vortex), false, coarse)[0];
    }
    QVERIFY2(error[0] / error[1] > 3.3 && error[0] / error[1] < 5,
             qPrintable(QStringLiteral("%1 / %2").arg(error[0]).arg(error[1])));
}

void TestDerivedField::loadedFiles_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("yFastest");
    QTest::addColumn<QString>("header"); // column text: names and units
    QTest::addColumn<Field>("field");
    QTest::addColumn<Truth>("truth");
    QTest::addColumn<QString>("unit"); // of the vorticity
    // The quadratic field away from the origin at tens of metres per second.
    QTest::newRow("native pair, fast index along y")
        << "native" << true << "" << quadratic << of(quadratic) << "";
    QTest::newRow("VTK, y descending") << "vtk" << false << "" << quadratic << of(quadratic) << "";
    QTest::newRow("column text, m/s over m") << "txt" << false << "x [m]\ty [m]\tu [m/s]\tv [m/s]"
                                             << quadratic << of(quadratic) << "1/s";
    // Solid-body rotation about the pole at the earth's rate on a 1-degree
    // grid: w = 2 W sin(phi), Q = (W sin phi)^2, lambda_ci = W |sin phi|.
    const double w = 7.292e-5;
    const Field globe = [=](double, double lat) {
        return std::array<double, 2>{w * DerivedFieldGrid::earthRadius * std::cos(lat * M_PI / 180),
                                     0};
    };
    const Truth rotation = [=](double, double lat) {
        const double s = std::sin(lat * M_PI / 180);
        return Values{2 * w * s, 0, w * w * s * s, w * std::abs(s), 0, 0, 0};
    };
    QTest::newRow("column text, degrees_east")
        << "txt" << false << "lon [degrees_east]\tlat [degrees_north]\tu [m s-1]\tv [m s-1]"
        << globe << rotation << "s-1";
    QTest::newRow("column text, degree_E")
        << "txt" << false << "lon [degree_E]\tlat [degree_N]\tu [m s-1]\tv [m s-1]" << globe
        << rotation << "s-1";
}

// Every set as for the file's own values, to 1e-3 of the largest rate (the
// file's float positions near 100 hold spacings near 0.3 to about 1e-5).
void TestDerivedField::loadedFiles()
{
    QFETCH(QString, format);
    QFETCH(bool, yFastest);
    QFETCH(QString, header);
    QFETCH(Field, field);
    QFETCH(Truth, truth);
    QFETCH(QString, unit);
    const bool sphere = header.contains(QLatin1String("deg"));
    const std::vector<double> xs = sphere ? axis(31, 10, 40, 0) : axis(11, 100, 104);
    const std::vector<double> ys = sphere ? axis(131, -60, 70, 0) : axis(8, -3, 3, -0.3);
    const int nx = int(xs.size()), ny = int(ys.size());
    const auto number = [](double value) { return QByteArray::number(float(value), 'g', 9); };
    FlowFiles::Grid native{{}, {}, {}, {}, yFastest};
    QByteArray text = header.toLatin1() + '\n';
    QByteArray vtk = "# vtk DataFile Version 3.0\nt\nASCII\nDATASET RECTILINEAR_GRID\nDIMENSIONS " +
                     QByteArray::number(nx) + ' ' + QByteArray::number(ny) + " 1\nX_COORDINATES " +
                     QByteArray::number(nx) + " float\n";
    QByteArray vtkVectors = "\nZ_COORDINATES 1 float\n0\nPOINT_DATA " +
                            QByteArray::number(nx * ny) + "\nVECTORS v float\n";
    for (double x : xs)
        native.xs << float(x), vtk += number(x) + ' ';
    vtk += "\nY_COORDINATES " + QByteArray::number(ny) + " float\n";
    for (int j = 0; j < ny; ++j) {
        const double y = ys[size_t(j)], down = ys[size_t(ny - 1 - j)];
        native.ys << float(y);
        vtk += number(down) + ' ';
        for (double x : xs) {
            const auto uv = field(float(x), float(y));
            native.vectors << Vector3(float(uv[0]), float(uv[1]), 0);
            text +=
                number(x) + '\t' + number(y) + '\t' + number(uv[0]) + '\t' + number(uv[1]) + '\n';
            const auto flipped = field(float(x), float(down));
            vtkVectors += number(flipped[0]) + ' ' + number(flipped[1]) + " 0\n";
        }
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(format == QLatin1String("native") ? "f" : "f." + format);
    QVERIFY(format == QLatin1String("native")
                ? native.write(path)
                : FlowFiles::writeBytes(path,
                                        format == QLatin1String("vtk") ? vtk + vtkVectors : text));
    QString reason;
    std::unique_ptr<FlowData> loaded(FlowData::fromFile(path, &reason));
    QVERIFY2(loaded, qPrintable(reason));
    QCOMPARE(loaded->axesExchanged(), yFastest);
    const DerivedFieldGrid grid =
        DerivedFieldGrid::fromFlowData(static_cast<const RectangularFlowData&>(*loaded));
    QCOMPARE(grid.metric == DerivedFieldGrid::Sphere, sphere);
    const QList<ScalarSet> sets = DerivedField::compute(grid, allKinds);
    double rate = 0.0;
    for (double x : xs)
        for (double y : ys)
            rate = std::max(rate, std::abs(truth(x, y)[0]));
    const Values error = worst(sets, xs, ys, truth, yFastest);
    for (int k = 0; k < DerivedField::kindCount; ++k)
        QVERIFY2(error[size_t(k)] < 1e-3 * (k == DerivedField::QCriterion ? rate * rate : rate),
                 qPrintable(DerivedField::name(Kind(k))));
    QCOMPARE(sets[DerivedField::Vorticity].unit, unit);
    // Asked alone, a set takes fewer derivatives and must not change.
    for (Kind kind : {DerivedField::Vorticity, DerivedField::Divergence}) {
        const ScalarSet alone = DerivedField::compute(grid, {kind}).first();
        QVERIFY(std::equal(alone.values.get(), alone.values.get() + alone.values.size(),
                           sets[kind].values.get(), [](float a, float b) { return a == b; }));
    }
}

void TestDerivedField::units_data()
{
    QTest::addColumn<QString>("velocity");
    QTest::addColumn<QString>("length");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("unit");
    const char* rows[][5] = {{"Q of m/s over metres", "m/s", "metres", "2", "1/s2"},
                             {"Q of m.s-1 over m", "m.s-1", "m", "2", "s-2"},
                             {"cm/s over m", "cm/s", "m", "0", "cm/(m s)"},
                             {"Q of cm s-1 over m", "cm s-1", "m", "2", "cm2 m-2 s-2"},
                             {"knots over km", "kn", "km", "0", "kn/km"},
                             {"no velocity unit", "", "m", "0", ""},
                             {"no length unit", "m/s", "", "2", ""}};
    for (const auto& row : rows)
        QTest::newRow(row[0]) << row[1] << row[2] << QByteArray(row[3]).toInt() << row[4];
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
    const auto loaded = FlowFiles::loadRectangular(g, dir.filePath(QStringLiteral("f")));
    QVERIFY(loaded);
    DerivedFieldCache cache(*loaded);
    // Queued to this thread: the signal comes from the cache's own thread.
    QList<int> computedKinds;
    connect(&cache, &DerivedFieldCache::computed, this,
            [&computedKinds](int kind) { computedKinds.append(kind); });
    QVERIFY(!cache.find(DerivedField::Vorticity));
    QVERIFY(!cache.request(DerivedField::Vorticity));
    // The set may be done by now on a quick machine; either way it is
    // computed once (counted below).
    cache.request(DerivedField::Vorticity);
    QTRY_VERIFY_WITH_TIMEOUT(!computedKinds.isEmpty(), 10000);
    QCOMPARE(computedKinds.first(), int(DerivedField::Vorticity));
    const ScalarSet* set = cache.find(DerivedField::Vorticity);
    QVERIFY(set && std::abs(set->minimum - 2) < 1e-4 && std::abs(set->maximum - 2) < 1e-4);
    QVERIFY(cache.request(DerivedField::Vorticity));
    QTest::qWait(50);
    QCOMPARE(computedKinds.size(), 1);
    QVERIFY(!cache.find(DerivedField::Divergence));
    const ScalarSet* there = nullptr;
    std::thread other([&] { there = cache.compute(DerivedField::Divergence); });
    const ScalarSet* here = cache.compute(DerivedField::Divergence);
    other.join();
    QVERIFY(here && here == there);
}

QTEST_GUILESS_MAIN(TestDerivedField)
#include "tst_derivedfield.moc"
