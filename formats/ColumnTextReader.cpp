#include "formats/ColumnTextReader.h"

#include "formats/PointTable.h"
#include "formats/ReaderThreads.h"
#include "formats/TextScanner.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// The rows of one run of whole lines. A run stops at its first malformed
// line and keeps what went wrong; the message waits for the line number,
// which depends on the runs before it.
struct RowRun
{
    // Where the run's rows go: one pointer per column, room for a row per
    // line of the run.
    std::vector<double*> columns;
    size_t rows = 0;
    qint64 lines = 0;
    qint64 badLine = 0; // 1-based within the run, 0 when all rows are sound
    const char* badBegin = nullptr;
    const char* badEnd = nullptr;
    size_t badFields = 0;
};

// The end of the field that starts at p: the next blank for blank
// separation, else the next separator (the field's own trailing blanks
// trimmed by the caller).
const char* fieldEnd(const char* p, const char* lineEnd, char separator)
{
    if (separator == ' ') {
        while (p < lineEnd && !isBlank(*p))
            ++p;
        return p;
    }
    // Also keeps the length visibly non-negative for the compiler's bounds check.
    if (p >= lineEnd)
        return lineEnd;
    const void* found = memchr(p, separator, size_t(lineEnd - p));
    return found ? static_cast<const char*>(found) : lineEnd;
}

// Whether a number that stops at p ends its field: blank separation needs a
// blank or the line's end, other separators allow blanks before theirs.
bool endsField(const char* p, const char* lineEnd, char separator)
{
    if (separator == ' ')
        return p == lineEnd || isBlank(*p);
    while (p < lineEnd && isBlank(*p) && *p != separator)
        ++p;
    return p == lineEnd || *p == separator;
}

// The same fields and values as splitLine and parseNumber give, in one pass
// over the characters for the common short decimals.
void parseRows(const char* p, const char* end, char separator, size_t columnCount, RowRun& run)
{
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        const Line line = trimmed(p, lineEnd);
        p = lineEnd < end ? lineEnd + 1 : end;
        ++run.lines;
        if (line.begin == line.end || *line.begin == '#' || *line.begin == '%')
            continue;
        size_t field = 0;
        const char* q = line.begin;
        while (true) {
            if (separator == ' ')
                while (q < line.end && isBlank(*q))
                    ++q;
            else
                while (q < line.end && isBlank(*q) && *q != separator)
                    ++q;
            if (separator == ' ' && q == line.end)
                break;
            double value = std::numeric_limits<double>::quiet_NaN();
            const char* stop =
                field < columnCount ? TextScanner::scanShortDecimal(q, line.end, &value) : nullptr;
            const char* next;
            if (stop && stop > q && endsField(stop, line.end, separator)) {
                next = fieldEnd(stop, line.end, separator);
            } else {
                next = fieldEnd(q, line.end, separator);
                const Line token = trimmed(q, next);
                // The short form failed on this field already.
                if (field < columnCount && token.begin != token.end &&
                    !TextScanner::parseNumber(token.begin, token.end, &value, true)) {
                    run.badBegin = token.begin;
                    run.badEnd = token.end;
                    run.badLine = run.lines;
                    run.badFields = field;
                    return;
                }
            }
            if (field < columnCount)
                run.columns[field][run.rows] = value;
            ++field;
            if (separator != ' ') {
                if (next == line.end)
                    break;
                ++next;
            }
            q = next;
        }
        if (field != columnCount) {
            run.badLine = run.lines;
            run.badFields = field;
            return;
        }
        ++run.rows;
    }
}

// Lines in [p, end), a last one without its line break included: each can
// give at most one row.
qint64 lineCount(const char* p, const char* end)
{
    qint64 breaks = 0;
    const char* c = p;
#ifdef __SSE2__
    // Sixteen bytes at a time into byte counters, which are summed before
    // they can wrap.
    const __m128i newline = _mm_set1_epi8('\n');
    while (end - c >= 16) {
        __m128i counters = _mm_setzero_si128();
        for (int k = 0; k < 255 && end - c >= 16; ++k, c += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
            counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, newline));
        }
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        breaks += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
    }
