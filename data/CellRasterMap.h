#pragma once

#include "data/SharedArray.h"

#include <cstddef>
#include <memory>

// Where every sample of a width x height raster over the unit square lies in
// a curvilinear grid: the first corner of its cell and its (xi, eta) in that
// cell. Finding the cells is the costly part of resampling such a grid and
// depends on the geometry only, so one map serves every scalar set and the
// vectors of the same raster. Written once by the thread that builds it,
// read-only once handed out.
class CellRasterMap
{
public:
    struct Sample
    {
        // Index of the cell's lower-left grid point; -1 outside every cell.
        int corner;
        float xi;
        float eta;
    };

    // Null when the memory is not there. The samples are not initialised:
    // the builder writes every one.
    static std::shared_ptr<CellRasterMap> create(int width, int height);

    int width() const { return columns; }
    int height() const { return rows; }
    std::size_t size() const { return std::size_t(columns) * std::size_t(rows); }
    Sample* data() { return samples.get(); }
    const Sample* data() const { return samples.get(); }

private:
    CellRasterMap() = default;

    int columns = 0;
    int rows = 0;
    // Large maps come on huge pages: a zoomed-in raster's map is built
    // afresh at every new size, and page faults on 4 kB pages otherwise cost
    // about as much as finding the cells.
    SharedArray<Sample> samples;
};
