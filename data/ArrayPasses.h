#pragma once

#include "data/Extremes.h"
#include "data/Vector3.h"

#include <cstdint>

// The passes of loading and resampling over whole arrays, four elements at a
// time. Each gives, bit for bit, what the plain loop in its comment gives,
// NaN, infinity and the sign of a zero extreme included; the loaders rely on
// that to keep the arrays of a data set unchanged by how they were computed.
class ArrayPasses
{
public:
    // e.add(values[k]) for k = 0, 1, ..., n - 1 into a fresh e.
    static Extremes<float> extremes(const float* values, std::int64_t n);
    // xs.add(points[k].x) and ys.add(points[k].y) for k = 0, ..., n - 1
    // into fresh xs and ys.
    static void positionExtremes(const Vector3* points, std::int64_t n, Extremes<float>& xs,
                                 Extremes<float>& ys);
    // e.add(x * x + y * y + z * z) in double for each vector, into a fresh e.
    static Extremes<double> squaredLengthExtremes(const Vector3* vectors, std::int64_t n);
    // The same for the vectors (u[k], v[k], 0), from the two component arrays.
    static Extremes<double> squaredLengthExtremes(const float* u, const float* v, std::int64_t n);
    // x = float((x - x0) * xScale) and y = float((y - y0) * yScale) in
    // double for each point; z stays as it is.
    static void scalePositions(Vector3* points, std::int64_t n, double x0, double xScale, double y0,
                               double yScale);
    // A vector with a component that is not finite becomes (NaN, NaN, NaN)
    // with magnitude NaN; any other has each component c replaced by
    // float(c * scale) and magnitude sqrt(x * x + y * y + z * z) of those, in
    // float. The scale must leave no finite vector longer than about 1: one
    // over the largest length among them, say.
    static void normalizeVectors(Vector3* vectors, float* magnitudes, std::int64_t n, double scale);
    // vectors[k] = (u[k], v[k], 0), then normalizeVectors on them: the same
    // bits, written once instead of copied and then rewritten.
    static void normalizeVectors(const float* u, const float* v, Vector3* vectors,
                                 float* magnitudes, std::int64_t n, double scale);
    // A value that is not finite becomes NaN, any other v float((v - minimum) * scale).
    static void normalizeValues(float* values, std::int64_t n, double minimum, double scale);
    // The same from one array into another.
    static void normalizeValues(const float* from, float* to, std::int64_t n, double minimum,
                                double scale);
    // out[k] = weight * lower[k] + (1 - weight) * upper[k] in float, the
    // last step of bilinear resampling.
    static void blend(const float* lower, const float* upper, float weight, std::int64_t n,
                      float* out);
};
