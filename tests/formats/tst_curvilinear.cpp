// Curvilinear grids as the readers hand them on: every grid point's position
// and the east/north components against the analytic grid and field the
// file was written from.

#include "formats/FlowFileReader.h"

#include <QTemporaryDir>
#include <QTest>

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const double pi = std::acos(-1.0);
const double nan = std::numeric_limits<double>::quiet_NaN();

struct Point
{
    double x, y, u, v;
};

// The grids: a ROMS grid turned by 30 degrees under an eastward current of
// speed(i) (one land point), a sheared NEMO grid, a grid across the
// date line, and an O-grid round a unit cylinder in potential flow.
int columnsOf(const QByteArray& kind)
{
    return kind == "polar" ? 12 : 6;
}
int rowsOf(const QByteArray& kind)
{
    return kind == "polar" ? 5 : 4;
}
double speed(double i)
{
    return 0.5 + 0.1 * i;
}

Point expected(const QByteArray& kind, int i, int j)
{
    if (kind == "roms") {
        const double a = pi / 6;
        const bool land = i == 2 && j == 1;
        // Exact inside; an edge point takes its one u face, half a cell in.
        const double face = speed(std::clamp(double(i), 0.5, columnsOf(kind) - 1.5)) - speed(i);
        return {10 + 0.1 * (i * std::cos(a) - j * std::sin(a)),
                40 + 0.1 * (i * std::sin(a) + j * std::cos(a)),
                land ? nan : speed(i) + face * std::cos(a) * std::cos(a),
                land ? nan : face * std::sin(a) * std::cos(a)};
    }
    if (kind == "nemo")
        return {-20 + i + 0.2 * j, 50 + j + 0.1 * i, 0.1 * i, -0.2 * j};
    if (kind == "dateline")
        return {170.0 + 5 * i + j, -10 + 2 * j + 0.5 * i, 1.0, 2.0};
    const double r = 1 + 0.25 * j;
    const double t = 2 * pi * i / columnsOf(kind);
    const double radial = (1 - 1 / (r * r)) * std::cos(t);
    const double around = -(1 + 1 / (r * r)) * std::sin(t);
    return {r * std::cos(t), r * std::sin(t), radial * std::cos(t) - around * std::sin(t),
            radial * std::sin(t) + around * std::cos(t)};
}

#define NC(call)                                                                                   \
    do {                                                                                           \
        if ((call) != NC_NOERR)                                                                    \
            return false;                                                                          \
    } while (false)

// ROMS stores u on the faces between rho points along xi and v along eta, in
// grid directions; NEMO and CF files store east/north on the points.
bool writeNetCdf(const QString& path, const QByteArray& kind)
{
    const bool roms = kind == "roms";
    const int nx = columnsOf(kind), ny = rowsOf(kind);
    int id = 0, eta = 0, xi = 0, etaV = 0, xiU = 0, lon = 0, lat = 0, u = 0, v = 0, mask = 0,
        angle = 0;
    auto text = [&](int var, const char* name, const char* value) {
        return nc_put_att_text(id, var, name, std::strlen(value), value);
    };
    NC(nc_create(path.toLocal8Bit().constData(), NC_CLOBBER, &id));
    NC(nc_def_dim(id, roms ? "eta_rho" : "y", size_t(ny), &eta));
    NC(nc_def_dim(id, roms ? "xi_rho" : "x", size_t(nx), &xi));
    NC(nc_def_dim(id, "eta_v", size_t(ny - 1), &etaV));
    NC(nc_def_dim(id, "xi_u", size_t(nx - 1), &xiU));
    const int rho[2] = {eta, xi}, uDims[2] = {eta, roms ? xiU : xi},
              vDims[2] = {roms ? etaV : eta, xi};
    const char* names[2] = {roms             ? "lon_rho"
                            : kind == "nemo" ? "nav_lon"
                                             : "glon",
                            roms             ? "lat_rho"
                            : kind == "nemo" ? "nav_lat"
                                             : "glat"};
    NC(nc_def_var(id, names[0], NC_DOUBLE, 2, rho, &lon));
    NC(nc_def_var(id, names[1], NC_DOUBLE, 2, rho, &lat));
    NC(text(lon, "units", "degree_east"));
    NC(text(lat, "units", "degree_north"));
    NC(nc_def_var(id, roms ? "u" : "uo", NC_FLOAT, 2, uDims, &u));
    NC(nc_def_var(id, roms ? "v" : "vo", NC_FLOAT, 2, vDims, &v));
    if (kind == "dateline")
        NC(text(u, "coordinates", "glon glat"));
    if (roms) {
        NC(nc_def_var(id, "mask_rho", NC_DOUBLE, 2, rho, &mask));
        NC(nc_def_var(id, "angle", NC_DOUBLE, 2, rho, &angle));
    }
    NC(nc_enddef(id));
    std::vector<double> x, y, m, a;
    std::vector<float> pu, pv;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const Point p = expected(kind, i, j);
            x.push_back(kind == "dateline" && p.x >= 180 ? p.x - 360 : p.x);
            y.push_back(p.y);
            m.push_back(std::isnan(p.u) ? 0 : 1);
            a.push_back(pi / 6);
            if (!roms) {
                pu.push_back(float(p.u));
                pv.push_back(float(p.v));
            }
        }
    if (roms) {
        // East in grid directions on the faces; the mask blanks the land.
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                if (i < nx - 1)
                    pu.push_back(float(speed(i + 0.5) * std::cos(pi / 6)));
                if (j < ny - 1)
                    pv.push_back(float(-speed(i) * std::sin(pi / 6)));
            }
        NC(nc_put_var_double(id, mask, m.data()));
        NC(nc_put_var_double(id, angle, a.data()));
    }
    NC(nc_put_var_double(id, lon, x.data()));
    NC(nc_put_var_double(id, lat, y.data()));
    NC(nc_put_var_float(id, u, pu.data()));
    NC(nc_put_var_float(id, v, pv.data()));
    return nc_close(id) == NC_NOERR;
}

