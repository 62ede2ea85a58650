// Curvilinear grids as the readers hand them on: every grid point's position
// and the east/north components against the analytic grid and field the
// file was written from.

#include "formats/FlowFileReader.h"

#include <QTemporaryDir>
#include <QtEndian>
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
// speed(i) (one land point), a sheared grid across the date line, and an
// O-grid round a cylinder in solid-body rotation.
const auto columnsOf = [](const QByteArray& kind) { return kind == "polar" ? 12 : 6; };
const auto rowsOf = [](const QByteArray& kind) { return kind == "polar" ? 5 : 4; };
const auto speed = [](double i) { return 0.5 + 0.1 * i; };

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
    if (kind == "filled" && i == 3 && j == 2)
        return {nan, nan, 1.0, 2.0};
    if (kind == "dateline" || kind == "mom" || kind == "filled")
        return {170.0 + 5 * i + j, -10 + 2 * j + 0.5 * i, 1.0, 2.0};
    const double r = 1 + 0.25 * j, t = 2 * pi * i / columnsOf(kind);
    return {r * std::cos(t), r * std::sin(t), -r * std::sin(t), r * std::cos(t)};
}

// ROMS stores u on the faces between rho points along xi and v along eta, in
// grid directions; NEMO and CF files store east/north on the points, MOM
// beside nominal 1-D axes, and a filled position carries a _FillValue. Each
// variable is defined and written at once (NetCDF-4 leaves define mode itself).
bool writeNetCdf(const QString& path, const QByteArray& kind, const char* names)
{
    const bool roms = kind == "roms";
    const QList<QByteArray> coordinates = QByteArray(names).split(' ');
    const size_t lengths[4] = {size_t(rowsOf(kind)), size_t(columnsOf(kind)),
                               size_t(rowsOf(kind) - 1), size_t(columnsOf(kind) - 1)};
    int id = 0, dims[4] = {};
    if (nc_create(path.toLocal8Bit().constData(), NC_NETCDF4 | NC_CLOBBER, &id) != NC_NOERR)
        return false;
    bool ok = true;
    const bool mom = kind == "mom";
    const char* const dimNames[3][4] = {{"y", "x", "yv", "xu"},
                                        {"eta_rho", "xi_rho", "eta_v", "xi_u"},
                                        {"yu_ocean", "xu_ocean", "yv", "xu"}};
    for (int d = 0; d < 4; ++d)
        ok = ok && nc_def_dim(id,
                              dimNames[roms  ? 1
                                       : mom ? 2
                                             : 0][d],
                              lengths[d], &dims[d]) == NC_NOERR;
    const double fill = 1e20;
    auto put = [&](const char* name, int yDim, int xDim, const char* attribute, const char* value,
                   auto field) {
        const int shape[2] = {dims[yDim], dims[xDim]};
        std::vector<double> values;
        for (size_t j = 0; j < lengths[yDim]; ++j)
            for (size_t i = 0; i < lengths[xDim]; ++i)
                values.push_back(field(int(i), int(j)));
        const bool filled =
            std::any_of(values.begin(), values.end(), [](double v) { return std::isnan(v); });
        std::replace_if(
            values.begin(), values.end(), [](double v) { return std::isnan(v); }, fill);
        int var = 0;
        ok = ok && nc_def_var(id, name, NC_DOUBLE, 2, shape, &var) == NC_NOERR &&
             (!*value || nc_put_att_text(id, var, attribute, std::strlen(value), value) == 0) &&
             (!filled || nc_put_att_double(id, var, "_FillValue", NC_DOUBLE, 1, &fill) == 0) &&
             nc_put_var_double(id, var, values.data()) == NC_NOERR;
    };
    // MOM's nominal axes: a regular grid that the true positions are not.
    for (int d = 0; d < 2 && mom; ++d) {
        std::vector<double> nominal(lengths[d]);
        for (size_t k = 0; k < nominal.size(); ++k)
            nominal[k] = d == 1 ? 170.0 + 5 * double(k) : -10 + 2 * double(k);
        int var = 0;
        const char* unit = d == 1 ? "degrees_E" : "degrees_N";
        ok = ok && nc_def_var(id, dimNames[2][d], NC_DOUBLE, 1, &dims[d], &var) == NC_NOERR &&
             nc_put_att_text(id, var, "units", std::strlen(unit), unit) == NC_NOERR &&
             nc_put_var_double(id, var, nominal.data()) == NC_NOERR;
    }
    const double a = pi / 6;
    put(coordinates[0], 0, 1, "units", "degree_east", [&](int i, int j) {
        const double x = expected(kind, i, j).x;
        return x >= 180 ? x - 360 : x;
    });
    put(coordinates[1], 0, 1, "units", "degree_north",
        [&](int i, int j) { return expected(kind, i, j).y; });
    if (roms) {
        put("mask_rho", 0, 1, "", "", [&](int i, int j) { return i == 2 && j == 1 ? 0.0 : 1.0; });
        put("angle", 0, 1, "units", "radians", [&](int, int) { return a; });
        put("u", 0, 3, "", "", [&](int i, int) { return speed(i + 0.5) * std::cos(a); });
        put("v", 2, 1, "", "", [&](int i, int) { return -speed(i) * std::sin(a); });
    } else {
        const bool cf = coordinates[0] != "nav_lon" && !mom;
        put("uo", 0, 1, "coordinates", cf ? names : "",
            [&](int i, int j) { return expected(kind, i, j).u; });
        put("vo", 0, 1, "", "", [&](int i, int j) { return expected(kind, i, j).v; });
    }
    return nc_close(id) == NC_NOERR && ok;
}

