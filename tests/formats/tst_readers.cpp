// The readers of the foreign formats: every layout of the same grid must load
// to the arrays of the native pair holding that grid (the loader's own
// oracle: layers and tools then see no difference), and every malformed file
// is refused with its reason.

#include "data/FlowData.h"
#include "formats/FlowFileReader.h"
#include "tests/common/FakeFlowData.h"
#include "tests/formats/FormatWriters.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <matio.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

using FormatWriters::Grid;

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

const float nan = std::numeric_limits<float>::quiet_NaN();

// The native pair of a grid; `masked` point holds NaN in every field, the
// `rejected` point's vector only.
bool writeReference(const QString& name, const Grid& g, int masked, int rejected = -1)
{
    FlowFiles::Grid grid{
        QList<float>(g.xs.cbegin(), g.xs.cend()), QList<float>(g.ys.cbegin(), g.ys.cend()), {}, {}};
    QList<float> s;
    for (int k = 0; k < g.points(); ++k) {
        const float m = k == masked ? nan : 1.0f; // NaN spreads, 1 keeps the value exactly
        const float r = k == rejected ? nan : m;
        grid.vectors.append(Vector3(r * float(g.value(2, k)), r * float(g.value(3, k)), 0));
        s.append(m * float(g.value(4, k)));
    }
    grid.scalars = {s};
    return grid.write(name);
}

// A copy of text with every `from` replaced by `to`.
QByteArray edited(QByteArray text, const QByteArray& from, const QByteArray& to)
{
    return text.replace(from, to);
}

QString shape(const FlowData& d)
{
    return QStringLiteral("%1 x %2 points, %3 scalar sets")
        .arg(d.resolutionXValue())
        .arg(d.resolutionYValue())
        .arg(d.scalarSetCount());
}

// Position, vector and scalars of point k.
QList<float> pointValues(const FlowData& d, int k)
{
    QList<float> values{d.geometryArray()[k].x, d.geometryArray()[k].y, d.vectorArray()[k].x,
                        d.vectorArray()[k].y, d.vectorArray()[k].z};
    for (const ScalarSet& set : d.scalarSets())
        values.append(set.values[k]);
    return values;
}

