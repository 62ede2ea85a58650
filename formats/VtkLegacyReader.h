#pragma once

#include "formats/FileFormat.h"

// VTK legacy files, ASCII or BINARY (big-endian): STRUCTURED_POINTS,
// RECTILINEAR_GRID, and STRUCTURED_GRID (rectilinear or curvilinear points,
// z ignored); POINT_DATA as VECTORS, SCALARS and FIELD arrays. Refuses grids
// of more than one plane, non-finite points, other data set types and arrays
// shorter than the points. Claims "# vtk DataFile" and .vtk.
class VtkLegacyReader : public FileFormat
{
public:
    static const VtkLegacyReader& instance();

    QString name() const override { return QStringLiteral("VTK legacy"); }
    QStringList suffixes() const override { return {QStringLiteral("vtk")}; }
    Claim probe(const QByteArray& head, const QString& fileName) const override;

protected:
    QString filterTitle() const override { return QStringLiteral("VTK legacy"); }
    bool parse(const QByteArray& bytes, const LoadOptions& options, FlowRecord& record,
               QString* reason) const override;
};
