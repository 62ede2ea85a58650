#include "formats/VtkXmlReader.h"

#include "formats/ReaderThreads.h"
#include "formats/TextScanner.h"
#include "formats/UninitializedAllocator.h"
#include "formats/VtkArrays.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <QXmlStreamReader>

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <vector>

namespace {

struct ArrayInfo
{
    QString name;
    QString type;
    QString format;
    int components = 1;
    qint64 offset = 0;
    QByteArray text;
    bool vectors = false;
};

int typeSize(const QString& type)
{
    if (type == QLatin1String("Int8") || type == QLatin1String("UInt8"))
        return 1;
    if (type == QLatin1String("Int16") || type == QLatin1String("UInt16"))
        return 2;
    if (type == QLatin1String("Int32") || type == QLatin1String("UInt32") ||
        type == QLatin1String("Float32"))
        return 4;
    if (type == QLatin1String("Int64") || type == QLatin1String("UInt64") ||
        type == QLatin1String("Float64"))
        return 8;
    return 0;
}

template <typename T> T load(const uchar* p, bool bigEndian)
{
    return bigEndian ? qFromBigEndian<T>(p) : qFromLittleEndian<T>(p);
}

template <typename T, typename Out>
void convert(const uchar* p, size_t count, bool bigEndian, Out* out)
{
    if (!bigEndian) {
        for (size_t k = 0; k < count; ++k) {
            T value;
            std::memcpy(&value, p + k * sizeof(T), sizeof(T));
            out[k] = Out(value);
        }
        return;
    }
    for (size_t k = 0; k < count; ++k)
        out[k] = Out(qFromBigEndian<T>(p + k * sizeof(T)));
}

// The values of one array as doubles; the type is decided once per array.
template <typename Out>
void convertValues(const uchar* p, size_t count, const QString& type, bool bigEndian, Out* out)
{
    if (type == QLatin1String("Float32"))
        convert<float>(p, count, bigEndian, out);
    else if (type == QLatin1String("Float64"))
        convert<double>(p, count, bigEndian, out);
    else if (type == QLatin1String("Int8"))
        convert<qint8>(p, count, bigEndian, out);
    else if (type == QLatin1String("UInt8"))
        convert<quint8>(p, count, bigEndian, out);
    else if (type == QLatin1String("Int16"))
        convert<qint16>(p, count, bigEndian, out);
    else if (type == QLatin1String("UInt16"))
        convert<quint16>(p, count, bigEndian, out);
    else if (type == QLatin1String("Int32"))
        convert<qint32>(p, count, bigEndian, out);
    else if (type == QLatin1String("UInt32"))
        convert<quint32>(p, count, bigEndian, out);
    else if (type == QLatin1String("Int64"))
        convert<qint64>(p, count, bigEndian, out);
    else
        convert<quint64>(p, count, bigEndian, out);
}

// Base64 digit values; 64 marks a character outside the alphabet.
struct Base64Table
{
    unsigned char value[256];
    constexpr Base64Table() : value()
    {
        for (int c = 0; c < 256; ++c)
            value[c] = 64;
        for (int k = 0; k < 26; ++k) {
            value['A' + k] = static_cast<unsigned char>(k);
            value['a' + k] = static_cast<unsigned char>(k + 26);
        }
        for (int k = 0; k < 10; ++k)
            value['0' + k] = static_cast<unsigned char>(k + 52);
        value[int('+')] = 62;
        value[int('/')] = 63;
    }
};
constexpr Base64Table base64Table;

int base64Value(char c)
{
    const unsigned char value = base64Table.value[static_cast<unsigned char>(c)];
    return value == 64 ? -1 : value;
}

// Base64 without white space; '=' only as padding at the end.
bool decodeBase64(const char* p, size_t n, QByteArray& out, QString* reason)
{
    size_t digits = n;
    while (digits > 0 && p[digits - 1] == '=')
        --digits;
    out.resize(qsizetype(qMin<size_t>(digits / 4 * 3 + 3, size_t(INT_MAX))));
    const unsigned char* in = reinterpret_cast<const unsigned char*>(p);
    unsigned char* o = reinterpret_cast<unsigned char*>(out.data());
    const unsigned char* const value = base64Table.value;
    // Four digits to three bytes; a stray character shows as a set bit 6
    // in the or of the digit values, checked once per group.
    size_t k = 0;
    for (; k + 4 <= digits; k += 4) {
        const unsigned a = value[in[k]], b = value[in[k + 1]], c = value[in[k + 2]],
                       d = value[in[k + 3]];
        if ((a | b | c | d) & 64)
            break;
        const quint32 bits = (a << 18) | (b << 12) | (c << 6) | d;
        o[0] = static_cast<unsigned char>(bits >> 16);
        o[1] = static_cast<unsigned char>(bits >> 8);
        o[2] = static_cast<unsigned char>(bits);
        o += 3;
    }
    quint32 bits = 0;
    int held = 0;
    for (; k < digits; ++k) {
        const unsigned digit = value[in[k]];
        if (digit == 64) {
            *reason = p[k] == '=' ? QStringLiteral("base64 data continues after its padding")
                                  : QStringLiteral("base64 data with a stray character (code %1)")
                                        .arg(int(in[k]));
            return false;
        }
        bits = (bits << 6) | digit;
        held += 6;
        if (held >= 8) {
            held -= 8;
            *o++ = static_cast<unsigned char>((bits >> held) & 0xff);
        }
    }
    out.truncate(qsizetype(o - reinterpret_cast<unsigned char*>(out.data())));
    return true;
}

QByteArray withoutBlanks(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text)
        if (!TextScanner::isBlank(c))
            out.append(c);
    return out;
}

