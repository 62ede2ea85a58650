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

// Four vectors (x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3) as one lane of x,
// of y and of z per vector, and back.
struct Components
{
    Floats x;
    Floats y;
    Floats z;

    static Components of(const float* from)
    {
        const Floats a = load(from);
        const Floats b = load(from + 4);
        const Floats c = load(from + 8);
        return {
            __builtin_shufflevector(__builtin_shufflevector(a, b, 0, 3, 6, -1), c, 0, 1, 2, 5),
            __builtin_shufflevector(__builtin_shufflevector(a, b, 1, 4, 7, -1), c, 0, 1, 2, 6),
            __builtin_shufflevector(__builtin_shufflevector(a, b, 2, 5, -1, -1), c, 0, 1, 4, 7)};
    }

    void storeTo(float* to) const
    {
        store(to,
              __builtin_shufflevector(__builtin_shufflevector(x, y, 0, 4, -1, 1), z, 0, 1, 4, 3));
        store(to + 4,
              __builtin_shufflevector(__builtin_shufflevector(x, y, 5, -1, 2, 6), z, 0, 5, 2, 3));
        store(to + 8,
              __builtin_shufflevector(__builtin_shufflevector(x, y, -1, 3, 7, -1), z, 6, 1, 2, 7));
    }
};

// Running extremes of the finite values per lane. The lanes find the extreme
// values, not which of 0 and -0 came first: firstZero settles that.
struct Lanes
{
    Floats low = filled(infinity);
    Floats high = filled(-infinity);

    void add(const Floats& v)
    {
        low = ((v < low) & (v > -infinity)) ? v : low;
        high = ((v > high) & (v < infinity)) ? v : high;
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

double squaredLength(const Vector3& v)
{
    const double x = v.x;
    const double y = v.y;
    const double z = v.z;
    return x * x + y * y + z * z;
}

} // namespace

Extremes<float> ArrayPasses::extremes(const float* values, std::int64_t n)
{
    Lanes lanes;
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4)
        lanes.add(load(values + k));
    Extremes<float> result;
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
    // Lane l of a, b, c holds float 4 * l, 4 * l + 1, ... of each twelve.
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
    // Compared two lanes at a time: wider double lanes are split badly
    // where the machine has no register for them.
    typedef double Pair __attribute__((vector_size(16)));
    const double largest = std::numeric_limits<double>::infinity();
    Pair low[2] = {{largest, largest}, {largest, largest}};
    Pair high[2] = {{-largest, -largest}, {-largest, -largest}};
    const float* f = reinterpret_cast<const float*>(vectors);
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const Components v = Components::of(f + 3 * k);
        const Doubles x = __builtin_convertvector(v.x, Doubles);
        const Doubles y = __builtin_convertvector(v.y, Doubles);
        const Doubles z = __builtin_convertvector(v.z, Doubles);
        const Doubles sum = x * x + y * y + z * z;
        const Pair squares[2] = {__builtin_shufflevector(sum, sum, 0, 1),
                                 __builtin_shufflevector(sum, sum, 2, 3)};
        // Never negative; infinity never passes below, NaN never passes.
        for (int half = 0; half < 2; ++half) {
            const Pair s = squares[half];
            low[half] = (s < low[half]) ? s : low[half];
            high[half] = ((s > high[half]) & (s < largest)) ? s : high[half];
        }
    }
    Extremes<double> result;
    for (int half = 0; half < 2; ++half) {
        for (int lane = 0; lane < 2; ++lane) {
            result.add(low[half][lane]);
            result.add(high[half][lane]);
        }
    }
    for (; k < n; ++k)
        result.add(squaredLength(vectors[k]));
    return result;
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
        const Components v = Components::of(f + 3 * k);
        const Masks usable = finite(v.x) & finite(v.y) & finite(v.z);
        Components u = {product(v.x, scale), product(v.y, scale), product(v.z, scale)};
        const Floats sum = u.x * u.x + u.y * u.y + u.z * u.z;
        const Floats length = squareRoot(sum);
        u.x = usable ? u.x : missing;
        u.y = usable ? u.y : missing;
        u.z = usable ? u.z : missing;
        u.storeTo(f + 3 * k);
        store(magnitudes + k, usable ? length : missing);
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

void ArrayPasses::normalizeValues(float* values, std::int64_t n, double minimum, double scale)
{
    const Floats missing = filled(notANumber);
    const Doubles origin = {minimum, minimum, minimum, minimum};
    const Doubles factor = {scale, scale, scale, scale};
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const Floats v = load(values + k);
        const Floats scaled = affine(v, origin, factor);
        store(values + k, finite(v) ? scaled : missing);
    }
    for (; k < n; ++k) {
        const float value = values[k];
        values[k] = std::isfinite(value) ? float((value - minimum) * scale) : notANumber;
    }
}