// Empty when both data sets hold the same arrays.
QString difference(const FlowData& a, const FlowData& b)
{
    if (shape(a) != shape(b))
        return shape(a) + ", expected " + shape(b);
    auto same = [](float x, float y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    for (int k = 0; k < a.resolutionXValue() * a.resolutionYValue(); ++k) {
        const QList<float> got = pointValues(a, k);
        const QList<float> want = pointValues(b, k);
        if (!std::equal(got.cbegin(), got.cend(), want.cbegin(), same)) {
            QString message;
            QDebug(&message) << "point" << k << got << "expected" << want;
            return message;
        }
    }
    if (a.geometryMinimum().x != b.geometryMinimum().x ||
        a.geometryMaximum().y != b.geometryMaximum().y || a.vectorMaximum() != b.vectorMaximum())
        return QStringLiteral("extremes differ");
    return QString();
}

#define NC(call)                                                                                   \
    do {                                                                                           \
        if ((call) != NC_NOERR)                                                                    \
            return false;                                                                          \
    } while (false)

// NetCDF files of the grid in the layouts the reader takes.
bool writeNetCdf(const QString& path, const QByteArray& recipe)
{
    const Grid g;
    const bool timeDepth = recipe == "time_depth";
    const bool descending = recipe == "descending_lat";
    const bool packed = recipe == "packed_fill";
    // Two-dimensional coordinate variables that form a rectilinear grid.
    const bool curvilinear = recipe == "rectilinear_2d";
    int id = 0, time = -1, depth = -1, lat = -1, lon = -1, latVar = 0, lonVar = 0, timeVar = 0;
    auto text = [&](int var, const char* name, const char* value) {
        return nc_put_att_text(id, var, name, std::strlen(value), value);
    };
    NC(nc_create(path.toLocal8Bit().constData(), recipe == "netcdf4" ? NC_NETCDF4 : NC_CLOBBER,
                 &id));
    if (timeDepth) {
        NC(nc_def_dim(id, "time", 2, &time));
        NC(nc_def_dim(id, "depth", 3, &depth));
    }
    NC(nc_def_dim(id, "lat", size_t(g.ny()), &lat));
    NC(nc_def_dim(id, "lon", size_t(g.nx()), &lon));
    int square = -1;
    if (recipe == "repeated_dim")
        NC(nc_def_dim(id, "n", size_t(g.ny()), &square));
    const int plane[2] = {lat, lon};
    NC(nc_def_var(id, curvilinear ? "latitude" : "lat", NC_DOUBLE, curvilinear ? 2 : 1,
                  curvilinear ? plane : &lat, &latVar));
    NC(nc_def_var(id, curvilinear ? "longitude" : "lon", NC_DOUBLE, curvilinear ? 2 : 1,
                  curvilinear ? plane : &lon, &lonVar));
    NC(text(latVar, "units", "degrees_north"));
    NC(text(lonVar, "units", "degrees_east"));
    if (timeDepth) {
        NC(nc_def_var(id, "time", NC_DOUBLE, 1, &time, &timeVar));
        NC(text(timeVar, "units", "hours since 2001-1-1 0:0"));
    }
    const std::vector<int> dims = timeDepth     ? std::vector<int>{time, depth, lat, lon}
                                  : square >= 0 ? std::vector<int>{square, square}
                                                : std::vector<int>{lat, lon};
    const int rank = int(dims.size());
    const char* uName = recipe == "common_names" ? "u" : recipe == "no_pair" ? "a" : "uo";
    const char* vName = recipe == "common_names" ? "v" : recipe == "no_pair" ? "b" : "vo";
    int u = 0, v = 0, p = 0, u2 = 0, v2 = 0;
    NC(nc_def_var(id, uName, packed ? NC_SHORT : NC_FLOAT, rank, dims.data(), &u));
    NC(nc_def_var(id, vName, packed ? NC_SHORT : NC_FLOAT, rank, dims.data(), &v));
    NC(nc_def_var(id, "p", NC_FLOAT, rank, dims.data(), &p));
    NC(text(p, "units", "Pa"));
    if (recipe == "two_pairs") {
        NC(nc_def_var(id, "u", NC_FLOAT, rank, dims.data(), &u2));
        NC(nc_def_var(id, "v", NC_FLOAT, rank, dims.data(), &v2));
        NC(text(u2, "standard_name", "sea_water_x_velocity"));
        NC(text(v2, "standard_name", "sea_water_y_velocity"));
    }
    if (recipe != "common_names" && recipe != "no_pair") {
        NC(text(u, "standard_name", "eastward_sea_water_velocity"));
        NC(text(v, "standard_name", "northward_sea_water_velocity"));
    }
    NC(text(u, "units", "m s-1"));
    if (curvilinear)
        NC(text(u, "coordinates", "latitude longitude"));
    const short fill = -32767;
    const float missing = -999.0f;
    if (packed) {
        const double scale = 0.25;
        const double offset = 1.0;
        for (int var : {u, v}) {
            NC(nc_put_att_double(id, var, "scale_factor", NC_DOUBLE, 1, &scale));
            NC(nc_put_att_double(id, var, "add_offset", NC_DOUBLE, 1, &offset));
            NC(nc_put_att_short(id, var, "_FillValue", NC_SHORT, 1, &fill));
        }
        NC(nc_put_att_float(id, p, "missing_value", NC_FLOAT, 1, &missing));
        // In the stored type; every value of the grid lies inside.
        const short range[2] = {-32000, 32000};
        NC(nc_put_att_short(id, u, "valid_range", NC_SHORT, 2, range));
    }
    NC(nc_enddef(id));

    std::vector<double> ys(g.ys.begin(), g.ys.end());
    if (descending)
        std::reverse(ys.begin(), ys.end());
    if (curvilinear) {
        std::vector<double> la(size_t(g.points())), lo(size_t(g.points()));
        for (int k = 0; k < g.points(); ++k) {
            la[size_t(k)] = g.value(1, k);
            lo[size_t(k)] = g.value(0, k);
        }
        NC(nc_put_var_double(id, latVar, la.data()));
        NC(nc_put_var_double(id, lonVar, lo.data()));
    } else {
        NC(nc_put_var_double(id, latVar, ys.data()));
        NC(nc_put_var_double(id, lonVar, g.xs.data()));
    }
    if (timeDepth) {
        const double t[2] = {0.0, 2.0};
        NC(nc_put_var_double(id, timeVar, t));
    }
    const int planes = timeDepth ? 6 : 1;
    const int target = timeDepth ? 1 * 3 + 2 : 0; // time 1, depth 2
    for (int c = 2; c < 5; ++c) {
        const int var = c == 2 ? u : c == 3 ? v : p;
        std::vector<float> values(size_t(planes * g.points()), 1000.0f);
        std::vector<short> shorts(values.size(), 0);
        for (int k = 0; k < g.points(); ++k) {
            const int row = k / g.nx();
            const int from = (descending ? g.ny() - 1 - row : row) * g.nx() + k % g.nx();
            const size_t at = size_t(target * g.points() + k);
            values[at] = float(g.value(c, from));
            shorts[at] = short(std::lround((g.value(c, from) - 1.0) / 0.25));
            if (packed && from == 5) {
                shorts[at] = fill;
                values[at] = missing;
            }
        }
        if (packed && c < 4)
            NC(nc_put_var_short(id, var, shorts.data()));
        else
            NC(nc_put_var_float(id, var, values.data()));
        if (recipe == "two_pairs" && c < 4)
            NC(nc_put_var_float(id, c == 2 ? u2 : v2, values.data()));
    }
    NC(nc_close(id));
    QFile file(path);
    return recipe != "truncated" ||
           (file.open(QIODevice::ReadWrite) && file.resize(file.size() - 60));
}

// MAT-files of the grid as matio writes them: a workspace of matrices (rows
// along y, as meshgrid makes them; "ndgrid" the other way round) or PIV
// results, one cell per frame, in which only frame 1's filtered and frame
// 2's original stage hold the grid (NaN at point 5, the vector type as p).
bool writeMat(const QString& path, const QByteArray& recipe)
{
    const Grid g;
    const bool turned = recipe == "ndgrid" || recipe == "wrong_size";
    size_t dims[2] = {size_t(turned ? g.nx() : g.ny()), size_t(turned ? g.ny() : g.nx())};
    // Component c in MATLAB's column-major order; NaN at point `masked`.
    auto matrix = [&](int c, int masked) {
        std::vector<double> m(size_t(g.points()));
        for (int k = 0; k < g.points(); ++k)
            m[size_t(turned ? k : (k % g.nx()) * g.ny() + k / g.nx())] =
                k == masked ? double(nan) : g.value(c, k);
        return m;
    };
    auto create = [&](const char* name, const std::vector<double>& m, matio_classes type) {
        std::vector<float> f(m.begin(), m.end());
        std::vector<qint16> i(type == MAT_C_INT16 ? m.size() : 0);
        std::copy(m.begin(), m.begin() + std::ptrdiff_t(i.size()), i.begin());
        // A matrix of the grid, else a vector: x as a row, y (int16) as a column.
        const bool full = m.size() == size_t(g.points());
        size_t shape[2] = {full                  ? dims[0]
                           : type == MAT_C_INT16 ? m.size()
                                                 : size_t(!m.empty()),
                           full                  ? dims[1]
                           : type == MAT_C_INT16 ? 1
                                                 : m.size()};
        void* data = type == MAT_C_SINGLE  ? (void*)f.data()
                     : type == MAT_C_INT16 ? (void*)i.data()
                                           : (void*)m.data();
        return Mat_VarCreate(name, type,
                             type == MAT_C_SINGLE  ? MAT_T_SINGLE
                             : type == MAT_C_INT16 ? MAT_T_INT16
                                                   : MAT_T_DOUBLE,
                             2, shape, m.empty() ? nullptr : data, 0);
    };
    mat_t* mat = Mat_CreateVer(path.toLocal8Bit().constData(), nullptr,
                               recipe.endsWith("73") ? MAT_FT_MAT73 : MAT_FT_MAT5);
    bool ok = mat;
    auto put = [&](matvar_t* variable) {
        ok = ok && variable &&
             Mat_VarWrite(mat, variable,
                          recipe == "v5" ? MAT_COMPRESSION_NONE : MAT_COMPRESSION_ZLIB) == 0;
        Mat_VarFree(variable);
    };
    const bool piv = recipe.startsWith("piv");
    if (piv) {
        size_t frames[2] = {1, 3};
        const char* names[] = {
            "x",          "y",          "u_original",          "v_original", "typevector_original",
            "u_filtered", "v_filtered", "typevector_filtered", "u_smoothed", "v_smoothed"};
        for (int n = 0; n < 10; ++n) {
            matvar_t* cells =
                Mat_VarCreate(names[n], MAT_C_CELL, MAT_T_CELL, 2, frames, nullptr, 0);
            for (int f = 0; f < 3; ++f) {
                const int c = n < 2 ? n : 2 + (n - 2) % 3; // x, y, u, v, the vector type as p
                const bool grid = n < 2 || (f == 1 && n >= 5 && n < 8) || (f == 2 && n < 5);
                const bool empty =
                    (recipe == "piv_empty" && n >= 2) || n >= 8 || (f == 2 && n >= 5);
                std::vector<double> m =
                    grid ? matrix(c, n < 2 ? -1 : 5) : std::vector<double>(size_t(g.points()), 7.0);
                Mat_VarSetCell(cells, f,
                               create(nullptr, empty ? std::vector<double>() : m, MAT_C_DOUBLE));
            }
            put(cells);
        }
        const char units[] = "[m] respectively [m/s]";
        size_t length[2] = {1, sizeof(units) - 1};
        put(Mat_VarCreate("units", MAT_C_CHAR, MAT_T_UINT8, 2, length, (void*)units, 0));
    } else {
        const bool v7 = recipe == "v7";
        std::vector<double> x = matrix(0, -1), y = matrix(1, -1);
        if (v7) {
            x = g.xs;
            y = g.ys;
        }
        put(create("x", x, MAT_C_DOUBLE));
        put(create("y", y, v7 ? MAT_C_INT16 : MAT_C_DOUBLE));
        std::vector<double> u = matrix(2, v7 ? 5 : -1), im(u.size(), 1.0);
        mat_complex_split_t split{u.data(), im.data()};
        if (recipe == "complex")
            put(Mat_VarCreate("u", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, &split, MAT_F_COMPLEX));
        else
            put(create("u", u, v7 ? MAT_C_SINGLE : MAT_C_DOUBLE));
        if (recipe == "wrong_size")
            std::swap(dims[0], dims[1]);
        put(create("v", matrix(3, v7 ? 5 : -1), v7 ? MAT_C_SINGLE : MAT_C_DOUBLE));
        put(create(v7 ? "typevector" : "p", matrix(4, v7 ? 5 : -1), MAT_C_DOUBLE));
    }
    if (mat)
        Mat_Close(mat);
    QFile file(path);
    return ok && (recipe != "truncated" ||
                  (file.open(QIODevice::ReadWrite) && file.resize(file.size() - 60)));
}

} // namespace

class TestReaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void columnText_data();
    void columnText() { check(); }
    void tecplot_data();
    void tecplot() { check(); }
    void netCdf_data();
    void netCdf() { check(); }
    void vtkLegacy_data();
    void vtkLegacy() { check(); }
    void vtkXml_data();
    void vtkXml() { check(); }
    void mat_data();
    void mat() { check(); }
    void convertRoundTrip_data();
    void convertRoundTrip();

private:
    void columns();
    void check();
    QString write(const QByteArray& content, const QString& suffix, const QByteArray& recipe);

    QTemporaryDir folder;
    int fileCount = 0;
};

void TestReaders::initTestCase()
{
    qInstallMessageHandler(quiet);
    QVERIFY(folder.isValid());
    QVERIFY(writeReference(folder.filePath("grid"), Grid(), -1));
    QVERIFY(writeReference(folder.filePath("masked"), Grid(), 5));
    QVERIFY(writeReference(folder.filePath("piv"), Grid(), 5, 0));
    QVERIFY(writeReference(folder.filePath("rejected"), Grid(), -1, 1));
    QVERIFY(writeReference(folder.filePath("uniform"), FormatWriters::uniformGrid(), -1));
    QVERIFY(writeReference(folder.filePath("square"), FormatWriters::uniformGrid(600, 600), -1));
    // A partner for a component from another file: the grid with its rows reversed.
    QVERIFY(writeNetCdf(folder.filePath("reversed.nc"), "descending_lat"));
}

