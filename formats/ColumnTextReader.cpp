#include "formats/ColumnTextReader.h"

#include "formats/PointTable.h"
#include "formats/TextScanner.h"

#include <QFile>

#include <limits>
#include <vector>

using TextScanner::isBlank;

namespace {

struct Line
{
    const char* begin;
    const char* end;
};

Line trimmed(const char* begin, const char* end)
{
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    return {begin, end};
}

// Splits a line into fields; blank separation merges runs of blanks, any
// other separator keeps empty fields.
template <typename Visit> void splitLine(Line line, char separator, Visit visit)
{
    const char* p = line.begin;
    if (separator == ' ') {
        while (p < line.end) {
            while (p < line.end && isBlank(*p))
                ++p;
            const char* start = p;
            while (p < line.end && !isBlank(*p))
                ++p;
            if (p > start)
                visit(start, p);
        }
        return;
    }
    while (true) {
        const char* start = p;
        while (p < line.end && *p != separator)
            ++p;
        const Line field = trimmed(start, p);
        visit(field.begin, field.end);
        if (p == line.end)
            return;
        ++p;
    }
}

bool isNumeric(Line line, char separator)
{
    bool numeric = true;
    splitLine(line, separator, [&](const char* b, const char* e) {
        double value;
        if (b != e && !TextScanner::parseNumber(b, e, &value))
            numeric = false;
    });
    return numeric;
}

char detectSeparator(Line line)
{
    for (const char candidate : {'\t', ',', ';'})
        for (const char* p = line.begin; p < line.end; ++p)
            if (*p == candidate)
                return candidate;
    return ' ';
}

QStringList headerNames(Line line, char separator)
{
    QStringList names;
    splitLine(line, separator, [&](const char* b, const char* e) {
        QString name = QString::fromUtf8(b, int(e - b)).trimmed();
        if (name.size() >= 2 && (name.startsWith(QLatin1Char('"')) || name.startsWith('\'')) &&
            name.endsWith(name.front()))
            name = name.mid(1, name.size() - 2);
        // "x [m]" split at blanks: the unit joins its name.
        if (separator == ' ' && !names.isEmpty() &&
            (name.startsWith(QLatin1Char('[')) || name.startsWith(QLatin1Char('('))))
            names.last() += QLatin1Char(' ') + name;
        else
            names.append(name);
    });
    return names;
}

} // namespace

const ColumnTextReader& ColumnTextReader::instance()
{
    static const ColumnTextReader format;
    return format;
}

FileFormat::Claim ColumnTextReader::probe(const QByteArray&, const QString&) const
{
    return Claim::Fallback;
}

bool ColumnTextReader::parse(const QByteArray& text, const LoadOptions& options, FlowRecord& record,
                             QString* reason) const
{
    const char* p = text.constData();
    const char* const end = p + text.size();
    PointTable table;
    Line header{nullptr, nullptr};
    bool headerIsComment = false;
    char separator = 0;
    size_t columnCount = 0;
    qint64 lineNumber = 0;
    qint64 headerLine = 0;
    std::vector<double*> fill;

    while (p < end) {
        const char* lineEnd = static_cast<const char*>(memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        const Line line = trimmed(p, lineEnd);
        p = lineEnd < end ? lineEnd + 1 : end;
        ++lineNumber;
        if (line.begin == line.end)
            continue;
        if (*line.begin == '#' || *line.begin == '%') {
            if (!separator) {
                header = trimmed(line.begin + 1, line.end);
                headerIsComment = true;
            }
            continue;
        }
        if (!separator) {
            const char guess = detectSeparator(line);
            if (!isNumeric(line, guess)) {
                // PIV exports open with free text (program, date, frame,
                // calibration) before the header: the last such line before
                // the numbers is the header, the ones above it are skipped.
                header = line;
                headerIsComment = false;
                headerLine = lineNumber;
                continue;
            }
            separator = guess;
            splitLine(line, separator, [&](const char*, const char*) { ++columnCount; });
            if (header.begin) {
                const QStringList names = headerNames(header, separator);
                if (size_t(names.size()) == columnCount)
                    table.names = names;
                else if (!headerIsComment) {
                    *reason = QStringLiteral("the header names %1 columns, the rows hold %2")
                                  .arg(names.size())
                                  .arg(columnCount);
                    return false;
                }
            }
            // Each row takes at least two bytes per value.
            const size_t expected = size_t(end - line.begin) / (2 * columnCount) + 1;
            table.columns.resize(columnCount);
            for (std::vector<double>& column : table.columns)
                column.reserve(std::min<size_t>(expected, size_t(end - line.begin) / 8 + 16));
        }
        size_t field = 0;
        bool bad = false;
        splitLine(line, separator, [&](const char* b, const char* e) {
            if (bad)
                return;
            double value = std::numeric_limits<double>::quiet_NaN();
            if (field >= columnCount) {
                ++field;
                return;
            }
            if (b != e && !TextScanner::parseNumber(b, e, &value)) {
                *reason = QStringLiteral("line %1: \"%2\" is not a number")
                              .arg(lineNumber)
                              .arg(TextScanner::token(b, e));
                bad = true;
                return;
            }
            table.columns[field++].push_back(value);
        });
        if (bad)
            return false;
        if (field != columnCount) {
            *reason = QStringLiteral("line %1 holds %2 values, the first row %3")
                          .arg(lineNumber)
                          .arg(field)
                          .arg(columnCount);
            return false;
        }
    }
    if (!separator) {
        *reason = headerLine ? QStringLiteral("no rows of numbers after line %1, \"%2\"")
                                   .arg(headerLine)
                                   .arg(TextScanner::token(header.begin, header.end))
                             : QStringLiteral("no rows of numbers");
        return false;
    }
    return table.toRecord(options, record, reason);
}
