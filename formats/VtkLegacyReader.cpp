#include "formats/VtkLegacyReader.h"

#include "formats/TextScanner.h"
#include "formats/VtkArrays.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cstring>
#include <vector>

using TextScanner::isBlank;

namespace {

class Cursor
{
public:
    explicit Cursor(const QByteArray& bytes)
        : p(bytes.constData()), end(bytes.constData() + bytes.size())
    {
    }
    void setBinary(bool isBinary) { binary = isBinary; }

    QByteArray token()
    {
        while (p < end && isBlank(*p))
            ++p;
        const char* start = p;
        while (p < end && !isBlank(*p))
            ++p;
        return QByteArray(start, int(p - start));
    }
    QByteArray line()
    {
        const char* start = p;
        while (p < end && *p != '\n')
            ++p;
        QByteArray text(start, int(p - start));
        if (p < end)
            ++p;
        return text.trimmed();
    }
    bool count(qint64* value, QString* reason, const char* what)
    {
        const QByteArray text = token();
        bool ok = false;
        *value = text.toLongLong(&ok);
        if (!ok || *value < 0) {
            *reason = QStringLiteral("%1: \"%2\" is not a count")
                          .arg(QLatin1String(what), QString::fromLatin1(text.left(40)));
            return false;
        }
        if (*value > remaining() + 1) {
            *reason = QStringLiteral("%1: a count of %2 exceeds what the file holds")
                          .arg(QLatin1String(what))
                          .arg(*value);
            return false;
        }
        return true;
    }
    // Since VTK 9 an array may be followed by a METADATA block (COMPONENT_NAMES,
    // INFORMATION with NAME/DATA lines) that ends at an empty line. Its
    // entries cannot be parsed by count alone (a "DATA n" line may or may not
    // be followed by n string lines), so the empty line is the only sure end.
    void skipMetadata()
    {
        const char* before = p;
        if (token().toUpper() != "METADATA") {
            p = before;
            return;
        }
        line();
        while (p < end && !line().isEmpty()) {
        }
    }
    qint64 remaining() const { return end - p; }
    bool isBinaryMode() const { return binary; }

    // count values of the named type into out.
    bool values(qint64 count, const QByteArray& type, std::vector<double>& out, QString* reason)
    {
        const QByteArray t = type.toLower();
        int size = 0;
        if (t == "float")
            size = 4;
        else if (t == "double" || t == "vtktypeint64" || t == "vtktypeuint64" || t == "long" ||
                 t == "unsigned_long")
            size = 8;
        else if (t == "int" || t == "unsigned_int" || t == "vtkidtype")
            size = 4;
        else if (t == "short" || t == "unsigned_short")
            size = 2;
        else if (t == "char" || t == "unsigned_char")
            size = 1;
        else {
            *reason = QStringLiteral("data type \"%1\" is not read")
                          .arg(QString::fromLatin1(type.left(40)));
            return false;
        }
        // A binary value takes its size, an ASCII one at least two bytes.
        const qint64 perValue = binary ? size : 2;
        if (count > remaining() / perValue + 1) {
            *reason = QStringLiteral("%1 values promised, the file holds fewer").arg(count);
            return false;
        }
        out.resize(size_t(count));
        if (!binary) {
            for (qint64 k = 0; k < count; ++k) {
                while (p < end && isBlank(*p))
                    ++p;
                const char* start = p;
                while (p < end && !isBlank(*p))
                    ++p;
                if (start == p) {
                    *reason =
                        QStringLiteral("%1 values promised, the file holds %2").arg(count).arg(k);
                    return false;
                }
                if (!TextScanner::parseNumber(start, p, &out[size_t(k)])) {
                    *reason =
                        QStringLiteral("\"%1\" is not a number").arg(TextScanner::token(start, p));
                    return false;
                }
            }
            return true;
        }
        // The binary block starts after the line that announced it.
        while (p < end && *p != '\n')
            ++p;
        if (p < end)
            ++p;
        if (count * size > remaining()) {
            *reason = QStringLiteral("%1 binary values promised, the file holds fewer").arg(count);
            return false;
        }
        const uchar* b = reinterpret_cast<const uchar*>(p);
        for (qint64 k = 0; k < count; ++k, b += size) {
            double value = 0.0;
            if (t == "float")
                value = qFromBigEndian<float>(b);
            else if (t == "double")
                value = qFromBigEndian<double>(b);
            else if (t == "int" || t == "vtkidtype")
                value = qFromBigEndian<qint32>(b);
            else if (t == "unsigned_int")
                value = qFromBigEndian<quint32>(b);
            else if (t == "short")
                value = qFromBigEndian<qint16>(b);
            else if (t == "unsigned_short")
                value = qFromBigEndian<quint16>(b);
            else if (t == "char")
                value = double(static_cast<signed char>(*b));
            else if (t == "unsigned_char")
                value = double(*b);
            else if (t == "vtktypeuint64" || t == "unsigned_long")
                value = double(qFromBigEndian<quint64>(b));
            else
                value = double(qFromBigEndian<qint64>(b));
            out[size_t(k)] = value;
        }
        p += count * size;
        return true;
    }

private:
    const char* p;
    const char* end;
    bool binary = false;
};

// One parse in its stages: the preamble up to the data set type, then one
// section per keyword (geometry, point data, field data), then the grid the
// sections describe. Cell data is read past and dropped.
class Parse
{
public:
    Parse(const QByteArray& bytes, QString* newReason) : in(bytes), reason(newReason) {}