struct Context
{
    bool bigEndian = false;
    int headerWord = 4;
    bool compressed = false;
    const char* appended = nullptr;
    const char* appendedEnd = nullptr;
    bool appendedRaw = true;
};

// Where an array's decoded bytes go: all of them into `whole`, or, for
// Float32 tuples of `components` in the host's byte order, each component
// into its own plane, a null plane dropping its component. The planes are
// filled block by block as the blocks inflate, while each is in the cache,
// instead of the tuples being stored whole and taken apart afterwards.
struct Destination
{
    char* whole = nullptr;
    size_t components = 1;
    float* planes[16] = {};

    // Bytes [offset, offset + count) of the array; in planes, both are whole
    // values.
    void put(const char* from, size_t offset, size_t count) const
    {
        if (whole) {
            std::memcpy(whole + offset, from, count);
            return;
        }
        const size_t values = count / sizeof(float);
        size_t tuple = offset / sizeof(float) / components;
        size_t component = offset / sizeof(float) % components;
        size_t k = 0;
        auto single = [&] {
            if (float* plane = planes[component])
                std::memcpy(plane + tuple, from + k * sizeof(float), sizeof(float));
            ++k;
            if (++component == components) {
                component = 0;
                ++tuple;
            }
        };
        while (k < values && component != 0)
            single();
        const size_t tuples = (values - k) / components;
        for (size_t c = 0; c < components; ++c) {
            float* plane = planes[c];
            if (!plane)
                continue;
            const char* at = from + (k + c) * sizeof(float);
            for (size_t t = 0; t < tuples; ++t)
                std::memcpy(plane + tuple + t, at + t * components * sizeof(float), sizeof(float));
        }
        k += tuples * components;
        tuple += tuples;
        while (k < values)
            single();
    }
};

quint64 word(const uchar* p, const Context& context)
{
    return context.headerWord == 8 ? load<quint64>(p, context.bigEndian)
                                   : load<quint32>(p, context.bigEndian);
}

