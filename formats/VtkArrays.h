#pragma once

#include "formats/FlowRecord.h"
#include "formats/LoadOptions.h"

#include <QString>

#include <vector>

// Point arrays of a VTK file and the choice of velocity among them, shared
// by the legacy and the XML reader.
struct VtkArray
{
    QString name;
    int components = 1;
    bool vectors = false; // declared as VECTORS (legacy) or Vectors="..." (XML)
    FlowRecord::Values values;
};

namespace VtkArrays {

// Fills record.u, record.v and the scalar sets from the arrays of `points`
// tuples: velocity as named by the options, else the one vector array, else
// the one array of two or three components, else scalar arrays named u and v.
// Further single-component arrays become scalar sets; single-component
// arrays are moved out of `arrays`, which is left for the caller to drop.
bool assign(std::vector<VtkArray>& arrays, size_t points, const LoadOptions& options,
            FlowRecord& record, QString* reason);

// Sets the record's grid from the structured points (x fastest): x and y
// axes when the points form a rectilinear grid (transposing the arrays when
// the file's fast index runs along y), else the points themselves as a
// curvilinear grid. Refuses non-finite points.
bool gridFromPoints(FlowRecord::Positions px, FlowRecord::Positions py, size_t nx, size_t ny,
                    FlowRecord& record, QString* reason);

} // namespace VtkArrays