    bool preamble()
    {
        if (!in.line().startsWith("# vtk DataFile")) {
            *reason = QStringLiteral("no \"# vtk DataFile\" line");
            return false;
        }
        in.line();
        const QByteArray encoding = in.line().toUpper();
        if (encoding != "ASCII" && encoding != "BINARY") {
            *reason = QStringLiteral("encoding \"%1\" is neither ASCII nor BINARY")
                          .arg(QString::fromLatin1(encoding.left(40)));
            return false;
        }
        in.setBinary(encoding == "BINARY");
        if (in.token().toUpper() != "DATASET") {
            *reason = QStringLiteral("no DATASET line");
            return false;
        }
        kind = in.token().toUpper();
        if (kind != "STRUCTURED_POINTS" && kind != "RECTILINEAR_GRID" &&
            kind != "STRUCTURED_GRID") {
            *reason = QStringLiteral("data set type %1 is not read (only structured points, "
                                     "rectilinear and structured grids)")
                          .arg(QString::fromLatin1(kind.left(40)));
            return false;
        }
        return true;
    }

    bool sections()
    {
        while (true) {
            const QByteArray keyword = in.token().toUpper();
            if (keyword.isEmpty())
                return true;
            if (!section(keyword))
                return false;
            in.skipMetadata();
        }
    }

    bool grid(const LoadOptions& options, FlowRecord& record)
    {
        const size_t nx = size_t(dims[0]);
        const size_t ny = size_t(dims[1]);
        if (nx < 2 || ny < 2) {
            *reason = QStringLiteral("no DIMENSIONS");
            return false;
        }
        const size_t count = nx * ny;
        if (pointCount != qint64(count)) {
            *reason =
                QStringLiteral("POINT_DATA %1 for %2 x %3 points").arg(pointCount).arg(nx).arg(ny);
            return false;
        }
        if (!VtkArrays::assign(arrays, count, options, record, reason))
            return false;
        if (kind == "STRUCTURED_POINTS") {
            record.x.resize(nx);
            record.y.resize(ny);
            for (size_t i = 0; i < nx; ++i)
                record.x[i] = origins[0] + double(i) * spacing[0];
            for (size_t j = 0; j < ny; ++j)
                record.y[j] = origins[1] + double(j) * spacing[1];
        } else if (kind == "RECTILINEAR_GRID") {
            if (axes[0].size() != nx || axes[1].size() != ny) {
                *reason = QStringLiteral("coordinates do not match the dimensions");
                return false;
            }
            record.x = axes[0];
            record.y = axes[1];
        } else {
            if (points.size() != 3 * count) {
                *reason = QStringLiteral("no POINTS for the structured grid");
                return false;
            }
            FlowRecord::Positions px(count);
            FlowRecord::Positions py(count);
            for (size_t k = 0; k < count; ++k) {
                px[k] = points[3 * k];
                py[k] = points[3 * k + 1];
            }
            if (!VtkArrays::gridFromPoints(std::move(px), std::move(py), nx, ny, record, reason))
                return false;
        }
        return true;
    }

private:
    bool section(const QByteArray& keyword)
    {
        if (keyword == "DIMENSIONS")
            return dimensions();
        if (keyword == "ORIGIN" || keyword == "SPACING" || keyword == "ASPECT_RATIO")
            return origin(keyword);
        if (keyword == "X_COORDINATES" || keyword == "Y_COORDINATES" || keyword == "Z_COORDINATES")
            return coordinates(keyword);
        if (keyword == "POINTS")
            return structuredPoints();
        if (keyword == "POINT_DATA" || keyword == "CELL_DATA")
            return dataSection(keyword);
        if (keyword == "SCALARS" || keyword == "VECTORS" || keyword == "NORMALS" ||
            keyword == "TEXTURE_COORDINATES" || keyword == "TENSORS" || keyword == "COLOR_SCALARS")
            return attribute(keyword);
        if (keyword == "LOOKUP_TABLE")
            return lookupTable();
        if (keyword == "FIELD")
            return field();
        *reason =
            QStringLiteral("unknown keyword \"%1\"").arg(QString::fromLatin1(keyword.left(40)));
        return false;
    }