// The O-grid in the layouts of the VTK file-format document and a Tecplot
// ordered zone, written by hand.
QByteArray writeText(const QByteArray& kind, const QByteArray& format)
{
    const int nx = columnsOf(kind), ny = rowsOf(kind);
    QByteArray points, vectors, zone;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const Point p = expected(kind, i, j);
            auto n = [](double value) { return QByteArray::number(value, 'g', 17); };
            points += n(p.x) + ' ' + n(p.y) + " 0\n";
            vectors += n(p.u) + ' ' + n(p.v) + " 0\n";
            zone += n(p.x) + ' ' + n(p.y) + ' ' + n(p.u) + ' ' + n(p.v) + '\n';
        }
    const QByteArray size = QByteArray::number(nx * ny);
    const QByteArray extent =
        "0 " + QByteArray::number(nx - 1) + " 0 " + QByteArray::number(ny - 1) + " 0 0";
    if (format == "vtk")
        return "# vtk DataFile Version 3.0\nO-grid\nASCII\nDATASET STRUCTURED_GRID\nDIMENSIONS " +
               QByteArray::number(nx) + ' ' + QByteArray::number(ny) + " 1\nPOINTS " + size +
               " double\n" + points + "POINT_DATA " + size + "\nVECTORS velocity double\n" +
               vectors;
    if (format == "vts")
        return "<?xml version=\"1.0\"?>\n<VTKFile type=\"StructuredGrid\" version=\"0.1\">\n"
               "<StructuredGrid WholeExtent=\"" +
               extent + "\"><Piece Extent=\"" + extent +
               "\">\n<PointData Vectors=\"velocity\"><DataArray type=\"Float64\" "
               "Name=\"velocity\" NumberOfComponents=\"3\" format=\"ascii\">\n" +
               vectors +
               "</DataArray></PointData>\n<Points><DataArray type=\"Float64\" "
               "NumberOfComponents=\"3\" format=\"ascii\">\n" +
               points + "</DataArray></Points>\n</Piece></StructuredGrid></VTKFile>\n";
    return "VARIABLES = \"X\" \"Y\" \"U\" \"V\"\nZONE I=" + QByteArray::number(nx) +
           ", J=" + QByteArray::number(ny) + ", F=POINT\n" + zone;
}

} // namespace

class TestCurvilinear : public QObject
{
    Q_OBJECT

private slots:
    void grids_data();
    void grids();

private:
    QTemporaryDir folder;
};

void TestCurvilinear::grids_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("note");
    const QString rotated = "rotated from grid directions to east/north by angle";
    QTest::newRow("ROMS: staggered, masked, turned")
        << QByteArray("roms") << QByteArray("nc") << rotated;
    QTest::newRow("NEMO nav_lon/nav_lat") << QByteArray("nemo") << QByteArray("nc") << QString();
    QTest::newRow("CF coordinates across the date line")
        << QByteArray("dateline") << QByteArray("nc") << QString();
    for (const char* format : {"vtk", "vts", "plt"})
        QTest::newRow(format) << QByteArray("polar") << QByteArray(format) << QString();
}

void TestCurvilinear::grids()
{
    QFETCH(QByteArray, kind);
    QFETCH(QByteArray, format);
    QFETCH(QString, note);
    const QString path = folder.filePath(QString::fromLatin1(kind + '.' + format));
    if (format == "nc") {
        QVERIFY(writeNetCdf(path, kind));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(writeText(kind, format));
    }
    FlowRecord record;
    QString reason;
    QVERIFY2(FlowFileReader::read(path, LoadOptions(), record, &reason), qPrintable(reason));
    QVERIFY(record.isCurvilinear() && record.x.empty() && record.y.empty());
    QCOMPARE(record.columns(), size_t(columnsOf(kind)));
    QCOMPARE(record.rows(), size_t(rowsOf(kind)));
    QCOMPARE(record.velocityNote, note);
    for (int j = 0; j < rowsOf(kind); ++j)
        for (int i = 0; i < columnsOf(kind); ++i) {
            const size_t k = size_t(j * columnsOf(kind) + i);
            const Point p = expected(kind, i, j);
            const double got[4] = {record.pointX[k], record.pointY[k], record.u[k], record.v[k]};
            const double want[4] = {p.x, p.y, p.u, p.v};
            for (int c = 0; c < 4; ++c)
                QVERIFY2(std::abs(got[c] - want[c]) <= 1e-6 ||
                             (std::isnan(got[c]) && std::isnan(want[c])),
                         qPrintable(QStringLiteral("point %1, %2, value %3: %4, expected %5")
                                        .arg(i)
                                        .arg(j)
                                        .arg(c)
                                        .arg(got[c])
                                        .arg(want[c])));
        }
}

QTEST_GUILESS_MAIN(TestCurvilinear)
#include "tst_curvilinear.moc"
