#pragma once

#include <QList>
#include <QString>

#include <vector>

class QIODevice;

// Columns of numbers extracted from a data set (a profile along a line, the
// history of a point), each with its name and unit, and their text forms.
//
// Storage is by column: a plot takes a column as one series. Every column
// holds rowCount() values; NaN marks a value that is not there (outside the
// grid, a masked point, a missing step).
//
// Text: CSV has one header row of `name [unit]` (just `name` without a
// unit), then one row per sample. Numbers are written in the shortest form
// that reads back to the same double; NaN is an empty field, which
// spreadsheets show as an empty cell and pandas.read_csv reads as NaN. A
// name holding the separator, a quote or a line break is quoted, quotes
// doubled. The tab-separated form for the clipboard is the same with tabs.
class ExtractionTable
{
public:
    struct Column
    {
        QString name;
        QString unit;
        std::vector<double> values;
    };

    // Appends an empty column; returns its index.
    int addColumn(const QString& name, const QString& unit = QString());
    // Appends one row, a value per column in order (missing ones are NaN).
    void appendRow(const std::vector<double>& row);

    int columnCount() const { return int(columns.size()); }
    int rowCount() const { return columns.isEmpty() ? 0 : int(columns.first().values.size()); }
    const Column& column(int index) const { return columns.at(index); }
    const std::vector<double>& values(int index) const { return columns.at(index).values; }
    double value(int row, int columnIndex) const { return columns.at(columnIndex).values[row]; }
    // The first column of that name, or -1.
    int columnIndex(const QString& name) const;

    // "name [unit]", or the name alone when there is no unit.
    static QString heading(const QString& name, const QString& unit);
    // `heading` of column `index`.
    QString heading(int index) const;

    // The mean of a column's finite values; NaN when it has none.
    double mean(int index) const;

    QString toCsv() const { return toText(QLatin1Char(',')); }
    QString toTabSeparated() const { return toText(QLatin1Char('\t')); }
    // The CSV form, UTF-8; false when the device does not take it all.
    bool writeCsv(QIODevice& device) const;

    // The text of one number as the tables write it (empty for NaN).
    static QString number(double value);

private:
    QString toText(QChar separator) const;

    QList<Column> columns;
};