    bool dimensions()
    {
        for (qint64& d : dims)
            if (!in.count(&d, reason, "DIMENSIONS"))
                return false;
        if (dims[2] > 1) {
            *reason = QStringLiteral("a 3-D grid of %1 x %2 x %3 points; only one plane is read")
                          .arg(dims[0])
                          .arg(dims[1])
                          .arg(dims[2]);
            return false;
        }
        if (dims[0] < 2 || dims[1] < 2 || dims[0] * dims[1] > in.remaining() + 1) {
            *reason =
                QStringLiteral("dimensions %1 x %2 do not fit the file").arg(dims[0]).arg(dims[1]);
            return false;
        }
        return true;
    }

    bool origin(const QByteArray& keyword)
    {
        double* target = keyword == "ORIGIN" ? origins : spacing;
        for (int k = 0; k < 3; ++k) {
            const QByteArray text = in.token();
            if (!TextScanner::parseNumber(text.constData(), text.constData() + text.size(),
                                          &target[k])) {
                *reason =
                    QStringLiteral("%1: \"%2\" is not a number")
                        .arg(QString::fromLatin1(keyword), QString::fromLatin1(text.left(40)));
                return false;
            }
        }
        return true;
    }

    bool coordinates(const QByteArray& keyword)
    {
        const int axis = keyword.at(0) - 'X';
        qint64 n = 0;
        if (!in.count(&n, reason, keyword.constData()))
            return false;
        const QByteArray type = in.token();
        if (!in.values(n, type, axes[axis], reason))
            return false;
        return true;
    }

    bool structuredPoints()
    {
        qint64 n = 0;
        if (!in.count(&n, reason, "POINTS"))
            return false;
        if (n != dims[0] * dims[1]) {
            *reason =
                QStringLiteral("%1 points for dimensions %2 x %3").arg(n).arg(dims[0]).arg(dims[1]);
            return false;
        }
        const QByteArray type = in.token();
        if (!in.values(3 * n, type, points, reason))
            return false;
        return true;
    }

    bool dataSection(const QByteArray& keyword)
    {
        qint64 n = 0;
        if (!in.count(&n, reason, keyword.constData()))
            return false;
        inCellData = keyword == "CELL_DATA";
        if (inCellData)
            cellCount = n;
        else
            pointCount = n;
        return true;
    }

