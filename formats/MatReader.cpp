#include "formats/MatReader.h"

#include "formats/PointTable.h"
#include "formats/VelocityPair.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <H5Epublic.h>
#include <matio.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// matio keeps global state and the Debian HDF5 is built without thread
// safety, so one read at a time goes through the library.
std::mutex& libraryLock()
{
    static std::mutex lock;
    return lock;
}

// Deflate packs at most 1032 bytes into one: the bound on what a compressed
// variable can inflate to, checked before anything is allocated for it.
constexpr double deflateRatio = 1032.0;

// Level 5 tags: the byte order is the writer's, told by the header.
quint32 word(const QByteArray& bytes, int at, bool bigEndian)
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + at;
    return bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
}

// The bytes of one level 5 variable, read straight from the file or through
// inflate, for the walk that checks it before matio reads it.
class ElementStream
{
public:
    ElementStream(QFile& newFile, qint64 newLength, bool newCompressed)
        : file(newFile), left(newLength), compressed(newCompressed)
    {
        if (compressed)
            ready = inflateInit(&stream) == Z_OK;
    }
    ~ElementStream()
    {
        if (compressed && ready)
            inflateEnd(&stream);
    }
    ElementStream(const ElementStream&) = delete;
    ElementStream& operator=(const ElementStream&) = delete;

    // False when the variable's bytes end first or do not inflate.
    bool read(char* out, qint64 count)
    {
        if (!compressed) {
            if (count > left || file.read(out, count) != count)
                return false;
            left -= count;
            return true;
        }
        stream.next_out = reinterpret_cast<Bytef*>(out);
        while (ready && count > 0) {
            if (stream.avail_in == 0) {
                const qint64 chunk = qMin<qint64>(left, qint64(sizeof(input)));
                if (chunk <= 0 || file.read(input, chunk) != chunk)
                    return false;
                left -= chunk;
                stream.next_in = reinterpret_cast<Bytef*>(input);
                stream.avail_in = uInt(chunk);
            }
            const uInt wanted = uInt(qMin<qint64>(count, 1 << 20));
            stream.avail_out = wanted;
            const int status = inflate(&stream, Z_NO_FLUSH);
            count -= wanted - stream.avail_out;
            if (status == Z_STREAM_END && count > 0)
                return !(finished = true);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return false;
        }
        return ready && count == 0;
    }
    // True once a compressed variable's stream has ended.
    bool ended() const { return finished; }
    bool skip(qint64 count)
    {
        if (!compressed) {
            if (count > left || !file.seek(file.pos() + count))
                return false;
            left -= count;
            return true;
        }
        for (; count > 0; count -= qint64(sizeof(scratch)))
            if (!read(scratch, qMin<qint64>(count, qint64(sizeof(scratch)))))
                return false;
        return true;
    }

private:
    QFile& file;
    qint64 left;
    const bool compressed;
    bool ready = true;
    bool finished = false;
    z_stream stream{};
    char input[16384];
    char scratch[16384];
};

qint64 padded(qint64 bytes)
{
    return (bytes + 7) & ~qint64(7);
}

