#pragma once

#include <QString>

#include <cstddef>
#include <vector>

class FlowData;

// What the derived fields are computed from: a rectilinear or curvilinear grid
// in the file's own frame and physical units, and the velocity read in place.
//
// Curvilinear: pointX and pointY hold the position of every point (number
// j * nx + i), and x and y are the indices 0 ... nx - 1 and 0 ... ny - 1;
// derivatives are then taken along the indices and turned into x and y ones
// through the inverse of the map's Jacobian.
//
// Frame: x and y are the file's axes, both ascending; u runs along x, v along
// y. Point (i, j) of the nx x ny grid is number j * nx + i, or i * ny + j
// when yFastest (a file whose fast index runs along y), so results come out
// in the order of the arrays read.
//
// Velocity: component c of point n is scale * c[n * stride]; a point is
// valid when both components are finite. Reading through a stride and a
// scale lets a loaded data set, whose vectors are Vector3 divided by the
// largest speed, be read without a copy.
//
// Metric: Plane takes x and y as lengths. Sphere takes x as longitude and y
// as latitude in degrees on a sphere of radius earthRadius metres, u as the
// eastward and v as the northward component.
struct DerivedFieldGrid
{
    enum Metric
    {
        Plane,
        Sphere
    };

    // The mean radius of the earth, metres.
    static constexpr double earthRadius = 6371000.0;

    std::vector<double> x;
    std::vector<double> y;
    // Empty for a rectilinear grid.
    std::vector<double> pointX;
    std::vector<double> pointY;
    const float* u = nullptr;
    const float* v = nullptr;
    std::ptrdiff_t stride = 1;
    double scale = 1.0;
    bool yFastest = false;
    Metric metric = Plane;
    // As the file names them; for Sphere the length unit is "m".
    QString velocityUnit;
    QString lengthUnit;

    int pointCount() const { return int(x.size() * y.size()); }

    // The grid of a loaded data set in the file's frame and units: positions
    // and vectors are taken back from the unit square and the largest speed,
    // and the exchange of axes for a file whose fast index runs along y is
    // undone. Empty axes when the data set holds no grid. The data set must
    // outlive the grid, which points into its vectors.
    static DerivedFieldGrid fromFlowData(const FlowData& data);

    // The length unit of the derived fields of a data set: "m" on a
    // longitude-latitude grid, else the data set's own.
    static QString lengthUnitOf(const FlowData& data);
    // CF units of longitude and latitude: degrees_east, degree_E, degreesE, ...
    static bool isLongitudeUnit(const QString& unit);
    static bool isLatitudeUnit(const QString& unit);
};
