#include "data/ArrayPasses.h"

#include <cmath>
#include <cstring>
#include <limits>

#ifdef __SSE__
#include <xmmintrin.h>
#endif

static_assert(sizeof(Vector3) == 3 * sizeof(float), "four vectors are read as twelve floats");

namespace {

// Four lanes, as one SIMD register where the machine has one. Comparisons
// give lanes of all ones or zeros, and `mask ? a : b` picks per lane.
typedef float Floats __attribute__((vector_size(16)));
typedef int Masks __attribute__((vector_size(16)));
typedef double Doubles __attribute__((vector_size(32)));

constexpr float infinity = std::numeric_limits<float>::infinity();
constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();

Floats load(const float* from)
{
    Floats v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

void store(float* to, const Floats& v)
{
    std::memcpy(to, &v, sizeof v);
}

Floats filled(float value)
{
    return Floats{value, value, value, value};
}

// float((v - origin) * scale) per lane, in double.
Floats affine(const Floats& v, const Doubles& origin, const Doubles& scale)
{
    return __builtin_convertvector((__builtin_convertvector(v, Doubles) - origin) * scale, Floats);
}

Floats product(const Floats& v, double scale)
{
    return __builtin_convertvector(__builtin_convertvector(v, Doubles) * scale, Floats);
}

// The correctly rounded square root per lane, as std::sqrt gives it.
Floats squareRoot(const Floats& v)
{
#ifdef __SSE__
    return _mm_sqrt_ps(v);
#else
    Floats root;
    for (int lane = 0; lane < 4; ++lane)
        root[lane] = std::sqrt(v[lane]);
    return root;
#endif
}

// A NaN compares false both ways.
Masks finite(const Floats& v)
{
    return (v > -infinity) & (v < infinity);
}

// Four vectors are twelve floats a = (x0 y0 z0 x1), b = (y1 z1 x2 y2),
// c = (z2 x3 y3 z3). Each step below takes two lanes of one register and two
// of another, one instruction where the machine has SIMD registers.
struct Components
{
    Floats x;
    Floats y;
    Floats z;

    static Components of(const Floats& a, const Floats& b, const Floats& c)
    {
        const Floats xy = __builtin_shufflevector(b, c, 2, 3, 5, 6); // x2 y2 x3 y3
        const Floats yz = __builtin_shufflevector(a, b, 1, 2, 4, 5); // y0 z0 y1 z1
        return {__builtin_shufflevector(a, xy, 0, 3, 4, 6),
                __builtin_shufflevector(yz, xy, 0, 2, 5, 7),
                __builtin_shufflevector(yz, c, 1, 3, 4, 7)};
    }
};

// The lanes of one per-vector mask for a, b and c.
struct Spread
{
    Masks a;
    Masks b;
    Masks c;

    explicit Spread(const Masks& m)
        : a(__builtin_shufflevector(m, m, 0, 0, 4, 5)),
          b(__builtin_shufflevector(m, m, 1, 1, 6, 6)), c(__builtin_shufflevector(m, m, 2, 3, 7, 7))
    {
    }
};

// The smallest and largest value per lane, NaN passed over. An infinity
// found means that the lanes do not hold the finite extremes: the caller
// then takes the plain loop, which infinities make no slower than the rest.
struct Lanes
{
    Floats low = filled(infinity);
    Floats high = filled(-infinity);

    void add(const Floats& v)
    {
        low = v < low ? v : low;
        high = v > high ? v : high;
    }

    bool finite() const
    {
        for (int lane = 0; lane < 4; ++lane)
            if (low[lane] == -infinity || high[lane] == infinity)
                return false;
        return true;
    }

    void addLaneTo(int lane, Extremes<float>& extremes) const
    {
        extremes.add(low[lane]);
        extremes.add(high[lane]);
    }
};

// Extremes::add keeps the first of equal values, so an extreme of zero is
// the first zero of the values (every value before it lies beyond it).
void settleZero(float& extreme, const float* values, std::int64_t n, std::int64_t stride)
{
    if (extreme != 0.0f)
        return;
    for (std::int64_t k = 0; k < n; ++k) {
        if (values[k * stride] == 0.0f) {
            extreme = values[k * stride];
            return;
        }
    }
}

// In double: the squared length of a finite float vector always fits, and
// comparing squares spares a square root per point.
double squaredLength(const Vector3& v)
{
    const double x = v.x;
    const double y = v.y;
    const double z = v.z;
    return x * x + y * y + z * z;
}

// The smallest and largest squared lengths, four lanes as two pairs of
// double: wider registers are split badly where the machine has none.
struct SquareLanes
{
    typedef double Pair __attribute__((vector_size(16)));
    static constexpr double largest = std::numeric_limits<double>::infinity();
    Pair low[2] = {{largest, largest}, {largest, largest}};
    Pair high[2] = {{-largest, -largest}, {-largest, -largest}};

    void add(const Pair (&sum)[2])
    {
        for (int half = 0; half < 2; ++half) {
            low[half] = sum[half] < low[half] ? sum[half] : low[half];
            high[half] = sum[half] > high[half] ? sum[half] : high[half];
        }
    }

    // The extremes of all n squares, the lanes holding the first `done` and
    // squareAt(k) giving any of them. Squares are never negative; an
    // infinite one hides the largest finite, and then all go the plain way.
    template <typename SquareAt>
    Extremes<double> result(std::int64_t done, std::int64_t n, const SquareAt& squareAt) const
    {
        Extremes<double> extremes;
        if (high[0][0] == largest || high[0][1] == largest || high[1][0] == largest ||
            high[1][1] == largest) {
            for (std::int64_t k = 0; k < n; ++k)
                extremes.add(squareAt(k));
            return extremes;
        }
        for (int half = 0; half < 2; ++half) {
            for (int lane = 0; lane < 2; ++lane) {
                extremes.add(low[half][lane]);
                extremes.add(high[half][lane]);
            }
        }
        for (std::int64_t k = done; k < n; ++k)
            extremes.add(squareAt(k));
        return extremes;
    }
};

} // namespace

Extremes<float> ArrayPasses::extremes(const float* values, std::int64_t n)
{
    Lanes lanes;
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4)
        lanes.add(load(values + k));
    Extremes<float> result;
    if (!lanes.finite()) {
        for (k = 0; k < n; ++k)
            result.add(values[k]);
        return result;
    }
    for (int lane = 0; lane < 4; ++lane)
        lanes.addLaneTo(lane, result);
    for (; k < n; ++k)
        result.add(values[k]);
    settleZero(result.minimum, values, n, 1);
    settleZero(result.maximum, values, n, 1);
    return result;
}