// Walks a miMATRIX element of `bytes` bytes (its tag read) as matio's
// catalogue will read it: its dimensions, its name and every cell and field
// inside must fit the bytes that hold them, so that no size matio allocates
// for is larger than the file can back.
bool walkMatrix(ElementStream& in, qint64 bytes, bool bigEndian, int depth, QString* why)
{
    if (bytes == 0)
        return true; // an empty cell
    if (depth > 16)
        return (*why = QStringLiteral("cells nested more than 16 deep")).isEmpty();
    char raw[24];
    auto at = [&](int offset) {
        const QByteArray bytesRead = QByteArray::fromRawData(raw, 24);
        return word(bytesRead, offset, bigEndian);
    };
    auto damaged = [&](const char* what) {
        *why = QLatin1String(what);
        return false;
    };
    if (bytes < 40 || !in.read(raw, 24))
        return damaged("its array header is cut short");
    qint64 used = 24;
    if (at(0) != MAT_T_UINT32 || at(4) != 8 || at(16) != MAT_T_INT32)
        return damaged("its array flags are damaged");
    const quint32 type = at(8) & 0xff;
    const qint64 dimsBytes = at(20);
    if (dimsBytes < 8 || dimsBytes % 4 || padded(dimsBytes) > bytes - used - 8 || dimsBytes > 4096)
        return damaged("its dimensions are damaged");
    std::vector<char> dims(size_t(padded(dimsBytes)));
    if (!in.read(dims.data(), qint64(dims.size())))
        return damaged("its dimensions are cut short");
    used += qint64(dims.size());
    double elements = 1.0;
    for (qint64 d = 0; d < dimsBytes / 4; ++d) {
        const QByteArray held = QByteArray::fromRawData(dims.data(), int(dims.size()));
        const qint32 length = qint32(word(held, int(4 * d), bigEndian));
        if (length < 0)
            return damaged("a dimension is negative");
        elements *= length;
    }
    // The name: a small element holds it in its tag.
    if (!in.read(raw, 8))
        return damaged("its name is cut short");
    used += 8;
    if (!(at(0) >> 16)) {
        const qint64 nameBytes = at(4);
        if (padded(nameBytes) > bytes - used || !in.skip(padded(nameBytes)))
            return damaged("its name runs past its end");
        used += padded(nameBytes);
    }
    qint64 parts = 0; // cells, or fields of every element
    if (type == MAT_C_CELL) {
        parts = qint64(qMin(elements, 1e15));
    } else if (type == MAT_C_STRUCT) {
        if (!in.read(raw, 16))
            return damaged("its field names are cut short");
        const bool small = at(0) >> 16;
        const qint64 nameLength = small ? at(4) : 0;
        const qint64 namesBytes = small ? at(12) : 0;
        used += 16;
        if (!small || nameLength <= 0 || namesBytes % nameLength ||
            padded(namesBytes) > bytes - used || !in.skip(padded(namesBytes)))
            return damaged("its field names are damaged");
        used += padded(namesBytes);
        parts = qint64(qMin(elements * double(namesBytes / nameLength), 1e15));
    }
    const double perElement =
        type >= MAT_C_CHAR && type <= MAT_C_UINT64 && type != MAT_C_SPARSE ? 1.0 : 0.0;
    if (8.0 * double(parts) > double(bytes - used) || elements * perElement > double(bytes - used))
        return damaged("it claims more elements than its bytes hold");
    for (qint64 p = 0; p < parts; ++p) {
        if (!in.read(raw, 8))
            return damaged("a cell is cut short");
        const qint64 inner = at(4);
        used += 8;
        if (at(0) != MAT_T_MATRIX || inner > bytes - used ||
            !walkMatrix(in, inner, bigEndian, depth + 1, why))
            return why->isEmpty() ? damaged("a cell runs past its end") : false;
        used += inner;
    }
    // The writers pad a compressed variable's last element, or do not.
    return in.skip(bytes - used) || in.ended() || damaged("its data is cut short");
}

// Walks the level 5 variables: each must lie inside the file and pass
// walkMatrix. Counts the variables.
bool scanLevel5(QFile& file, bool bigEndian, int* count, bool* compressed, QString* reason)
{
    const qint64 size = file.size();
    qint64 at = 128;
    *count = 0;
    while (at + 8 <= size) {
        const int index = ++*count;
        QByteArray tag;
        if (file.seek(at))
            tag = file.read(8);
        if (tag.size() < 8) {
            *reason = QStringLiteral("reading the file failed");
            return false;
        }
        quint32 type = word(tag, 0, bigEndian);
        const quint32 bytes = word(tag, 4, bigEndian);
        if (type != MAT_T_MATRIX && type != MAT_T_COMPRESSED) {
            *reason = QStringLiteral("element %1 at byte %2 is not a variable (type %3)")
                          .arg(index)
                          .arg(at)
                          .arg(type);
            return false;
        }
        if (qint64(bytes) > size - at - 8) {
            *reason = QStringLiteral("the file is truncated: variable %1 at byte %2 takes %3 "
                                     "bytes, %4 follow")
                          .arg(index)
                          .arg(at)
                          .arg(bytes)
                          .arg(size - at - 8);
            return false;
        }
        ElementStream in(file, bytes, type == MAT_T_COMPRESSED);
        qint64 matrixBytes = bytes;
        QString why;
        if (type == MAT_T_COMPRESSED) {
            *compressed = true;
            char inner[8];
            const QByteArray held = QByteArray::fromRawData(inner, 8);
            if (!in.read(inner, 8) || word(held, 0, bigEndian) != MAT_T_MATRIX)
                why = QStringLiteral("it does not inflate to a matrix");
            matrixBytes = word(held, 4, bigEndian);
            if (why.isEmpty() && double(matrixBytes) > deflateRatio * bytes + 64.0)
                why = QStringLiteral("its %1 compressed bytes cannot hold the %2 it claims")
                          .arg(bytes)
                          .arg(matrixBytes);
        }
        if (!why.isEmpty() || !walkMatrix(in, matrixBytes, bigEndian, 0, &why)) {
            *reason = QStringLiteral("variable %1 at byte %2: %3").arg(index).arg(at).arg(why);
            return false;
        }
        at += 8 + qint64(bytes);
    }
    return true;
}