// The payload of one array (header and blocks) to its uncompressed bytes.
// `header` holds at least the header words; `data` the rest.
bool unpack(const QByteArray& header, const char* data, size_t dataSize, size_t expected,
            const Context& context, const Destination& out, QString* reason)
{
    const size_t w = size_t(context.headerWord);
    const uchar* h = reinterpret_cast<const uchar*>(header.constData());
    if (!context.compressed) {
        if (size_t(header.size()) < w) {
            *reason = QStringLiteral("an array without its size header");
            return false;
        }
        const quint64 bytes = word(h, context);
        if (bytes != expected || bytes > dataSize) {
            *reason = QStringLiteral("an array states %1 bytes; the grid needs %2 and the file "
                                     "holds %3")
                          .arg(bytes)
                          .arg(expected)
                          .arg(dataSize);
            return false;
        }
        // Large arrays are copied over every core, in parts of whole values.
        const int threads = ReaderThreads::countFor(qint64(bytes), qint64(4) << 20);
        ReaderThreads::run(threads, [&](int t) {
            const size_t from =
                size_t(bytes) / sizeof(float) * size_t(t) / size_t(threads) * sizeof(float);
            const size_t to = t + 1 == threads ? size_t(bytes)
                                               : size_t(bytes) / sizeof(float) * size_t(t + 1) /
                                                     size_t(threads) * sizeof(float);
            out.put(data + from, from, to - from);
        });
        return true;
    }
    if (size_t(header.size()) < 3 * w) {
        *reason = QStringLiteral("a compressed array without its block header");
        return false;
    }
    const quint64 blocks = word(h, context);
    const quint64 blockSize = word(h + w, context);
    const quint64 lastSize = word(h + 2 * w, context);
    if (blocks > quint64(header.size()) / w || size_t(header.size()) < (3 + blocks) * w) {
        *reason = QStringLiteral("a compressed array's header promises %1 blocks; the file holds "
                                 "fewer")
                      .arg(blocks);
        return false;
    }
    const quint64 last = lastSize == 0 ? blockSize : lastSize;
    if (blocks == 0 || blockSize == 0 || last > blockSize || blockSize > (quint64(1) << 40) ||
        (blocks - 1) * blockSize + last != expected) {
        *reason = QStringLiteral("a compressed array's blocks hold %1 bytes; the grid needs %2")
                      .arg(blocks == 0 ? 0 : (blocks - 1) * blockSize + last)
                      .arg(expected);
        return false;
    }
    quint64 compressedTotal = 0;
    for (quint64 b = 0; b < blocks; ++b)
        compressedTotal += word(h + (3 + b) * w, context);
    if (compressedTotal > dataSize) {
        *reason = QStringLiteral("compressed blocks of %1 bytes; the file holds %2")
                      .arg(compressedTotal)
                      .arg(dataSize);
        return false;
    }
    // zlib cannot expand more than about 1032 times.
    if (expected / 1100 > compressedTotal + blocks) {
        *reason = QStringLiteral("compressed blocks of %1 bytes cannot inflate to %2")
                      .arg(compressedTotal)
                      .arg(expected);
        return false;
    }
    std::vector<quint64> starts(size_t(blocks) + 1, 0);
    for (quint64 b = 0; b < blocks; ++b)
        starts[size_t(b) + 1] = starts[size_t(b)] + word(h + (3 + b) * w, context);
    // Into planes, a block inflates into a buffer of the thread's and goes on
    // from there; blocks that split values go whole into a scratch array
    // first.
    std::vector<char, UninitializedAllocator<char>> scratch;
    char* whole = out.whole;
    if (!whole && blockSize % sizeof(float) != 0) {
        scratch.resize(size_t(expected));
        whole = scratch.data();
    }
    // The blocks inflate independently: large arrays use every core, each
    // thread taking the next block not yet taken, since blocks of the same
    // size can take very different times. firstBad keeps the lowest failure;
    // blocks past it are not worth inflating.
    std::atomic<quint64> firstBad(blocks);
    std::atomic<quint64> nextBlock(0);
    const quint64 threads =
        quint64(ReaderThreads::countFor(qint64(expected), qint64(4) << 20, qint64(blocks)));
    // No block is longer than the array.
    const size_t bufferSize = whole ? 0 : size_t(std::min<quint64>(blockSize, expected));
    std::vector<char, UninitializedAllocator<char>> buffers(bufferSize * size_t(threads));
    ReaderThreads::run(int(threads), [&](int t) {
        char* const buffer = buffers.data() + bufferSize * size_t(t);
        libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
        for (quint64 b = nextBlock++; b < blocks && b < firstBad.load(); b = nextBlock++) {
            const quint64 target = b + 1 == blocks ? last : blockSize;
            char* place = whole ? whole + b * blockSize : buffer;
            size_t produced = 0;
            const libdeflate_result status =
                inflater
                    ? libdeflate_zlib_decompress(inflater, data + starts[size_t(b)],
                                                 size_t(starts[size_t(b) + 1] - starts[size_t(b)]),
                                                 place, size_t(target), &produced)
                    : LIBDEFLATE_BAD_DATA;
            if (status != LIBDEFLATE_SUCCESS || produced != target) {
                quint64 seen = firstBad.load();
                while (b < seen && !firstBad.compare_exchange_weak(seen, b)) {
                }
                break;
            }
            if (!whole)
                out.put(place, size_t(b * blockSize), size_t(target));
        }
        libdeflate_free_decompressor(inflater);
    });
    if (firstBad.load() < blocks) {
        const quint64 b = firstBad.load();
        *reason = QStringLiteral("zlib block %1 does not inflate to its stated %2 bytes")
                      .arg(b + 1)
                      .arg(b + 1 == blocks ? last : blockSize);
        return false;
    }
    if (!scratch.empty())
        out.put(scratch.data(), 0, scratch.size());
    return true;
}

