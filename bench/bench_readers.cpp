// Loading the foreign formats against the native pair of the same grid, all
// through FlowData::fromFile, files written here into a temporary folder and
// read with a warm page cache:
//   native_2000 / netcdf_2000 / vtkxml_zlib_2000: 2000 x 2000 points, u, v and
//     one scalar (NetCDF float variables; VTK XML .vti with a zlib-compressed
//     raw appended block, 32 KiB blocks as VTK writes them), loaded, and the
//     NetCDF and VTK XML files read alone as well (read/netcdf_2000,
//     read/vtkxml_zlib_2000: the reader's share of the load);
//   read/vts_2000, read/vts_curvilinear_2000: the reader alone (to the
//     record, before the loader) of a VTK XML structured grid of 2000 x 2000
//     points, zlib as above, whose points are rectilinear (the peer) or
//     curved (each line bent by a tenth of the box);
//   read/ and load/vts_curvilinear_1000 and load/vts_curvilinear_2000: the
//     curved grid read alone and loaded (the reader, then the checks,
//     normalisation and cell lookup tables of the data set);
//   column_text_1000: 1000 x 1000 points, 1 M rows of "x y u v p" with seven
//     significant digits. Its peer is pandas.read_csv of the same file:
//     run with VELMORA_COLUMN_TEXT_FILE=PATH to keep the file, then
//     python3 bench/read_csv_peer.py PATH.
// With the program's heap settings, as it loads.

#include "app/HeapSettings.h"
#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "formats/FlowFileReader.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>
#include <netcdf.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QString folderPath;
QString columnTextPath;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

struct Field
{
    int n;
    std::vector<float> xs;
    std::vector<float> u;
    std::vector<float> v;
    std::vector<float> p;

    explicit Field(int side)
        : n(side), xs(size_t(side)), u(size_t(side) * side), v(size_t(side) * side),
          p(size_t(side) * side)
    {
        for (int i = 0; i < n; ++i)
            xs[size_t(i)] = float(double(i) / (n - 1));
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const double x = xs[size_t(i)];
                const double y = xs[size_t(j)];
                const size_t k = size_t(j) * size_t(n) + size_t(i);
                u[k] = float(0.3 * std::sin(6 * M_PI * x) * std::cos(6 * M_PI * y) + 0.05);
                v[k] = float(-0.3 * std::cos(6 * M_PI * x) * std::sin(6 * M_PI * y));
                p[k] = float(std::hypot(u[k], v[k]));
            }
        }
    }
};

bool writeNative(const Field& f, const QString& name)
{
    FlowDataWriter writer;
    const QList<float> axis(f.xs.begin(), f.xs.end());
    if (!writer.setGrid(axis, axis))
        return false;
    QList<Vector3> vectors;
    vectors.reserve(qsizetype(f.u.size()));
    for (size_t k = 0; k < f.u.size(); ++k)
        vectors.append(Vector3(f.u[k], f.v[k], 0.0f));
    writer.setVectors(vectors);
    writer.addScalarSet(QList<float>(f.p.begin(), f.p.end()));
    return writer.write(name);
}

bool writeNetCdf(const Field& f, const QString& path)
{
    int id = 0;
    int dims[2];
    int x = 0, y = 0, u = 0, v = 0, p = 0;
    if (nc_create(path.toLocal8Bit().constData(), NC_CLOBBER | NC_64BIT_OFFSET, &id) != NC_NOERR)
        return false;
    bool ok = nc_def_dim(id, "y", size_t(f.n), &dims[0]) == NC_NOERR &&
              nc_def_dim(id, "x", size_t(f.n), &dims[1]) == NC_NOERR &&
              nc_def_var(id, "y", NC_FLOAT, 1, &dims[0], &y) == NC_NOERR &&
              nc_def_var(id, "x", NC_FLOAT, 1, &dims[1], &x) == NC_NOERR &&
              nc_def_var(id, "u", NC_FLOAT, 2, dims, &u) == NC_NOERR &&
              nc_def_var(id, "v", NC_FLOAT, 2, dims, &v) == NC_NOERR &&
              nc_def_var(id, "p", NC_FLOAT, 2, dims, &p) == NC_NOERR && nc_enddef(id) == NC_NOERR &&
              nc_put_var_float(id, x, f.xs.data()) == NC_NOERR &&
              nc_put_var_float(id, y, f.xs.data()) == NC_NOERR &&
              nc_put_var_float(id, u, f.u.data()) == NC_NOERR &&
              nc_put_var_float(id, v, f.v.data()) == NC_NOERR &&
              nc_put_var_float(id, p, f.p.data()) == NC_NOERR;
    return nc_close(id) == NC_NOERR && ok;
}

