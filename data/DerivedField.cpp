#include "data/DerivedField.h"

#include "data/CpuClones.h"
#include "data/DerivedFieldGrid.h"
#include "data/Extremes.h"
#include "data/ParallelBlocks.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace {

const char* const keys[DerivedField::kindCount] = {
    "vorticity",    "divergence",   "q", "swirling-strength", "strain-rate",
    "shear-strain", "normal-strain"};

// Weights of the three-point first derivative at one index of an axis, for
// the point and its two neighbours (central), the point and the next two
// (forward) and the two before and the point (backward). With h1, h2 the
// spacings in order, each is exact for quadratics.
struct Stencil
{
    double central[3] = {0.0, 0.0, 0.0};
    double forward[3] = {0.0, 0.0, 0.0};
    double backward[3] = {0.0, 0.0, 0.0};
};

std::vector<Stencil> stencils(const std::vector<double>& axis, double unit)
{
    const size_t n = axis.size();
    std::vector<Stencil> out(n);
    for (size_t k = 0; k < n; ++k) {
        Stencil& w = out[k];
        if (k >= 1 && k + 1 < n) {
            const double h1 = (axis[k] - axis[k - 1]) * unit;
            const double h2 = (axis[k + 1] - axis[k]) * unit;
            w.central[0] = -h2 / (h1 * (h1 + h2));
            w.central[1] = (h2 - h1) / (h1 * h2);
            w.central[2] = h1 / (h2 * (h1 + h2));
        }
        if (k + 2 < n) {
            const double h1 = (axis[k + 1] - axis[k]) * unit;
            const double h2 = (axis[k + 2] - axis[k + 1]) * unit;
            w.forward[0] = -(2.0 * h1 + h2) / (h1 * (h1 + h2));
            w.forward[1] = (h1 + h2) / (h1 * h2);
            w.forward[2] = -h1 / (h2 * (h1 + h2));
        }
        if (k >= 2) {
            const double h1 = (axis[k - 1] - axis[k - 2]) * unit;
            const double h2 = (axis[k] - axis[k - 1]) * unit;
            w.backward[0] = h2 / (h1 * (h1 + h2));
            w.backward[1] = -(h1 + h2) / (h1 * h2);
            w.backward[2] = (h1 + 2.0 * h2) / (h2 * (h1 + h2));
        }
    }
    return out;
}

inline bool valid(const float* u, const float* v, std::ptrdiff_t offset)
{
    return std::isfinite(u[offset]) && std::isfinite(v[offset]);
}

inline double apply(const double* w, const float* c, std::ptrdiff_t first, std::ptrdiff_t step)
{
    return w[0] * double(c[first]) + w[1] * double(c[first + step]) +
           w[2] * double(c[first + 2 * step]);
}

// The derivatives of both components along one axis at index k of n, the
// neighbours `step` floats apart; false when no stencil has valid points.
inline bool derive(const float* u, const float* v, std::ptrdiff_t step, int k, int n,
                   const Stencil& w, double& du, double& dv)
{
    if (k >= 1 && k + 1 < n && valid(u, v, -step) && valid(u, v, step)) {
        du = apply(w.central, u, -step, step);
        dv = apply(w.central, v, -step, step);
        return true;
    }
    if (k + 2 < n && valid(u, v, step) && valid(u, v, 2 * step)) {
        du = apply(w.forward, u, 0, step);
        dv = apply(w.forward, v, 0, step);
        return true;
    }
    if (k >= 2 && valid(u, v, -step) && valid(u, v, -2 * step)) {
        du = apply(w.backward, u, -2 * step, step);
        dv = apply(w.backward, v, -2 * step, step);
        return true;
    }
    return false;
}

// Each set's extremes from those of its blocks (block by block, then set by
// set in `ranges`), merged in block order so that any core count gives them.
void storeRanges(const std::vector<Extremes<float>>& ranges, int blocks, QList<ScalarSet>& sets)
{
    const size_t wanted = size_t(sets.size());
    for (size_t k = 0; k < wanted; ++k) {
        const Extremes<float> all = mergedOverBlocks<float>(ranges, blocks, wanted, k);
        sets[qsizetype(k)].minimum = all.lowest();
        sets[qsizetype(k)].maximum = all.highest();
    }
}