void TestReaders::columns()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("recipe"); // NetCDF: what writeNetCdf writes
    QTest::addColumn<QString>("options");   // "u,v,level,step"
    QTest::addColumn<QString>("reference"); // the native pair it must match, or empty
    QTest::addColumn<QString>("outcome");   // the refusal's reason, or the names and units
}

QString TestReaders::write(const QByteArray& content, const QString& suffix,
                           const QByteArray& recipe)
{
    const QString path = folder.filePath(QStringLiteral("f%1.%2").arg(++fileCount).arg(suffix));
    if (!recipe.isEmpty())
        return (suffix == "mat" ? writeMat(path, recipe) : writeNetCdf(path, recipe)) ? path
                                                                                      : QString();
    return FlowFiles::writeBytes(path, content) ? path : QString();
}

// Loads the row's file: it must either match the reference pair and carry
// the named sets and units ("name [unit]; length unit; velocity unit"), or
// be refused with a reason containing `outcome`.
void TestReaders::check()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, suffix);
    QFETCH(QByteArray, recipe);
    QFETCH(QString, options);
    QFETCH(QString, reference);
    QFETCH(QString, outcome);
    const QString path = write(content, suffix, recipe);
    QVERIFY(!path.isEmpty());
    LoadOptions load;
    const QStringList parts = options.split(QLatin1Char(','));
    if (parts.size() == 4) {
        load.uVariable = parts[0];
        load.vVariable = parts[1];
        load.level = parts[2].toInt();
        load.step = parts[3].toInt();
    }
    QString reason;
    const std::unique_ptr<FlowData> loaded(FlowData::fromFile(path, load, &reason));
    if (reference.isEmpty()) {
        QVERIFY2(!loaded, "a malformed file loaded");
        QVERIFY2(reason.contains(outcome), qPrintable(reason));
        return;
    }
    QVERIFY2(loaded, qPrintable(reason));
    const std::unique_ptr<FlowData> expected(FlowData::fromFile(folder.filePath(reference)));
    QVERIFY(expected);
    const QString different = difference(*loaded, *expected);
    QVERIFY2(different.isEmpty(), qPrintable(different));
    const ScalarSet& set = loaded->scalarSets().first();
    const QString names = set.name + (set.unit.isEmpty() ? QString() : " [" + set.unit + "]") +
                          "; " + loaded->lengthUnit() + "; " + loaded->velocityUnit();
    QCOMPARE(names, outcome);
    if (recipe == "time_depth") {
        QCOMPARE(loaded->timeStepsValue(), 2);
        QCOMPARE(loaded->timeDifferenceValue(), 7200.0f);
    }
    if (recipe == "piv")
        QCOMPARE(loaded->timeStepsValue(), 3);
}

