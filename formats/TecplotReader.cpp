#include "formats/TecplotReader.h"

#include "formats/PointTable.h"
#include "formats/TextScanner.h"

#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <vector>

using TextScanner::isBlank;

namespace {

class Scanner
{
public:
    Scanner(const char* begin, const char* newEnd) : p(begin), end(newEnd) {}

    void skipSeparators()
    {
        while (p < end) {
            if (isBlank(*p) || *p == ',') {
                ++p;
            } else if (*p == '#') {
                while (p < end && *p != '\n')
                    ++p;
            } else {
                break;
            }
        }
    }
    bool atEnd() { return skipSeparators(), p >= end; }
    bool atWord()
    {
        skipSeparators();
        return p < end && (std::isalpha(static_cast<unsigned char>(*p)) || *p == '_');
    }
    bool atNumber()
    {
        skipSeparators();
        return p < end && !atWord() && *p != '"' && *p != '=' && *p != '(';
    }
    QByteArray word()
    {
        skipSeparators();
        const char* start = p;
        while (p < end && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_'))
            ++p;
        return QByteArray(start, int(p - start)).toUpper();
    }
    bool equals()
    {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p < end && *p == '=') {
            ++p;
            return true;
        }
        return false;
    }
    // A quoted string, a parenthesised list or a bare token.
    QString value()
    {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        const char* start = p;
        if (p < end && *p == '"') {
            ++p;
            start = p;
            while (p < end && *p != '"')
                ++p;
            const QString text = QString::fromUtf8(start, int(p - start));
            if (p < end)
                ++p;
            return text;
        }
        if (p < end && *p == '(') {
            while (p < end && *p != ')')
                ++p;
            if (p < end)
                ++p;
            return QString::fromUtf8(start, int(p - start));
        }
        while (p < end && !isBlank(*p) && *p != ',')
            ++p;
        return QString::fromUtf8(start, int(p - start));
    }
    const char* position() const { return p; }
    const char* limit() const { return end; }
    void moveTo(const char* to) { p = to; }
    qint64 line(const char* begin) const
    {
        qint64 count = 1;
        for (const char* q = begin; q < p; ++q)
            count += *q == '\n';
        return count;
    }

private:
    const char* p;
    const char* end;
};

bool isKeyword(const QByteArray& word)
{
    static const QByteArray keywords[] = {"TITLE", "VARIABLES", "ZONE",           "FILETYPE",
                                          "TEXT",  "GEOMETRY",  "DATASETAUXDATA", "CUSTOMLABELS"};
    for (const QByteArray& keyword : keywords)
        if (word == keyword)
            return true;
    return false;
}

// The first line that is neither blank nor a comment starts with a keyword.
bool startsWithKeyword(const QByteArray& bytes)
{
    for (const QByteArray& line : bytes.split('\n')) {
        const QByteArray text = line.trimmed().toUpper();
        if (text.isEmpty() || text.startsWith('#'))
            continue;
        for (const char* keyword : {"TITLE", "VARIABLES", "ZONE", "FILETYPE"})
            if (text.startsWith(keyword) &&
                (text.size() == int(qstrlen(keyword)) ||
                 !QChar::isLetterOrNumber(uchar(text.at(int(qstrlen(keyword)))))))
                return true;
        return false;
    }
    return false;
}

// One parse in its stages: the keyword sections up to the first number
// (VARIABLES, ZONE and the ones that are read past), the check of the zone
// against the file's size, the values, and the columns they make.
class Parse
{
public:
    Parse(const QByteArray& newText, QString* newReason)
        : text(newText), scan(newText.constData(), newText.constData() + newText.size()),
          reason(newReason)
    {
    }