// One row of a set from the rows of J = [[a, b], [c, d]] (du/dx, du/dy,
// dv/dx, dv/dy) in physical units, with the extremes written. A NaN in J
// gives NaN (the swirling strength's 0 for real eigenvalues is disc * 0).
VELMORA_CPU_CLONES Extremes<float> writeRow(DerivedField::Kind kind, const double* a,
                                            const double* b, const double* c, const double* d,
                                            size_t n, float* out)
{
    // The extremes as integer minima and maxima of each value's order key
    // (the float's bits, turned so that integers sort as the floats do),
    // which vectorise where float comparisons with their NaN rules do not.
    // Non-finite values get the neutral key and are skipped, as
    // Extremes::add skips them; -0 counts as +0 so a zero field reads 0.
    constexpr std::int32_t neutralLow = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t neutralHigh = std::numeric_limits<std::int32_t>::min();
    std::int32_t lowKey = neutralLow;
    std::int32_t highKey = neutralHigh;
    // The keys are gathered in the loop's own locals: through the lambda's
    // captured references they would not be reductions, and nothing would vectorise.
    const auto each = [&](auto value) {
        std::int32_t low = neutralLow;
        std::int32_t high = neutralHigh;
        for (size_t f = 0; f < n; ++f) {
            const float v = float(value(a[f], b[f], c[f], d[f]));
            out[f] = v;
            const float unsignedZero = v + 0.0f;
            std::int32_t bits;
            std::memcpy(&bits, &unsignedZero, sizeof bits);
            const std::int32_t key = bits ^ ((bits >> 31) & 0x7fffffff);
            // All ones for a finite value, in integer steps without a
            // select (which would keep the loop scalar).
            const std::int32_t finite = ((bits & 0x7fffffff) - 0x7f800000) >> 31;
            const std::int32_t forLow = (key & finite) | (neutralLow & ~finite);
            const std::int32_t forHigh = (key & finite) | (neutralHigh & ~finite);
            low = forLow < low ? forLow : low;
            high = forHigh > high ? forHigh : high;
        }
        lowKey = low;
        highKey = high;
    };
    switch (kind) {
    case DerivedField::Vorticity:
        each([](double, double uy, double vx, double) { return vx - uy; });
        break;
    case DerivedField::Divergence:
        each([](double ux, double, double, double vy) { return ux + vy; });
        break;
    case DerivedField::QCriterion: // (|W|^2 - |S|^2) / 2
        each([](double ux, double uy, double vx, double vy) {
            const double shear = uy + vx;
            const double rotation = vx - uy;
            return 0.5 * (0.5 * rotation * rotation - (ux * ux + vy * vy + 0.5 * shear * shear));
        });
        break;
    case DerivedField::SwirlingStrength: // J's eigenvalues are tr/2 +- sqrt(disc)
        each([](double ux, double uy, double vx, double vy) {
            const double disc = 0.25 * (ux - vy) * (ux - vy) + uy * vx;
            return disc < 0.0 ? std::sqrt(-disc) : disc * 0.0;
        });
        break;
    case DerivedField::StrainRate: // sqrt(2 S:S)
        each([](double ux, double uy, double vx, double vy) {
            const double shear = uy + vx;
            return std::sqrt(2.0 * (ux * ux + vy * vy) + shear * shear);
        });
        break;
    case DerivedField::ShearStrainRate:
        each([](double, double uy, double vx, double) { return uy + vx; });
        break;
    case DerivedField::NormalStrainRate:
        each([](double ux, double, double, double vy) { return ux - vy; });
        break;
    }
    const auto valueOf = [](std::int32_t key) {
        const std::int32_t bits = key ^ ((key >> 31) & 0x7fffffff);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    };
    Extremes<float> range;
    if (lowKey != neutralLow) {
        range.add(valueOf(lowKey));
        range.add(valueOf(highKey));
    }
    return range;
}