void TestReaders::columnText_data()
{
    columns();
    const Grid g;
    const QByteArray blank = FormatWriters::columnText(g, "", ' ');
    auto row = [&](const char* name, const QByteArray& text, const QString& reference,
                   const QString& outcome, const QString& options = QString()) {
        QTest::newRow(name) << text << "txt" << QByteArray() << options << reference << outcome;
    };
    row("header with units, tabs",
        FormatWriters::columnText(g, "x [m]\ty [m]\tu [m/s]\tv [m/s]\tp [Pa]\n", '\t'), "grid",
        "p [Pa]; m; m/s");
    row("no header, blanks, rows reversed", FormatWriters::columnText(g, "", ' ', true), "grid",
        "; ; ");
    row("comment header, semicolons", FormatWriters::columnText(g, "# X;Y;Vx;Vy;p\n", ';'), "grid",
        "p; ; ");
    row("percent comment header", FormatWriters::columnText(g, "% X Y Vx Vy p\n", ' '), "grid",
        "p; ; ");
    row("comment header with a name too many is left out",
        FormatWriters::columnText(g, "# x y u v p q\n", ' '), "grid", "; ; ");
    row("columns renamed by options", FormatWriters::columnText(g, "a b c d p\n", ' '), "grid",
        "p; ; ", "c,d,0,0");
    row("NaN tokens",
        edited(FormatWriters::columnText(g, "x,y,u,v,p\n", ','), "0.5,0,1.5,-0.75,11\n",
               "0.5,0,NaN,nan,NaN\n"),
        "masked", "p; ; ");
    row("one component not a number rejects the vector",
        edited(FormatWriters::columnText(g, "x,y,u,v,p\n", ','), "0.5,-1,2,-1,1\n",
               "0.5,-1,2,nan,1\n"),
        "rejected", "p; ; ");
    row("an infinite component rejects the vector",
        edited(FormatWriters::columnText(g, "x,y,u,v,p\n", ','), "0.5,-1,2,-1,1\n",
               "0.5,-1,-inf,-1,1\n"),
        "rejected", "p; ; ");
    row("blanks around separators, exponents",
        edited(FormatWriters::columnText(g, "x,y,u,v,p\n", ','), "0.5,0,1.5,-0.75,11\n",
               "5.0D-1 , 0e0,\t15e-1, -0.75E+00 ,1.1e1\n"),
        "grid", "p; ; ");
    row("missing point",
        edited(FormatWriters::columnText(g, "x y u v p\n", ' '), "0.5 0 1.5 -0.75 11\n", ""),
        "masked", "p; ; ");
    // A PIV chart export: free text, units, CRLF, y fastest, the vector type
    // (0 = rejected) in the last column.
    QByteArray chart = "FlowLab 6.2, 2024-03-05 12:00:00\r\nFrame 1, a.tif, b.tif, 0.5 mm/px, "
                       "0.01 s\r\nx [m],y [m],u [m/s],v [m/s],Vector type [-]\r\n";
    const QList<QByteArray> lines = FormatWriters::columnText(g, "", ',').split('\n');
    for (int n = 0; n < g.points(); ++n)
        chart += lines[(n % g.ny()) * g.nx() + n / g.ny()] + "\r\n";
    row("PIV chart: preamble, CRLF, y fastest, NaN, vector type",
        edited(chart, "0.5,0,1.5,-0.75,11", "0.5,0,NaN,NaN,NaN"), "piv", "Vector type [-]; m; m/s");
    row("coordinates within tolerance", edited(blank, "1.5 -1 ", "1.5000000001 -1 "), "grid",
        "; ; ");

    row("non-numeric token", edited(blank, "0.5 0 1.5", "0.5 zero 1.5"), "",
        "line 6: \"zero\" is not a number");
    row("ragged row",
        edited(FormatWriters::columnText(g, "", ','), "0.5,0,1.5,-0.75,11\n", "0.5,0,1.5,-0.75\n"),
        "", "line 6 holds 4 values, the first row 5");
    row("row with a value too many",
        edited(FormatWriters::columnText(g, "", ','), "0.5,0,1.5,-0.75,11\n",
               "0.5,0,1.5,-0.75,11,3\n"),
        "", "line 6 holds 6 values, the first row 5");
    // Over a megabyte: the rows parse in runs, and line numbers count on
    // across them.
    QByteArray padding;
    for (int n = 0; n < 120000; ++n)
        padding += "# padding\n";
    const qsizetype half = blank.indexOf('\n', blank.size() / 2) + 1;
    row("large file, rows in several runs", blank.left(half) + padding + blank.mid(half) + padding,
        "grid", "; ; ");
    row("large file, no line break after the last row", padding + blank.chopped(1), "grid", "; ; ");
    row("file over 8 MB, read in parts",
        FormatWriters::columnText(FormatWriters::uniformGrid(600, 600), "", ' '), "square", "; ; ");
    row("large file, malformed line in a late run", blank + padding + "0.5 zero 1 1 1\n", "",
        QStringLiteral("line %1: \"zero\" is not a number").arg(g.points() + 120001));
    row("duplicated point with other values", blank + "0 -1 7 7 7\n", "",
        "points 1 and 13 share the grid point (0, -1) with different values");
    row("same point twice", blank + "0 -1 1 -1 0\n", "grid", "; ; ");
    row("infinite coordinate", edited(blank, "1.5 -1 ", "inf -1 "), "",
        "point 3 has a coordinate that is not finite");
    row("scattered points", "0 0 1 1 1\n1 1.1 1 1 1\n2.2 2 1 1 1\n3 3.3 1 1 1\n4.1 4 1 1 1\n", "",
        "do not form a rectilinear grid");
    row("three columns", "0 0 1\n1 0 1\n", "", "3 columns");
    row("binary file of no known format", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "",
        "not a format Velmora reads: a binary file");
    row("header does not match", "x y u v\n0 0 1 1 1\n", "",
        "the header names 4 columns, the rows hold 5");
    row("two velocity candidates", "x y u v vx\n0 0 1 1 1\n", "", "more than one column");
    row("no numbers", "text\nx y u v\n", "", "no rows of numbers after line 2, \"x y u v\"");
    row("time step of a file without time", blank, "",
        "time step 1 does not exist; the file holds 1", ",,0,1");
    row("unknown column option", FormatWriters::columnText(g, "x y u v p\n", ' '), "",
        "no column named \"w\"", "w,v,0,0");
}

