#pragma once

#include "formats/FileFormat.h"

// Tecplot ASCII: TITLE, VARIABLES (quoted or bare names) and one ordered
// zone (I, J; K at most 1) in POINT or BLOCK packing; the columns are mapped
// and the grid rebuilt as for column text; when the points form no
// rectilinear grid, the zone's order gives a curvilinear one. Refuses several
// zones, finite-element zones, cell-centred variables, more than one plane
// (K above 1), non-finite X or Y and value counts that do not fill the zone.
// Claims .plt and .tec, and text whose first line starts with a keyword.
class TecplotReader : public FileFormat
{
public:
    static const TecplotReader& instance();

    QString name() const override { return QStringLiteral("Tecplot ASCII"); }
    QStringList suffixes() const override
    {
        return {QStringLiteral("dat"), QStringLiteral("plt"), QStringLiteral("tec")};
    }
    Claim probe(const QByteArray& head, const QString& fileName) const override;

protected:
    QString filterTitle() const override { return QStringLiteral("Tecplot ASCII"); }
    bool parse(const QByteArray& text, const LoadOptions& options, FlowRecord& record,
               QString* reason) const override;
};