void ArrayPasses::positionExtremes(const Vector3* points, std::int64_t n, Extremes<float>& xs,
                                   Extremes<float>& ys)
{
    const float* f = reinterpret_cast<const float*>(points);
    // Lane l of a, b, c holds float l, 4 + l and 8 + l of each twelve.
    Lanes a;
    Lanes b;
    Lanes c;
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        a.add(load(f + 3 * k));
        b.add(load(f + 3 * k + 4));
        c.add(load(f + 3 * k + 8));
    }
    xs = Extremes<float>();
    ys = Extremes<float>();
    // A z that is infinite sends the x and y the plain way too; no matter.
    if (!a.finite() || !b.finite() || !c.finite()) {
        for (k = 0; k < n; ++k) {
            xs.add(points[k].x);
            ys.add(points[k].y);
        }
        return;
    }
    a.addLaneTo(0, xs);
    a.addLaneTo(3, xs);
    b.addLaneTo(2, xs);
    c.addLaneTo(1, xs);
    a.addLaneTo(1, ys);
    b.addLaneTo(0, ys);
    b.addLaneTo(3, ys);
    c.addLaneTo(2, ys);
    for (; k < n; ++k) {
        xs.add(points[k].x);
        ys.add(points[k].y);
    }
    settleZero(xs.minimum, f, n, 3);
    settleZero(xs.maximum, f, n, 3);
    settleZero(ys.minimum, f + 1, n, 3);
    settleZero(ys.maximum, f + 1, n, 3);
}