void TestReaders::tecplot_data()
{
    columns();
    const Grid g;
    const QByteArray point = FormatWriters::tecplot(g, false, "VARIABLES = x y u v p");
    auto row = [&](const char* name, const QByteArray& text, const QString& reference,
                   const QString& outcome) {
        QTest::newRow(name) << text << "dat" << QByteArray() << QString() << reference << outcome;
    };
    row("point, quoted names",
        FormatWriters::tecplot(
            g, false, "VARIABLES = \"x [mm]\", \"y [mm]\", \"u\", \"v\", \"vorticity [1/s]\""),
        "grid", "vorticity [1/s]; mm; ");
    row("block, names over lines",
        FormatWriters::tecplot(g, true, "VARIABLES = \"X\"\n\"Y\"\n\"U\"\n\"V\"\n\"T\""), "grid",
        "T; ; ");
    row("bare names", FormatWriters::tecplot(g, false, "variables = x y vx vy p"), "grid", "p; ; ");
    row("isNaN flags rejected vectors",
        FormatWriters::tecplot(g, false, "VARIABLES = x y u v isNaN"), "rejected", "isNaN; ; ");
    row("two zones", point + "ZONE I=2, J=2\n0 0 0 0 0\n", "", "more than one zone");
    row("3-D zone", edited(point, "J=3,", "J=3, K=2,"), "", "K = 2 planes");
    row("huge counts", edited(point, "I=4, J=3", "I=4000000000, J=4000000000"), "",
        "the file holds fewer");
    QByteArray short_ = FormatWriters::tecplot(g, true, "VARIABLES = x y u v p");
    short_.chop(8);
    row("too few values", short_, "", "values, 4 x 3 points of 5 need 60");
    row("finite elements", edited(point, "F=POINT", "ZONETYPE=FEQUADRILATERAL"), "",
        "only ordered zones");
    row("non-numeric token", edited(point, "\n0.5 0 1.5", "\n0.5 0 x2"), "",
        "\"x2\" is not a number");
}

void TestReaders::netCdf_data()
{
    columns();
    auto row = [&](const char* name, const QByteArray& recipe, const QString& reference,
                   const QString& outcome, const QString& options = QString()) {
        QTest::newRow(name) << QByteArray() << "nc" << recipe << options << reference << outcome;
    };
    row("CF names, classic", "cf", "grid", "p [Pa]; degrees_east; m s-1");
    row("NetCDF-4", "netcdf4", "grid", "p [Pa]; degrees_east; m s-1");
    row("latitude descending", "descending_lat", "grid", "p [Pa]; degrees_east; m s-1");
    row("packed shorts with fill values", "packed_fill", "masked", "p [Pa]; degrees_east; m s-1");
    row("time and depth", "time_depth", "grid", "p [Pa]; degrees_east; m s-1", ",,2,1");
    row("common names", "common_names", "grid", "p [Pa]; degrees_east; m s-1");
    row("no pair", "no_pair", "",
        "no pair of velocity components found; variables: a(lat=3, lon=4), "
        "b(lat=3, lon=4), p(lat=3, lon=4)");
    row("chosen pair", "no_pair", "grid", "p [Pa]; degrees_east; m s-1", "a,b,0,0");
    row("v from a file on other rows", "no_pair", "",
        ".nc and reversed.nc lie on different grids: lat is -1 at index 0 in one, 2 in the other",
        "a," + folder.filePath("reversed.nc:vo") + ",0,0");
    row("two pairs", "two_pairs", "", "more than one pair of velocity components: uo/vo, u/v");
    row("2-D coordinates of a rectilinear grid", "rectilinear_2d", "grid",
        "p [Pa]; degrees_east; m s-1");
    row("level beyond the file", "time_depth", "", "level 3 does not exist; depth holds 3",
        ",,3,0");
    row("step beyond the file", "time_depth", "", "time step 2 does not exist; the file holds 2",
        ",,0,2");
    row("truncated", "truncated", "", "the file is truncated: it holds ");
    row("one dimension twice", "repeated_dim", "", "uo(n=3, n=3) uses n for both x and y");
}