// One variable as the catalogue lists it.
struct Entry
{
    QString name;
    matio_classes type = MAT_C_EMPTY;
    bool complex = false;
    std::vector<size_t> dims;
    double bytes = 0.0; // its data once read, the contents of cells included

    double elements() const
    {
        double n = 1.0;
        for (const size_t d : dims)
            n *= double(d);
        return n;
    }
    bool numeric() const { return type >= MAT_C_DOUBLE && type <= MAT_C_UINT64; }
    bool isMatrix() const { return dims.size() == 2 && dims[0] >= 2 && dims[1] >= 2; }
    QString typeName() const
    {
        static const char* const names[] = {
            "empty", "cell",  "struct", "object", "char",   "sparse", "double", "single",  "int8",
            "uint8", "int16", "uint16", "int32",  "uint32", "int64",  "uint64", "function"};
        return QLatin1String(type <= MAT_C_FUNCTION ? names[type] : "opaque");
    }
    QString shape() const
    {
        QStringList sizes;
        for (const size_t d : dims)
            sizes.append(QString::number(d));
        return sizes.join(QLatin1Char('x'));
    }
    QString describe() const
    {
        return QStringLiteral("%1(%2 %3%4)")
            .arg(name, shape(), typeName(), complex ? QStringLiteral(", complex") : QString());
    }
};

Entry entryOf(const matvar_t* variable, int depth = 0)
{
    Entry entry;
    entry.name = QString::fromUtf8(variable->name ? variable->name : "");
    entry.type = variable->class_type;
    entry.complex = variable->isComplex;
    for (int d = 0; d < variable->rank && variable->dims; ++d)
        entry.dims.push_back(variable->dims[d]);
    const double count = entry.elements();
    entry.bytes = count * double(Mat_SizeOfClass(entry.type)) * (entry.complex ? 2.0 : 1.0);
    if (entry.type == MAT_C_CELL) {
        // The cells' sizes are known before their data is read; a cell
        // inside a few bytes may claim any size, so they count as well.
        entry.bytes = 8.0 * count;
        const auto* const* cells = static_cast<matvar_t* const*>(variable->data);
        const size_t held = cells ? variable->nbytes / sizeof(matvar_t*) : 0;
        for (size_t k = 0; k < held && double(k) < count && depth < 8; ++k)
            if (cells[k])
                entry.bytes += entryOf(cells[k], depth + 1).bytes;
    }
    return entry;
}

template <typename T> void widen(const void* data, size_t count, std::vector<double>& out)
{
    const T* values = static_cast<const T*>(data);
    out.resize(count);
    for (size_t k = 0; k < count; ++k)
        out[k] = double(values[k]);
}

