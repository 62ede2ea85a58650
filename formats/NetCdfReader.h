#pragma once

#include "formats/FileFormat.h"

// NetCDF (classic, 64-bit offset, CDF5 and NetCDF-4) following the CF
// conventions: the velocity pair by standard_name, then by common names; the
// horizontal axes from the 1-D coordinate variables, else from 2-D
// coordinates (named by "coordinates", ROMS lon_rho/lat_rho, NEMO
// nav_lon/nav_lat or glamt/gphit): grid lines when they vary along one axis
// each, else a curvilinear grid, longitudes made continuous across the date
// line. ROMS C-grid components (u one column short, v one row short of the
// rho grid) are averaged to the rho points, mask_rho 0 makes land NaN, and
// grid-relative components are turned to east/north by "angle". Packing,
// fill values and valid ranges applied; a time dimension gives the time
// steps, any other extra dimension is a level. Every other variable on the
// same horizontal dimensions becomes a scalar set. Refuses a damaged or
// truncated classic header before the library sees it, x stored before y,
// more than one level dimension and components on different grids. Claims the CDF and HDF5
// signatures and .nc, .nc4, .cdf, .netcdf.
class NetCdfReader : public FileFormat
{
public:
    static const NetCdfReader& instance();

    QString name() const override { return QStringLiteral("NetCDF"); }
    QStringList suffixes() const override
    {
        return {QStringLiteral("nc"), QStringLiteral("nc4"), QStringLiteral("cdf")};
    }
    Claim probe(const QByteArray& head, const QString& fileName) const override;
    bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
              QString* reason) const override;
};