// The derivatives along one index of a curvilinear grid at point n, the
// neighbours `step` points apart, k of count along that index: the
// three-point differences of unit spacing (central, else one-sided over two
// valid points on one side), the same stencil for the velocity and the
// positions, so that the chain rule sees one consistent Jacobian. False when
// no stencil has valid points.
bool deriveAlongIndex(const DerivedFieldGrid& grid, std::ptrdiff_t n, std::ptrdiff_t step, int k,
                      int count, double d[4])
{
    const std::ptrdiff_t stride = grid.stride;
    const auto ok = [&](std::ptrdiff_t m) { return valid(grid.u, grid.v, m * stride); };
    std::ptrdiff_t offset[3];
    double w[3];
    if (k >= 1 && k + 1 < count && ok(n - step) && ok(n + step)) {
        offset[0] = n - step, offset[1] = n, offset[2] = n + step;
        w[0] = -0.5, w[1] = 0.0, w[2] = 0.5;
    } else if (k + 2 < count && ok(n + step) && ok(n + 2 * step)) {
        offset[0] = n, offset[1] = n + step, offset[2] = n + 2 * step;
        w[0] = -1.5, w[1] = 2.0, w[2] = -0.5;
    } else if (k >= 2 && ok(n - step) && ok(n - 2 * step)) {
        offset[0] = n - 2 * step, offset[1] = n - step, offset[2] = n;
        w[0] = 0.5, w[1] = -2.0, w[2] = 1.5;
    } else {
        return false;
    }
    const double* const columns[2] = {grid.pointX.data(), grid.pointY.data()};
    for (int c = 0; c < 4; ++c) {
        double sum = 0.0;
        for (int t = 0; t < 3; ++t) {
            const double value = c == 0   ? double(grid.u[offset[t] * stride])
                                 : c == 1 ? double(grid.v[offset[t] * stride])
                                          : columns[c - 2][offset[t]];
            sum += w[t] * value;
        }
        d[c] = sum;
    }
    return true;
}

// The sets over a curvilinear grid: at each point the derivatives of u, v, x
// and y along both indices, J = (du/dxi) (dx/dxi)^-1, on a sphere in the
// local east-north frame with the metric terms of the rectilinear case.
void computeCurvilinear(const DerivedFieldGrid& grid, const QList<DerivedField::Kind>& kinds,
                        const std::vector<float*>& out, QList<ScalarSet>& sets)
{
    const int nx = int(grid.x.size());
    const int ny = int(grid.y.size());
    const int wanted = int(kinds.size());
    const bool sphere = grid.metric == DerivedFieldGrid::Sphere;
    const double toRadians = M_PI / 180.0;
    const double radius = DerivedFieldGrid::earthRadius;
    const int grain = ParallelBlocks::grainFor(std::int64_t(nx) * (40 + wanted));
    const int blocks = ParallelBlocks::countFor(ny, grain);
    std::vector<Extremes<float>> ranges(size_t(blocks) * size_t(wanted));
    const double nan = std::nan("");
    ParallelBlocks::run(ny, grain, [&](int block, int first, int last) {
        std::vector<double> jacobian(4 * size_t(nx));
        double* const ja = jacobian.data();
        double* const jb = ja + nx;
        double* const jc = jb + nx;
        double* const jd = jc + nx;
        for (int j = first; j < last; ++j) {
            for (int i = 0; i < nx; ++i) {
                const std::ptrdiff_t n = std::ptrdiff_t(j) * nx + i;
                ja[i] = jb[i] = jc[i] = jd[i] = nan;
                double alongXi[4];
                double alongEta[4];
                if (!valid(grid.u, grid.v, n * grid.stride) ||
                    !deriveAlongIndex(grid, n, 1, i, nx, alongXi) ||
                    !deriveAlongIndex(grid, n, nx, j, ny, alongEta))
                    continue;
                double across = 1.0;
                double turn = 0.0;
                double up = 1.0;
                if (sphere) {
                    const double phi = grid.pointY[size_t(n)] * toRadians;
                    const double c = std::cos(phi);
                    if (!(c > 1e-12))
                        continue;
                    across = radius * c * toRadians;
                    up = radius * toRadians;
                    turn = std::tan(phi) / radius;
                }
                const double xXi = across * alongXi[2];
                const double xEta = across * alongEta[2];
                const double yXi = up * alongXi[3];
                const double yEta = up * alongEta[3];
                const double det = xXi * yEta - xEta * yXi;
                if (!(std::fabs(det) > 0.0))
                    continue;
                const double scale = grid.scale;
                const double u = scale * double(grid.u[n * grid.stride]);
                const double v = scale * double(grid.v[n * grid.stride]);
                const double uXi = scale * alongXi[0];
                const double uEta = scale * alongEta[0];
                const double vXi = scale * alongXi[1];
                const double vEta = scale * alongEta[1];
                ja[i] = (uXi * yEta - uEta * yXi) / det - turn * v;
                jb[i] = (uEta * xXi - uXi * xEta) / det;
                jc[i] = (vXi * yEta - vEta * yXi) / det + turn * u;
                jd[i] = (vEta * xXi - vXi * xEta) / det;
            }
            for (int k = 0; k < wanted; ++k)
                if (out[size_t(k)])
                    ranges[size_t(block) * size_t(wanted) + size_t(k)].merge(
                        writeRow(kinds[k], ja, jb, jc, jd, size_t(nx),
                                 out[size_t(k)] + std::ptrdiff_t(j) * nx));
        }
    });
    storeRanges(ranges, blocks, sets);
}

