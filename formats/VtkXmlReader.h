#pragma once

#include "formats/FileFormat.h"

// VTK XML ImageData (.vti), RectilinearGrid (.vtr) and StructuredGrid (.vts,
// rectilinear or curvilinear points, z ignored) of one piece: point
// arrays as ascii, binary (base64) or appended (raw or base64) data, UInt32
// or UInt64 headers, zlib-compressed blocks. Refuses several pieces, grids
// of more than one plane, other compressors and blocks that do not inflate
// to their stated size, non-finite points. Claims "<?xml" or "<VTKFile" at
// the start and .vti, .vtr, .vts.
class VtkXmlReader : public FileFormat
{
public:
    static const VtkXmlReader& instance();

    QString name() const override { return QStringLiteral("VTK XML"); }
    QStringList suffixes() const override
    {
        return {QStringLiteral("vti"), QStringLiteral("vtr"), QStringLiteral("vts")};
    }
    Claim probe(const QByteArray& head, const QString& fileName) const override;

protected:
    QString filterTitle() const override
    {
        return QStringLiteral("VTK XML image, rectilinear or structured grid");
    }
    bool parse(const QByteArray& bytes, const LoadOptions& options, FlowRecord& record,
               QString* reason) const override;
};