// A real numeric array's values in MATLAB's order (columns after each other).
bool valuesOf(const matvar_t* variable, std::vector<double>& out)
{
    const Entry entry = entryOf(variable);
    const size_t count = size_t(entry.elements());
    if (!entry.numeric() || entry.complex || (count && !variable->data) ||
        variable->nbytes < count * Mat_SizeOfClass(variable->class_type))
        return false;
    switch (variable->class_type) {
    case MAT_C_DOUBLE:
        widen<double>(variable->data, count, out);
        break;
    case MAT_C_SINGLE:
        widen<float>(variable->data, count, out);
        break;
    case MAT_C_INT8:
        widen<qint8>(variable->data, count, out);
        break;
    case MAT_C_UINT8:
        widen<quint8>(variable->data, count, out);
        break;
    case MAT_C_INT16:
        widen<qint16>(variable->data, count, out);
        break;
    case MAT_C_UINT16:
        widen<quint16>(variable->data, count, out);
        break;
    case MAT_C_INT32:
        widen<qint32>(variable->data, count, out);
        break;
    case MAT_C_UINT32:
        widen<quint32>(variable->data, count, out);
        break;
    case MAT_C_INT64:
        widen<qint64>(variable->data, count, out);
        break;
    case MAT_C_UINT64:
        widen<quint64>(variable->data, count, out);
        break;
    default:
        return false;
    }
    return true;
}

QString textOf(const matvar_t* variable)
{
    if (variable->class_type != MAT_C_CHAR || !variable->data)
        return QString();
    if (variable->data_size == 2)
        return QString(reinterpret_cast<const QChar*>(variable->data), int(variable->nbytes / 2));
    return QString::fromUtf8(static_cast<const char*>(variable->data), int(variable->nbytes));
}

// The coordinate of each column (alongColumns) or row of a rows x cols grid:
// a vector of that length, or a matrix that varies only that way (meshgrid
// for x along the columns). Empty when the values are neither.
std::vector<double> axisOf(const std::vector<double>& values, size_t rows, size_t cols,
                           bool alongColumns)
{
    const size_t n = alongColumns ? cols : rows;
    if (values.size() == n)
        return values;
    if (values.size() != rows * cols)
        return {};
    std::vector<double> axis(n);
    for (size_t c = 0; c < cols; ++c) {
        for (size_t r = 0; r < rows; ++r) {
            const double value = values[c * rows + r];
            const size_t k = alongColumns ? c : r;
            if ((alongColumns ? r : c) == 0)
                axis[k] = value;
            else if (value != axis[k])
                return {};
        }
    }
    return axis;
}

// A rows x cols matrix in the record's order, x fastest: the columns are
// the x axis unless the grid is transposed (rows along x, as ndgrid has it).
FlowRecord::Values arranged(const std::vector<double>& values, size_t rows, size_t cols,
                            bool transposed)
{
    FlowRecord::Values out(values.size());
    for (size_t c = 0; c < cols; ++c)
        for (size_t r = 0; r < rows; ++r)
            out[transposed ? c * rows + r : r * cols + c] = float(values[c * rows + r]);
    return out;
}

// PIV software states its units as "[m] respectively [m/s]".
void readUnits(const QString& text, FlowRecord& record)
{
    static const QRegularExpression bracketed(QStringLiteral("\\[([^\\]]*)\\]"));
    QStringList found;
    for (QRegularExpressionMatchIterator it = bracketed.globalMatch(text); it.hasNext();)
        found.append(it.next().captured(1).trimmed());
    if (found.size() >= 2) {
        record.lengthUnit = found[0];
        record.velocityUnit = found[1];
    }
}

class Reading
{
public:
    Reading(const QString& newFileName, const LoadOptions& newOptions, FlowRecord& newRecord,
            QString* newReason)
        : fileName(newFileName), options(newOptions), record(newRecord), reason(newReason)
    {
    }
    ~Reading()
    {
        for (matvar_t* variable : held)
            Mat_VarFree(variable);
        if (mat)
            Mat_Close(mat);
    }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    bool open();
    bool read() { return isFrames() ? readFrames() : readPlain(); }

private:
    bool fail(const QString& why)
    {
        *reason = why;
        return false;
    }
    const Entry* find(const QString& name) const
    {
        for (const Entry& entry : entries)
            if (entry.name == name)
                return &entry;
        return nullptr;
    }
    QString listing() const
    {
        QStringList described;
        for (const Entry& entry : entries)
            described.append(entry.describe());
        return described.isEmpty() ? QStringLiteral("none") : described.join(QStringLiteral(", "));
    }
    bool isFrames() const
    {
        const Entry* x = find(QStringLiteral("x"));
        return (x && x->type == MAT_C_CELL) || find(QStringLiteral("u_original"));
    }
    const matvar_t* load(const Entry& entry);
    bool numbers(const Entry& entry, const matvar_t* variable, std::vector<double>& out);
    bool checkComponent(const Entry& entry);
    bool placeGrid(const std::vector<double>* xs, const std::vector<double>* ys, size_t rows,
                   size_t cols);
    void readUnitsVariable();
    bool readPlain();
    bool readFrames();

