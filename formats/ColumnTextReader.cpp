#include "formats/ColumnTextReader.h"

#include "formats/PointTable.h"
#include "formats/TextScanner.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>
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

// The rows of one run of whole lines. A run stops at its first malformed
// line and keeps what went wrong; the message waits for the line number,
// which depends on the runs before it.
struct RowRun
{
    std::vector<std::vector<double>> columns;
    qint64 lines = 0;
    qint64 badLine = 0; // 1-based within the run, 0 when all rows are sound
    const char* badBegin = nullptr;
    const char* badEnd = nullptr;
    size_t badFields = 0;
};

void parseRows(const char* p, const char* end, char separator, size_t columnCount, RowRun& run)
{
    run.columns.resize(columnCount);
    const size_t expected = size_t(end - p) / (2 * columnCount) + 1;
    for (std::vector<double>& column : run.columns)
        column.reserve(std::min<size_t>(expected, size_t(end - p) / 8 + 16));
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
                run.badBegin = b;
                run.badEnd = e;
                bad = true;
                return;
            }
            run.columns[field++].push_back(value);
        });
        if (bad || field != columnCount) {
            run.badLine = run.lines;
            run.badFields = field;
            return;
        }
    }
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
    const size_t runCount =
        bodySize < (size_t(1) << 20)
            ? 1
            : std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 64);
    std::vector<const char*> cuts{body};
    for (size_t r = 1; r < runCount; ++r) {
        const char* cut = std::max(cuts.back(), body + bodySize * r / runCount);
        const void* newline = cut < end ? memchr(cut, '\n', size_t(end - cut)) : nullptr;
        cuts.push_back(newline ? static_cast<const char*>(newline) + 1 : end);
    }
    cuts.push_back(end);
    std::vector<RowRun> runs(runCount);
    std::vector<std::thread> workers;
    for (size_t r = 1; r < runCount; ++r)
        workers.emplace_back(parseRows, cuts[r], cuts[r + 1], separator, columnCount,
                             std::ref(runs[r]));
    parseRows(cuts[0], cuts[1], separator, columnCount, runs[0]);
    for (std::thread& worker : workers)
        worker.join();

    qint64 firstLine = lineNumber; // the first numeric line
    size_t rows = 0;
    for (const RowRun& run : runs) {
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
        rows += run.columns.front().size();
    }
    if (runCount == 1) {
        table.columns = std::move(runs.front().columns);
    } else {
        table.columns.resize(columnCount);
        for (size_t c = 0; c < columnCount; ++c) {
            std::vector<double>& column = table.columns[c];
            column.reserve(rows);
            for (RowRun& run : runs) {
                column.insert(column.end(), run.columns[c].begin(), run.columns[c].end());
                std::vector<double>().swap(run.columns[c]);
            }
        }
    }
    return table.toRecord(options, record, reason);
}
