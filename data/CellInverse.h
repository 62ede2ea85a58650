#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

// The inverse of the bilinear map of one grid cell (corners p00, p10, p11,
// p01 in either turning sense), non-convex and collapsed cells included.
// What depends on the corners alone is worked out once, so that the samples
// tried against the same cell pay only for their own position.
class CellInverse
{
public:
    // How far outside [0, 1] a cell coordinate may lie and still count as in
    // the cell: points on a shared edge then belong to both cells, and
    // rounding in the map cannot open a crack between them.
    static constexpr double tolerance = 1e-6;

    CellInverse() = default;
    CellInverse(const double p00[2], const double p10[2], const double p11[2], const double p01[2])
        : ox(p00[0]), oy(p00[1]), ex(p10[0] - p00[0]), ey(p10[1] - p00[1]), fx(p01[0] - p00[0]),
          fy(p01[1] - p00[1]), gx(p00[0] - p10[0] + p11[0] - p01[0]),
          gy(p00[1] - p10[1] + p11[1] - p01[1]), det(cross(ex, ey, fx, fy))
    {
        // Nearly a parallelogram (a uniform grid turned, any smooth grid's
        // cell; a rectilinear one has g exactly 0): the linear map's
        // solution, then steps that correct it by the linear map's inverse.
        // Each step multiplies the error by at most about 2 spread / det
        // (below 2e-2), so a few reach rounding without a square root or a
        // division per point.
        const double spread = (std::fabs(gx) + std::fabs(gy)) *
                              (std::fabs(ex) + std::fabs(ey) + std::fabs(fx) + std::fabs(fy));
        nearlyParallelogram = det != 0.0 && spread <= 1e-2 * std::fabs(det);
        if (nearlyParallelogram) {
            const double factor = 2.0 * spread / std::fabs(det);
            // The linear solution's error is below the factor itself.
            double error = factor;
            for (correctionSteps = 0; error > 1e-9 && correctionSteps < 4; ++correctionSteps)
                error *= factor;
            inverseDet = 1.0 / det;
        }
        k2 = cross(gx, gy, fx, fy);
    }

    // The (xi, eta) of p, true when the cell holds it (within the
    // tolerance). On a miss, (xi, eta) still tell where p lies beside the
    // cell when they are finite.
    bool solve(const double p[2], double& xi, double& eta) const
    {
        const double hx = p[0] - ox;
        const double hy = p[1] - oy;
        if (nearlyParallelogram) {
            double x = cross(hx, hy, fx, fy) * inverseDet;
            double h = cross(ex, ey, hx, hy) * inverseDet;
            // Far outside, the bilinear map cannot bring the point in.
            const bool near = std::max(outside(x), outside(h)) <= 0.1;
            for (int step = 0; near && step < correctionSteps; ++step) {
                // What the cross term leaves over, mapped back linearly.
                const double rx = hx - (x * ex + h * fx + x * h * gx);
                const double ry = hy - (x * ey + h * fy + x * h * gy);
                x += cross(rx, ry, fx, fy) * inverseDet;
                h += cross(ex, ey, rx, ry) * inverseDet;
            }
            xi = x;
            eta = h;
            return near && std::max(outside(xi), outside(eta)) <= tolerance;
        }
        // h = xi e + eta f + xi eta g: crossing with (e + eta g) removes xi
        // and leaves k2 eta^2 + k1 eta + k0 = 0.
        const double k1 = det + cross(hx, hy, gx, gy);
        const double k0 = cross(hx, hy, ex, ey);

        double roots[2];
        int count = 0;
        if (k2 == 0.0) {
            if (k1 != 0.0)
                roots[count++] = -k0 / k1;
        } else {
            double discriminant = k1 * k1 - 4.0 * k0 * k2;
            // A point on the fold line of a non-convex cell gives a double
            // root that rounding may push just below zero.
            if (discriminant < 0.0 && discriminant > -1e-12 * k1 * k1)
                discriminant = 0.0;
            if (discriminant >= 0.0) {
                // The form without cancellation: a parallelogram's k2 is
                // rounding, and its root k0 / q stays exact.
                const double q = -0.5 * (k1 + std::copysign(std::sqrt(discriminant), k1));
                if (q != 0.0)
                    roots[count++] = k0 / q;
                roots[count++] = q / k2;
            }
        }

        double bestMiss = std::numeric_limits<double>::infinity();
        for (int r = 0; r < count; ++r) {
            const double h = roots[r];
            if (!std::isfinite(h))
                continue;
            // xi along e + eta g, the least-squares solution where the two
            // components disagree by rounding.
            const double sx = ex + h * gx;
            const double sy = ey + h * gy;
            const double norm = sx * sx + sy * sy;
            if (!(norm > 0.0))
                continue;
            const double x = ((hx - h * fx) * sx + (hy - h * fy) * sy) / norm;
            const double miss = std::max(outside(x), outside(h));
            if (miss < bestMiss) {
                bestMiss = miss;
                xi = x;
                eta = h;
            }
        }
        return bestMiss <= tolerance;
    }

private:
    static double cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }
    // The distance of t from [0, 1].
    static double outside(double t) { return t < 0.0 ? -t : (t > 1.0 ? t - 1.0 : 0.0); }

    double ox = 0.0, oy = 0.0;
    double ex = 0.0, ey = 0.0, fx = 0.0, fy = 0.0, gx = 0.0, gy = 0.0;
    double det = 0.0;
    double inverseDet = 0.0;
    double k2 = 0.0;
    bool nearlyParallelogram = false;
    int correctionSteps = 0;
};
