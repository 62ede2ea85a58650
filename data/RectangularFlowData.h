#pragma once

#include "data/FlowData.h"

// The grid as rectilinear: one x per grid column, one y per grid row, spacing
// free to vary. Adds per-axis coordinate tables and uniform lookup tables that
// make vectorAt a constant-time operation, and bilinear resampling.
// Filled once by copyFrom, then read-only (safe to sample from several threads).
class RectangularFlowData : public FlowData
{
public:
    RectangularFlowData() = default;
    ~RectangularFlowData() override;

    void calcScalar(int index, int width, int height, float* out) const override;
    // The same for a set over this grid that is not in the scalar list (a
    // derived field); its values stay in their own units.
    void calcValues(const ScalarSet& set, int width, int height, float* out) const;
    void calcVector(int width, int height, Vector3* out) const override;
    Vector3 vectorAt(double x, double y) const override;
    void copyFrom(const FlowData& other) override;

    const SharedArray<float>& xCoordinates() const { return xCoords; }
    const SharedArray<float>& yCoordinates() const { return yCoords; }
    const SharedArray<int>& xLookupTable() const { return xLookup; }
    const SharedArray<int>& yLookupTable() const { return yLookup; }

    // Upper bound of a lookup table's entries: keeps a tiny smallest cell from
    // asking for billions of entries; vectorAt corrects a coarser table's cell.
    static constexpr int maxLookupEntries = 1 << 18;

protected:
    // copyFrom exchanges the components of a grid whose fast index runs along y.
    bool componentsExchanged() const override { return fastIndexAlongY(); }

private:
    bool tablesFit() const;
    static bool buildLookupTable(int n, const float* coords, SharedArray<int>& lookup);

    SharedArray<float> xCoords;
    SharedArray<float> yCoords;
    SharedArray<int> xLookup;
    SharedArray<int> yLookup;
};