void TestReaders::vtkLegacy_data()
{
    columns();
    const Grid g;
    const QByteArray ascii = FormatWriters::vtkLegacy(g, "RECTILINEAR_GRID", false);
    const Grid uniform = FormatWriters::uniformGrid();
    auto row = [&](const char* name, const QByteArray& text, const QString& reference,
                   const QString& outcome) {
        QTest::newRow(name) << text << "vtk" << QByteArray() << QString() << reference << outcome;
    };
    for (const bool binary : {false, true}) {
        const QByteArray mode = binary ? " binary" : " ascii";
        row(("structured points" + mode).constData(),
            FormatWriters::vtkLegacy(uniform, "STRUCTURED_POINTS", binary), "uniform", "p; ; ");
        row(("rectilinear grid" + mode).constData(),
            FormatWriters::vtkLegacy(g, "RECTILINEAR_GRID", binary), "grid", "p; ; ");
        row(("structured grid" + mode).constData(),
            FormatWriters::vtkLegacy(g, "STRUCTURED_GRID", binary), "grid", "p; ; ");
    }
    row("VTK 9 structured points binary, METADATA",
        FormatWriters::vtkLegacy(uniform, "STRUCTURED_POINTS", true, true), "uniform", "p; ; ");
    row("VTK 9 rectilinear grid ascii, METADATA",
        FormatWriters::vtkLegacy(g, "RECTILINEAR_GRID", false, true), "grid", "p; ; ");
    row("structured grid with y fastest",
        FormatWriters::vtkLegacy(g, "STRUCTURED_GRID", false, true, true), "grid", "p; ; ");
    row("3-D", edited(ascii, "DIMENSIONS 4 3 1", "DIMENSIONS 4 3 2"), "",
        "a 3-D grid of 4 x 3 x 2 points");
    row("structured grid point not finite",
        edited(FormatWriters::vtkLegacy(g, "STRUCTURED_GRID", false),
               "POINTS 12 float\n0 -1 0 0.5 -1 0", "POINTS 12 float\n0 -1 0 0.5 nan 0"),
        "", "grid point 1, 0 is not a finite position");
    // The velocity as a field array of two components, no array marked as vectors.
    const QByteArray field = "FIELD extra 1\np 1 ";
    QByteArray pair = "FIELD data 2\nvelocity 2 " + QByteArray::number(g.points()) + " float\n";
    for (int k = 0; k < g.points(); ++k)
        pair +=
            FormatWriters::number(g.value(2, k)) + ' ' + FormatWriters::number(g.value(3, k)) + ' ';
    row("two-component field array",
        ascii.left(ascii.indexOf("VECTORS")) + pair + "\np 1 " +
            ascii.mid(ascii.indexOf(field) + field.size()),
        "grid", "p; ; ");
    QByteArray truncated = FormatWriters::vtkLegacy(g, "RECTILINEAR_GRID", true);
    truncated.chop(30);
    row("truncated binary", truncated, "", "values promised, the file holds fewer");
    row("huge count", edited(ascii, "POINT_DATA 12", "POINT_DATA 99999999999999"), "",
        "exceeds what the file holds");
    row("polydata", "# vtk DataFile Version 3.0\nt\nASCII\nDATASET POLYDATA\n", "",
        "POLYDATA is not read");
    row("non-numeric token",
        edited(ascii, "FIELD extra 1\np 1 12 float\n0", "FIELD extra 1\np 1 12 float\nzero"), "",
        "\"zero\" is not a number");
}

void TestReaders::vtkXml_data()
{
    columns();
    const Grid g;
    const Grid uniform = FormatWriters::uniformGrid();
    auto row = [&](const QByteArray& name, const QByteArray& text, const QString& suffix,
                   const QString& reference, const QString& outcome) {
        QTest::newRow(name.constData())
            << text << suffix << QByteArray() << QString() << reference << outcome;
    };
    // The two kinds differ only in where the geometry comes from; the arrays
    // are decoded alike.
    row(".vti ascii", FormatWriters::vtkXml(uniform, false, "ascii", false), "vti", "uniform",
        "p; ; ");
    for (const QByteArray format : {"ascii", "binary", "raw", "base64"}) {
        for (const bool compressed : {false, true}) {
            if (format != "ascii" || !compressed)
                row(".vtr " + format + (compressed ? " zlib" : ""),
                    FormatWriters::vtkXml(g, true, format, compressed), "vtr", "grid", "p; ; ");
        }
    }
    // An extent that starts elsewhere on each axis, the origin moved to match.
    row(".vti ascii, extent from (2, 1)",
        edited(edited(FormatWriters::vtkXml(uniform, false, "ascii", false), "0 3 0 2 0 0",
                      "2 5 1 3 0 0"),
               "Origin=\"0 -1 0\"", "Origin=\"-1 -2 0\""),
        "vti", "uniform", "p; ; ");
    row(".vtr raw zlib UInt64", FormatWriters::vtkXml(g, true, "raw", true, 8), "vtr", "grid",
        "p; ; ");
    row(".vti binary UInt64", FormatWriters::vtkXml(uniform, false, "binary", false, 8), "vti",
        "uniform", "p; ; ");

    // Over 4 MB of velocity: the blocks inflate on several threads.
    const QByteArray large =
        FormatWriters::vtkXml(FormatWriters::uniformGrid(600, 600), false, "raw", true, 4, 32768);
    row(".vti raw zlib, large", large, "vti", "square", "p; ; ");
    // Over 4 MB uncompressed: the components are taken apart on several threads.
    row(".vti raw, large",
        FormatWriters::vtkXml(FormatWriters::uniformGrid(600, 600), false, "raw", false), "vti",
        "square", "p; ; ");
    // Blocks of 30 bytes end inside a value.
    row(".vtr raw zlib, blocks that split values",
        FormatWriters::vtkXml(g, true, "raw", true, 4, 30), "vtr", "grid", "p; ; ");
    row(".vti ascii, file over 8 MB read in parts",
        edited(FormatWriters::vtkXml(FormatWriters::uniformGrid(600, 600), false, "ascii", false),
               "<VTKFile", "<!--" + QByteArray(2 << 20, ' ') + "-->\n<VTKFile"),
        "vti", "square", "p; ; ");
    QByteArray damaged = large;
    const qsizetype middle = damaged.indexOf("raw\">\n_") + damaged.size() / 2;
    damaged[middle] = char(damaged[middle] ^ 0x5a);
    damaged[middle + 1] = char(damaged[middle + 1] ^ 0x5a);
    row("large zlib array with a damaged block", damaged, "vti", "",
        "does not inflate to its stated");
    QByteArray inflate = FormatWriters::vtkXml(uniform, false, "raw", true);
    // The first block states 20 bytes; claim 24 for every block.
    inflate.replace(QByteArray("\x14\0\0\0", 4), QByteArray("\x18\0\0\0", 4));
    row("zlib block of the wrong size", inflate, "vti", "", "blocks hold");
    row("zlib block inflating short of its stated size",
        FormatWriters::vtkXml(uniform, false, "raw", true, 4, 20, 1), "vti", "",
        "does not inflate to its stated");
    QByteArray stray = FormatWriters::vtkXml(uniform, false, "binary", false);
    stray.replace(
        "<DataArray type=\"Float32\" Name=\"p\" NumberOfComponents=\"1\" format=\"binary\">",
        "<DataArray type=\"Float32\" Name=\"p\" NumberOfComponents=\"1\" format=\"binary\">*");
    row("base64 with a stray character", stray, "vti", "", "stray character");
    row("3-D extent",
        edited(FormatWriters::vtkXml(uniform, false, "ascii", false), "0 3 0 2 0 0", "0 3 0 2 0 4"),
        "vti", "", "only one plane");
    QByteArray truncated = FormatWriters::vtkXml(g, true, "raw", false);
    truncated.truncate(truncated.indexOf("raw\">\n_") + 40);
    row("truncated appended data", truncated, "vtr", "", "the file holds");
    QByteArray broken = FormatWriters::vtkXml(g, true, "ascii", false);
    broken.truncate(broken.size() / 2);
    row("broken XML", broken, "vtr", "", "XML error");
    row("a vector attribute on one component",
        "<?xml version=\"1.0\"?>\n<VTKFile type=\"ImageData\" version=\"1.0\">\n"
        "<ImageData WholeExtent=\"0 2 0 1 0 0\" Origin=\"0 0 0\" Spacing=\"1 1 1\">\n"
        "<Piece Extent=\"0 2 0 1 0 0\"><PointData Vectors=\"velocity\">\n"
        "<DataArray type=\"Float32\" Name=\"velocity\" format=\"ascii\">1 2 3 4 5 "
        "6</DataArray>\n</PointData></Piece></ImageData></VTKFile>\n",
        "vti", "", "no velocity array found; arrays: velocity (1 components)");
}