void appendWord(QByteArray& out, quint32 value)
{
    char raw[4];
    qToLittleEndian<quint32>(value, raw);
    out.append(raw, 4);
}

QByteArray zlibArray(const std::vector<float>& values)
{
    const int blockSize = 32768;
    const QByteArray raw(reinterpret_cast<const char*>(values.data()),
                         qsizetype(values.size() * 4));
    const int blocks = int((raw.size() + blockSize - 1) / blockSize);
    QByteArray header;
    QByteArray data;
    appendWord(header, quint32(blocks));
    appendWord(header, quint32(blockSize));
    appendWord(header, quint32(raw.size() - qsizetype(blocks - 1) * blockSize));
    for (int b = 0; b < blocks; ++b) {
        const QByteArray piece = raw.mid(qsizetype(b) * blockSize, blockSize);
        uLongf size = compressBound(uLong(piece.size()));
        QByteArray packed(qsizetype(size), '\0');
        compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                  reinterpret_cast<const Bytef*>(piece.constData()), uLong(piece.size()), 6);
        appendWord(header, quint32(size));
        data += packed.left(qsizetype(size));
    }
    return header + data;
}

bool writeVtkXml(const Field& f, const QString& path)
{
    std::vector<float> velocity(f.u.size() * 3);
    for (size_t k = 0; k < f.u.size(); ++k) {
        velocity[3 * k] = f.u[k];
        velocity[3 * k + 1] = f.v[k];
        velocity[3 * k + 2] = 0.0f;
    }
    const QByteArray first = zlibArray(velocity);
    const QByteArray second = zlibArray(f.p);
    const QByteArray last = QByteArray::number(f.n - 1);
    const QByteArray spacing = QByteArray::number(1.0 / (f.n - 1), 'g', 17);
    QByteArray xml = "<?xml version=\"1.0\"?>\n<VTKFile type=\"ImageData\" version=\"1.0\" "
                     "byte_order=\"LittleEndian\" header_type=\"UInt32\" "
                     "compressor=\"vtkZLibDataCompressor\">\n<ImageData WholeExtent=\"0 " +
                     last + " 0 " + last + " 0 0\" Origin=\"0 0 0\" Spacing=\"" + spacing + " " +
                     spacing + " 1\">\n<Piece Extent=\"0 " + last + " 0 " + last +
                     " 0 0\">\n<PointData Vectors=\"velocity\">\n"
                     "<DataArray type=\"Float32\" Name=\"velocity\" NumberOfComponents=\"3\" "
                     "format=\"appended\" offset=\"0\"/>\n"
                     "<DataArray type=\"Float32\" Name=\"p\" format=\"appended\" offset=\"" +
                     QByteArray::number(first.size()) +
                     "\"/>\n</PointData>\n</Piece>\n</ImageData>\n"
                     "<AppendedData encoding=\"raw\">\n_" +
                     first + second + "\n</AppendedData>\n</VTKFile>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size();
}

bool writeStructuredGrid(const Field& f, const QString& path, bool curved)
{
    std::vector<float> velocity(f.u.size() * 3);
    std::vector<float> points(f.u.size() * 3);
    for (size_t k = 0; k < f.u.size(); ++k) {
        const double x = f.xs[k % size_t(f.n)];
        const double y = f.xs[k / size_t(f.n)];
        points[3 * k] = float(curved ? x + 0.1 * std::sin(M_PI * y) : x);
        points[3 * k + 1] = float(curved ? y + 0.1 * std::sin(M_PI * x) : y);
        velocity[3 * k] = f.u[k];
        velocity[3 * k + 1] = f.v[k];
    }
    const QByteArray first = zlibArray(velocity);
    const QByteArray second = zlibArray(points);
    const QByteArray extent =
        "0 " + QByteArray::number(f.n - 1) + " 0 " + QByteArray::number(f.n - 1) + " 0 0";
    const QByteArray xml =
        "<?xml version=\"1.0\"?>\n<VTKFile type=\"StructuredGrid\" version=\"1.0\" "
        "byte_order=\"LittleEndian\" header_type=\"UInt32\" "
        "compressor=\"vtkZLibDataCompressor\">\n<StructuredGrid WholeExtent=\"" +
        extent + "\">\n<Piece Extent=\"" + extent +
        "\">\n<PointData Vectors=\"velocity\">\n<DataArray type=\"Float32\" Name=\"velocity\" "
        "NumberOfComponents=\"3\" format=\"appended\" offset=\"0\"/>\n</PointData>\n"
        "<Points>\n<DataArray type=\"Float32\" NumberOfComponents=\"3\" format=\"appended\" "
        "offset=\"" +
        QByteArray::number(first.size()) +
        "\"/>\n</Points>\n</Piece>\n</StructuredGrid>\n<AppendedData encoding=\"raw\">\n_" + first +
        second + "\n</AppendedData>\n</VTKFile>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size();
}

