#include "data/Vector3.h"
#include "render/LineIntegralConvolution.h"

#include <QTest>

#include <cmath>
#include <vector>

using Lic = LineIntegralConvolution;

namespace {

constexpr double pi = 3.14159265358979323846;

// The field at pixel (c, r) of a raster over [0, 2] x [0, 1] for "gyre"
// (the steady double gyre), else a uniform stream at `degrees`; a disc of
// NaN vectors where `hole` is set.
std::vector<Vector3> field(const QString& kind, double degrees, QSize size, bool hole = false)
{
    std::vector<Vector3> vectors(std::size_t(size.width()) * size.height());
    for (int r = 0; r < size.height(); ++r)
        for (int c = 0; c < size.width(); ++c) {
            const double x = 2.0 * c / (size.width() - 1);
            const double y = double(r) / (size.height() - 1);
            Vector3& v = vectors[std::size_t(r) * size.width() + c];
            if (kind == QLatin1String("gyre"))
                v = Vector3(float(-pi * std::sin(pi * x) * std::cos(pi * y)),
                            float(pi * std::cos(pi * x) * std::sin(pi * y)), 0.0f);
            else
                v = Vector3(float(std::cos(degrees * pi / 180.0)),
                            float(std::sin(degrees * pi / 180.0)), 0.0f);
            if (hole && std::hypot(x - 0.7, y - 0.4) < 0.15)
                v = Vector3(NAN, NAN, 0.0f);
        }
    return vectors;
}

// Sums over a square window of a per-pixel quantity, by a summed-area table.
struct WindowSum
{
    int width;
    std::vector<double> table;

    WindowSum(const std::vector<double>& values, QSize size)
        : width(size.width() + 1), table(std::size_t(width) * (size.height() + 1), 0.0)
    {
        for (int r = 0; r < size.height(); ++r)
            for (int c = 0; c < size.width(); ++c)
                table[std::size_t(r + 1) * width + c + 1] =
                    values[std::size_t(r) * size.width() + c] +
                    table[std::size_t(r) * width + c + 1] + table[std::size_t(r + 1) * width + c] -
                    table[std::size_t(r) * width + c];
    }
    // Over columns [c0, c1) and rows [r0, r1).
    double over(int c0, int r0, int c1, int r1) const
    {
        return table[std::size_t(r1) * width + c1] - table[std::size_t(r0) * width + c1] -
               table[std::size_t(r1) * width + c0] + table[std::size_t(r0) * width + c0];
    }
};

// The orientation in degrees, modulo 180, of a tensor [a b; b d]'s first
// eigenvector.
double orientation(double a, double b, double d)
{
    return 0.5 * std::atan2(2.0 * b, a - d) * 180.0 / pi;
}

double turn(double degrees)
{
    return std::remainder(degrees, 180.0);
}

} // namespace

class TestLineIntegralConvolution : public QObject
{
    Q_OBJECT

private slots:
    void followsTheFlow_data();
    void followsTheFlow();
    void splitFreeAndEmptyWhereUndefined_data();
    void splitFreeAndEmptyWhereUndefined();
};

void TestLineIntegralConvolution::followsTheFlow_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<int>("kernel");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("uniform at +30 degrees, Hann")
        << "uniform" << 30.0 << int(Lic::Hann) << QSize(500, 500) << 2.0;
    QTest::newRow("uniform at -60 degrees, box")
        << "uniform" << -60.0 << int(Lic::Box) << QSize(500, 500) << 2.0;
    QTest::newRow("uniform at 100 degrees, Hann")
        << "uniform" << 100.0 << int(Lic::Hann) << QSize(500, 500) << 2.0;
    QTest::newRow("double gyre, Hann") << "gyre" << 0.0 << int(Lic::Hann) << QSize(800, 400) << 5.0;
}