Extremes<double> ArrayPasses::squaredLengthExtremes(const Vector3* vectors, std::int64_t n)
{
    typedef SquareLanes::Pair Pair;
    const auto squares = [](const Floats& v, Pair& low, Pair& high) {
        const Doubles d = __builtin_convertvector(v, Doubles);
        const Doubles square = d * d;
        low = __builtin_shufflevector(square, square, 0, 1);
        high = __builtin_shufflevector(square, square, 2, 3);
    };
    SquareLanes lanes;
    const float* f = reinterpret_cast<const float*>(vectors);
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        // p0 = x0 y0, p1 = z0 x1, p2 = y1 z1, p3 = x2 y2, p4 = z2 x3, p5 = y3 z3.
        Pair p[6];
        squares(load(f + 3 * k), p[0], p[1]);
        squares(load(f + 3 * k + 4), p[2], p[3]);
        squares(load(f + 3 * k + 8), p[4], p[5]);
        const Pair sum[2] = {
            __builtin_shufflevector(p[0], p[1], 0, 3) + __builtin_shufflevector(p[0], p[2], 1, 2) +
                __builtin_shufflevector(p[1], p[2], 0, 3),
            __builtin_shufflevector(p[3], p[4], 0, 3) + __builtin_shufflevector(p[3], p[5], 1, 2) +
                __builtin_shufflevector(p[4], p[5], 0, 3)};
        lanes.add(sum);
    }
    return lanes.result(k, n, [vectors](std::int64_t at) { return squaredLength(vectors[at]); });
}

Extremes<double> ArrayPasses::squaredLengthExtremes(const float* u, const float* v, std::int64_t n)
{
    typedef SquareLanes::Pair Pair;
    SquareLanes lanes;
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const Doubles x = __builtin_convertvector(load(u + k), Doubles);
        const Doubles y = __builtin_convertvector(load(v + k), Doubles);
        // A z of 0 adds +0 to a sum that is never -0: the sum of the three.
        const Doubles square = x * x + y * y;
        const Pair sum[2] = {__builtin_shufflevector(square, square, 0, 1),
                             __builtin_shufflevector(square, square, 2, 3)};
        lanes.add(sum);
    }
    return lanes.result(
        k, n, [u, v](std::int64_t at) { return squaredLength(Vector3(u[at], v[at], 0.0f)); });
}

void ArrayPasses::scalePositions(Vector3* points, std::int64_t n, double x0, double xScale,
                                 double y0, double yScale)
{
    // Twelve floats run x y z x | y z x y | z x y z; a z keeps its bits.
    const Doubles origin[3] = {{x0, y0, 0.0, x0}, {y0, 0.0, x0, y0}, {0.0, x0, y0, 0.0}};
    const Doubles scale[3] = {
        {xScale, yScale, 1.0, xScale}, {yScale, 1.0, xScale, yScale}, {1.0, xScale, yScale, 1.0}};
    const Masks isZ[3] = {{0, 0, -1, 0}, {0, -1, 0, 0}, {-1, 0, 0, -1}};
    float* f = reinterpret_cast<float*>(points);
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        for (int part = 0; part < 3; ++part) {
            float* at = f + 3 * k + 4 * part;
            const Floats v = load(at);
            const Floats scaled = affine(v, origin[part], scale[part]);
            store(at, isZ[part] ? v : scaled);
        }
    }
    for (; k < n; ++k) {
        points[k].x = float((points[k].x - x0) * xScale);
        points[k].y = float((points[k].y - y0) * yScale);
    }
}