bool sameLength(const QString& a, const QString& b)
{
    static const QStringList metres = {QStringLiteral("m"), QStringLiteral("meter"),
                                       QStringLiteral("meters"), QStringLiteral("metre"),
                                       QStringLiteral("metres")};
    return a.compare(b, Qt::CaseInsensitive) == 0 ||
           (metres.contains(a, Qt::CaseInsensitive) && metres.contains(b, Qt::CaseInsensitive));
}

} // namespace

QString DerivedField::name(Kind kind)
{
    switch (kind) {
    case Vorticity:
        return QCoreApplication::translate("DerivedField", "Vorticity");
    case Divergence:
        return QCoreApplication::translate("DerivedField", "Divergence");
    case QCriterion:
        return QCoreApplication::translate("DerivedField", "Q criterion");
    case SwirlingStrength:
        return QCoreApplication::translate("DerivedField", "Swirling strength");
    case StrainRate:
        return QCoreApplication::translate("DerivedField", "Strain rate");
    case ShearStrainRate:
        return QCoreApplication::translate("DerivedField", "Shear strain rate");
    case NormalStrainRate:
        return QCoreApplication::translate("DerivedField", "Normal strain rate");
    }
    return QString();
}

QString DerivedField::key(Kind kind)
{
    return kind >= 0 && kind < kindCount ? QLatin1String(keys[kind]) : QString();
}

QString DerivedField::keyList()
{
    QStringList all;
    for (int k = 0; k < kindCount; ++k)
        all << QLatin1String(keys[k]);
    return all.join(QLatin1Char(','));
}

bool DerivedField::fromKey(const QString& key, Kind* kind)
{
    for (int k = 0; k < kindCount; ++k) {
        if (key == QLatin1String(keys[k])) {
            *kind = Kind(k);
            return true;
        }
    }
    return false;
}

// A velocity unit is read in one of two styles: "X/T" or "X T-1" (factors
// separated by blanks or '.'). The rate is X / (L T): X cancels against the
// length unit when they are the same, and the result keeps the style.
QString DerivedField::unit(Kind kind, const QString& velocityUnit, const QString& lengthUnit)
{
    const QString velocity = velocityUnit.trimmed();
    const QString length = lengthUnit.trimmed();
    if (velocity.isEmpty() || length.isEmpty())
        return QString();
    const bool squared = kind == QCriterion;

    const QStringList slash = velocity.split(QLatin1Char('/'));
    if (slash.size() == 2 && !slash[0].trimmed().isEmpty() && !slash[1].trimmed().isEmpty()) {
        const QString along = slash[0].trimmed();
        const QString time = slash[1].trimmed();
        const QString power = squared ? QStringLiteral("2") : QString();
        if (sameLength(along, length))
            return QStringLiteral("1/") + time + power;
        return along + power + QStringLiteral("/(") + length + power + QLatin1Char(' ') + time +
               power + QLatin1Char(')');
    }

    static const QRegularExpression separators(QStringLiteral("[ .]+"));
    static const QRegularExpression perTime(QStringLiteral("^(.+)-1$"));
    const QStringList factors = velocity.split(separators, Qt::SkipEmptyParts);
    if (factors.size() == 2) {
        const QRegularExpressionMatch time = perTime.match(factors[1]);
        if (time.hasMatch()) {
            const QString t = time.captured(1);
            const QString inverse = squared ? QStringLiteral("-2") : QStringLiteral("-1");
            if (sameLength(factors[0], length))
                return t + inverse;
            return factors[0] + (squared ? QStringLiteral("2 ") : QStringLiteral(" ")) + length +
                   inverse + QLatin1Char(' ') + t + inverse;
        }
    }

    const QString rate = velocity + QLatin1Char('/') + length;
    return squared ? QLatin1Char('(') + rate + QStringLiteral(")2") : rate;
}