    bool sections()
    {
        while (!scan.atEnd() && !scan.atNumber()) {
            const char* start = scan.position();
            const QByteArray keyword = scan.word();
            if (keyword.isEmpty()) {
                *reason = QStringLiteral("line %1: unexpected \"%2\"")
                              .arg(scan.line(text.constData()))
                              .arg(TextScanner::token(start, qMin(start + 10, scan.limit())));
                return false;
            }
            if (!isKeyword(keyword)) {
                *reason = QStringLiteral("line %1: unknown keyword %2")
                              .arg(scan.line(text.constData()))
                              .arg(QString::fromLatin1(keyword.left(40)));
                return false;
            }
            if (keyword == "VARIABLES") {
                if (!variablesSection())
                    return false;
            } else if (keyword == "ZONE") {
                if (!zoneSection())
                    return false;
            } else if (scan.equals()) {
                scan.value();
            }
        }
        return true;
    }

    bool checkZone()
    {
        if (variables.isEmpty()) {
            *reason = QStringLiteral("no VARIABLES line");
            return false;
        }
        if (!zoneSeen || !sized[0] || !sized[1]) {
            *reason = QStringLiteral("no ordered zone with I and J");
            return false;
        }
        if (sizes[2] > 1) {
            *reason = QStringLiteral("a 3-D zone with K = %1 planes; only one plane is read")
                          .arg(sizes[2]);
            return false;
        }
        columns = variables.size();
        // Every value takes at least two bytes (a digit and a separator), so the
        // file's size bounds the counts before anything is allocated.
        const qint64 available = (scan.limit() - scan.position()) / 2 + 1;
        if (sizes[0] > available || sizes[1] > available || sizes[0] * sizes[1] > available ||
            sizes[0] * sizes[1] * columns > available) {
            *reason =
                QStringLiteral("the zone promises %1 x %2 points of %3 values; the file holds "
                               "fewer")
                    .arg(sizes[0])
                    .arg(sizes[1])
                    .arg(columns);
            return false;
        }
        return true;
    }

    bool readValues()
    {
        points = size_t(sizes[0] * sizes[1]);
        const size_t total = points * size_t(columns);
        values.reserve(total);
        while (!scan.atEnd()) {
            if (scan.atWord()) {
                const char* start = scan.position();
                const QByteArray word = scan.word();
                if (word == "ZONE")
                    *reason =
                        QStringLiteral("more than one zone; only files with one zone are read");
                else
                    *reason = QStringLiteral("line %1: \"%2\" is not a number")
                                  .arg(scan.line(text.constData()))
                                  .arg(TextScanner::token(start, scan.position()));
                if (word != "NAN" && word != "INF")
                    return false;
                values.push_back(word == "NAN" ? std::numeric_limits<double>::quiet_NaN()
                                               : std::numeric_limits<double>::infinity());
                continue;
            }
            const char* start = scan.position();
            const char* stop = start;
            while (stop < scan.limit() && !isBlank(*stop) && *stop != ',')
                ++stop;
            double value = 0.0;
            if (!TextScanner::parseNumber(start, stop, &value)) {
                *reason = QStringLiteral("line %1: \"%2\" is not a number")
                              .arg(scan.line(text.constData()))
                              .arg(TextScanner::token(start, stop));
                return false;
            }
            if (values.size() == total) {
                *reason = QStringLiteral("more values than the zone's %1 x %2 points of %3")
                              .arg(sizes[0])
                              .arg(sizes[1])
                              .arg(columns);
                return false;
            }
            values.push_back(value);
            scan.moveTo(stop);
        }
        if (values.size() != total) {
            *reason = QStringLiteral("the zone holds %1 values, %2 x %3 points of %4 need %5")
                          .arg(values.size())
                          .arg(sizes[0])
                          .arg(sizes[1])
                          .arg(columns)
                          .arg(total);
            return false;
        }
        return true;
    }

