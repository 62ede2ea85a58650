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
    bool vectors = false;      // declared as VECTORS (legacy) or Vectors="..." (XML)
    FlowRecord::Values values; // the tuples one after another
    // Or, where a reader took the components apart as it decoded them, one
    // array per component (empty for a component nobody needs).
    std::vector<FlowRecord::Values> planes;
};

// The arrays and components that hold the velocity.
struct VelocityChoice
{
    int uArray = -1;
    int vArray = -1;
    int uComponent = 0;
    int vComponent = 0;

    // Whether the record takes anything of array a: the velocity's arrays
    // and every single-component array (a scalar set).
    bool takes(const std::vector<VtkArray>& arrays, size_t a) const
    {
        return int(a) == uArray || int(a) == vArray || arrays[a].components == 1;
    }
};

namespace VtkArrays {

// Fills record.u, record.v and the scalar sets from the arrays of `points`
// tuples: velocity as named by the options, else the one vector array, else
// the one array of two or three components, else scalar arrays named u and v.
// Further single-component arrays become scalar sets; single-component
// arrays are moved out of `arrays`, which is left for the caller to drop.
bool assign(std::vector<VtkArray>& arrays, size_t points, const LoadOptions& options,
            FlowRecord& record, QString* reason);

// assign() in two steps, for a reader that decodes only what is taken: the
// choice, from the arrays' names, component counts and attributes alone
// (false, with the record's candidates and the reason set, where assign()
// would fail), then the taking of the decoded arrays.
bool chooseVelocity(const std::vector<VtkArray>& arrays, const LoadOptions& options,
                    FlowRecord& record, VelocityChoice& choice, QString* reason);
void take(std::vector<VtkArray>& arrays, const VelocityChoice& choice, size_t points,
          FlowRecord& record);

// Sets the record's grid from the structured points (x fastest): x and y
// axes when the points form a rectilinear grid (transposing the arrays when
// the file's fast index runs along y), else the points themselves as a
// curvilinear grid. Refuses non-finite points.
bool gridFromPoints(FlowRecord::Positions px, FlowRecord::Positions py, size_t nx, size_t ny,
                    FlowRecord& record, QString* reason);

} // namespace VtkArrays