QList<ScalarSet> DerivedField::compute(const DerivedFieldGrid& grid, const QList<Kind>& kinds)
{
    QList<ScalarSet> sets;
    for (Kind kind : kinds) {
        ScalarSet set;
        set.name = name(kind);
        set.unit = unit(kind, grid.velocityUnit, grid.lengthUnit);
        sets.append(set);
    }
    const int nx = int(grid.x.size());
    const int ny = int(grid.y.size());
    const int points = grid.pointCount();
    if (kinds.isEmpty() || nx < 1 || ny < 1 || !grid.u || !grid.v)
        return sets;

    // Where each requested set goes; a kind asked twice is written twice.
    const int wanted = int(kinds.size());
    std::vector<float*> out(size_t(wanted), nullptr);
    for (int k = 0; k < wanted; ++k)
        if (sets[k].values.allocateForOverwrite(points))
            out[size_t(k)] = sets[k].values.get();
    if (!grid.pointX.empty()) {
        if (grid.pointX.size() == size_t(points) && grid.pointY.size() == size_t(points))
            computeCurvilinear(grid, kinds, out, sets);
        else
            for (ScalarSet& set : sets)
                set.values.release();
        return sets;
    }

    const bool sphere = grid.metric == DerivedFieldGrid::Sphere;
    const double toRadians = sphere ? M_PI / 180.0 : 1.0;
    const std::vector<Stencil> xWeights = stencils(grid.x, toRadians);
    const std::vector<Stencil> yWeights = stencils(grid.y, toRadians);
    // Per row of latitude: 1 / (R cos phi) and tan(phi) / R; NaN at a pole.
    std::vector<double> acrossFactor(size_t(ny), 1.0);
    std::vector<double> turnFactor(size_t(ny), 0.0);
    const double upFactor = sphere ? 1.0 / DerivedFieldGrid::earthRadius : 1.0;
    if (sphere) {
        for (int j = 0; j < ny; ++j) {
            const double phi = grid.y[size_t(j)] * toRadians;
            const double c = std::cos(phi);
            const bool pole = !(c > 1e-12);
            acrossFactor[size_t(j)] =
                pole ? std::nan("") : 1.0 / (DerivedFieldGrid::earthRadius * c);
            turnFactor[size_t(j)] = std::tan(phi) / DerivedFieldGrid::earthRadius;
        }
    }

    const bool yFastest = grid.yFastest;
    const int fastCount = yFastest ? ny : nx;
    const int slowCount = yFastest ? nx : ny;
    const std::vector<Stencil>& fastWeights = yFastest ? yWeights : xWeights;
    const std::vector<Stencil>& slowWeights = yFastest ? xWeights : yWeights;
    std::vector<double> central(3 * size_t(fastCount), 0.0);
    for (int f = 0; f < fastCount; ++f)
        for (int t = 0; t < 3; ++t)
            central[size_t(t) * size_t(fastCount) + size_t(f)] = fastWeights[size_t(f)].central[t];
    const std::ptrdiff_t stride = grid.stride;
    const std::ptrdiff_t slowStep = stride * fastCount;
    const std::vector<int> kindOf(kinds.cbegin(), kinds.cend());
    // The entries of J the sets use, as derivatives along the fast and slow
    // index: vorticity and the shear strain rate need only du/dy and dv/dx.
    bool needA = false, needB = false;
    for (Kind kind : kinds) {
        const bool crossed = kind == Vorticity || kind == ShearStrainRate;
        const bool diagonal = kind == Divergence || kind == NormalStrainRate;
        needA = needA || !crossed;
        needB = needB || !diagonal;
    }
    const struct
    {
        bool uFast, vFast, uSlow, vSlow;
    } need = {yFastest ? needB : needA, yFastest ? needA : needB, yFastest ? needA : needB,
              yFastest ? needB : needA};
    // A block sets up row buffers of about 90 bytes a point: at least 32 rows
    // a block keep that small beside the rows' own work.
    const int grain =
        std::max(32, ParallelBlocks::grainFor(std::int64_t(fastCount) * (8 + wanted)));
    const int blocks = ParallelBlocks::countFor(slowCount, grain);
    std::vector<Extremes<float>> ranges(size_t(blocks) * size_t(wanted));
    const double scale = grid.scale;
    const float* const u0 = grid.u;
    const float* const v0 = grid.v;
    const double nan = std::nan("");

    // A row at a time, in loops without branches: the row and its two
    // neighbours split into plain arrays, the central differences along both
    // axes (a NaN or infinity among the points makes one non-finite), then,
    // point by point, the one-sided choice wherever that happened or the
    // central stencil does not fit, then J and every set wanted.
    ParallelBlocks::run(slowCount, grain, [&](int block, int first, int last) VELMORA_CPU_CLONES {
        Extremes<float>* range = ranges.data() + size_t(block) * size_t(wanted);
        const size_t n = size_t(fastCount);
        std::vector<float> split(6 * n, float(nan));
        std::vector<double> derivatives(8 * n, nan);
        float* rowU[3] = {split.data(), split.data() + n, split.data() + 2 * n};
        float* rowV[3] = {split.data() + 3 * n, split.data() + 4 * n, split.data() + 5 * n};
        double* const duFast = derivatives.data();
        double* const dvFast = duFast + n;
        double* const duSlow = dvFast + n;
        double* const dvSlow = duSlow + n;
        double* const ja = dvSlow + n;
        double* const jb = ja + n;
        double* const jc = jb + n;
        double* const jd = jc + n;
        const double* const w0 = central.data();
        const double* const w1 = w0 + n;
        const double* const w2 = w1 + n;
        // A row split into plain arrays; true when every value in it is
        // finite (tested on the exponent bits, in the same pass).
        const auto load = [&](int row, float* u, float* v) {
            if (row < 0 || row >= slowCount)
                return false;
            const float* from = u0 + std::ptrdiff_t(row) * slowStep;
            const float* fromV = v0 + std::ptrdiff_t(row) * slowStep;
            constexpr std::uint32_t exponent = 0x7f800000u;
            std::uint32_t infiniteOrNaN = 0;
            for (size_t f = 0; f < n; ++f) {
                u[f] = from[std::ptrdiff_t(f) * stride];
                v[f] = fromV[std::ptrdiff_t(f) * stride];
                std::uint32_t bits[2];
                std::memcpy(&bits[0], u + f, sizeof(float));
                std::memcpy(&bits[1], v + f, sizeof(float));
                infiniteOrNaN |= std::uint32_t((bits[0] & exponent) == exponent) |
                                 std::uint32_t((bits[1] & exponent) == exponent);
            }
            return infiniteOrNaN == 0;
        };
        bool whole[3] = {load(first - 1, rowU[0], rowV[0]), load(first, rowU[1], rowV[1]), false};
        for (int s = first; s < last; ++s) {
            if (s > first) {
                std::swap(rowU[0], rowU[1]);
                std::swap(rowU[1], rowU[2]);
                std::swap(rowV[0], rowV[1]);
                std::swap(rowV[1], rowV[2]);
                whole[0] = whole[1];
                whole[1] = whole[2];
            }
            whole[2] = load(s + 1, rowU[2], rowV[2]);
            const float* const u = rowU[1];
            const float* const v = rowV[1];
            // Inside the grid, with this row and both neighbours free of NaN
            // and infinities, only the two ends can need another stencil, and
            // only the derivatives the sets use are taken; elsewhere all four,
            // as the choice of stencil needs them.
            const bool inside = whole[0] && whole[1] && whole[2] && n > 2;
            const auto along = [&](const float* c, double* to) {
                for (size_t f = 1; f + 1 < n; ++f)
                    to[f] =
                        w0[f] * double(c[f - 1]) + w1[f] * double(c[f]) + w2[f] * double(c[f + 1]);
                to[0] = to[n - 1] = nan;
            };
            const auto across = [&](const float* below, const float* c, const float* above,
                                    double* to) {
                const double* w = slowWeights[size_t(s)].central;
                for (size_t f = 0; f < n; ++f)
                    to[f] = w[0] * double(below[f]) + w[1] * double(c[f]) + w[2] * double(above[f]);
            };
            if (!inside || need.uFast)
                along(u, duFast);
            if (!inside || need.vFast)
                along(v, dvFast);
            if (s >= 1 && s + 1 < slowCount) {
                if (!inside || need.uSlow)
                    across(rowU[0], u, rowU[2], duSlow);
                if (!inside || need.vSlow)
                    across(rowV[0], v, rowV[2], dvSlow);
            } else {
                std::fill(duSlow, duSlow + n, nan);
            }
            const std::ptrdiff_t rowStart = std::ptrdiff_t(s) * slowStep;
            for (size_t f = 0; f < n; f += inside && f == 0 ? n - 1 : 1) {
                if (std::isfinite(duFast[f] + dvFast[f] + duSlow[f] + dvSlow[f]))
                    continue;
                const float* pu = u0 + rowStart + std::ptrdiff_t(f) * stride;
                const float* pv = v0 + rowStart + std::ptrdiff_t(f) * stride;
                if (!(valid(pu, pv, 0) &&
                      derive(pu, pv, stride, int(f), fastCount, fastWeights[f], duFast[f],
                             dvFast[f]) &&
                      derive(pu, pv, slowStep, s, slowCount, slowWeights[size_t(s)], duSlow[f],
                             dvSlow[f])))
                    duFast[f] = dvFast[f] = duSlow[f] = dvSlow[f] = nan;
            }

            // J: a, b, c, d = du/dx, du/dy, dv/dx, dv/dy. The metric factors
            // belong to the row, or with y fastest to the point. One loop an
            // entry, and only the entries the sets read: with four rows
            // stored in one loop the compiler cannot rule out their overlap
            // and leaves it scalar.
            const bool rowMetric = !yFastest;
            const double rowAcross = rowMetric ? acrossFactor[size_t(s)] : 0.0;
            const double turn = rowMetric ? turnFactor[size_t(s)] : 0.0;
            const double* const acrossOf = rowMetric ? nullptr : acrossFactor.data();
            const double* const turnOf = rowMetric ? nullptr : turnFactor.data();
            const double* const duX = rowMetric ? duFast : duSlow;
            const double* const duY = rowMetric ? duSlow : duFast;
            const double* const dvX = rowMetric ? dvFast : dvSlow;
            const double* const dvY = rowMetric ? dvSlow : dvFast;
            if (needA) {
                if (rowMetric)
                    for (size_t f = 0; f < n; ++f)
                        ja[f] = scale * (rowAcross * duX[f] - turn * double(v[f]));
                else
                    for (size_t f = 0; f < n; ++f)
                        ja[f] = scale * (acrossOf[f] * duX[f] - turnOf[f] * double(v[f]));
                for (size_t f = 0; f < n; ++f)
                    jd[f] = scale * upFactor * dvY[f];
            }
            if (needB) {
                for (size_t f = 0; f < n; ++f)
                    jb[f] = scale * upFactor * duY[f];
                if (rowMetric)
                    for (size_t f = 0; f < n; ++f)
                        jc[f] = scale * (rowAcross * dvX[f] + turn * double(u[f]));
                else
                    for (size_t f = 0; f < n; ++f)
                        jc[f] = scale * (acrossOf[f] * dvX[f] + turnOf[f] * double(u[f]));
            }
            for (int k = 0; k < wanted; ++k)
                if (out[size_t(k)])
                    range[k].merge(writeRow(Kind(kindOf[size_t(k)]), ja, jb, jc, jd, n,
                                            out[size_t(k)] + std::ptrdiff_t(s) * fastCount));
        }
    });

    storeRanges(ranges, blocks, sets);
    return sets;
}
