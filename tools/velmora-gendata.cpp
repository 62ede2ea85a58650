// velmora-gendata: writes the sample flow data sets shipped in dat/.
//
// Every field is analytic (or differentiated numerically from an analytic
// velocity), computed in double precision and stored as float, so the output
// is the same on every run. Lengths are in units of the body diameter or the
// box size, velocities in units of the free stream or lid speed.

#include "data/FlowDataWriter.h"
#include "tools/ToolMain.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

struct Sample
{
    QList<float> x;
    QList<float> y;
    QList<Vector3> velocity;
    QList<QList<float>> scalars;

    int columns() const { return int(x.size()); }
    int rows() const { return int(y.size()); }
    int index(int i, int j) const { return j * columns() + i; }
};

QList<float> uniformCoordinates(int n, double from, double to)
{
    QList<float> c;
    for (int k = 0; k < n; ++k)
        c.append(float(from + (to - from) * k / (n - 1)));
    return c;
}

// n coordinates on [from, to] whose local spacing is inversely proportional to
// density(x): the cumulative density is tabulated finely and inverted.
QList<float> clusteredCoordinates(int n, double from, double to,
                                  const std::function<double(double)>& density)
{
    const int fine = 200000;
    std::vector<double> cumulative(fine + 1, 0.0);
    const double h = (to - from) / fine;
    for (int k = 1; k <= fine; ++k) {
        const double mid = from + (k - 0.5) * h;
        cumulative[k] = cumulative[k - 1] + density(mid) * h;
    }
    QList<float> c;
    int k = 0;
    for (int m = 0; m < n; ++m) {
        const double target = cumulative[fine] * m / (n - 1);
        while (k < fine - 1 && cumulative[k + 1] < target)
            ++k;
        const double t = (target - cumulative[k]) / (cumulative[k + 1] - cumulative[k]);
        c.append(float(from + (k + std::clamp(t, 0.0, 1.0)) * h));
    }
    c.first() = float(from);
    c.last() = float(to);
    return c;
}

double gaussian(double d, double width)
{
    return std::exp(-(d * d) / (width * width));
}

