#pragma once

#include "data/FlowRecord.h"
#include "data/LoadOptions.h"

#include <QByteArray>
#include <QString>

// VTK XML image data (.vti) and rectilinear grids (.vtr) of one plane and one
// piece: point arrays in ascii, binary (base64) or appended (raw or base64)
// form, UInt32 or UInt64 headers, optionally zlib-compressed in blocks.
class VtkXmlReader
{
public:
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* reason);
    static bool parse(const QByteArray& bytes, const LoadOptions& options, FlowRecord& record,
                      QString* reason);
};
