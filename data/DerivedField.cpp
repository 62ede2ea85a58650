#include "data/DerivedField.h"

#include "data/DerivedFieldGrid.h"
#include "data/Extremes.h"
#include "data/ParallelBlocks.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <array>
#include <cmath>
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

// Every set from the gradient J = [[a, b], [c, d]] (du/dx, du/dy, dv/dx,
// dv/dy) in physical units.
inline void evaluate(double a, double b, double c, double d, double* out)
{
    const double shear = b + c;
    const double normal = a - d;
    const double strainSquared = a * a + d * d + 0.5 * shear * shear; // |S|^2
    const double rotationSquared = 0.5 * (c - b) * (c - b);           // |W|^2
    // The eigenvalues of J are tr/2 +- sqrt(disc).
    const double disc = 0.25 * normal * normal + b * c;
    out[DerivedField::Vorticity] = c - b;
    out[DerivedField::Divergence] = a + d;
    out[DerivedField::QCriterion] = 0.5 * (rotationSquared - strainSquared);
    out[DerivedField::SwirlingStrength] = disc < 0.0 ? std::sqrt(-disc) : 0.0;
    out[DerivedField::StrainRate] = std::sqrt(2.0 * strainSquared);
    out[DerivedField::ShearStrainRate] = shear;
    out[DerivedField::NormalStrainRate] = normal;
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
    std::vector<float*> out(size_t(kinds.size()), nullptr);
    for (int s = 0; s < kinds.size(); ++s)
        if (sets[s].values.allocateForOverwrite(points))
            out[size_t(s)] = sets[s].values.get();

    const bool sphere = grid.metric == DerivedFieldGrid::Sphere;
    const double toRadians = sphere ? M_PI / 180.0 : 1.0;
    const std::vector<Stencil> xWeights = stencils(grid.x, toRadians);
    const std::vector<Stencil> yWeights = stencils(grid.y, toRadians);
    // Per row of latitude: 1 / (R cos phi), tan(phi) / R and 1 / R; on the
    // plane 1, 0 and 1.
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

    // Blocks of rows along the slow index; each keeps the extremes it wrote.
    const int fastCount = grid.yFastest ? ny : nx;
    const int slowCount = grid.yFastest ? nx : ny;
    const std::ptrdiff_t stride = grid.stride;
    const std::ptrdiff_t fastStep = stride;
    const std::ptrdiff_t slowStep = stride * fastCount;
    const int wanted = int(kinds.size());
    std::vector<int> kindOf(kinds.cbegin(), kinds.cend());
    const int grain = ParallelBlocks::grainFor(std::int64_t(fastCount) * (8 + wanted));
    const int blocks = ParallelBlocks::countFor(slowCount, grain);
    std::vector<Extremes<float>> ranges(size_t(blocks) * size_t(wanted));
    const double scale = grid.scale;
    const float* const u0 = grid.u;
    const float* const v0 = grid.v;
    const float nan = std::nanf("");

    ParallelBlocks::run(slowCount, grain, [&](int block, int first, int last) {
        Extremes<float>* range = ranges.data() + size_t(block) * size_t(wanted);
        double values[DerivedField::kindCount];
        for (int s = first; s < last; ++s) {
            for (int f = 0; f < fastCount; ++f) {
                const std::ptrdiff_t n = std::ptrdiff_t(s) * fastCount + f;
                const float* u = u0 + n * stride;
                const float* v = v0 + n * stride;
                const int j = grid.yFastest ? f : s;
                double duFast = 0.0, dvFast = 0.0, duSlow = 0.0, dvSlow = 0.0;
                const bool known = valid(u, v, 0) &&
                                   derive(u, v, fastStep, f, fastCount,
                                          grid.yFastest ? yWeights[size_t(f)] : xWeights[size_t(f)],
                                          duFast, dvFast) &&
                                   derive(u, v, slowStep, s, slowCount,
                                          grid.yFastest ? xWeights[size_t(s)] : yWeights[size_t(s)],
                                          duSlow, dvSlow);
                if (!known) {
                    for (int k = 0; k < wanted; ++k)
                        if (out[size_t(k)])
                            out[size_t(k)][n] = nan;
                    continue;
                }
                const double uAlong = grid.yFastest ? duSlow : duFast;
                const double uUp = grid.yFastest ? duFast : duSlow;
                const double vAlong = grid.yFastest ? dvSlow : dvFast;
                const double vUp = grid.yFastest ? dvFast : dvSlow;
                const double across = acrossFactor[size_t(j)];
                const double turn = turnFactor[size_t(j)];
                const double uHere = double(*u);
                const double vHere = double(*v);
                evaluate(scale * (across * uAlong - turn * vHere), scale * upFactor * uUp,
                         scale * (across * vAlong + turn * uHere), scale * upFactor * vUp, values);
                for (int k = 0; k < wanted; ++k) {
                    if (!out[size_t(k)])
                        continue;
                    const float value = float(values[kindOf[size_t(k)]]);
                    out[size_t(k)][n] = value;
                    range[k].add(value);
                }
            }
        }
    });

    for (int k = 0; k < wanted; ++k) {
        Extremes<float> all;
        for (int b = 0; b < blocks; ++b)
            all.merge(ranges[size_t(b) * size_t(wanted) + size_t(k)]);
        sets[k].minimum = all.lowest();
        sets[k].maximum = all.highest();
    }
    return sets;
}