double smoothStep(double edge0, double edge1, double v)
{
    const double t = std::clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// dv/dx - du/dy by central differences on the (possibly non-uniform) grid,
// one-sided at the borders.
QList<float> vorticity(const Sample& s)
{
    QList<float> w(s.columns() * s.rows());
    for (int j = 0; j < s.rows(); ++j) {
        const int j0 = std::max(j - 1, 0);
        const int j1 = std::min(j + 1, s.rows() - 1);
        for (int i = 0; i < s.columns(); ++i) {
            const int i0 = std::max(i - 1, 0);
            const int i1 = std::min(i + 1, s.columns() - 1);
            const double dvdx =
                (double(s.velocity[s.index(i1, j)].y) - s.velocity[s.index(i0, j)].y) /
                (double(s.x[i1]) - s.x[i0]);
            const double dudy =
                (double(s.velocity[s.index(i, j1)].x) - s.velocity[s.index(i, j0)].x) /
                (double(s.y[j1]) - s.y[j0]);
            w[s.index(i, j)] = float(dvdx - dudy);
        }
    }
    return w;
}

struct Vortex
{
    double x;
    double y;
    double circulation;
    double coreRadius;
};

// Flow past a cylinder of diameter 1 at the origin, free stream 1 along +x,
// with a Karman street of Lamb-Oseen vortices in a decaying wake deficit. The
// grid is refined towards the wake centreline and the body.
Sample vortexStreet()
{
    Sample s;
    s.x = clusteredCoordinates(400, -3.0, 17.0, [](double x) {
        return 1.0 + 2.5 * gaussian(x, 1.0) + 0.6 * gaussian(x - 4.0, 5.0);
    });
    s.y =
        clusteredCoordinates(200, -5.0, 5.0, [](double y) { return 1.0 + 2.5 * gaussian(y, 1.6); });

    const double radius = 0.5;
    const double spacing = 4.0; // between vortices of one row
    const double rowDistance = 1.1;
    QList<Vortex> street;
    for (int k = 0; 1.4 + k * spacing / 2 < 19.0; ++k) {
        const double x = 1.4 + k * spacing / 2;
        const bool upper = k % 2 == 0;
        // The vortex in formation behind the body is still gaining strength.
        const double strength = 2.6 * std::exp(-x / 40.0) * (k == 0 ? 0.6 : 1.0);
        street.append({x, upper ? rowDistance / 2 : -rowDistance / 2, upper ? -strength : strength,
                       0.32 + 0.035 * x});
    }

    QList<float> pressure;
    for (int j = 0; j < s.rows(); ++j) {
        for (int i = 0; i < s.columns(); ++i) {
            const double x = s.x[i];
            const double y = s.y[j];
            const double r2 = x * x + y * y;
            if (r2 < radius * radius) {
                s.velocity.append(Vector3(0.0f, 0.0f, 0.0f));
                pressure.append(1.0f);
                continue;
            }
            // Potential flow around the cylinder.
            const double a2r4 = radius * radius / (r2 * r2);
            double u = 1.0 - a2r4 * (x * x - y * y);
            double v = -2.0 * a2r4 * x * y;
            const double potentialSpeed2 = u * u + v * v;

            // Wake and street fade in away from the wall so the body keeps
            // its no-penetration condition.
            const double wall = smoothStep(radius, radius + 0.4, std::sqrt(r2));
            const double behind = smoothStep(-0.2, 0.6, x);
            const double halfWidth = 0.55 + 0.07 * std::max(x, 0.0);
            const double deficit = 0.75 * std::exp(-std::max(x, 0.0) / 22.0);
            u -= wall * behind * deficit * gaussian(y, halfWidth);

            double corePressure = 0.0;
            for (const Vortex& vortex : street) {
                const double dx = x - vortex.x;
                const double dy = y - vortex.y;
                const double d2 = dx * dx + dy * dy + 1e-12;
                const double rc2 = vortex.coreRadius * vortex.coreRadius;
                const double swirl =
                    vortex.circulation / (2.0 * pi * d2) * (1.0 - std::exp(-d2 / rc2));
                u -= wall * swirl * dy;
                v += wall * swirl * dx;
                // Lamb-Oseen core: the centre sits ln 2 * (circulation / (2 pi rc))^2 below
                // ambient.
                const double peak = vortex.circulation / (2.0 * pi * vortex.coreRadius);
                corePressure -= wall * std::log(2.0) * peak * peak * std::exp(-d2 / (1.3 * rc2));
            }
            s.velocity.append(Vector3(float(u), float(v), 0.0f));
            // Pressure coefficient: Bernoulli on the potential part plus the vortex cores.
            pressure.append(float(1.0 - potentialSpeed2 + corePressure));
        }
    }
    // Differences across the body surface would measure the jump to the
    // solid, not the flow; such points get the body's zero vorticity.
    QList<float> w = vorticity(s);
    const auto solid = [&](int i, int j) {
        i = std::clamp(i, 0, s.columns() - 1);
        j = std::clamp(j, 0, s.rows() - 1);
        return double(s.x[i]) * s.x[i] + double(s.y[j]) * s.y[j] < radius * radius;
    };
    for (int j = 0; j < s.rows(); ++j) {
        for (int i = 0; i < s.columns(); ++i) {
            if (solid(i - 1, j) || solid(i + 1, j) || solid(i, j - 1) || solid(i, j + 1))
                w[s.index(i, j)] = 0.0f;
        }
    }
    s.scalars.append(w);
    s.scalars.append(pressure);
    return s;
}

// The double gyre on [0, 2] x [0, 1] at the moment its separatrix is furthest
// from x = 1: psi = A sin(pi f(x)) sin(pi y), f = eps x^2 + (1 - 2 eps) x.
Sample doubleGyre()
{
    Sample s;
    s.x = uniformCoordinates(320, 0.0, 2.0);
    s.y = uniformCoordinates(160, 0.0, 1.0);
    const double amplitude = 0.1;
    const double eps = 0.25;
    QList<float> streamFunction;
    for (int j = 0; j < s.rows(); ++j) {
        for (int i = 0; i < s.columns(); ++i) {
            const double x = s.x[i];
            const double y = s.y[j];
            const double f = eps * x * x + (1.0 - 2.0 * eps) * x;
            const double df = 2.0 * eps * x + 1.0 - 2.0 * eps;
            const double u = -pi * amplitude * std::sin(pi * f) * std::cos(pi * y);
            const double v = pi * amplitude * std::cos(pi * f) * std::sin(pi * y) * df;
            s.velocity.append(Vector3(float(u), float(v), 0.0f));
            streamFunction.append(float(amplitude * std::sin(pi * f) * std::sin(pi * y)));
        }
    }
    s.scalars.append(streamFunction);
    return s;
}

// A meandering channel of width 0.6 running along +y on [0, 1] x [0, 4], with
// a parabolic profile across it, still fluid outside its walls, and the
// temperature of a heated left wall diffusing into the stream.
Sample meanderingChannel()
{
    Sample s;
    s.x = uniformCoordinates(60, 0.0, 1.0);
    s.y = uniformCoordinates(240, 0.0, 4.0);
    const double width = 0.6;
    const double amplitude = 0.15;
    const double wavelength = 2.0;
    QList<float> temperature;
    for (int j = 0; j < s.rows(); ++j) {
        for (int i = 0; i < s.columns(); ++i) {
            const double x = s.x[i];
            const double y = s.y[j];
            const double centreShift = amplitude * std::sin(2.0 * pi * y / wavelength);
            const double slope =
                amplitude * 2.0 * pi / wavelength * std::cos(2.0 * pi * y / wavelength);
            const double xi = (x - 0.2 - centreShift) / width;
            // psi = -P(xi), P = 3 xi^2 - 2 xi^3, keeps the flow divergence-free.
            const double profile = (xi > 0.0 && xi < 1.0) ? 6.0 * xi * (1.0 - xi) / width : 0.0;
            const double along = width * profile;
            s.velocity.append(Vector3(float(along * slope), float(along), 0.0f));
            const double thickness = 0.04 + 0.05 * y;
            temperature.append(float(std::exp(-std::max(xi, 0.0) / thickness)));
        }
    }
    s.scalars.append(temperature);
    return s;
}

// A lid-driven square cavity whose primary eddy sways back and forth: the
// regularised cavity stream function psi = 8 f(s(x)) g(y), f = s^2 (1 - s)^2,
// g = y^4 - y^2, with the warp s(x) = x + e(t) x (1 - x), |e| < 1.
Sample cavity(double time)
{
    Sample s;
    const auto walls = [](double c) {
        return 1.0 + 2.0 * gaussian(c, 0.08) + 2.0 * gaussian(1.0 - c, 0.08);
    };
    s.x = clusteredCoordinates(101, 0.0, 1.0, walls);
    s.y = clusteredCoordinates(101, 0.0, 1.0, walls);
    const double e = 0.5 * std::sin(2.0 * pi * time);
    for (int j = 0; j < s.rows(); ++j) {
        for (int i = 0; i < s.columns(); ++i) {
            const double x = s.x[i];
            const double y = s.y[j];
            const double w = x + e * x * (1.0 - x);
            const double dw = 1.0 + e * (1.0 - 2.0 * x);
            const double f = w * w * (1.0 - w) * (1.0 - w);
            const double df = 4.0 * w * w * w - 6.0 * w * w + 2.0 * w;
            const double g = y * y * y * y - y * y;
            const double dg = 4.0 * y * y * y - 2.0 * y;
            s.velocity.append(Vector3(float(8.0 * f * dg), float(-8.0 * df * dw * g), 0.0f));
        }
    }
    s.scalars.append(vorticity(s));
    return s;
}

bool writeSample(const Sample& s, const QString& dataName, bool fastIndexAlongY, int timeSteps,
                 float timeDifference, QTextStream& out)
{
    FlowDataWriter writer;
    QString error;
    if (!writer.setGrid(s.x, s.y, &error)) {
        ToolMain::writeError(dataName + QStringLiteral(": ") + error + QLatin1Char('\n'));
        return false;
    }
    writer.setVectors(s.velocity);
    for (const QList<float>& set : s.scalars)
        writer.addScalarSet(set);
    writer.setTimeInformation(timeSteps, timeDifference);
    writer.setFastIndexAlongY(fastIndexAlongY);
    if (!writer.write(dataName, &error)) {
        ToolMain::writeError(dataName + QStringLiteral(": ") + error + QLatin1Char('\n'));
        return false;
    }
    out << "wrote " << dataName << ".gri/.dat (" << s.columns() << " x " << s.rows() << ", "
        << s.scalars.size() << " scalar sets)" << Qt::endl;
    return true;
}

// A body-fitted O-grid round the cylinder of diameter 1 in potential flow
// of speed 1 from the left: 120 points round (the first repeated at the end
// to close the seam) by 60 outwards, spaced geometrically from the wall to
// 8 diameters, with the pressure coefficient. A VTK XML structured grid, its
// arrays as little-endian Float32 in base64 behind a UInt32 size.
bool writeCylinderGrid(const QString& fileName, QTextStream& out)
{
    const int around = 120;
    const int outwards = 60;
    const double wall = 0.5;
    const double growth = std::pow(16.0, 1.0 / (outwards - 1));
    QByteArray points, velocity, pressure;
    auto put = [](QByteArray& array, double value) {
        const float single = float(value);
        quint32 bits = 0;
        std::memcpy(&bits, &single, 4);
        char bytes[4];
        qToLittleEndian(bits, bytes);
        array.append(bytes, 4);
    };
    for (int j = 0; j < outwards; ++j) {
        const double r = wall * std::pow(growth, j);
        for (int i = 0; i < around; ++i) {
            const double t = i == around - 1 ? 0.0 : 2.0 * pi * i / (around - 1);
            const double a = (wall * wall) / (r * r);
            const double radial = (1.0 - a) * std::cos(t);
            const double tangential = -(1.0 + a) * std::sin(t);
            const double u = radial * std::cos(t) - tangential * std::sin(t);
            const double v = radial * std::sin(t) + tangential * std::cos(t);
            for (double value : {r * std::cos(t), r * std::sin(t), 0.0})
                put(points, value);
            for (double value : {u, v, 0.0})
                put(velocity, value);
            put(pressure, 1.0 - (u * u + v * v));
        }
    }
    auto array = [&](const char* attributes, const QByteArray& data) {
        QByteArray size(4, '\0');
        qToLittleEndian(quint32(data.size()), size.data());
        return QByteArray("<DataArray type=\"Float32\" ") + attributes + " format=\"binary\">" +
               size.toBase64() + data.toBase64() + "</DataArray>\n";
    };
    const QByteArray extent =
        "0 " + QByteArray::number(around - 1) + " 0 " + QByteArray::number(outwards - 1) + " 0 0";
    const QByteArray text =
        "<?xml version=\"1.0\"?>\n<VTKFile type=\"StructuredGrid\" version=\"1.0\" "
        "byte_order=\"LittleEndian\" header_type=\"UInt32\">\n<StructuredGrid WholeExtent=\"" +
        extent + "\">\n<Piece Extent=\"" + extent +
        "\">\n<PointData Vectors=\"velocity\" Scalars=\"pressure_coefficient\">\n" +
        array("Name=\"velocity\" NumberOfComponents=\"3\"", velocity) +
        array("Name=\"pressure_coefficient\"", pressure) + "</PointData>\n<Points>\n" +
        array("NumberOfComponents=\"3\"", points) +
        "</Points>\n</Piece>\n</StructuredGrid>\n</VTKFile>\n";
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        ToolMain::writeError(fileName + QStringLiteral(": cannot write\n"));
        return false;
    }
    out << "wrote " << fileName << " (" << around << " x " << outwards << ", 1 scalar set)"
        << Qt::endl;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    ToolMain tool(argc, argv, QStringLiteral("velmora-gendata"));
    QTextStream out(stdout);

    QCommandLineParser& parser = tool.parser();
    parser.setApplicationDescription(
        QStringLiteral("Writes the sample flow data sets into DIRECTORY (default: dat).\n"
                       "The output is the same on every run."));
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("DIRECTORY"),
                                 QStringLiteral("where to write the samples (default: dat)"),
                                 QStringLiteral("[DIRECTORY]"));
    if (const std::optional<int> done = tool.parse())
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return tool.usageError(QString(), QStringLiteral("usage: velmora-gendata [DIRECTORY]\n"));
    const QString directory = positional.isEmpty() ? QStringLiteral("dat") : positional.first();
    if (!QDir().mkpath(directory)) {
        tool.report(QStringLiteral("cannot create ") + directory);
        return 1;
    }
    const QDir dir(directory);

    bool ok =
        writeSample(vortexStreet(), dir.filePath("vortex_street"), false, 1, 0.0f, out) &&
        writeSample(doubleGyre(), dir.filePath("double_gyre"), false, 1, 0.0f, out) &&
        writeSample(meanderingChannel(), dir.filePath("channel_transposed"), true, 1, 0.0f, out) &&
        writeCylinderGrid(dir.filePath("cylinder_ogrid.vts"), out);

    // A four-step series: cavity.0000N.gri/.dat per step, and cavity.gri so
    // that opening "cavity" falls back to the first step's data file.
    const int steps = 4;
    const float timeDifference = 0.25f;
    for (int step = 0; ok && step < steps; ++step) {
        const QString name = dir.filePath(QStringLiteral("cavity.%1").arg(step, 5, 10, QChar('0')));
        ok = writeSample(cavity(step * double(timeDifference)), name, false, steps, timeDifference,
                         out);
        if (ok && step == 0) {
            FlowDataWriter geometry;
            const Sample first = cavity(0.0);
            geometry.setGrid(first.x, first.y);
            for (int s = 0; s < first.scalars.size(); ++s)
                geometry.addScalarSet(first.scalars[s]);
            geometry.setTimeInformation(steps, timeDifference);
            QString error;
            ok = geometry.writeGeometry(dir.filePath("cavity.gri"), &error);
            if (!ok)
                ToolMain::writeError(QStringLiteral("cavity.gri: ") + error + QLatin1Char('\n'));
        }
    }
    return ok ? 0 : 1;
}