    bool toRecord(const LoadOptions& options, FlowRecord& record)
    {
        PointTable table;
        table.names = variables;
        table.columns.resize(size_t(columns));
        for (size_t c = 0; c < size_t(columns); ++c) {
            PointTable::Column& column = table.columns[c];
            column.resize(points);
            for (size_t k = 0; k < points; ++k)
                column[k] = block ? values[c * points + k] : values[k * size_t(columns) + c];
        }
        std::vector<double>().swap(values);
        return table.toRecord(options, record, reason, size_t(sizes[0]), size_t(sizes[1]));
    }

private:
    bool variablesSection()
    {
        if (!scan.equals()) {
            *reason = QStringLiteral("VARIABLES without \"=\"");
            return false;
        }
        // Names until the next keyword or the first number.
        while (!scan.atEnd() && !scan.atNumber()) {
            const char* before = scan.position();
            if (scan.atWord()) {
                const QByteArray word = scan.word();
                if (isKeyword(word)) {
                    scan.moveTo(before);
                    break;
                }
                scan.moveTo(before);
            }
            variables.append(scan.value());
            if (variables.size() > 100000) {
                *reason = QStringLiteral("more than 100000 variables");
                return false;
            }
        }
        return true;
    }

    bool zoneSection()
    {
        if (zoneSeen) {
            *reason = QStringLiteral("more than one zone; only files with one zone are read");
            return false;
        }
        zoneSeen = true;
        while (scan.atWord()) {
            const char* before = scan.position();
            const QByteArray key = scan.word();
            if (isKeyword(key)) {
                scan.moveTo(before);
                break;
            }
            if (!scan.equals()) {
                *reason = QStringLiteral("zone option %1 without \"=\"")
                              .arg(QString::fromLatin1(key.left(40)));
                return false;
            }
            const QString value = scan.value().trimmed();
            const QString upper = value.toUpper();
            if (key == "I" || key == "J" || key == "K") {
                bool ok = false;
                const qint64 n = value.toLongLong(&ok);
                if (!ok || n < 1) {
                    *reason = QStringLiteral("zone %1 = \"%2\" is not a positive count")
                                  .arg(QString::fromLatin1(key), value.left(40));
                    return false;
                }
                const int axis = key == "I" ? 0 : key == "J" ? 1 : 2;
                sizes[axis] = n;
                if (axis < 2)
                    sized[axis] = true;
            } else if (key == "F" || key == "DATAPACKING") {
                if (upper == "POINT") {
                    block = false;
                } else if (upper == "BLOCK") {
                    block = true;
                } else {
                    *reason = QStringLiteral("zone packing %1 is neither POINT nor BLOCK")
                                  .arg(value.left(40));
                    return false;
                }
            } else if (key == "ZONETYPE") {
                if (upper != "ORDERED") {
                    *reason = QStringLiteral("zone type %1: only ordered zones are read")
                                  .arg(value.left(40));
                    return false;
                }
            } else if (key == "VARLOCATION") {
                if (upper.contains(QLatin1String("CELLCENTERED"))) {
                    *reason = QStringLiteral("cell-centred variables are not read");
                    return false;
                }
            } else if (key == "N" || key == "E" || key == "NODES" || key == "ELEMENTS") {
                *reason = QStringLiteral("a finite-element zone; only ordered zones are read");
                return false;
            }
        }
        return true;
    }

    const QByteArray& text;
    Scanner scan;
    QString* reason;
    QStringList variables;
    qint64 sizes[3] = {1, 1, 1};
    bool sized[2] = {false, false};
    bool block = false;
    bool zoneSeen = false;
    qint64 columns = 0;
    size_t points = 0;
    std::vector<double> values;
};

} // namespace

const TecplotReader& TecplotReader::instance()
{
    static const TecplotReader format;
    return format;
}

FileFormat::Claim TecplotReader::probe(const QByteArray& head, const QString& fileName) const
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("plt") || suffix == QLatin1String("tec") || startsWithKeyword(head))
        return Claim::Likely;
    return Claim::None;
}

bool TecplotReader::parse(const QByteArray& text, const LoadOptions& options, FlowRecord& record,
                          QString* reason) const
{
    Parse parse(text, reason);
    return parse.sections() && parse.checkZone() && parse.readValues() &&
           parse.toRecord(options, record);
}
