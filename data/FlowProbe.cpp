#include "data/FlowProbe.h"

#include "data/CurvilinearFlowData.h"
#include "data/RectangularFlowData.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The grid's extent along the shown axes: the shown x axis is the file's y
// axis when the file's fast index runs along y.
struct ShownExtent
{
    double x0, x1, y0, y1;
};

ShownExtent shownExtent(const FlowData& data)
{
    const bool exchanged = data.axesExchanged();
    const Vector3 low = data.geometryMinimum();
    const Vector3 high = data.geometryMaximum();
    return {exchanged ? low.y : low.x, exchanged ? high.y : high.x, exchanged ? low.x : low.y,
            exchanged ? high.x : high.y};
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// The cell [k, k + 1] of the ascending coordinates that holds t, and the
// weight of its upper line.
struct AxisCell
{
    int lower;
    double upperWeight;
};

AxisCell locate(const float* coords, int n, double t)
{
    const float* upper = std::upper_bound(coords, coords + n, float(t));
    const int lower = std::clamp(int(upper - coords) - 1, 0, n - 2);
    const double width = double(coords[lower + 1]) - coords[lower];
    const double weight = width > 0.0 ? (t - coords[lower]) / width : 0.0;
    return {lower, std::clamp(weight, 0.0, 1.0)};
}

// The cell holding the unit-square position and the weights of its upper
// lines; false outside the grid (or for a data set without its tables).
bool locateCell(const FlowData& data, double unitX, double unitY, AxisCell& cx, AxisCell& cy)
{
    const int columns = data.resolutionXValue();
    const int rows = data.resolutionYValue();
    if (columns < 2 || rows < 2 || !(unitX >= 0.0 && unitX <= 1.0 && unitY >= 0.0 && unitY <= 1.0))
        return false;
    if (const auto* grid = dynamic_cast<const RectangularFlowData*>(&data)) {
        if (grid->xCoordinates().size() != columns || grid->yCoordinates().size() != rows)
            return false;
        cx = locate(grid->xCoordinates().get(), columns, unitX);
        cy = locate(grid->yCoordinates().get(), rows, unitY);
        return true;
    }
    if (const auto* grid = dynamic_cast<const CurvilinearFlowData*>(&data)) {
        double xi = 0.0;
        double eta = 0.0;
        const int cell = grid->cellAt(unitX, unitY, &xi, &eta);
        if (cell < 0)
            return false;
        cx = {cell % (columns - 1), std::clamp(xi, 0.0, 1.0)};
        cy = {cell / (columns - 1), std::clamp(eta, 0.0, 1.0)};
        return true;
    }
    return false;
}

// Bilinear in the cell; a corner without a share cannot spoil the value.
template <typename Value>
double interpolate(const AxisCell& cx, const AxisCell& cy, int columns, Value value)
{
    const double wx[2] = {1.0 - cx.upperWeight, cx.upperWeight};
    const double wy[2] = {1.0 - cy.upperWeight, cy.upperWeight};
    double sum = 0.0;
    for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            const double weight = wx[dx] * wy[dy];
            if (weight > 0.0)
                sum += weight * double(value((cy.lower + dy) * columns + cx.lower + dx));
        }
    }
    return sum;
}

QString number(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 5) : QStringLiteral("—");
}

QString withUnit(const QString& name, const QString& unit)
{
    return unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QLatin1Char(']');
}

} // namespace

FlowProbe::Reading FlowProbe::read(const FlowData& data, double unitX, double unitY)
{
    Reading reading;
    const int columns = data.resolutionXValue();
    const int sets = data.scalarSetCount();
    const ShownExtent e = shownExtent(data);
    reading.x = e.x0 + unitX * (e.x1 - e.x0);
    reading.y = e.y0 + unitY * (e.y1 - e.y0);

    AxisCell cx{0, 0.0};
    AxisCell cy{0, 0.0};
    reading.inside = sets >= 1 && locateCell(data, unitX, unitY, cx, cy);
    if (!reading.inside) {
        reading.x = reading.y = reading.vx = reading.vy = reading.speed = notANumber;
        for (int s = 0; s + 1 < sets; ++s)
            reading.scalars.append(notANumber);
        return reading;
    }

    const Vector3* vectors = data.vectorArray().get();
    const double largest = data.vectorMaximum();
    reading.vx = largest * interpolate(cx, cy, columns, [&](int k) { return vectors[k].x; });
    reading.vy = largest * interpolate(cx, cy, columns, [&](int k) { return vectors[k].y; });
    const QList<ScalarSet>& scalars = data.scalarSets();
    const float* speed = scalars.last().values.get();
    reading.speed = largest * interpolate(cx, cy, columns, [&](int k) { return speed[k]; });
    for (int s = 0; s + 1 < sets; ++s) {
        const ScalarSet& set = scalars.at(s);
        const float* values = set.values.get();
        const double normalised = interpolate(cx, cy, columns, [&](int k) { return values[k]; });
        reading.scalars.append(set.minimum + normalised * (double(set.maximum) - set.minimum));
    }
    return reading;
}

