// A data set seen from a moving frame of reference: vortices that ride on a
// mean flow show as closed streamlines and circling arrows only once the
// velocity they travel with is taken away.

#include "data/FlowData.h"

#include "data/ArrayPasses.h"
#include "data/Extremes.h"
#include "data/ParallelBlocks.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

std::pair<double, double> FlowData::meanVelocity() const
{
    const int points = resolutionX * resolutionY;
    const Vector3* v = vectors.get();
    struct Sum
    {
        double x = 0.0;
        double y = 0.0;
        qint64 count = 0;
    };
    const int grain = ParallelBlocks::grainFor(2);
    std::vector<Sum> sums(size_t(ParallelBlocks::countFor(points, grain)));
    ParallelBlocks::run(points, grain, [&](int block, int first, int last) {
        Sum sum;
        for (int k = first; k < last; ++k) {
            if (std::isfinite(v[k].x) && std::isfinite(v[k].y)) {
                sum.x += double(v[k].x);
                sum.y += double(v[k].y);
                ++sum.count;
            }
        }
        sums[size_t(block)] = sum;
    });
    Sum total;
    for (const Sum& sum : sums) {
        total.x += sum.x;
        total.y += sum.y;
        total.count += sum.count;
    }
    if (total.count == 0)
        return {std::nan(""), std::nan("")};
    // The vectors were divided by the largest speed (or kept for a field at rest).
    const double unit = largestMagnitude > 0.0 ? largestMagnitude : 1.0;
    const double storedX = total.x / double(total.count) * unit;
    const double storedY = total.y / double(total.count) * unit;
    return componentsExchanged() ? std::make_pair(storedY, storedX)
                                 : std::make_pair(storedX, storedY);
}

FlowData* FlowData::inMovingFrame(double u, double v, QString* errorMessage) const
{
    FlowData moved;
    moved.copyFrom(*this);
    const int points = resolutionX * resolutionY;
    // The copy shares every array; the vectors and their lengths become its own.
    if (points <= 0 || !moved.vectors.allocateForOverwrite(points) || moved.scalars.isEmpty() ||
        !moved.scalars.last().values.allocateForOverwrite(points)) {
        if (errorMessage)
            *errorMessage = QStringLiteral("not enough memory for the moving frame");
        return nullptr;
    }
    const double unit = largestMagnitude > 0.0 ? largestMagnitude : 1.0;
    // The copy holds the file's components, as a data set just read does:
    // the grid tables exchange them again where the display needs it.
    const bool exchanged = componentsExchanged();
    const Vector3* from = vectors.get();
    Vector3* to = moved.vectors.get();
    ParallelBlocks::run(points, ParallelBlocks::grainFor(2), [&](int, int first, int last) {
        for (int k = first; k < last; ++k) {
            const double fileU = double(exchanged ? from[k].y : from[k].x);
            const double fileV = double(exchanged ? from[k].x : from[k].y);
            to[k] = Vector3(float(fileU * unit - u), float(fileV * unit - v), 0.0f);
        }
    });
    const Extremes<double> squares = ArrayPasses::squaredLengthExtremes(to, points);
    moved.largestMagnitude = std::sqrt(squares.highest());
    moved.vectorMin = float(std::sqrt(squares.lowest()));
    moved.vectorMax = float(moved.largestMagnitude);
    moved.normalize(0);
    qDebug().noquote() << QStringLiteral("FlowData/inMovingFrame: (%1, %2), largest speed %3")
                              .arg(u)
                              .arg(v)
                              .arg(moved.largestMagnitude);
    return withGridTables(moved, errorMessage);
}