bool decodeBase64Payload(const char* text, size_t n, size_t expected, const Context& context,
                         const Destination& out, QString* reason)
{
    const size_t w = size_t(context.headerWord);
    size_t headerBytes = w;
    if (context.compressed) {
        QByteArray first;
        if (n < 4 * w || !decodeBase64(text, 4 * w, first, reason)) {
            if (reason->isEmpty())
                *reason = QStringLiteral("a compressed array without its block header");
            return false;
        }
        const quint64 blocks = word(reinterpret_cast<const uchar*>(first.constData()), context);
        if (blocks > n) {
            *reason = QStringLiteral("a compressed array's header promises %1 blocks; the file "
                                     "holds fewer")
                          .arg(blocks);
            return false;
        }
        headerBytes = size_t(3 + blocks) * w;
    }
    const size_t headerChars = (headerBytes + 2) / 3 * 4;
    if (headerChars > n) {
        *reason = QStringLiteral("an array shorter than its header");
        return false;
    }
    QByteArray header;
    if (!decodeBase64(text, headerChars, header, reason))
        return false;
    if (size_t(header.size()) < headerBytes) {
        *reason = QStringLiteral("an array shorter than its header");
        return false;
    }
    header.truncate(qsizetype(headerBytes));
    // The payload's length follows from the header.
    const uchar* h = reinterpret_cast<const uchar*>(header.constData());
    quint64 length = 0;
    if (context.compressed) {
        for (size_t b = 3; b < headerBytes / w; ++b)
            length += word(h + b * w, context);
    } else {
        length = word(h, context);
    }
    if (length > n) {
        *reason = QStringLiteral("an array states %1 bytes; the file holds fewer").arg(length);
        return false;
    }
    QByteArray data;
    if (headerBytes % 3 != 0 && text[headerChars - 1] == '=') {
        // Header and data encoded apart.
        const size_t chars = size_t(length + 2) / 3 * 4;
        if (chars > n - headerChars) {
            *reason = QStringLiteral("an array states %1 bytes; the file holds fewer").arg(length);
            return false;
        }
        if (!decodeBase64(text + headerChars, chars, data, reason))
            return false;
    } else {
        const size_t chars = size_t(headerBytes + length + 2) / 3 * 4;
        QByteArray whole;
        if (chars > n || !decodeBase64(text, chars, whole, reason)) {
            if (reason->isEmpty())
                *reason =
                    QStringLiteral("an array states %1 bytes; the file holds fewer").arg(length);
            return false;
        }
        data = whole.mid(qsizetype(headerBytes));
    }
    return unpack(header, data.constData(), size_t(data.size()), expected, context, out, reason);
}

// The bytes of a binary or appended array, `expected` of them, to `out`.
bool decodeBinary(const ArrayInfo& info, size_t expected, const Context& context,
                  const Destination& out, QString* reason)
{
    if (info.format == QLatin1String("binary")) {
        const QByteArray text = withoutBlanks(info.text);
        if (!decodeBase64Payload(text.constData(), size_t(text.size()), expected, context, out,
                                 reason))
            return false;
    } else if (info.format == QLatin1String("appended")) {
        if (!context.appended || info.offset < 0 ||
            info.offset > context.appendedEnd - context.appended) {
            *reason = QStringLiteral("%1: appended data at offset %2 missing")
                          .arg(info.name)
                          .arg(info.offset);
            return false;
        }
        const char* start = context.appended + info.offset;
        const size_t available = size_t(context.appendedEnd - start);
        if (context.appendedRaw) {
            const size_t w = size_t(context.headerWord);
            size_t headerBytes = w;
            if (context.compressed && available >= 3 * w) {
                const quint64 blocks = word(reinterpret_cast<const uchar*>(start), context);
                headerBytes = blocks > available / w ? available + 1 : size_t(3 + blocks) * w;
            }
            if (headerBytes > available) {
                *reason =
                    QStringLiteral("%1: appended data shorter than its header").arg(info.name);
                return false;
            }
            if (!unpack(QByteArray::fromRawData(start, qsizetype(headerBytes)), start + headerBytes,
                        available - headerBytes, expected, context, out, reason))
                return false;
        } else {
            size_t n = 0;
            while (n < available && (base64Value(start[n]) >= 0 || start[n] == '='))
                ++n;
            if (!decodeBase64Payload(start, n, expected, context, out, reason))
                return false;
        }
    } else {
        *reason =
            QStringLiteral("%1: format \"%2\" is not read").arg(info.name, info.format.left(40));
        return false;
    }
    return true;
}

