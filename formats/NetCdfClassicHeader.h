#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

// The NetCDF library reads the missing end of a truncated classic file as
// zeros. The classic header states where every variable's data begins, so
// the length the file needs is known before anything is read.
class NetCdfClassicHeader
{
public:
    NetCdfClassicHeader(const QByteArray& bytes, qint64 newFileSize)
        : data(bytes), fileSize(newFileSize)
    {
    }

    // False with a reason when the header is damaged (counts the file cannot
    // hold; the library would try to allocate them) or the file is shorter
    // than the header promises; true otherwise and for files that are not
    // classic NetCDF.
    bool check(QString* reason)
    {
        if (data.size() < 4 || !data.startsWith("CDF"))
            return true;
        const int version = data.at(3);
        if (version != 1 && version != 2 && version != 5)
            return true;
        const bool ok = parse();
        if (!ok && (damaged || data.size() >= fileSize)) {
            *reason = QStringLiteral("the NetCDF header is damaged");
            return false;
        }
        if (ok && double(fileSize) + 3.0 < double(needed)) {
            *reason = QStringLiteral("the file is truncated: it holds %1 bytes, its header "
                                     "promises %2")
                          .arg(fileSize)
                          .arg(needed);
            return false;
        }
        return true;
    }

private:
    bool parse()
    {
        const int version = data.at(3);
        wide = version == 5;
        const bool wideBegin = version != 1;
        const int countBytes = wide ? 8 : 4;
        quint64 records = 0;
        if (!number(countBytes, &records))
            return false;
        const bool streaming = !wide && records == 0xffffffffu;
        // Dimensions.
        std::vector<quint64> lengths;
        quint64 count = 0;
        if (!list(&count))
            return false;
        for (quint64 d = 0; d < count; ++d) {
            quint64 length = 0;
            if (!skipName() || !number(countBytes, &length))
                return false;
            lengths.push_back(length);
        }
        if (!skipAttributes() || !list(&count))
            return false;
        struct Record
        {
            quint64 begin;
            quint64 size;
        };
        std::vector<Record> recordVariables;
        quint64 recordSize = 0;
        for (quint64 v = 0; v < count; ++v) {
            quint64 rank = 0;
            if (!skipName() || !number(countBytes, &rank))
                return false;
            if (rank > 1024) {
                damaged = true;
                return false;
            }
            bool isRecord = false;
            double size = 1.0;
            for (quint64 r = 0; r < rank; ++r) {
                quint64 dim = 0;
                if (!number(countBytes, &dim))
                    return false;
                if (dim >= lengths.size()) {
                    damaged = true;
                    return false;
                }
                if (lengths[size_t(dim)] == 0 && r == 0)
                    isRecord = true;
                else
                    size *= double(lengths[size_t(dim)]);
            }
            quint64 type = 0;
            quint64 stated = 0;
            quint64 begin = 0;
            if (!skipAttributes() || !number(4, &type) || !number(countBytes, &stated) ||
                !number(wideBegin ? 8 : 4, &begin))
                return false;
            const int bytes = typeBytes(type);
            if (bytes == 0) {
                damaged = true;
                return false;
            }
            size = std::min(std::ceil(size * bytes / 4.0) * 4.0, 9e18);
            if (isRecord) {
                recordVariables.push_back({begin, quint64(size)});
                recordSize += quint64(size);
            } else {
                needed = std::max(needed, quint64(std::min(double(begin) + size, 9e18)));
            }
        }
        if (!streaming && records > 0) {
            for (const Record& r : recordVariables) {
                const double end =
                    double(r.begin) + double(records - 1) * double(recordSize) + double(r.size);
                needed = std::max(needed, quint64(std::min(end, 9e18)));
            }
        }
        return true;
    }
    static int typeBytes(quint64 type)
    {
        static const int sizes[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
        return type < 12 ? sizes[type] : 0;
    }
    bool number(int bytes, quint64* value)
    {
        if (at + bytes > data.size())
            return false;
        *value = 0;
        for (int k = 0; k < bytes; ++k)
            *value = (*value << 8) | quint64(uchar(data.at(at + k)));
        at += bytes;
        return true;
    }
    // A list's tag and count; every element takes at least four bytes.
    bool list(quint64* count)
    {
        quint64 tag = 0;
        if (!number(4, &tag) || !number(wide ? 8 : 4, count))
            return false;
        if (*count > quint64(fileSize - at) / 4) {
            damaged = true;
            return false;
        }
        return true;
    }
    bool skip(quint64 bytes)
    {
        if (bytes > quint64(fileSize)) {
            damaged = true;
            return false;
        }
        const quint64 padded = (bytes + 3) / 4 * 4;
        if (padded > quint64(data.size() - at))
            return false;
        at += qsizetype(padded);
        return true;
    }
    bool skipName()
    {
        quint64 length = 0;
        return number(wide ? 8 : 4, &length) && skip(length);
    }
    bool skipAttributes()
    {
        quint64 count = 0;
        if (!list(&count))
            return false;
        for (quint64 a = 0; a < count; ++a) {
            quint64 type = 0;
            quint64 values = 0;
            if (!skipName() || !number(4, &type) || !number(wide ? 8 : 4, &values))
                return false;
            if (typeBytes(type) == 0 || values > quint64(fileSize)) {
                damaged = true;
                return false;
            }
            if (!skip(values * quint64(typeBytes(type))))
                return false;
        }
        return true;
    }

    const QByteArray& data;
    const qint64 fileSize;
    qsizetype at = 4;
    bool wide = false;
    bool damaged = false;
    quint64 needed = 0;
};