QString FlowProbe::describe(const FlowData& data, const Reading& reading)
{
    const QString length = data.lengthUnit();
    const QString velocity = data.velocityUnit();
    QStringList parts;
    parts << QStringLiteral("x = ") + number(reading.x)
          << QStringLiteral("y = ") + number(reading.y);
    const QString perSecond = velocity.isEmpty() ? QString() : QStringLiteral(" ") + velocity;
    const QList<ScalarSet>& scalars = data.scalarSets();
    // A file may hold its own speed, which need not equal the magnitude of
    // its vectors (another average, another unit): the two must not read alike.
    bool fileHasSpeed = false;
    for (int s = 0; s + 1 < scalars.size(); ++s)
        fileHasSpeed = fileHasSpeed ||
                       scalars.at(s).name.compare(QLatin1String("speed"), Qt::CaseInsensitive) == 0;
    const QString speed = fileHasSpeed
                              ? QCoreApplication::translate("FlowProbe", "speed (computed)")
                              : QCoreApplication::translate("FlowProbe", "speed");
    QStringList values;
    values << QStringLiteral("vx = ") + number(reading.vx) + perSecond
           << QStringLiteral("vy = ") + number(reading.vy) + perSecond
           << speed + QStringLiteral(" = ") + number(reading.speed) + perSecond;
    for (int s = 0; s < reading.scalars.size() && s < scalars.size(); ++s) {
        const QString name =
            scalars.at(s).name.isEmpty()
                ? QCoreApplication::translate("FlowProbe", "Scalar ") + QString::number(s)
                : scalars.at(s).name;
        values << withUnit(name, scalars.at(s).unit) + QStringLiteral(" = ") +
                      number(reading.scalars.at(s));
    }
    QString text = parts.join(QStringLiteral(", "));
    if (!length.isEmpty())
        text += QStringLiteral(" ") + length;
    text += QStringLiteral("   ") + values.join(QStringLiteral(", "));
    return text;
}

QPointF FlowProbe::unitPosition(const FlowData& data, double x, double y)
{
    const ShownExtent e = shownExtent(data);
    // A grid of one column or row has no extent: nothing maps into it.
    const double unitX = e.x1 > e.x0 ? (x - e.x0) / (e.x1 - e.x0) : notANumber;
    const double unitY = e.y1 > e.y0 ? (y - e.y0) / (e.y1 - e.y0) : notANumber;
    return {unitX, unitY};
}

QPointF FlowProbe::physicalPosition(const FlowData& data, double unitX, double unitY)
{
    const ShownExtent e = shownExtent(data);
    return {e.x0 + unitX * (e.x1 - e.x0), e.y0 + unitY * (e.y1 - e.y0)};
}

QList<double> FlowProbe::readSets(const FlowData& data, const QList<const ScalarSet*>& sets,
                                  double unitX, double unitY)
{
    const int columns = data.resolutionXValue();
    const int rows = data.resolutionYValue();
    QList<double> values;
    values.reserve(sets.size());
    AxisCell cx{0, 0.0};
    AxisCell cy{0, 0.0};
    const bool inside = locateCell(data, unitX, unitY, cx, cy);
    for (const ScalarSet* set : sets) {
        double value = notANumber;
        if (inside && set->values.size() == qint64(columns) * rows) {
            const float* v = set->values.get();
            value = interpolate(cx, cy, columns, [&](int k) { return v[k]; });
        }
        values.append(value);
    }
    return values;
}

QString FlowProbe::describeSets(const FlowData& data, const QList<const ScalarSet*>& sets,
                                double unitX, double unitY)
{
    const QList<double> read = readSets(data, sets, unitX, unitY);
    QStringList values;
    for (int k = 0; k < sets.size(); ++k)
        values << withUnit(sets.at(k)->name, sets.at(k)->unit) + QStringLiteral(" = ") +
                      number(read.at(k));
    return values.join(QStringLiteral(", "));
}