template <typename Array>
bool decodeArray(const ArrayInfo& info, size_t tuples, const Context& context, Array& values,
                 QString* reason)
{
    const int size = typeSize(info.type);
    if (size == 0) {
        *reason = QStringLiteral("%1: type \"%2\" is not read").arg(info.name, info.type.left(40));
        return false;
    }
    const size_t count = tuples * size_t(info.components);
    const size_t expected = count * size_t(size);
    // Float data of the host's byte order is unpacked straight into place.
    const bool direct =
        Q_BYTE_ORDER == Q_LITTLE_ENDIAN && !context.bigEndian &&
        info.type == (sizeof(typename Array::value_type) == 4 ? QLatin1String("Float32")
                                                              : QLatin1String("Float64"));
    // Every path below writes all of it or fails.
    std::vector<char, UninitializedAllocator<char>> scratch;
    if (info.format == QLatin1String("ascii")) {
        values.clear();
        const char* p = info.text.constData();
        const char* end = p + info.text.size();
        if (count > size_t(info.text.size()) / 2 + 1) {
            *reason = QStringLiteral("%1: %2 values needed, the text holds fewer")
                          .arg(info.name)
                          .arg(count);
            return false;
        }
        values.reserve(count);
        while (p < end) {
            while (p < end && TextScanner::isBlank(*p))
                ++p;
            const char* start = p;
            while (p < end && !TextScanner::isBlank(*p))
                ++p;
            if (start == p)
                break;
            double value = 0.0;
            if (!TextScanner::parseNumber(start, p, &value)) {
                *reason = QStringLiteral("%1: \"%2\" is not a number")
                              .arg(info.name, TextScanner::token(start, p));
                return false;
            }
            if (values.size() == count) {
                *reason = QStringLiteral("%1: more than %2 values").arg(info.name).arg(count);
                return false;
            }
            values.push_back(typename Array::value_type(value));
        }
        if (values.size() != count) {
            *reason = QStringLiteral("%1: %2 values, the grid needs %3")
                          .arg(info.name)
                          .arg(values.size())
                          .arg(count);
            return false;
        }
        return true;
    }
    if (count > size_t(INT_MAX) * 4) {
        *reason = QStringLiteral("%1: too many values").arg(info.name);
        return false;
    }
    if (direct) {
        values.resize(count);
        Destination out;
        out.whole = reinterpret_cast<char*>(values.data());
        return decodeBinary(info, expected, context, out, reason);
    }
    scratch.resize(expected);
    Destination out;
    out.whole = scratch.data();
    if (!decodeBinary(info, expected, context, out, reason))
        return false;
    values.resize(count);
    convertValues(reinterpret_cast<const uchar*>(scratch.data()), count, info.type,
                  context.bigEndian, values.data());
    return true;
}

// A Float32 array of several components in the host's byte order, as
// planes: only the components in `wanted` (bit c for component c) are kept.
// Other arrays are decoded as decodeArray does.
bool decodePlanes(const ArrayInfo& info, size_t tuples, const Context& context, unsigned wanted,
                  VtkArray& array, QString* reason)
{
    const bool direct = Q_BYTE_ORDER == Q_LITTLE_ENDIAN && !context.bigEndian &&
                        info.type == QLatin1String("Float32") && info.components > 1 &&
                        info.format != QLatin1String("ascii");
    if (!direct)
        return decodeArray(info, tuples, context, array.values, reason);
    const size_t count = tuples * size_t(info.components);
    if (count > size_t(INT_MAX) * 4) {
        *reason = QStringLiteral("%1: too many values").arg(info.name);
        return false;
    }
    Destination out;
    out.components = size_t(info.components);
    array.planes.resize(out.components);
    for (size_t c = 0; c < out.components; ++c) {
        if (wanted & (1u << c)) {
            array.planes[c].resize(tuples);
            out.planes[c] = array.planes[c].data();
        }
    }
    return decodeBinary(info, count * sizeof(float), context, out, reason);
}