    const QString fileName;
    const LoadOptions& options;
    FlowRecord& record;
    QString* reason;
    mat_t* mat = nullptr;
    std::vector<matvar_t*> held;
    std::vector<Entry> entries;
    double limit = 0.0; // elements times their bytes a variable may hold
    bool transposed = false;
};

bool Reading::open()
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("opening the file failed"));
    const QByteArray header = file.read(128);
    if (header.size() < 128)
        return fail(QStringLiteral("the file is truncated: %1 bytes, the header takes 128")
                        .arg(header.size()));
    const QByteArray order = header.mid(126, 2);
    const bool bigEndian = order == "MI";
    if (!header.startsWith("MATLAB") || (order != "IM" && order != "MI"))
        return fail(QStringLiteral("not a MAT-file of level 5 or 7.3 (level 4 files are not "
                                   "read)"));
    const auto* raw = reinterpret_cast<const uchar*>(header.constData()) + 124;
    const quint16 version =
        bigEndian ? qFromBigEndian<quint16>(raw) : qFromLittleEndian<quint16>(raw);
    int count = 0;
    bool compressed = false;
    if (version == 0x0100) {
        if (!scanLevel5(file, bigEndian, &count, &compressed, reason))
            return false;
    } else if (version != 0x0200) {
        return fail(QStringLiteral("MAT-file version 0x%1 is not read").arg(version, 0, 16));
    }
    // MATLAB stores whole numbers of a double array in as little as a byte
    // each, and HDF5 datasets may be compressed as well.
    limit =
        8.0 * (compressed || version == 0x0200 ? deflateRatio : 1.0) * double(file.size()) + 4096.0;
    file.close();

    // HDF5 would print its error stack for every damaged v7.3 file on
    // standard error; the reason given here says what failed.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    mat = Mat_Open(QFile::encodeName(fileName).constData(), MAT_ACC_RDONLY);
    if (!mat)
        return fail(version == 0x0200
                        ? QStringLiteral("the HDF5 part of the v7.3 file does not open")
                        : QStringLiteral("the file does not open as a MAT-file"));
    while (matvar_t* variable = Mat_VarReadNextInfo(mat)) {
        entries.push_back(entryOf(variable));
        Mat_VarFree(variable);
    }
    if (version == 0x0100 && int(entries.size()) < count)
        return fail(
            QStringLiteral("variable %1 of %2 does not read").arg(entries.size() + 1).arg(count));
    return true;
}

// The whole variable, once its size has been checked against the file.
const matvar_t* Reading::load(const Entry& entry)
{
    if (entry.bytes > limit || entry.elements() > double(INT_MAX)) {
        fail(QStringLiteral("%1 is larger than the file can hold").arg(entry.describe()));
        return nullptr;
    }
    matvar_t* variable = Mat_VarRead(mat, entry.name.toUtf8().constData());
    if (!variable) {
        fail(QStringLiteral("%1 does not read").arg(entry.describe()));
        return nullptr;
    }
    held.push_back(variable);
    return variable;
}

bool Reading::numbers(const Entry& entry, const matvar_t* variable, std::vector<double>& out)
{
    return valuesOf(variable, out) ||
           fail(QStringLiteral("%1 holds no real numbers").arg(entry.describe()));
}

