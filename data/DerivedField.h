#pragma once

#include "data/ScalarSet.h"

#include <QList>
#include <QString>
#include <QStringList>

struct DerivedFieldGrid;

// Fields derived from the velocity gradient of a rectilinear grid, in the
// file's physical units.
//
// With J = [[du/dx, du/dy], [dv/dx, dv/dy]], S = (J + J^T) / 2 and
// W = (J - J^T) / 2:
//   Vorticity           w = dv/dx - du/dy
//   Divergence          du/dx + dv/dy
//   Q criterion         Q = (|W|^2 - |S|^2) / 2 (Frobenius norms): > 0 where
//                       rotation outweighs strain
//   Swirling strength   lambda_ci, the imaginary part of J's complex pair of
//                       eigenvalues (>= 0), 0 where they are real
//   Strain rate         sqrt(2 S:S)
//   Shear strain rate   du/dy + dv/dx
//   Normal strain rate  du/dx - dv/dy
//
// Derivatives: along each axis the three-point difference for uneven spacing
// (exact for quadratics): central where both neighbours are valid, else
// one-sided over the next two points on a side where both are valid (the
// edges, beside a NaN). A point that is NaN, or has neither a pair of valid
// neighbours across it nor two on one side along an axis, gives NaN: a
// two-point difference would be first order, a value of another accuracy in
// a field that reads as uniformly second order, so none is invented.
//
// On a longitude-latitude grid (DerivedFieldGrid::Sphere) J is the velocity
// gradient in the local east-north frame, dx = R cos(phi) dlambda,
// dy = R dphi, with the sphere's two metric terms:
//   du/dx = u_lambda / (R cos phi) - v tan(phi) / R,  du/dy = u_phi / R,
//   dv/dx = v_lambda / (R cos phi) + u tan(phi) / R,  dv/dy = v_phi / R,
// which gives the standard w = v_lambda / (R cos phi) - u_phi / R + u tan(phi) / R
// and divergence u_lambda / (R cos phi) + v_phi / R - v tan(phi) / R. Every set
// is taken from that one tensor, so Q, lambda_ci and the strain rate are the
// frame-free invariants of the true gradient (without the metric terms a
// solid-body rotation about the pole would show strain); the shear and normal
// strain rates are its components along east and north. Points at a pole
// (cos phi = 0) give NaN.
class DerivedField
{
public:
    enum Kind
    {
        Vorticity,
        Divergence,
        QCriterion,
        SwirlingStrength,
        StrainRate,
        ShearStrainRate,
        NormalStrainRate
    };
    static constexpr int kindCount = 7;

    // The name for users ("Vorticity") and the command-line key ("vorticity").
    static QString name(Kind kind);
    static QString key(Kind kind);
    // Every key, comma-separated in the order of Kind.
    static QString keyList();
    // The kind of a key; false (and *kind untouched) for an unknown key.
    static bool fromKey(const QString& key, Kind* kind);

    // The unit of a set: velocity over length as the file writes units,
    // "1/s" for m/s over m, "s-1" for m s-1 over m, squared for Q ("1/s2",
    // "s-2"). A numerator that is not the length unit stays ("cm/(m s)",
    // "cm m-1 s-1"); any other velocity unit V gives "V/L" and "(V/L)2".
    // Empty when either unit is.
    static QString unit(Kind kind, const QString& velocityUnit, const QString& lengthUnit);

    // The sets of `kinds`, in that order, over the grid's points in its
    // point order, each with the extremes of its finite values, its name and
    // unit. Computed in one pass over the grid on every core. A set whose
    // memory is not there comes back with no values.
    static QList<ScalarSet> compute(const DerivedFieldGrid& grid, const QList<Kind>& kinds);
};