void ArrayPasses::normalizeVectors(Vector3* vectors, float* magnitudes, std::int64_t n,
                                   double scale)
{
    const Floats missing = filled(notANumber);
    float* f = reinterpret_cast<float*>(vectors);
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        float* at = f + 3 * k;
        const Floats a = product(load(at), scale);
        const Floats b = product(load(at + 4), scale);
        const Floats c = product(load(at + 8), scale);
        const Components u = Components::of(a, b, c);
        const Floats sum = u.x * u.x + u.y * u.y + u.z * u.z;
        // The scale makes every finite component at most 1 in size and
        // leaves an infinity or NaN as it is: the sum is finite exactly for
        // the vectors with three finite components.
        const Masks usable = sum < infinity;
        const Spread keep(usable);
        store(at, keep.a ? a : missing);
        store(at + 4, keep.b ? b : missing);
        store(at + 8, keep.c ? c : missing);
        store(magnitudes + k, usable ? squareRoot(sum) : missing);
    }
    for (; k < n; ++k) {
        Vector3& u = vectors[k];
        if (!std::isfinite(u.x) || !std::isfinite(u.y) || !std::isfinite(u.z)) {
            u = Vector3(notANumber, notANumber, notANumber);
            magnitudes[k] = notANumber;
            continue;
        }
        u = Vector3(float(u.x * scale), float(u.y * scale), float(u.z * scale));
        magnitudes[k] = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
    }
}

void ArrayPasses::normalizeVectors(const float* u, const float* v, Vector3* vectors,
                                   float* magnitudes, std::int64_t n, double scale)
{
    const Floats missing = filled(notANumber);
    const Floats zero = filled(0.0f);
    float* f = reinterpret_cast<float*>(vectors);
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const Floats x = product(load(u + k), scale);
        const Floats y = product(load(v + k), scale);
        const Floats sum = x * x + y * y + zero * zero;
        const Masks usable = sum < infinity;
        const Floats keptX = usable ? x : missing;
        const Floats keptY = usable ? y : missing;
        const Floats keptZ = usable ? zero : missing;
        // Twelve floats x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3.
        const Floats xz = __builtin_shufflevector(keptX, keptZ, 0, 4, 1, 5); // x0 z0 x1 z1
        const Floats yx = __builtin_shufflevector(keptY, keptX, 1, 6, 2, 7); // y1 x2 y2 x3
        store(f + 3 * k, __builtin_shufflevector(xz, keptY, 0, 4, 1, 2));
        store(f + 3 * k + 4, __builtin_shufflevector(yx, keptZ, 0, 5, 1, 2));
        const Floats xy = __builtin_shufflevector(keptX, keptY, 3, 7, 3, 7); // x3 y3 x3 y3
        store(f + 3 * k + 8, __builtin_shufflevector(keptZ, xy, 2, 4, 5, 3));
        store(magnitudes + k, usable ? squareRoot(sum) : missing);
    }
    for (; k < n; ++k) {
        vectors[k] = Vector3(u[k], v[k], 0.0f);
        normalizeVectors(vectors + k, magnitudes + k, 1, scale);
    }
}

void ArrayPasses::normalizeValues(float* values, std::int64_t n, double minimum, double scale)
{
    normalizeValues(values, values, n, minimum, scale);
}

void ArrayPasses::normalizeValues(const float* from, float* to, std::int64_t n, double minimum,
                                  double scale)
{
    const Floats missing = filled(notANumber);
    const Doubles origin = {minimum, minimum, minimum, minimum};
    const Doubles factor = {scale, scale, scale, scale};
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const Floats v = load(from + k);
        const Floats scaled = affine(v, origin, factor);
        store(to + k, finite(v) ? scaled : missing);
    }
    for (; k < n; ++k) {
        const float value = from[k];
        to[k] = std::isfinite(value) ? float((value - minimum) * scale) : notANumber;
    }
}

void ArrayPasses::blend(const float* lower, const float* upper, float weight, std::int64_t n,
                        float* out)
{
    const float other = 1.0f - weight;
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4)
        store(out + k, weight * load(lower + k) + other * load(upper + k));
    for (; k < n; ++k)
        out[k] = weight * lower[k] + other * upper[k];
}