// The x and y of a structured grid's points. Float32 points in the host's
// byte order (what VTK writes) are taken apart as their blocks inflate, the
// z dropped, and only then widened; others go through whole triples.
bool decodePositions(const ArrayInfo& info, size_t points, const Context& context,
                     FlowRecord::Positions& px, FlowRecord::Positions& py, QString* reason)
{
    if (Q_BYTE_ORDER == Q_LITTLE_ENDIAN && !context.bigEndian &&
        info.type == QLatin1String("Float32") && info.format != QLatin1String("ascii")) {
        VtkArray planes;
        if (!decodePlanes(info, points, context, 3u, planes, reason))
            return false;
        px.assign(planes.planes[0].begin(), planes.planes[0].end());
        py.assign(planes.planes[1].begin(), planes.planes[1].end());
        return true;
    }
    if (!decodeArray(info, points, context, px, reason))
        return false;
    // x is gathered in place at the front of the triples (each value moves
    // towards the front), y into an array filled as it grows: no fresh
    // array is cleared first only to be overwritten.
    py.reserve(points);
    for (size_t k = 0; k < points; ++k) {
        py.push_back(px[3 * k + 1]);
        px[k] = px[3 * k];
    }
    px.resize(points);
    return true;
}

bool parseExtent(const QString& text, qint64 extent[6])
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 6)
        return false;
    for (int k = 0; k < 6; ++k) {
        bool ok = false;
        extent[k] = parts[k].toLongLong(&ok);
        if (!ok || qAbs(extent[k]) > (qint64(1) << 31))
            return false;
    }
    return true;
}

bool parseTriple(const QString& text, double values[3])
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 3)
        return false;
    for (int k = 0; k < 3; ++k) {
        bool ok = false;
        values[k] = parts[k].toDouble(&ok);
        if (!ok)
            return false;
    }
    return true;
}

// One parse in its stages: the appended block cut off, the elements read
// (file, grid, piece, sections and their arrays), the extent checked, then
// the point arrays decoded and the axes made.
class Parse
{
public:
    explicit Parse(QString* newReason) : reason(newReason) {}

    // The appended block is not XML: the parser sees the document up to its
    // start tag, closed by hand.
    bool cutAppended(const QByteArray& bytes, QByteArray& xml)
    {
        xml = bytes;
        const qsizetype appendedTag = bytes.indexOf("<AppendedData");
        if (appendedTag >= 0) {
            const qsizetype tagEnd = bytes.indexOf('>', appendedTag);
            const qsizetype underscore = tagEnd < 0 ? -1 : bytes.indexOf('_', tagEnd);
            if (underscore < 0) {
                *reason = QStringLiteral("AppendedData without its \"_\" marker");
                return false;
            }
            context.appended = bytes.constData() + underscore + 1;
            context.appendedEnd = bytes.constData() + bytes.size();
            xml = bytes.left(tagEnd + 1) + "</AppendedData></VTKFile>";
        }
        return true;
    }

    bool readElements(const QByteArray& xml)
    {
        QXmlStreamReader reader(xml);
        while (!reader.atEnd()) {
            if (reader.readNext() != QXmlStreamReader::StartElement) {
                if (reader.isEndElement() && (reader.name() == QLatin1String("PointData") ||
                                              reader.name() == QLatin1String("CellData") ||
                                              reader.name() == QLatin1String("Coordinates") ||
                                              reader.name() == QLatin1String("Points")))
                    section.clear();
                continue;
            }
            if (!element(reader))
                return false;
        }
        if (reader.hasError()) {
            *reason = QStringLiteral("XML error at line %1: %2")
                          .arg(reader.lineNumber())
                          .arg(reader.errorString());
            return false;
        }
        return true;
    }

    bool checkExtent(qint64 size)
    {
        if (kind.isEmpty() || !haveExtent) {
            *reason = QStringLiteral("no VTKFile with an extent");
            return false;
        }
        nx = extent[1] - extent[0] + 1;
        ny = extent[3] - extent[2] + 1;
        const qint64 nz = extent[5] - extent[4] + 1;
        if (nz > 1) {
            *reason = QStringLiteral("a 3-D grid of %1 x %2 x %3 points; only one plane is read")
                          .arg(nx)
                          .arg(ny)
                          .arg(nz);
            return false;
        }
        if (nx < 2 || ny < 2 || nz < 1 || nx * ny > size * 1100) {
            *reason =
                QStringLiteral("extent of %1 x %2 points does not fit the file").arg(nx).arg(ny);
            return false;
        }
        return true;
    }

