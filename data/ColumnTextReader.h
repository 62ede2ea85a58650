#pragma once

#include "data/FlowRecord.h"
#include "data/LoadOptions.h"

#include <QByteArray>
#include <QString>

// Column text (x y u v ..., one grid point per line, in any order): tab,
// comma, semicolon or blank separated, with or without a header line; lines
// starting with '#' or '%' are comments, the last one before the numbers may
// be the header. Empty fields and NaN tokens are missing values.
class ColumnTextReader
{
public:
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* reason);
    static bool parse(const QByteArray& text, const LoadOptions& options, FlowRecord& record,
                      QString* reason);
};