    bool attribute(const QByteArray& keyword)
    {
        VtkArray array;
        array.name = QString::fromUtf8(in.token());
        QByteArray type = "float";
        if (keyword == "COLOR_SCALARS") {
            qint64 c = 0;
            if (!in.count(&c, reason, "COLOR_SCALARS"))
                return false;
            array.components = int(qMin<qint64>(c, 16));
            type = in.isBinaryMode() ? "unsigned_char" : "float";
        } else {
            type = in.token();
        }
        if (keyword == "SCALARS") {
            // An optional component count, then LOOKUP_TABLE.
            QByteArray next = in.token();
            if (next.toUpper() != "LOOKUP_TABLE") {
                bool ok = false;
                array.components = next.toInt(&ok);
                if (!ok || array.components < 1 || array.components > 16) {
                    *reason = QStringLiteral("SCALARS %1: \"%2\" is not a component count")
                                  .arg(array.name, QString::fromLatin1(next.left(40)));
                    return false;
                }
                next = in.token();
            }
            if (next.toUpper() != "LOOKUP_TABLE") {
                *reason = QStringLiteral("SCALARS %1 without LOOKUP_TABLE").arg(array.name);
                return false;
            }
            in.token();
        } else if (keyword == "VECTORS" || keyword == "NORMALS") {
            array.components = 3;
            array.vectors = keyword == "VECTORS";
        } else if (keyword == "TENSORS") {
            array.components = 9;
        } else if (keyword == "TEXTURE_COORDINATES") {
            qint64 c = 0;
            if (!in.count(&c, reason, "TEXTURE_COORDINATES"))
                return false;
            array.components = int(qMin<qint64>(c, 3));
            type = in.token();
        }
        const qint64 tuples = inCellData ? cellCount : pointCount;
        if (tuples < 0) {
            *reason = QStringLiteral("%1 before POINT_DATA").arg(QString::fromLatin1(keyword));
            return false;
        }
        std::vector<double> values;
        if (!in.values(tuples * array.components, type, values, reason))
            return false;
        array.values.assign(values.begin(), values.end());
        if (!inCellData && keyword != "NORMALS" && keyword != "TENSORS" &&
            keyword != "TEXTURE_COORDINATES" && keyword != "COLOR_SCALARS")
            arrays.push_back(std::move(array));
        return true;
    }

    bool lookupTable()
    {
        in.token();
        qint64 n = 0;
        if (!in.count(&n, reason, "LOOKUP_TABLE"))
            return false;
        std::vector<double> table;
        if (!in.values(4 * n, in.isBinaryMode() ? "unsigned_char" : "float", table, reason))
            return false;
        return true;
    }

    bool field()
    {
        in.token();
        qint64 n = 0;
        if (!in.count(&n, reason, "FIELD"))
            return false;
        for (qint64 a = 0; a < n; ++a) {
            VtkArray array;
            array.name = QString::fromUtf8(in.token());
            qint64 components = 0;
            qint64 tuples = 0;
            if (!in.count(&components, reason, "FIELD array") ||
                !in.count(&tuples, reason, "FIELD array"))
                return false;
            if (components < 1 || components > 16) {
                *reason = QStringLiteral("FIELD array %1 with %2 components")
                              .arg(array.name)
                              .arg(components);
                return false;
            }
            array.components = int(components);
            const QByteArray type = in.token();
            std::vector<double> values;
            if (tuples > in.remaining() || !in.values(tuples * components, type, values, reason))
                return false;
            in.skipMetadata();
            array.values.assign(values.begin(), values.end());
            if (!inCellData && tuples == pointCount)
                arrays.push_back(std::move(array));
        }
        return true;
    }

    Cursor in;
    QString* reason;
    QByteArray kind;
    qint64 dims[3] = {0, 0, 0};
    double origins[3] = {0, 0, 0};
    double spacing[3] = {1, 1, 1};
    std::vector<double> axes[3];
    std::vector<double> points;
    std::vector<VtkArray> arrays;
    qint64 pointCount = -1;
    bool inCellData = false;
    qint64 cellCount = 0;
};

} // namespace

const VtkLegacyReader& VtkLegacyReader::instance()
{
    static const VtkLegacyReader format;
    return format;
}

FileFormat::Claim VtkLegacyReader::probe(const QByteArray& head, const QString& fileName) const
{
    if (head.trimmed().startsWith("# vtk DataFile"))
        return Claim::Signature;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("vtk") ? Claim::Suffix : Claim::None;
}

bool VtkLegacyReader::parse(const QByteArray& bytes, const LoadOptions& options, FlowRecord& record,
                            QString* reason) const
{
    Parse parse(bytes, reason);
    return parse.preamble() && parse.sections() && parse.grid(options, record);
}
