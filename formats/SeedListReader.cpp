#include "formats/SeedListReader.h"

#include <QFile>

#include <charconv>
#include <cmath>

namespace {

// Seed lists are typed or exported by hand; a few megabytes is already far
// more seeds than a picture can show.
constexpr qint64 largestFile = 16 << 20;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// One number from `text` at `position`, blanks around it skipped.
bool readNumber(const char*& position, const char* end, double* value)
{
    while (position < end && isBlank(*position))
        ++position;
    if (position < end && *position == '+')
        ++position; // from_chars takes no plus sign
    const std::from_chars_result read = std::from_chars(position, end, *value);
    if (read.ec != std::errc() || read.ptr == position)
        return false;
    position = read.ptr;
    while (position < end && isBlank(*position))
        ++position;
    return true;
}

enum class LineKind
{
    Seed,
    Bad,
    NotFinite
};

LineKind readLine(const char* position, const char* end, QPointF* seed)
{
    double x = 0.0;
    double y = 0.0;
    if (!readNumber(position, end, &x) || position == end || *position != ',')
        return LineKind::Bad;
    ++position;
    if (!readNumber(position, end, &y) || (position != end && *position != ','))
        return LineKind::Bad;
    if (!std::isfinite(x) || !std::isfinite(y))
        return LineKind::NotFinite;
    *seed = QPointF(x, y);
    return LineKind::Seed;
}

} // namespace

bool SeedListReader::parse(const QByteArray& text, QList<QPointF>* seeds, QString* problem)
{
    seeds->clear();
    const char* position = text.constData();
    const char* const end = position + text.size();
    int number = 0;
    bool firstContent = true;
    while (position < end) {
        const char* lineEnd = position;
        while (lineEnd < end && *lineEnd != '\n')
            ++lineEnd;
        ++number;
        const char* start = position;
        position = lineEnd < end ? lineEnd + 1 : end;
        while (start < lineEnd && isBlank(*start))
            ++start;
        if (start == lineEnd || *start == '#')
            continue;
        QPointF seed;
        const LineKind kind = readLine(start, lineEnd, &seed);
        const bool header = firstContent;
        firstContent = false;
        if (kind == LineKind::Seed) {
            seeds->append(seed);
        } else if (kind == LineKind::NotFinite) {
            *problem = QString("line %1: the coordinates are not finite").arg(number);
            return false;
        } else if (!header) {
            *problem = QString("line %1: expected two numbers, x,y").arg(number);
            return false;
        }
    }
    return true;
}

bool SeedListReader::read(const QString& fileName, QList<QPointF>* seeds, QString* problem)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = fileName + ": " + file.errorString();
        return false;
    }
    if (file.size() > largestFile) {
        *problem = fileName + ": larger than a seed list can be";
        return false;
    }
    QString reason;
    if (!parse(file.readAll(), seeds, &reason)) {
        *problem = fileName + ": " + reason;
        return false;
    }
    return true;
}
