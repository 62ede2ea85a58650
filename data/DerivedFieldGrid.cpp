#include "data/DerivedFieldGrid.h"

#include "data/CurvilinearFlowData.h"
#include "data/RectangularFlowData.h"

#include <QRegularExpression>

namespace {

// Grid lines from the unit square back to the file's axis. The file held
// floats, so the value is rounded to float again: that recovers the file's
// coordinate wherever the scaling's error is below half its float spacing.
std::vector<double> physicalAxis(const SharedArray<float>& normalised, float low, float high)
{
    std::vector<double> axis(size_t(normalised.size()));
    const double origin = low;
    const double range = double(high) - origin;
    for (int k = 0; k < normalised.size(); ++k)
        axis[size_t(k)] = double(float(origin + double(normalised[k]) * range));
    return axis;
}

bool matchesDegrees(const QString& unit, QChar direction, const QString& word)
{
    // degree(s) followed by _E, E, _east ... (CF's accepted spellings).
    const QRegularExpression pattern(QStringLiteral("^degrees?_?(%1|%2)$").arg(direction).arg(word),
                                     QRegularExpression::CaseInsensitiveOption);
    return pattern.match(unit.trimmed()).hasMatch();
}

// The axes and components of a rectilinear grid; false when it holds none.
bool fillAxes(const RectangularFlowData& data, DerivedFieldGrid& grid)
{
    const int columns = data.resolutionXValue();
    const int rows = data.resolutionYValue();
    const SharedArray<float>& across = data.xCoordinates();
    const SharedArray<float>& up = data.yCoordinates();
    const SharedArray<Vector3>& vectors = data.vectorArray();
    if (columns < 2 || rows < 2 || across.size() != columns || up.size() != rows ||
        vectors.size() != columns * rows)
        return false;

    // The geometry extremes are the file's x and y; with the axes exchanged
    // the grid's columns run along the file's y and the components are
    // stored swapped.
    const Vector3 low = data.geometryMinimum();
    const Vector3 high = data.geometryMaximum();
    const Vector3* first = vectors.get();
    grid.yFastest = data.axesExchanged();
    if (grid.yFastest) {
        grid.x = physicalAxis(up, low.x, high.x);
        grid.y = physicalAxis(across, low.y, high.y);
        grid.u = &first->y;
        grid.v = &first->x;
    } else {
        grid.x = physicalAxis(across, low.x, high.x);
        grid.y = physicalAxis(up, low.y, high.y);
        grid.u = &first->x;
        grid.v = &first->y;
    }
    return true;
}

} // namespace

QString DerivedFieldGrid::lengthUnitOf(const FlowData& data)
{
    const QString length = data.lengthUnit();
    return isLongitudeUnit(length) || isLatitudeUnit(length) ? QStringLiteral("m") : length;
}

bool DerivedFieldGrid::isLongitudeUnit(const QString& unit)
{
    return matchesDegrees(unit, QLatin1Char('E'), QStringLiteral("east"));
}

bool DerivedFieldGrid::isLatitudeUnit(const QString& unit)
{
    return matchesDegrees(unit, QLatin1Char('N'), QStringLiteral("north"));
}

DerivedFieldGrid DerivedFieldGrid::fromFlowData(const FlowData& data)
{
    DerivedFieldGrid grid;
    if (dynamic_cast<const CurvilinearFlowData*>(&data)) {
        const int columns = data.resolutionXValue();
        const int rows = data.resolutionYValue();
        const SharedArray<Vector3>& vectors = data.vectorArray();
        const SharedArray<Vector3>& points = data.geometryArray();
        if (columns < 2 || rows < 2 || points.size() != columns * rows ||
            vectors.size() != columns * rows)
            return grid;
        const Vector3 low = data.geometryMinimum();
        const Vector3 high = data.geometryMaximum();
        // Back from the unit square as the axes are, rounded to the file's floats.
        const double xRange = double(high.x) - double(low.x);
        const double yRange = double(high.y) - double(low.y);
        grid.pointX.resize(size_t(points.size()));
        grid.pointY.resize(size_t(points.size()));
        for (int k = 0; k < points.size(); ++k) {
            grid.pointX[size_t(k)] = double(float(double(low.x) + double(points[k].x) * xRange));
            grid.pointY[size_t(k)] = double(float(double(low.y) + double(points[k].y) * yRange));
        }
        for (int i = 0; i < columns; ++i)
            grid.x.push_back(i);
        for (int j = 0; j < rows; ++j)
            grid.y.push_back(j);
        grid.u = &vectors.get()->x;
        grid.v = &vectors.get()->y;
    } else {
        const auto* rectangular = dynamic_cast<const RectangularFlowData*>(&data);
        if (!rectangular || !fillAxes(*rectangular, grid))
            return DerivedFieldGrid();
    }
    grid.stride = std::ptrdiff_t(sizeof(Vector3) / sizeof(float));
    // The loader divides by the largest speed unless it is 0 (a field at rest).
    grid.scale = data.largestSpeed() > 0.0 ? data.largestSpeed() : 1.0;

    // A data set keeps one length unit, that of one of its horizontal axes;
    // either of the CF angle units means a longitude-latitude grid.
    const QString length = data.lengthUnit();
    grid.metric = isLongitudeUnit(length) || isLatitudeUnit(length) ? Sphere : Plane;
    grid.lengthUnit = grid.metric == Sphere ? QStringLiteral("m") : length;
    grid.velocityUnit = data.velocityUnit();
    return grid;
}