    bool toRecord(const LoadOptions& options, FlowRecord& record)
    {
        const size_t points = size_t(nx * ny);
        std::vector<VtkArray> arrays;
        for (const ArrayInfo& info : pointArrays) {
            VtkArray array;
            array.name = info.name;
            array.components = info.components;
            array.vectors = !vectorsName.isEmpty() && info.name == vectorsName;
            arrays.push_back(std::move(array));
        }
        // The velocity is chosen first, so that only what the record takes
        // is decoded: of a vector array, its two components.
        VelocityChoice choice;
        if (!VtkArrays::chooseVelocity(arrays, options, record, choice, reason))
            return false;
        for (size_t a = 0; a < arrays.size(); ++a) {
            if (!choice.takes(arrays, a))
                continue;
            const unsigned wanted = (int(a) == choice.uArray ? 1u << choice.uComponent : 0u) |
                                    (int(a) == choice.vArray ? 1u << choice.vComponent : 0u);
            if (!(arrays[a].components > 1
                      ? decodePlanes(pointArrays[a], points, context, wanted, arrays[a], reason)
                      : decodeArray(pointArrays[a], points, context, arrays[a].values, reason)))
                return false;
        }
        VtkArrays::take(arrays, choice, points, record);
        if (kind == QLatin1String("ImageData")) {
            record.x.resize(size_t(nx));
            record.y.resize(size_t(ny));
            for (qint64 i = 0; i < nx; ++i)
                record.x[size_t(i)] = origin[0] + double(extent[0] + i) * spacing[0];
            for (qint64 j = 0; j < ny; ++j)
                record.y[size_t(j)] = origin[1] + double(extent[2] + j) * spacing[1];
        } else if (kind == QLatin1String("StructuredGrid")) {
            if (pointPositions.size() != 1 || pointPositions[0].components != 3) {
                *reason = QStringLiteral("a structured grid without one Points array of three "
                                         "components");
                return false;
            }
            FlowRecord::Positions px;
            FlowRecord::Positions py;
            if (!decodePositions(pointPositions[0], points, context, px, py, reason) ||
                !VtkArrays::gridFromPoints(std::move(px), std::move(py), size_t(nx), size_t(ny),
                                           record, reason))
                return false;
        } else {
            if (coordinates.size() < 2) {
                *reason = QStringLiteral("a rectilinear grid without its coordinates");
                return false;
            }
            if (!decodeArray(coordinates[0], size_t(nx), context, record.x, reason) ||
                !decodeArray(coordinates[1], size_t(ny), context, record.y, reason))
                return false;
        }
        return true;
    }

private:
    bool element(QXmlStreamReader& reader)
    {
        const QXmlStreamAttributes attributes = reader.attributes();
        const QStringView name = reader.name();
        if (name == QLatin1String("VTKFile"))
            return fileElement(attributes);
        if (name == QLatin1String("ImageData") || name == QLatin1String("RectilinearGrid") ||
            name == QLatin1String("StructuredGrid"))
            return gridElement(attributes);
        if (name == QLatin1String("Piece"))
            return pieceElement(attributes);
        if (name == QLatin1String("PointData") || name == QLatin1String("CellData") ||
            name == QLatin1String("Coordinates") || name == QLatin1String("Points")) {
            section = name.toString();
            if (name == QLatin1String("PointData"))
                vectorsName = attributes.value(QLatin1String("Vectors")).toString();
        } else if (name == QLatin1String("AppendedData")) {
            const QStringView encoding = attributes.value(QLatin1String("encoding"));
            context.appendedRaw = encoding != QLatin1String("base64");
        } else if (name == QLatin1String("DataArray")) {
            return dataArray(reader, attributes);
        }
        return true;
    }