// Why a variable cannot be a velocity component, if it cannot.
bool Reading::checkComponent(const Entry& entry)
{
    if (entry.type == MAT_C_SPARSE)
        return fail(QStringLiteral("\"%1\" is sparse; velocity components must be full matrices")
                        .arg(entry.name));
    if (!entry.numeric())
        return fail(QStringLiteral("\"%1\" is not numeric: %2").arg(entry.name, entry.describe()));
    if (entry.complex)
        return fail(
            QStringLiteral("\"%1\" is complex; velocity components must be real").arg(entry.name));
    if (!entry.isMatrix())
        return fail(QStringLiteral("\"%1\" is %2, not a matrix of at least 2 x 2")
                        .arg(entry.name, entry.shape()));
    return true;
}

// The axes from x and y (either may be null: the column and row numbers),
// and which way round the matrices lie.
bool Reading::placeGrid(const std::vector<double>* xs, const std::vector<double>* ys, size_t rows,
                        size_t cols)
{
    auto numbered = [](size_t n) {
        std::vector<double> axis(n);
        for (size_t k = 0; k < n; ++k)
            axis[k] = double(k + 1);
        return axis;
    };
    for (const bool swapped : {false, true}) {
        record.x = xs ? axisOf(*xs, rows, cols, !swapped) : numbered(swapped ? rows : cols);
        record.y = ys ? axisOf(*ys, rows, cols, swapped) : numbered(swapped ? cols : rows);
        if (!record.x.empty() && !record.y.empty()) {
            transposed = swapped;
            return true;
        }
    }
    return fail(QStringLiteral("x and y do not give one coordinate per column and per row of the "
                               "%1 x %2 velocity matrices")
                    .arg(rows)
                    .arg(cols));
}

void Reading::readUnitsVariable()
{
    const Entry* units = find(QStringLiteral("units"));
    if (units && units->type == MAT_C_CHAR && units->elements() <= 4096)
        if (const matvar_t* variable = load(*units))
            readUnits(textOf(variable), record);
}

bool Reading::readPlain()
{
    QStringList names;
    for (const Entry& entry : entries)
        names.append(entry.name);
    const int xIndex = VelocityPair::findOnly(names, VelocityPair::isXAxis);
    const int yIndex = VelocityPair::findOnly(names, VelocityPair::isYAxis);
    if (xIndex == -2 || yIndex == -2)
        return fail(QStringLiteral("more than one variable could be an axis; variables: %1")
                        .arg(listing()));
    for (const Entry& entry : entries)
        if (entry.numeric() && !entry.complex && entry.isMatrix() &&
            names.indexOf(entry.name) != xIndex && names.indexOf(entry.name) != yIndex)
            record.candidates.append(entry.name);

    const Entry* u = nullptr;
    const Entry* v = nullptr;
    if (!options.uVariable.isEmpty() || !options.vVariable.isEmpty()) {
        if (options.uVariable.isEmpty() || options.vVariable.isEmpty())
            return fail(QStringLiteral("name both velocity components"));
        u = find(options.uVariable);
        v = find(options.vVariable);
        if (!u || !v)
            return fail(QStringLiteral("no variable \"%1\"; variables: %2")
                            .arg(u ? options.vVariable : options.uVariable, listing()));
    } else {
        QStringList components = names;
        if (xIndex >= 0)
            components[xIndex].clear();
        if (yIndex >= 0)
            components[yIndex].clear();
        const int uIndex = VelocityPair::findOnly(components, VelocityPair::isXComponent);
        const int vIndex = VelocityPair::findOnly(components, VelocityPair::isYComponent);
        if (uIndex == -2 || vIndex == -2)
            return VelocityPair::leaveOpen(
                record,
                QStringLiteral("more than one variable could be a velocity component: %1")
                    .arg(listing()),
                reason);
        if (uIndex >= 0 && vIndex >= 0) {
            u = &entries[size_t(uIndex)];
            v = &entries[size_t(vIndex)];
        }
        for (const auto& [uName, vName] : VelocityPair::commonPairs())
            if (!u && find(uName) && find(vName)) {
                u = find(uName);
                v = find(vName);
            }
        if (!u)
            return VelocityPair::leaveOpen(
                record,
                QStringLiteral("no pair of velocity components found; variables: %1")
                    .arg(listing()),
                reason);
    }
    if (!checkComponent(*u) || !checkComponent(*v))
        return false;
    if (u->dims != v->dims)
        return fail(QStringLiteral("the velocity components differ in size: %1, %2")
                        .arg(u->describe(), v->describe()));
    const size_t rows = u->dims[0];
    const size_t cols = u->dims[1];
    std::vector<double> values[4];
    const matvar_t* variable = nullptr;
    const Entry* axes[2] = {xIndex >= 0 ? &entries[size_t(xIndex)] : nullptr,
                            yIndex >= 0 ? &entries[size_t(yIndex)] : nullptr};
    for (int k = 0; k < 2; ++k)
        if (axes[k] && (!(variable = load(*axes[k])) || !numbers(*axes[k], variable, values[k])))
            return false;
    if (!placeGrid(axes[0] ? &values[0] : nullptr, axes[1] ? &values[1] : nullptr, rows, cols))
        return false;
    for (const Entry* component : {u, v}) {
        if (!(variable = load(*component)) || !numbers(*component, variable, values[2]))
            return false;
        (component == u ? record.u : record.v) = arranged(values[2], rows, cols, transposed);
    }
    for (const Entry& entry : entries) {
        if (&entry == u || &entry == v || &entry == axes[0] || &entry == axes[1] ||
            entry.dims != u->dims || !entry.numeric() || entry.complex)
            continue;
        if (!(variable = load(entry)) || !numbers(entry, variable, values[3]))
            return false;
        FlowRecord::Field field{entry.name, QString(), arranged(values[3], rows, cols, transposed)};
        PointTable::rejectMasked(field, record);
        record.scalars.push_back(std::move(field));
    }
    readUnitsVariable();
    return true;
}

