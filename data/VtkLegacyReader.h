#pragma once

#include "data/FlowRecord.h"
#include "data/LoadOptions.h"

#include <QByteArray>
#include <QString>

// VTK legacy files, ASCII or BINARY (big-endian): STRUCTURED_POINTS,
// RECTILINEAR_GRID and STRUCTURED_GRID whose points form a rectilinear grid,
// one plane; POINT_DATA with SCALARS, VECTORS and FIELD arrays.
class VtkLegacyReader
{
public:
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* reason);
    static bool parse(const QByteArray& bytes, const LoadOptions& options, FlowRecord& record,
                      QString* reason);
};
