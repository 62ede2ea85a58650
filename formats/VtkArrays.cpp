#include "formats/VtkArrays.h"

#include "formats/VelocityPair.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace {

// Component c of every tuple. A single-component array is already that
// and is handed over whole: its copy would be the largest allocation of the
// read after the file itself.
FlowRecord::Values component(VtkArray& array, int c, size_t points)
{
    if (size_t(c) < array.planes.size() && array.planes[size_t(c)].size() == points)
        return std::move(array.planes[size_t(c)]);
    if (array.components == 1 && array.values.size() == points)
        return std::move(array.values);
    // Filled as it grows: a cleared array would be written twice.
    FlowRecord::Values out;
    out.reserve(points);
    const size_t stride = size_t(array.components);
    for (size_t k = 0; k < points; ++k)
        out.push_back(array.values[k * stride + size_t(c)]);
    return out;
}

template <typename Array> void transpose(Array& values, size_t nx, size_t ny)
{
    Array out(values.size());
    for (size_t j = 0; j < ny; ++j)
        for (size_t i = 0; i < nx; ++i)
            out[i * ny + j] = values[j * nx + i];
    values.swap(out);
}

} // namespace

bool VtkArrays::assign(std::vector<VtkArray>& arrays, size_t points, const LoadOptions& options,
                       FlowRecord& record, QString* reason)
{
    VelocityChoice choice;
    if (!chooseVelocity(arrays, options, record, choice, reason))
        return false;
    take(arrays, choice, points, record);
    return true;
}

bool VtkArrays::chooseVelocity(const std::vector<VtkArray>& arrays, const LoadOptions& options,
                               FlowRecord& record, VelocityChoice& choice, QString* reason)
{
    QStringList listing;
    for (const VtkArray& array : arrays) {
        record.candidates.append(array.name);
        listing.append(QStringLiteral("%1 (%2 components)").arg(array.name).arg(array.components));
    }
    const QString all =
        listing.isEmpty() ? QStringLiteral("no point arrays") : listing.join(QStringLiteral(", "));
    int uArray = -1;
    int vArray = -1;
    int uComponent = 0;
    int vComponent = 0;
    auto find = [&](const QString& name) {
        for (size_t a = 0; a < arrays.size(); ++a)
            if (arrays[a].name == name)
                return int(a);
        return -1;
    };
    if (!options.uVariable.isEmpty()) {
        uArray = find(options.uVariable);
        vArray = options.vVariable.isEmpty() ? uArray : find(options.vVariable);
        if (uArray < 0 || vArray < 0) {
            *reason = QStringLiteral("no point array named \"%1\"; arrays: %2")
                          .arg(uArray < 0 ? options.uVariable : options.vVariable, all);
            return false;
        }
        if (uArray == vArray) {
            if (arrays[size_t(uArray)].components < 2) {
                *reason = QStringLiteral("%1 has one component; name the other with --v")
                              .arg(options.uVariable);
                return false;
            }
            vComponent = 1;
        }
    } else {
        std::vector<int> vectors;
        std::vector<int> multi;
        for (size_t a = 0; a < arrays.size(); ++a) {
            // A vector needs two components, whatever an attribute calls it.
            if (arrays[a].vectors && arrays[a].components >= 2)
                vectors.push_back(int(a));
            if (arrays[a].components == 2 || arrays[a].components == 3)
                multi.push_back(int(a));
        }
        const std::vector<int>& pick = vectors.empty() ? multi : vectors;
        if (pick.size() == 1) {
            uArray = vArray = pick[0];
            vComponent = 1;
        } else if (pick.empty()) {
            for (size_t a = 0; a < arrays.size(); ++a) {
                if (arrays[a].components != 1)
                    continue;
                if (VelocityPair::isXComponent(arrays[a].name))
                    uArray = uArray < 0 ? int(a) : -2;
                if (VelocityPair::isYComponent(arrays[a].name))
                    vArray = vArray < 0 ? int(a) : -2;
            }
        }
        if (uArray < 0 || vArray < 0)
            return VelocityPair::leaveOpen(
                record,
                pick.size() > 1 ? QStringLiteral("more than one vector array: %1").arg(all)
                                : QStringLiteral("no velocity array found; arrays: %1").arg(all),
                reason);
    }
    choice.uArray = uArray;
    choice.vArray = vArray;
    choice.uComponent = uComponent;
    choice.vComponent = vComponent;
    return true;
}

