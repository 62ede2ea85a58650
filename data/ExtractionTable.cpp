#include "data/ExtractionTable.h"

#include <QIODevice>
#include <QLocale>

#include <cmath>
#include <limits>

namespace {

QString field(const QString& text, QChar separator)
{
    if (!text.contains(separator) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

int ExtractionTable::addColumn(const QString& name, const QString& unit)
{
    columns.append(
        {name, unit,
         std::vector<double>(size_t(rowCount()), std::numeric_limits<double>::quiet_NaN())});
    return int(columns.size()) - 1;
}

void ExtractionTable::appendRow(const std::vector<double>& row)
{
    for (int c = 0; c < columns.size(); ++c)
        columns[c].values.push_back(
            size_t(c) < row.size() ? row[size_t(c)] : std::numeric_limits<double>::quiet_NaN());
}

int ExtractionTable::columnIndex(const QString& name) const
{
    for (int c = 0; c < columns.size(); ++c)
        if (columns.at(c).name == name)
            return c;
    return -1;
}

QString ExtractionTable::heading(const QString& name, const QString& unit)
{
    return unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QLatin1Char(']');
}

QString ExtractionTable::heading(int index) const
{
    return heading(columns.at(index).name, columns.at(index).unit);
}

double ExtractionTable::mean(int index) const
{
    double sum = 0.0;
    int count = 0;
    for (double value : columns.at(index).values) {
        if (std::isfinite(value)) {
            sum += value;
            ++count;
        }
    }
    return count > 0 ? sum / count : std::numeric_limits<double>::quiet_NaN();
}

QString ExtractionTable::number(double value)
{
    // The shortest digits that read back to the same double: exact, and no
    // float noise such as 0.10000000000000001.
    return std::isfinite(value) ? QString::number(value, 'g', QLocale::FloatingPointShortest)
                                : QString();
}

QString ExtractionTable::toText(QChar separator) const
{
    QString text;
    const int rows = rowCount();
    text.reserve((rows + 1) * columnCount() * 12);
    for (int c = 0; c < columns.size(); ++c) {
        if (c > 0)
            text += separator;
        text += field(heading(c), separator);
    }
    text += QLatin1Char('\n');
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns.size(); ++c) {
            if (c > 0)
                text += separator;
            text += number(columns.at(c).values[size_t(r)]);
        }
        text += QLatin1Char('\n');
    }
    return text;
}

bool ExtractionTable::writeCsv(QIODevice& device) const
{
    const QByteArray bytes = toCsv().toUtf8();
    return device.write(bytes) == bytes.size();
}