void TestReaders::mat_data()
{
    columns();
    auto row = [&](const char* name, const QByteArray& recipe, const QString& reference,
                   const QString& outcome, const QString& options = QString()) {
        QTest::newRow(name) << QByteArray() << "mat" << recipe << options << reference << outcome;
    };
    row("v5 meshgrid doubles", "v5", "grid", "p; ; ");
    row("v7 compressed: vectors, int16 y, singles, NaN, typevector", "v7", "piv", "typevector; ; ");
    row("v7.3", "v73", "grid", "p; ; ");
    row("ndgrid: rows along x", "ndgrid", "grid", "p; ; ");
    row("PIV frame 2: filtered, the smoothed stage empty", "piv", "piv", "typevector; m; m/s",
        ",,0,1");
    row("PIV frame 3: only the original stage", "piv", "piv", "typevector; m; m/s", ",,0,2");
    row("PIV stage chosen but empty", "piv", "", "frame 3 of \"u_filtered\" is empty",
        "u_filtered,v_filtered,0,2");
    row("PIV v7.3", "piv73", "piv", "typevector; m; m/s", ",,0,1");
    row("PIV empty cells only", "piv_empty", "", "frame 1 holds no velocities");
    row("PIV step beyond the frames", "piv", "", "time step 3 does not exist; the file holds 3",
        ",,0,3");
    row("truncated", "truncated", "", "the file is truncated");
    row("u and v of different sizes", "wrong_size", "", "the velocity components differ in size");
    row("complex u", "complex", "", "\"u\" is complex");
}

// Every reader hands the converter the same record: what it must carry over
// are masked points and axes that run downwards.
void TestReaders::convertRoundTrip_data()
{
    QTest::addColumn<QByteArray>("recipe");
    QTest::newRow("NetCDF packed with fill values") << QByteArray("packed_fill");
    QTest::newRow("NetCDF latitude descending") << QByteArray("descending_lat");
    // HDF5 would print its misses on standard error for every NetCDF-4 file.
    QTest::newRow("NetCDF-4 quietly") << QByteArray("netcdf4");
}

void TestReaders::convertRoundTrip()
{
    QFETCH(QByteArray, recipe);
    const QString path = write(QByteArray(), "nc", recipe);
    QVERIFY(!path.isEmpty());
    const QString out = folder.filePath(QStringLiteral("converted%1.gri").arg(fileCount));
    QProcess convert;
    convert.start(QStringLiteral(VELMORA_CONVERT_PROGRAM), {path, out});
    QVERIFY(convert.waitForFinished(60000));
    const QByteArray errors = convert.readAllStandardError();
    QVERIFY2(convert.exitCode() == 0 && !errors.contains("HDF5"), errors.constData());
    const std::unique_ptr<FlowData> original(FlowData::fromFile(path));
    const std::unique_ptr<FlowData> converted(FlowData::fromFile(out));
    QVERIFY(original && converted);
    const QString different = difference(*converted, *original);
    QVERIFY2(different.isEmpty(), qPrintable(different));
}

QTEST_GUILESS_MAIN(TestReaders)
#include "tst_readers.moc"
