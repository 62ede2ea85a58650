#pragma once

#include "data/FlowData.h"

#include <memory>

class CellInverse;
class CellRasterMap;

// The grid as curvilinear: every grid point has its own position and each
// cell is the quadrilateral of four neighbouring points (convex or not,
// possibly collapsed to a triangle or a line at a pole or a cut). Resampling
// maps every raster point into the cell that holds it and interpolates
// bilinearly in the cell's own coordinates; raster points outside every cell
// are NaN. The cell and (xi, eta) of every raster sample are kept for the
// last few raster sizes, so that resampling the same raster again (another
// scalar set, the vectors, a recolour) only weighs four grid values per
// sample. A uniform bucket grid over the unit square, listing the cells that
// overlap each bucket, finds the cell of a position for vectorAt.
// Filled once by copyFrom, then read-only (safe to sample from several threads).
class CurvilinearFlowData : public FlowData
{
public:
    CurvilinearFlowData() = default;
    ~CurvilinearFlowData() override;

    void calcScalar(int index, int width, int height, float* out) const override;
    // The same for a set over this grid that is not in the scalar list.
    void calcValues(const ScalarSet& set, int width, int height, float* out) const;
    void calcVector(int width, int height, Vector3* out) const override;
    Vector3 vectorAt(double x, double y) const override;
    void copyFrom(const FlowData& other) override;

    // True once the bucket grid describes the arrays held.
    bool hasTables() const;
    // Forgets the cells of the raster samples kept for earlier resamplings
    // (the memory, or a measurement of the first resampling).
    void dropRasterMaps() const;

    // The cell holding (x, y) in unit-square positions (y not scaled by the
    // aspect ratio) and the point's coordinates (xi, eta) in it; -1 outside
    // every cell.
    int cellAt(double x, double y, double* xi = nullptr, double* eta = nullptr) const;

    // The bilinear cell through corners p00, p10, p11, p01 (counter-clockwise
    // or clockwise) maps (xi, eta) in [0, 1]^2 to
    // p00 + xi (p10 - p00) + eta (p01 - p00) + xi eta (p00 - p10 + p11 - p01).
    // Finds the (xi, eta) of point p, true when it lies in the cell (within a
    // small tolerance). Handles non-convex and degenerate quadrilaterals.
    static bool inverseBilinear(const double p00[2], const double p10[2], const double p11[2],
                                const double p01[2], const double p[2], double& xi, double& eta);

private:
    struct RasterMaps;

    template <typename Visit> void scanRows(int width, int height, Visit visit) const;
    template <typename Visit> void scanCells(int width, int height, Visit visit) const;
    // The map of a width x height raster, kept or built; null when the memory
    // is not there.
    std::shared_ptr<const CellRasterMap> rasterMap(int width, int height) const;
    bool buildBuckets();
    // The cell of (x, y) by its column and row, with the point's (xi, eta).
    bool locate(double x, double y, int& column, int& row, double& xi, double& eta) const;
    bool cellContains(int column, int row, double x, double y, double& xi, double& eta) const;
    // The first cell of (x, y)'s bucket that holds it.
    bool searchBucket(double x, double y, int& column, int& row, double& xi, double& eta) const;
    // The cell holding (x, y) found by jumps through the grid from the cell
    // (column, row), which does not hold it and in which (x, y) lies at
    // (xi, eta); the cell found replaces it, and its inverse goes into `cell`.
    bool walkTo(double x, double y, int& column, int& row, double& xi, double& eta,
                CellInverse& cell) const;

    int bucketsX = 0;
    int bucketsY = 0;
    // Cells of bucket b: bucketCells[bucketStart[b] .. bucketStart[b + 1]).
    SharedArray<int> bucketStart;
    SharedArray<int> bucketCells;
    // Shared with copies of the same geometry; read and filled from any thread.
    std::shared_ptr<RasterMaps> maps;
};