// The structure tensor of the texture (gradient products summed over a
// window) has its weak axis along the lines the texture shows; rows run
// along +y, as the picture shown y up has them. The oracle is the same
// window's mean of the field's doubled direction angle, so it holds where
// the direction turns within the window too; the gyre's windows must keep
// the speed above 5 % of its largest throughout.
void TestLineIntegralConvolution::followsTheFlow()
{
    QFETCH(QString, kind);
    QFETCH(double, degrees);
    QFETCH(int, kernel);
    QFETCH(QSize, size);
    QFETCH(double, tolerance);
    const std::vector<Vector3> vectors = field(kind, degrees, size);
    Lic::Parameters parameters;
    parameters.kernel = Lic::Kernel(kernel);
    std::vector<float> texture(vectors.size());
    // Square pixels, so the picture shows the field's own angles.
    const float aspect = float(size.width() - 1) / float(size.height() - 1);
    QVERIFY(Lic::compute(vectors.data(), size, aspect, parameters, texture.data()));

    const std::size_t count = vectors.size();
    std::vector<double> gxx(count), gxy(count), gyy(count), cos2(count), sin2(count), speed(count);
    double fastest = 0.0;
    for (int r = 1; r + 1 < size.height(); ++r)
        for (int c = 1; c + 1 < size.width(); ++c) {
            const std::size_t p = std::size_t(r) * size.width() + c;
            // Scharr's derivatives: central differences alone lean the
            // gradient of fine lines towards the diagonals.
            const std::size_t up = std::size_t(size.width());
            const auto at = [&](std::size_t q) { return double(texture[q]); };
            const double gx = 3.0 * (at(p + 1 - up) - at(p - 1 - up)) +
                              10.0 * (at(p + 1) - at(p - 1)) +
                              3.0 * (at(p + 1 + up) - at(p - 1 + up));
            const double gy = 3.0 * (at(p - 1 + up) - at(p - 1 - up)) +
                              10.0 * (at(p + up) - at(p - up)) +
                              3.0 * (at(p + 1 + up) - at(p + 1 - up));
            gxx[p] = gx * gx;
            gxy[p] = gx * gy;
            gyy[p] = gy * gy;
            const double angle = 2.0 * std::atan2(vectors[p].y, vectors[p].x);
            cos2[p] = std::cos(angle);
            sin2[p] = std::sin(angle);
            speed[p] = std::hypot(vectors[p].x, vectors[p].y);
            fastest = std::max(fastest, speed[p]);
        }
    const WindowSum sxx(gxx, size), sxy(gxy, size), syy(gyy, size), sc(cos2, size), ss(sin2, size);
    const int window = 5 * parameters.kernelLength;
    int checked = 0;
    double worst = 0.0;
    QString worstAt;
    for (int r0 = window; r0 + 2 * window <= size.height(); r0 += window / 2)
        for (int c0 = window; c0 + 2 * window <= size.width(); c0 += window / 2) {
            const int c1 = c0 + window, r1 = r0 + window;
            bool fast = true;
            for (int r = r0; r < r1 && fast; ++r)
                for (int c = c0; c < c1 && fast; ++c)
                    fast = speed[std::size_t(r) * size.width() + c] > 0.05 * fastest;
            if (!fast)
                continue;
            const double seen = orientation(sxx.over(c0, r0, c1, r1), sxy.over(c0, r0, c1, r1),
                                            syy.over(c0, r0, c1, r1)) +
                                90.0;
            const double flow =
                0.5 * std::atan2(ss.over(c0, r0, c1, r1), sc.over(c0, r0, c1, r1)) * 180.0 / pi;
            const double off = std::abs(turn(seen - flow));
            if (off > worst) {
                worst = off;
                worstAt = QStringLiteral("window at (%1, %2): lines at %3, flow at %4")
                              .arg(c0)
                              .arg(r0)
                              .arg(seen)
                              .arg(flow);
            }
            ++checked;
        }
    QVERIFY(checked >= 4);
    QVERIFY2(worst <= tolerance, qPrintable(worstAt));
}

void TestLineIntegralConvolution::splitFreeAndEmptyWhereUndefined_data()
{
    QTest::addColumn<int>("kernel");
    QTest::addColumn<int>("contrast");
    QTest::addColumn<int>("length");
    QTest::newRow("box, stretched") << int(Lic::Box) << int(Lic::Stretch) << 8;
    QTest::newRow("Hann, second pass") << int(Lic::Hann) << int(Lic::SecondPass) << 30;
    QTest::newRow("Hann, equalised") << int(Lic::Hann) << int(Lic::Equalize) << 20;
}

// compute() runs the tiles over the cores; one tile at a time, last tile
// first, must give every pixel the same value. Pixels with NaN vectors stay
// NaN, all others lie in [0, 1].
void TestLineIntegralConvolution::splitFreeAndEmptyWhereUndefined()
{
    QFETCH(int, kernel);
    QFETCH(int, contrast);
    QFETCH(int, length);
    const QSize size(333, 270); // not a multiple of the tile side
    const std::vector<Vector3> vectors = field(QStringLiteral("gyre"), 0.0, size, true);
    const Lic::Parameters parameters{length, Lic::Kernel(kernel), Lic::Contrast(contrast)};
    const float aspect = 2.0f;
    std::vector<float> texture(vectors.size());
    QVERIFY(Lic::compute(vectors.data(), size, aspect, parameters, texture.data()));

    std::vector<float> directions(2 * vectors.size()), input(vectors.size()),
        reference(vectors.size());
    Lic::unitDirections(vectors.data(), size, aspect, directions.data());
    for (int r = 0; r < size.height(); ++r)
        for (int c = 0; c < size.width(); ++c)
            input[std::size_t(r) * size.width() + c] = Lic::noise(c, r);
    for (int pass = 0; pass < (parameters.contrast == Lic::SecondPass ? 2 : 1); ++pass) {
        for (int tile = Lic::tileCount(size) - 1; tile >= 0; --tile)
            Lic::convolveTiles(directions.data(), size, length, parameters.kernel, input.data(),
                               tile, tile + 1, reference.data());
        if (parameters.contrast == Lic::Equalize)
            Lic::equalize(reference.data(), qsizetype(reference.size()));
        else
            Lic::stretch(reference.data(), qsizetype(reference.size()));
        for (std::size_t p = 0; p < input.size(); ++p)
            input[p] = std::isnan(reference[p]) ? 0.5f : reference[p];
    }

    int empty = 0;
    for (std::size_t p = 0; p < vectors.size(); ++p) {
        const QString where =
            QStringLiteral("pixel (%1, %2)").arg(int(p) % size.width()).arg(int(p) / size.width());
        const bool undefined = std::isnan(vectors[p].x);
        empty += undefined;
        QVERIFY2(std::isnan(texture[p]) == undefined, qPrintable(where));
        if (undefined)
            continue;
        QVERIFY2(texture[p] >= 0.0f && texture[p] <= 1.0f, qPrintable(where));
        QVERIFY2(texture[p] == reference[p], qPrintable(where));
    }
    QVERIFY(empty > 1000);
}

QTEST_APPLESS_MAIN(TestLineIntegralConvolution)
#include "tst_lineintegralconvolution.moc"