    bool fileElement(const QXmlStreamAttributes& attributes)
    {
        kind = attributes.value(QLatin1String("type")).toString();
        context.bigEndian =
            attributes.value(QLatin1String("byte_order")) == QLatin1String("BigEndian");
        const QStringView header = attributes.value(QLatin1String("header_type"));
        if (header == QLatin1String("UInt64"))
            context.headerWord = 8;
        else if (!header.isEmpty() && header != QLatin1String("UInt32")) {
            *reason = QStringLiteral("header type %1 is not read").arg(header.left(40));
            return false;
        }
        const QStringView compressor = attributes.value(QLatin1String("compressor"));
        if (compressor == QLatin1String("vtkZLibDataCompressor"))
            context.compressed = true;
        else if (!compressor.isEmpty()) {
            *reason = QStringLiteral("compressor %1 is not read").arg(compressor.left(60));
            return false;
        }
        if (kind != QLatin1String("ImageData") && kind != QLatin1String("RectilinearGrid") &&
            kind != QLatin1String("StructuredGrid")) {
            *reason = QStringLiteral("VTK XML type \"%1\" is not read (only ImageData, "
                                     "RectilinearGrid and StructuredGrid)")
                          .arg(kind.left(40));
            return false;
        }
        return true;
    }

    bool gridElement(const QXmlStreamAttributes& attributes)
    {
        haveExtent = parseExtent(attributes.value(QLatin1String("WholeExtent")).toString(), extent);
        if (attributes.hasAttribute(QLatin1String("Origin")) &&
            !parseTriple(attributes.value(QLatin1String("Origin")).toString(), origin)) {
            *reason = QStringLiteral("Origin does not parse");
            return false;
        }
        if (attributes.hasAttribute(QLatin1String("Spacing")) &&
            !parseTriple(attributes.value(QLatin1String("Spacing")).toString(), spacing)) {
            *reason = QStringLiteral("Spacing does not parse");
            return false;
        }
        return true;
    }

    bool pieceElement(const QXmlStreamAttributes& attributes)
    {
        if (++pieces > 1) {
            *reason = QStringLiteral("more than one piece; only single-piece files are read");
            return false;
        }
        if (!haveExtent)
            haveExtent = parseExtent(attributes.value(QLatin1String("Extent")).toString(), extent);
        return true;
    }

    bool dataArray(QXmlStreamReader& reader, const QXmlStreamAttributes& attributes)
    {
        ArrayInfo info;
        info.name = attributes.value(QLatin1String("Name")).toString();
        // VTK leaves the points and coordinates unnamed; a message then names
        // their section.
        if (info.name.isEmpty() && section != QLatin1String("PointData"))
            info.name = section;
        info.type = attributes.value(QLatin1String("type")).toString();
        info.format = attributes.value(QLatin1String("format")).toString();
        bool ok = true;
        if (attributes.hasAttribute(QLatin1String("NumberOfComponents")))
            info.components = attributes.value(QLatin1String("NumberOfComponents")).toInt(&ok);
        if (!ok || info.components < 1 || info.components > 16) {
            *reason = QStringLiteral("%1: NumberOfComponents is not 1 to 16").arg(info.name);
            return false;
        }
        info.offset = attributes.value(QLatin1String("offset")).toLongLong();
        info.text = reader.readElementText(QXmlStreamReader::SkipChildElements).toLatin1();
        if (section == QLatin1String("PointData"))
            pointArrays.push_back(info);
        else if (section == QLatin1String("Coordinates"))
            coordinates.push_back(info);
        else if (section == QLatin1String("Points"))
            pointPositions.push_back(info);
        return true;
    }

    QString* reason;
    Context context;
    QString kind;
    qint64 extent[6] = {0, 0, 0, 0, 0, 0};
    bool haveExtent = false;
    double origin[3] = {0, 0, 0};
    double spacing[3] = {1, 1, 1};
    std::vector<ArrayInfo> pointArrays;
    std::vector<ArrayInfo> coordinates;
    std::vector<ArrayInfo> pointPositions;
    int pieces = 0;
    QString section;
    QString vectorsName;
    qint64 nx = 0;
    qint64 ny = 0;
};

} // namespace

const VtkXmlReader& VtkXmlReader::instance()
{
    static const VtkXmlReader format;
    return format;
}

FileFormat::Claim VtkXmlReader::probe(const QByteArray& head, const QString& fileName) const
{
    const QByteArray start = head.trimmed();
    if (start.startsWith("<?xml") || start.startsWith("<VTKFile"))
        return Claim::Signature;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffixes().contains(suffix) ? Claim::Suffix : Claim::None;
}

bool VtkXmlReader::parse(const QByteArray& bytes, const LoadOptions& options, FlowRecord& record,
                         QString* reason) const
{
    Parse parse(reason);
    QByteArray xml;
    return parse.cutAppended(bytes, xml) && parse.readElements(xml) &&
           parse.checkExtent(bytes.size()) && parse.toRecord(options, record);
}