#endif
    for (; c < end; ++c)
        breaks += *c == '\n';
    return breaks + (p < end && end[-1] != '\n' ? 1 : 0);
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
    const char* body = nullptr;

    while (p < end && !separator) {
        const char* lineEnd = static_cast<const char*>(memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        const Line line = trimmed(p, lineEnd);
        body = p;
        p = lineEnd < end ? lineEnd + 1 : end;
        ++lineNumber;
        if (line.begin == line.end)
            continue;
        if (*line.begin == '#' || *line.begin == '%') {
            header = trimmed(line.begin + 1, line.end);
            headerIsComment = true;
            continue;
        }
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
    }
    if (!separator) {
        *reason = headerLine ? QStringLiteral("no rows of numbers after line %1, \"%2\"")
                                   .arg(headerLine)
                                   .arg(TextScanner::token(header.begin, header.end))
                             : QStringLiteral("no rows of numbers");
        return false;
    }

    // The rows from the first numeric line on parse in runs of whole lines,
    // one per core for large files.
    const size_t bodySize = size_t(end - body);
    const size_t runCount = size_t(ReaderThreads::countFor(qint64(bodySize), qint64(1) << 20));
    std::vector<const char*> cuts{body};
    cuts.reserve(runCount + 1);
    for (size_t r = 1; r < runCount; ++r) {
        const char* cut = std::max(cuts.back(), body + bodySize * r / runCount);
        const void* newline = cut < end ? memchr(cut, '\n', size_t(end - cut)) : nullptr;
        cuts.push_back(newline ? static_cast<const char*>(newline) + 1 : end);
    }
    cuts.push_back(end);
    // Each run's lines first, so that every run writes its rows straight
    // into the columns after those of the runs before it; a run's comment
    // and blank lines leave a gap that closes afterwards.
    std::vector<RowRun> runs(runCount);
    ReaderThreads::run(int(runCount),
                       [&](int r) { runs[r].lines = lineCount(cuts[r], cuts[r + 1]); });
    size_t lines = 0;
    std::vector<size_t> firstRow(runCount);
    for (size_t r = 0; r < runCount; ++r) {
        firstRow[r] = lines;
        lines += size_t(runs[r].lines);
    }
    table.columns.resize(columnCount);
    const int resizers = int(std::min(runCount, columnCount));
    ReaderThreads::run(resizers, [&](int first) {
        for (size_t c = size_t(first); c < columnCount; c += size_t(resizers))
            table.columns[c].resize(lines);
    });
    ReaderThreads::run(int(runCount), [&](int r) {
        RowRun& run = runs[r];
        run.lines = 0;
        for (PointTable::Column& column : table.columns)
            run.columns.push_back(column.data() + firstRow[r]);
        parseRows(cuts[r], cuts[r + 1], separator, columnCount, run);
    });

    qint64 firstLine = lineNumber; // the first numeric line
    size_t rows = 0;
    for (size_t r = 0; r < runCount; ++r) {
        const RowRun& run = runs[r];
        if (run.badLine) {
            const qint64 line = firstLine + run.badLine - 1;
            if (run.badBegin)
                *reason = QStringLiteral("line %1: \"%2\" is not a number")
                              .arg(line)
                              .arg(TextScanner::token(run.badBegin, run.badEnd));
            else
                *reason = QStringLiteral("line %1 holds %2 values, the first row %3")
                              .arg(line)
                              .arg(run.badFields)
                              .arg(columnCount);
            return false;
        }
        firstLine += run.lines;
        if (firstRow[r] != rows)
            for (PointTable::Column& column : table.columns)
                std::memmove(column.data() + rows, column.data() + firstRow[r],
                             run.rows * sizeof(double));
        rows += run.rows;
    }
    for (PointTable::Column& column : table.columns)
        column.resize(rows);
    return table.toRecord(options, record, reason);
}
