#pragma once

#include "formats/FileFormat.h"

// Column text: one grid point per line, x y u v and further columns in any
// order of rows; tab, comma, semicolon or blank separated, with or without a
// header line (lines starting with '#' or '%' are comments, the last one
// before the numbers may be the header). Columns are chosen by name (units
// as "x [m]"), else x, y, u, v are the first four; the grid is rebuilt from
// the distinct x and y values. Empty fields and NaN tokens are missing
// values. Refuses fewer than four columns, rows of different lengths,
// tokens that are not numbers, and points that do not form a rectilinear
// grid. Claims any text file nothing else claims.
class ColumnTextReader : public FileFormat
{
public:
    static const ColumnTextReader& instance();

    QString name() const override { return QStringLiteral("column text"); }
    QStringList suffixes() const override
    {
        return {QStringLiteral("txt"), QStringLiteral("csv"), QStringLiteral("tsv"),
                QStringLiteral("dat")};
    }
    Claim probe(const QByteArray& head, const QString& fileName) const override;

protected:
    QString filterTitle() const override { return QStringLiteral("Column text"); }
    bool parse(const QByteArray& text, const LoadOptions& options, FlowRecord& record,
               QString* reason) const override;
};