bool writeColumnText(const Field& f, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block = "x y u v p\n";
    char line[128];
    for (int j = 0; j < f.n; ++j) {
        for (int i = 0; i < f.n; ++i) {
            const size_t k = size_t(j) * size_t(f.n) + size_t(i);
            const int length = std::snprintf(line, sizeof line, "%.7g %.7g %.7g %.7g %.7g\n",
                                             double(f.xs[size_t(i)]), double(f.xs[size_t(j)]),
                                             double(f.u[k]), double(f.v[k]), double(f.p[k]));
            block.append(line, length);
        }
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    return file.write(block) == block.size();
}

void load(benchmark::State& state, const QString& fileName)
{
    for (auto _ : state) {
        std::unique_ptr<FlowData> data(FlowData::fromFile(fileName));
        if (!data)
            state.SkipWithError("loading failed");
        benchmark::DoNotOptimize(data.get());
    }
}

void readRecord(benchmark::State& state, const QString& fileName)
{
    for (auto _ : state) {
        FlowRecord record;
        if (!FlowFileReader::read(fileName, LoadOptions(), record))
            state.SkipWithError("reading failed");
        benchmark::DoNotOptimize(record.u.data());
    }
}

} // namespace

int main(int argc, char** argv)
{
    HeapSettings::keepPictureMemory();
    qInstallMessageHandler(quiet);
    QTemporaryDir folder;
    folderPath = folder.path();
    columnTextPath = qEnvironmentVariable("VELMORA_COLUMN_TEXT_FILE", folderPath + "/columns.txt");
    {
        const Field big(2000);
        const Field medium(1000);
        if (!folder.isValid() || !writeNative(big, folderPath + "/native") ||
            !writeNetCdf(big, folderPath + "/big.nc") ||
            !writeVtkXml(big, folderPath + "/big.vti") ||
            !writeStructuredGrid(big, folderPath + "/straight.vts", false) ||
            !writeStructuredGrid(big, folderPath + "/curved.vts", true) ||
            !writeStructuredGrid(medium, folderPath + "/curved_1000.vts", true) ||
            !writeColumnText(medium, columnTextPath)) {
            std::fprintf(stderr, "bench_readers: cannot write the data sets\n");
            return 1;
        }
    }
    // name, what is timed, the file under the temporary folder (or a path)
    const struct
    {
        const char* name;
        void (*run)(benchmark::State&, const QString&);
        QString file;
    } cases[] = {
        {"load/native_2000", load, folderPath + "/native.gri"},
        {"read/netcdf_2000", readRecord, folderPath + "/big.nc"},
        {"load/netcdf_2000", load, folderPath + "/big.nc"},
        {"read/vtkxml_zlib_2000", readRecord, folderPath + "/big.vti"},
        {"load/vtkxml_zlib_2000", load, folderPath + "/big.vti"},
        {"read/vts_2000", readRecord, folderPath + "/straight.vts"},
        {"read/vts_curvilinear_2000", readRecord, folderPath + "/curved.vts"},
        {"load/vts_curvilinear_2000", load, folderPath + "/curved.vts"},
        {"read/vts_curvilinear_1000", readRecord, folderPath + "/curved_1000.vts"},
        {"load/vts_curvilinear_1000", load, folderPath + "/curved_1000.vts"},
        {"load/column_text_1000", load, columnTextPath},
    };
    for (const auto& c : cases)
        benchmark::RegisterBenchmark(c.name, c.run, c.file)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
