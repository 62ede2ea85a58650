// FlowData::install: data read from the other formats enters the data set
// here, through the same checks and normalisation as the native pair.

#include "data/FlowData.h"

#include "data/ArrayPasses.h"
#include "data/Extremes.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

template <typename T> void releaseVector(std::vector<T>& values)
{
    std::vector<T>().swap(values);
}

// The axis as the native file would hold it (floats) and scaled to [0, 1]
// with the native loader's arithmetic, so that a converted pair loads to the
// same arrays.
bool scaleAxis(const std::vector<double>& axis, std::vector<float>& scaled, float& low, float& high)
{
    const size_t n = axis.size();
    std::vector<float> values(n);
    for (size_t k = 0; k < n; ++k) {
        values[k] = float(axis[k]);
        if (!std::isfinite(values[k]))
            return false;
    }
    low = *std::min_element(values.begin(), values.end());
    high = *std::max_element(values.begin(), values.end());
    const double origin = low;
    const double range = double(high) - origin;
    const double scale = range > 0.0 ? 1.0 / range : 0.0;
    scaled.resize(n);
    for (size_t k = 0; k < n; ++k)
        scaled[k] = float((values[k] - origin) * scale);
    return true;
}

} // namespace

bool FlowData::install(FlowRecord& record, QString* errorMessage)
{
    clear();
    const size_t columns = record.x.size();
    const size_t rows = record.y.size();
    if (columns < 2 || rows < 2)
        return fail(errorMessage, QStringLiteral("resolution below 2 along an axis"));
    if (qint64(columns) * qint64(rows) > INT_MAX)
        return fail(errorMessage, QStringLiteral("grid too large"));
    const size_t points = columns * rows;
    bool sizesMatch = record.u.size() == points && record.v.size() == points;
    for (const FlowRecord::Field& field : record.scalars)
        sizesMatch = sizesMatch && field.values.size() == points;
    if (!sizesMatch)
        return fail(errorMessage, QStringLiteral("values do not match the grid"));

    record.makeAscending();
    std::vector<float> xs;
    std::vector<float> ys;
    float xLow = 0.0f;
    float xHigh = 0.0f;
    float yLow = 0.0f;
    float yHigh = 0.0f;
    if (!scaleAxis(record.x, xs, xLow, xHigh))
        return fail(errorMessage, QStringLiteral("x coordinates not finite"));
    if (!scaleAxis(record.y, ys, yLow, yHigh))
        return fail(errorMessage, QStringLiteral("y coordinates not finite"));
    for (size_t k = 1; k < columns; ++k)
        if (!(xs[k] > xs[k - 1]))
            return fail(errorMessage, QStringLiteral("x coordinates do not strictly ascend"));
    for (size_t k = 1; k < rows; ++k)
        if (!(ys[k] > ys[k - 1]))
            return fail(errorMessage, QStringLiteral("y coordinates do not strictly ascend"));

    resolutionX = int(columns);
    resolutionY = int(rows);
    depth = 1;
    timeSteps = std::max(1, record.timeSteps);
    timeDifference = record.timeDifference;
    times = std::move(record.times);
    timeUnits = record.timeUnits;
    positionUnit = record.lengthUnit;
    speedUnit = record.velocityUnit;
    const int count = int(points);

    if (!geometry.allocateForOverwrite(count) || !vectors.allocateForOverwrite(count))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    geometryMin = Vector3(xLow, yLow, 0.0f);
    geometryMax = Vector3(xHigh, yHigh, 0.0f);
    Vector3* position = geometry.get();
    Vector3* vector = vectors.get();
    for (size_t j = 0; j < rows; ++j) {
        for (size_t i = 0; i < columns; ++i) {
            const size_t k = j * columns + i;
            position[k] = Vector3(xs[i], ys[j], 0.0f);
            vector[k] = Vector3(record.u[k], record.v[k], 0.0f);
        }
    }
    // With z = 0 the squared lengths are those of the two components.
    const Extremes<double> squares = ArrayPasses::squaredLengthExtremes(vector, count);
    releaseVector(record.u);
    releaseVector(record.v);

    for (FlowRecord::Field& field : record.scalars) {
        scalars.append(ScalarSet());
        ScalarSet& set = scalars.last();
        if (!set.values.allocateForOverwrite(count))
            return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
        set.name = field.name;
        set.unit = field.unit;
        float* to = set.values.get();
        std::copy(field.values.begin(), field.values.end(), to);
        const Extremes<float> range = ArrayPasses::extremes(to, count);
        set.minimum = range.lowest();
        set.maximum = range.highest();
        releaseVector(field.values);
    }
    scalars.append(ScalarSet());
    if (!scalars.last().values.allocateForOverwrite(count))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));

    largestMagnitude = std::sqrt(squares.highest());
    vectorMin = float(std::sqrt(squares.lowest()));
    vectorMax = float(largestMagnitude);
    qDebug().noquote() << "FlowData/install: resolution: " << resolutionX << resolutionY
                       << ", scalar sets: " << scalars.size() - 1;
    normalize(int(scalars.size()) - 1);
    aspect = float(resolutionX) / float(resolutionY);
    return true;
}