bool Reading::readFrames()
{
    // Every cell array, read when a frame of it is first wanted: a
    // processing stage that is not shown is never read.
    std::vector<std::pair<const Entry*, const matvar_t*>> cells;
    int frames = -1;
    for (const Entry& entry : entries) {
        if (entry.type != MAT_C_CELL)
            continue;
        if (entry.name.startsWith(QLatin1String("u_")) ||
            entry.name.startsWith(QLatin1String("v_")))
            record.candidates.append(entry.name);
        cells.emplace_back(&entry, nullptr);
        frames = qMax(frames, int(entry.elements()));
    }
    record.timeSteps = qMax(frames, 1);
    record.timeDifference = 1.0f;
    if (!(*reason = options.refusal(record.timeSteps, 1)).isEmpty())
        return false;
    // The frame's matrix of a cell array, or null when it has none; a cell
    // array that does not read leaves its reason.
    auto frameOf = [&](const QString& name) -> const matvar_t* {
        for (auto& [entry, variable] : cells) {
            if (entry->name != name || options.step >= int(entry->elements()))
                continue;
            if (!variable && !(variable = load(*entry)))
                return nullptr;
            const matvar_t* cell = Mat_VarGetCell(const_cast<matvar_t*>(variable), options.step);
            return cell && entryOf(cell).elements() > 0 ? cell : nullptr;
        }
        return nullptr;
    };
    QString uName = options.uVariable;
    QString vName = options.vVariable;
    if (uName.isEmpty() != vName.isEmpty()) {
        // One stage named: its partner is the other component of that stage.
        QString& missing = uName.isEmpty() ? uName : vName;
        const QString& given = uName.isEmpty() ? vName : uName;
        missing = (given.startsWith(QLatin1Char('u')) ? QStringLiteral("v") : QStringLiteral("u")) +
                  given.mid(1);
    }
    QString stage;
    if (uName.isEmpty()) {
        for (const char* candidate : {"smoothed", "filtered", "original"}) {
            stage = QLatin1String(candidate);
            if (frameOf(QStringLiteral("u_") + stage) && frameOf(QStringLiteral("v_") + stage))
                break;
            stage.clear();
        }
        if (!reason->isEmpty())
            return false;
        if (stage.isEmpty())
            return fail(QStringLiteral("frame %1 holds no velocities: u_smoothed, u_filtered and "
                                       "u_original are empty or missing")
                            .arg(options.step + 1));
        uName = QStringLiteral("u_") + stage;
        vName = QStringLiteral("v_") + stage;
    } else {
        stage = uName.section(QLatin1Char('_'), 1);
    }
    const matvar_t* parts[4] = {frameOf(QStringLiteral("x")), frameOf(QStringLiteral("y")),
                                frameOf(uName), frameOf(vName)};
    const QString partNames[4] = {QStringLiteral("x"), QStringLiteral("y"), uName, vName};
    std::vector<double> values[4];
    if (!reason->isEmpty())
        return false;
    for (int k = 0; k < 4; ++k) {
        if (!parts[k])
            return fail(QStringLiteral("frame %1 of \"%2\" is empty or missing; cell arrays: %3")
                            .arg(options.step + 1)
                            .arg(partNames[k], record.candidates.join(QStringLiteral(", "))));
        if (k >= 2 && !checkComponent(entryOf(parts[k])))
            return false;
        if (!numbers(entryOf(parts[k]), parts[k], values[k]))
            return false;
    }
    const Entry u = entryOf(parts[2]);
    if (u.dims != entryOf(parts[3]).dims)
        return fail(QStringLiteral("frame %1: the velocity components differ in size: %2, %3")
                        .arg(options.step + 1)
                        .arg(u.describe(), entryOf(parts[3]).describe()));
    const size_t rows = u.dims[0];
    const size_t cols = u.dims[1];
    if (!placeGrid(&values[0], &values[1], rows, cols))
        return false;
    record.u = arranged(values[2], rows, cols, transposed);
    record.v = arranged(values[3], rows, cols, transposed);
    // Smoothing keeps the vectors the filter kept.
    const matvar_t* mask = frameOf(QStringLiteral("typevector_") + stage);
    if (!mask && stage == QLatin1String("smoothed"))
        mask = frameOf(QStringLiteral("typevector_filtered"));
    std::vector<double> flags;
    if (mask && entryOf(mask).dims == u.dims && valuesOf(mask, flags)) {
        FlowRecord::Field field{QStringLiteral("typevector"), QString(),
                                arranged(flags, rows, cols, transposed)};
        PointTable::rejectMasked(field, record);
        record.scalars.push_back(std::move(field));
    }
    // Further per-frame matrices of the same size: derived fields the
    // software stored.
    for (const auto& cell : cells) {
        const QString& name = cell.first->name;
        if (name == QLatin1String("x") || name == QLatin1String("y") ||
            name.startsWith(QLatin1String("u_")) || name.startsWith(QLatin1String("v_")) ||
            name.startsWith(QLatin1String("typevector")))
            continue;
        const matvar_t* frame = frameOf(name);
        if (frame && entryOf(frame).dims == u.dims && valuesOf(frame, flags))
            record.scalars.push_back({name, QString(), arranged(flags, rows, cols, transposed)});
    }
    readUnitsVariable();
    // A mask or further set that does not read would leave vectors unmasked.
    return reason->isEmpty();
}

} // namespace

const MatReader& MatReader::instance()
{
    static const MatReader format;
    return format;
}

FileFormat::Claim MatReader::probe(const QByteArray& head, const QString& fileName) const
{
    if (head.size() >= 128 && head.startsWith("MATLAB") &&
        (head.mid(126, 2) == "IM" || head.mid(126, 2) == "MI"))
        return Claim::Signature;
    return QFileInfo(fileName).suffix().compare(QLatin1String("mat"), Qt::CaseInsensitive) == 0
               ? Claim::Suffix
               : Claim::None;
}

bool MatReader::read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* reason) const
{
    QString file;
    QString variable;
    for (const QString& option : {options.uVariable, options.vVariable}) {
        VelocityPair::splitVariable(option, &file, &variable);
        if (!file.isEmpty()) {
            *reason = QStringLiteral("a component from another file is read from NetCDF files "
                                     "only");
            return false;
        }
    }
    const std::lock_guard<std::mutex> hold(libraryLock());
    Reading reading(fileName, options, record, reason);
    return reading.open() && reading.read();
}
