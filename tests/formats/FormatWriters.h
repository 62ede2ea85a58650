#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <cmath>
#include <functional>
#include <vector>

// Small writers of the foreign formats for the reader tests: one grid of
// dyadic values (exact in float and in text) in every layout the readers
// take, so that each file must load to the arrays of the same native pair.
namespace FormatWriters {

struct Grid
{
    std::vector<double> xs{0.0, 0.5, 1.5, 3.0};
    std::vector<double> ys{-1.0, 0.0, 2.0};
    int nx() const { return int(xs.size()); }
    int ny() const { return int(ys.size()); }
    int points() const { return nx() * ny(); }
    // value c of point k: 0 x, 1 y, 2 u, 3 v, 4 s
    double value(int c, int k) const
    {
        const int i = k % nx();
        const int j = k / nx();
        const double values[5] = {xs[size_t(i)], ys[size_t(j)], 1.0 + i - 0.5 * j,
                                  0.25 * i * j - 1.0, i * i + 10.0 * j};
        return values[c];
    }
};

inline QByteArray number(double value)
{
    return QByteArray::number(value, 'g', 17);
}

// Rows "x y u v s" joined by separator, in the given point order.
inline QByteArray columnText(const Grid& g, const QByteArray& header, char separator,
                             bool reversed = false)
{
    QByteArray out = header;
    for (int n = 0; n < g.points(); ++n) {
        const int k = reversed ? g.points() - 1 - n : n;
        for (int c = 0; c < 5; ++c) {
            if (c)
                out += separator;
            out += number(g.value(c, k));
        }
        out += '\n';
    }
    return out;
}

inline QByteArray tecplot(const Grid& g, bool block, const QByteArray& variables)
{
    QByteArray out =
        "TITLE = \"test\"\n" + variables + "\nZONE T=\"one\", I=" + QByteArray::number(g.nx()) +
        ", J=" + QByteArray::number(g.ny()) + (block ? ", DATAPACKING=BLOCK\n" : ", F=POINT\n");
    if (block) {
        for (int c = 0; c < 5; ++c) {
            for (int k = 0; k < g.points(); ++k)
                out += number(g.value(c, k)) + ' ';
            out += '\n';
        }
    } else {
        out = columnText(g, out, ' ');
    }
    return out;
}

// kind: STRUCTURED_POINTS, RECTILINEAR_GRID or STRUCTURED_GRID. vtk9: as VTK 9
// writes it (version 5.1, a METADATA block after every array, blank lines
// between sections); yFast: the structured grid's points with y fastest, as
// PIV software writes them (DIMENSIONS rows columns 1).
inline QByteArray vtkLegacy(const Grid& g, const QByteArray& kind, bool binary, bool vtk9 = false,
                            bool yFast = false)
{
    const QByteArray dims = yFast ? QByteArray::number(g.ny()) + ' ' + QByteArray::number(g.nx())
                                  : QByteArray::number(g.nx()) + ' ' + QByteArray::number(g.ny());
    QByteArray out = "# vtk DataFile Version " + QByteArray(vtk9 ? "5.1" : "3.0") + "\ntest\n" +
                     QByteArray(binary ? "BINARY\n" : "ASCII\n") + "DATASET " + kind +
                     "\nDIMENSIONS " + dims + " 1\n";
    // Point n of the file is grid point k.
    auto point = [&](int n) { return yFast ? (n % g.ny()) * g.nx() + n / g.ny() : n; };
    auto values = [&](const std::function<double(int)>& f, int count, const QByteArray& metadata) {
        for (int k = 0; k < count; ++k) {
            char raw[4];
            qToBigEndian<float>(float(f(k)), raw);
            if (binary)
                out.append(raw, 4);
            else
                out += number(f(k)) + ' ';
        }
        out += '\n';
        if (vtk9)
            out += "METADATA\n" + metadata + "INFORMATION 2\n" +
                   "NAME L2_NORM_RANGE LOCATION vtkDataArray\nDATA 2 0 4.5 \n"
                   "NAME L2_NORM_FINITE_RANGE LOCATION vtkDataArray\nDATA 2 0 4.5 \n\n";
    };
    if (kind == "STRUCTURED_POINTS") {
        out += "ORIGIN 0 -1 0\nSPACING 0.5 1 1\n";
    } else if (kind == "RECTILINEAR_GRID") {
        out += "X_COORDINATES " + QByteArray::number(g.nx()) + " float\n";
        values([&](int k) { return g.xs[size_t(k)]; }, g.nx(), "");
        out += "Y_COORDINATES " + QByteArray::number(g.ny()) + " float\n";
        values([&](int k) { return g.ys[size_t(k)]; }, g.ny(), "");
        out += "Z_COORDINATES 1 float\n";
        values([](int) { return 0.0; }, 1, "");
    } else {
        out += "POINTS " + QByteArray::number(g.points()) + " float\n";
        values([&](int k) { return k % 3 == 2 ? 0.0 : g.value(k % 3, point(k / 3)); },
               3 * g.points(), "COMPONENT_NAMES\nX\nY\nZ\n");
    }
    out += (vtk9 ? "\n" : "") + QByteArray("POINT_DATA ") + QByteArray::number(g.points()) +
           "\nVECTORS velocity float\n";
    values([&](int k) { return k % 3 == 2 ? 0.0 : g.value(2 + k % 3, point(k / 3)); },
           3 * g.points(), "COMPONENT_NAMES\nu%20(m/s)\nv\nw\n");
    out += "FIELD extra 1\np 1 " + QByteArray::number(g.points()) + " float\n";
    values([&](int k) { return g.value(4, point(k)); }, g.points(), "");
    return out;
}

// A uniform grid, spacing 0.5 along x and 1 along y from (0, -1), as the
// structured points and image data writers place it.
inline Grid uniformGrid(int nx = 4, int ny = 3)
{
    Grid g{{}, {}};
    for (int k = 0; k < nx; ++k)
        g.xs.push_back(0.5 * k);
    for (int k = 0; k < ny; ++k)
        g.ys.push_back(k - 1.0);
    return g;
}

inline void appendWord(QByteArray& out, quint64 value, int word)
{
    char raw[8]; // little-endian: a 4-byte word is the first half
    qToLittleEndian<quint64>(value, raw);
    out.append(raw, word);
}

// One array's payload: the size header and the raw bytes, or the block
// header and the zlib blocks (blockSize bytes each). Block `shortBlock`, if
// any, holds one byte less than its header states, as a damaged file might.
inline void payload(const QByteArray& raw, bool compressed, int word, int blockSize,
                    QByteArray* header, QByteArray* data, int shortBlock = -1)
{
    header->clear();
    data->clear();
    if (!compressed) {
        appendWord(*header, quint64(raw.size()), word);
        *data = raw;
        return;
    }
    const int blocks = int((raw.size() + blockSize - 1) / blockSize);
    appendWord(*header, quint64(blocks), word);
    appendWord(*header, quint64(blockSize), word);
    appendWord(*header, quint64(raw.size() - (blocks - 1) * blockSize), word);
    for (int b = 0; b < blocks; ++b) {
        const QByteArray piece = raw.mid(b * blockSize, blockSize - (b == shortBlock ? 1 : 0));
        uLongf size = compressBound(uLong(piece.size()));
        QByteArray packed(int(size), '\0');
        compress(reinterpret_cast<Bytef*>(packed.data()), &size,
                 reinterpret_cast<const Bytef*>(piece.constData()), uLong(piece.size()));
        packed.resize(int(size));
        appendWord(*header, quint64(size), word);
        *data += packed;
    }
}

// format: ascii, binary, raw (appended) or base64 (appended).
inline QByteArray vtkXml(const Grid& g, bool rectilinear, const QByteArray& format, bool compressed,
                         int word = 4, int blockSize = 20, int shortBlock = -1)
{
    const QByteArray extent =
        "0 " + QByteArray::number(g.nx() - 1) + " 0 " + QByteArray::number(g.ny() - 1) + " 0 0";
    const QByteArray type = rectilinear ? "RectilinearGrid" : "ImageData";
    QByteArray out = "<?xml version=\"1.0\"?>\n<VTKFile type=\"" + type +
                     "\" version=\"1.0\" byte_order=\"LittleEndian\" header_type=\"" +
                     (word == 8 ? "UInt64" : "UInt32") + "\"" +
                     (compressed ? " compressor=\"vtkZLibDataCompressor\"" : "") + ">\n<" + type +
                     " WholeExtent=\"" + extent + "\"" +
                     (rectilinear ? "" : " Origin=\"0 -1 0\" Spacing=\"0.5 1 1\"") +
                     ">\n<Piece Extent=\"" + extent + "\">\n";
    QByteArray appended;
    auto array = [&](const QByteArray& name, int components, int count,
                     const std::function<double(int)>& f) {
        QByteArray raw;
        for (int k = 0; k < count * components; ++k) {
            char bytes[4];
            qToLittleEndian<float>(float(f(k)), bytes);
            raw.append(bytes, 4);
        }
        const QByteArray isAppended = format == "raw" || format == "base64" ? "appended" : format;
        out += "<DataArray type=\"Float32\" Name=\"" + name + "\" NumberOfComponents=\"" +
               QByteArray::number(components) + "\" format=\"" + isAppended + "\"";
        QByteArray header;
        QByteArray data;
        payload(raw, compressed, word, blockSize, &header, &data, shortBlock);
        if (format == "ascii") {
            out += ">";
            for (int k = 0; k < count * components; ++k)
                out += number(f(k)) + ' ';
            out += "</DataArray>\n";
        } else if (format == "binary") {
            out += ">" + header.toBase64() + data.toBase64() + "</DataArray>\n";
        } else {
            out += " offset=\"" + QByteArray::number(appended.size()) + "\"/>\n";
            appended += format == "raw" ? header + data : header.toBase64() + data.toBase64();
        }
    };
    out += "<PointData Vectors=\"velocity\">\n";
    array("velocity", 3, g.points(),
          [&](int k) { return k % 3 == 2 ? 0.0 : g.value(2 + k % 3, k / 3); });
    array("p", 1, g.points(), [&](int k) { return g.value(4, k); });
    out += "</PointData>\n";
    if (rectilinear) {
        out += "<Coordinates>\n";
        array("x", 1, g.nx(), [&](int k) { return g.xs[size_t(k)]; });
        array("y", 1, g.ny(), [&](int k) { return g.ys[size_t(k)]; });
        array("z", 1, 1, [](int) { return 0.0; });
        out += "</Coordinates>\n";
    }
    out += "</Piece>\n</" + type + ">\n";
    if (format == "raw" || format == "base64")
        out += "<AppendedData encoding=\"" + QByteArray(format == "raw" ? "raw" : "base64") +
               "\">\n_" + appended + "\n</AppendedData>\n";
    out += "</VTKFile>\n";
    return out;
}

} // namespace FormatWriters
