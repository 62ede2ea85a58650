#pragma once

#include "formats/FlowRecord.h"
#include "formats/LoadOptions.h"
#include "formats/UninitializedAllocator.h"

#include <QString>
#include <QStringList>

#include <vector>

// Scattered grid points as columns (x, y, velocity components, scalars, in
// any order, one row per point), as column text, Tecplot zones and VTK
// structured grids hold them. toRecord maps the columns by their names and
// rebuilds the rectilinear grid from the distinct x and y values.
class PointTable
{
public:
    // Column names as the file gives them (may carry a unit, "x [m]");
    // empty when the file has no header.
    QStringList names;
    // Sized columns hold unset values until the reader writes every row.
    using Column = std::vector<double, UninitializedAllocator<double>>;
    std::vector<Column> columns;

    // Splits "x [m]" or "x (m)" into name and unit.
    static void splitUnit(const QString& text, QString* name, QString* unit);
    // PIV mask columns: "isNaN" (1 = rejected) or the vector type ("Vector
    // type", "typevector": 0 = rejected) make the flagged vectors NaN.
    static void rejectMasked(const FlowRecord::Field& field, FlowRecord& record);
    // Chooses the x, y, u and v columns by name, then by position (the
    // first four); false with a reason when the choice stays open.
    static bool mapColumns(const QStringList& names, int count, const LoadOptions& options,
                           int roles[4], FlowRecord& record, QString* reason);

    // Grid lines are the distinct values along each axis, values closer than
    // a hundredth of the smallest spacing counting as one; grid points that
    // no row gives are NaN. Refuses non-finite coordinates, a point set that
    // is not a rectilinear grid and duplicated points with different values.
    // Rows that are an ordered orderedColumns x orderedRows grid (the first
    // index fastest) whose points form no rectilinear grid keep their order
    // as a curvilinear grid.
    bool toRecord(const LoadOptions& options, FlowRecord& record, QString* reason,
                  size_t orderedColumns = 0, size_t orderedRows = 0) const;

private:
    // The velocity and scalar columns at the grid points; source gives the
    // row of each point (-1 where none does), empty when point k is row k.
    bool fill(const int roles[4], size_t points, const std::vector<int>& source,
              FlowRecord& record) const;
};
