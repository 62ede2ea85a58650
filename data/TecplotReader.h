#pragma once

#include "data/FlowRecord.h"
#include "data/LoadOptions.h"

#include <QByteArray>
#include <QString>

// Tecplot ASCII: TITLE, VARIABLES (quoted or bare names) and one ordered
// zone (I, J; K at most 1) in POINT or BLOCK packing. The columns are mapped
// and the grid rebuilt as for column text.
class TecplotReader
{
public:
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* reason);
    static bool parse(const QByteArray& text, const LoadOptions& options, FlowRecord& record,
                      QString* reason);
};
