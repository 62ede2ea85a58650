#pragma once

#include "data/FlowRecord.h"
#include "data/LoadOptions.h"

#include <QString>

// NetCDF (classic and NetCDF-4) following the CF conventions: the velocity
// pair by standard_name, then by common names; the horizontal axes from the
// 1-D coordinate variables (or from 2-D coordinates that form a rectilinear
// grid); packing, fill values and valid ranges applied; a time dimension
// gives the time steps, any other extra dimension is a level. Every other
// variable on the same horizontal dimensions becomes a scalar set.
class NetCdfReader
{
public:
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* reason);
};