void VtkArrays::take(std::vector<VtkArray>& arrays, const VelocityChoice& choice, size_t points,
                     FlowRecord& record)
{
    record.u = component(arrays[size_t(choice.uArray)], choice.uComponent, points);
    record.v = component(arrays[size_t(choice.vArray)], choice.vComponent, points);
    for (size_t a = 0; a < arrays.size(); ++a) {
        if (int(a) == choice.uArray || int(a) == choice.vArray || arrays[a].components != 1)
            continue;
        FlowRecord::Field field;
        field.name = arrays[a].name;
        field.values = component(arrays[a], 0, points);
        record.scalars.push_back(std::move(field));
    }
}

bool VtkArrays::gridFromPoints(FlowRecord::Positions px, FlowRecord::Positions py, size_t nx,
                               size_t ny, FlowRecord& record, QString* reason)
{
    // Each array's extent once (NaN when a value is not finite), for both
    // of the orientations tried below.
    auto extentOf = [](const FlowRecord::Positions& p) {
        double low = std::numeric_limits<double>::infinity();
        double high = -low;
        for (double value : p) {
            if (!std::isfinite(value))
                return std::numeric_limits<double>::quiet_NaN();
            low = std::min(low, value);
            high = std::max(high, value);
        }
        return high - low;
    };
    const double xExtent = extentOf(px);
    const double yExtent = std::isnan(xExtent) ? xExtent : extentOf(py);
    auto dependsOnly = [&](const FlowRecord::Positions& p, double extent, bool onI) {
        if (std::isnan(extent))
            return false;
        const double tolerance = 1e-6 * std::max(1e-300, extent);
        for (size_t j = 0; j < ny; ++j)
            for (size_t i = 0; i < nx; ++i) {
                const double reference = onI ? p[i] : p[j * nx];
                if (std::abs(p[j * nx + i] - reference) > tolerance)
                    return false;
            }
        return true;
    };
    if (dependsOnly(px, xExtent, true) && dependsOnly(py, yExtent, false)) {
        record.x.assign(px.begin(), px.begin() + std::ptrdiff_t(nx));
        record.y.resize(ny);
        for (size_t j = 0; j < ny; ++j)
            record.y[j] = py[j * nx];
        return true;
    }
    if (dependsOnly(px, xExtent, false) && dependsOnly(py, yExtent, true)) {
        // The file's fast index runs along y: the grid is stored transposed.
        record.x.resize(ny);
        for (size_t j = 0; j < ny; ++j)
            record.x[j] = px[j * nx];
        record.y.assign(py.begin(), py.begin() + std::ptrdiff_t(nx));
        transpose(record.u, nx, ny);
        transpose(record.v, nx, ny);
        for (FlowRecord::Field& field : record.scalars)
            transpose(field.values, nx, ny);
        return true;
    }
    for (size_t k = 0; (std::isnan(xExtent) || std::isnan(yExtent)) && k < px.size(); ++k)
        if (!std::isfinite(px[k]) || !std::isfinite(py[k])) {
            *reason = QStringLiteral("grid point %1, %2 is not a finite position")
                          .arg(k % nx)
                          .arg(k / nx);
            return false;
        }
    record.pointX = std::move(px);
    record.pointY = std::move(py);
    record.gridColumns = nx;
    record.gridRows = ny;
    return true;
}