// The O-grid in the layouts of the VTK file-format document and a Tecplot
// ordered zone, written by hand.
QByteArray writeText(const QByteArray& kind, const QByteArray& format)
{
    const int nx = columnsOf(kind), ny = rowsOf(kind);
    QByteArray points, vectors, zone;
    // Float32 triples in little-endian order, each array after its UInt32
    // byte count.
    QByteArray points32(4, '\0'), vectors32(4, '\0');
    auto float32 = [](QByteArray& to, double value) {
        const float single = float(value);
        quint32 bits = 0;
        std::memcpy(&bits, &single, 4);
        bits = qToLittleEndian(bits);
        to.append(reinterpret_cast<const char*>(&bits), 4);
    };
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const Point p = expected(kind, i, j);
            auto n = [](double value) { return QByteArray::number(value, 'g', 17); };
            points += n(p.x) + ' ' + n(p.y) + " 0\n";
            vectors += n(p.u) + ' ' + n(p.v) + " 0\n";
            zone += n(p.x) + ' ' + n(p.y) + ' ' + n(p.u) + ' ' + n(p.v) + '\n';
            for (const double value : {p.x, p.y, 0.0})
                float32(points32, value);
            for (const double value : {p.u, p.v, 0.0})
                float32(vectors32, value);
        }
    for (QByteArray* array : {&points32, &vectors32}) {
        const quint32 bytes = qToLittleEndian(quint32(array->size() - 4));
        std::memcpy(array->data(), &bytes, 4);
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
    if (format == "vts32")
        return "<?xml version=\"1.0\"?>\n<VTKFile type=\"StructuredGrid\" version=\"0.1\" "
               "byte_order=\"LittleEndian\">\n<StructuredGrid WholeExtent=\"" +
               extent + "\"><Piece Extent=\"" + extent +
               "\">\n<PointData Vectors=\"velocity\"><DataArray type=\"Float32\" "
               "Name=\"velocity\" NumberOfComponents=\"3\" format=\"binary\">" +
               vectors32.toBase64() +
               "</DataArray></PointData>\n<Points><DataArray type=\"Float32\" "
               "NumberOfComponents=\"3\" format=\"binary\">" +
               points32.toBase64() + "</DataArray></Points>\n</Piece></StructuredGrid></VTKFile>\n";
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
    QTest::addColumn<QByteArray>("names"); // of the NetCDF coordinates
    QTest::addColumn<QString>("note");
    QTest::newRow("ROMS: staggered, masked, turned")
        << QByteArray("roms") << QByteArray("nc") << QByteArray("lon_rho lat_rho")
        << "rotated from grid directions to east/north by angle";
    QTest::newRow("NEMO across the date line")
        << QByteArray("dateline") << QByteArray("nc") << QByteArray("nav_lon nav_lat") << "";
    QTest::newRow("CF coordinates across the date line")
        << QByteArray("dateline") << QByteArray("nc") << QByteArray("glon glat") << "";
    QTest::newRow("MOM: positions beside nominal axes")
        << QByteArray("mom") << QByteArray("nc") << QByteArray("geolon_c geolat_c") << "";
    QTest::newRow("a filled position")
        << QByteArray("filled") << QByteArray("nc") << QByteArray("nav_lon nav_lat") << "";
    for (const char* format : {"vtk", "vts", "vts32", "plt"})
        QTest::newRow(format) << QByteArray("polar") << QByteArray(format) << QByteArray() << "";
}

void TestCurvilinear::grids()
{
    QFETCH(QByteArray, kind);
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, names);
    QFETCH(QString, note);
    // Float32 binary arrays in a .vts file of their own.
    const QByteArray suffix = format == "vts32" ? QByteArray("_32.vts") : '.' + format;
    const QString path = folder.filePath(QString::fromLatin1(kind + names + suffix));
    QFile file(path);
    QVERIFY(format == "nc"
                ? writeNetCdf(path, kind, names)
                : file.open(QIODevice::WriteOnly) && file.write(writeText(kind, format)));
    file.close();
    FlowRecord record;
    QString reason;
    QVERIFY2(FlowFileReader::read(path, LoadOptions(), record, &reason), qPrintable(reason));
    QVERIFY(record.isCurvilinear() && record.x.empty() && record.y.empty());
    QCOMPARE(record.columns(), size_t(columnsOf(kind)));
    QCOMPARE(record.rows(), size_t(rowsOf(kind)));
    QCOMPARE(record.velocityNote, note);
    QCOMPARE(record.lengthUnit, format == "nc" ? "degree_east" : "");
    for (int j = 0; j < rowsOf(kind); ++j)
        for (int i = 0; i < columnsOf(kind); ++i) {
            const size_t k = size_t(j * columnsOf(kind) + i);
            const Point p = expected(kind, i, j);
            const double got[4] = {record.pointX[k], record.pointY[k], record.u[k], record.v[k]};
            const double want[4] = {p.x, p.y, p.u, p.v};
            for (int c = 0; c < 4; ++c)
                QVERIFY2(std::abs(got[c] - want[c]) <= 1e-6 ||
                             (std::isnan(got[c]) && std::isnan(want[c])),
                         qPrintable(QString::asprintf("point %d, %d, value %d: %g, expected %g", i,
                                                      j, c, got[c], want[c])));
        }
}

QTEST_GUILESS_MAIN(TestCurvilinear)
#include "tst_curvilinear.moc"
