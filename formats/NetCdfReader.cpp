#include "formats/NetCdfReader.h"

#include "formats/ReaderThreads.h"

#include "formats/CfTime.h"
#include "formats/NetCdfClassicHeader.h"
#include "formats/VelocityPair.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <H5Epublic.h>
#include <netcdf.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

enum class Role
{
    Unknown,
    X,
    Y,
    Z,
    T
};

// The NetCDF library asks HDF5 for attributes that may not be there, and HDF5
// prints every such miss on standard error, which buries the messages that
// matter; the reasons this reader gives come from the NetCDF status codes.
// A thread-safe HDF5 keeps the setting per thread.
void silenceHdf5()
{
    thread_local bool silenced = false;
    if (!silenced) {
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        silenced = true;
    }
}

struct Variable
{
    int id = 0;
    QString name;
    nc_type type = NC_NAT;
    std::vector<int> dims;
};

class File
{
public:
    ~File()
    {
        if (open)
            nc_close(id);
    }
    bool openFile(const QString& fileName, QString* reason)
    {
        silenceHdf5();
        // A classic file is read through the library's own buffer, by
        // default a few kilobytes: a slice of tens of megabytes then costs
        // thousands of seeks and reads. Ignored for netCDF-4 files.
        size_t bufferSize = size_t(4) << 20;
        const int status =
            nc__open(QFile::encodeName(fileName).constData(), NC_NOWRITE, &bufferSize, &id);
        if (status != NC_NOERR) {
            *reason =
                QStringLiteral("%1: %2").arg(fileName, QString::fromUtf8(nc_strerror(status)));
            return false;
        }
        open = true;
        path = fileName;
        int count = 0;
        if (nc_inq_nvars(id, &count) != NC_NOERR || nc_inq_ndims(id, &dimensionCount) != NC_NOERR) {
            *reason = QStringLiteral("the file's variables cannot be listed");
            return false;
        }
        for (int v = 0; v < count; ++v) {
            char name[NC_MAX_NAME + 1] = {};
            Variable variable;
            variable.id = v;
            int dimCount = 0;
            if (nc_inq_var(id, v, name, &variable.type, &dimCount, nullptr, nullptr) != NC_NOERR ||
                dimCount < 0 || dimCount > NC_MAX_VAR_DIMS)
                continue;
            variable.dims.resize(size_t(dimCount));
            if (dimCount > 0 && nc_inq_vardimid(id, v, variable.dims.data()) != NC_NOERR)
                continue;
            variable.name = QString::fromUtf8(name);
            variables.push_back(variable);
        }
        return true;
    }

    QString text(int varid, const char* attribute) const
    {
        nc_type type = NC_NAT;
        size_t length = 0;
        if (nc_inq_att(id, varid, attribute, &type, &length) != NC_NOERR || length > 65536)
            return QString();
        if (type == NC_CHAR) {
            std::string value(length, '\0');
            if (nc_get_att_text(id, varid, attribute, value.data()) != NC_NOERR)
                return QString();
            return QString::fromUtf8(value.c_str()).trimmed();
        }
        if (type == NC_STRING && length == 1) {
            char* value = nullptr;
            if (nc_get_att_string(id, varid, attribute, &value) != NC_NOERR)
                return QString();
            const QString result = QString::fromUtf8(value ? value : "").trimmed();
            nc_free_string(1, &value);
            return result;
        }
        return QString();
    }
    std::vector<double> numbers(int varid, const char* attribute) const
    {
        nc_type type = NC_NAT;
        size_t length = 0;
        if (nc_inq_att(id, varid, attribute, &type, &length) != NC_NOERR || length == 0 ||
            length > 1024 || type == NC_CHAR || type == NC_STRING)
            return {};
        std::vector<double> values(length);
        if (nc_get_att_double(id, varid, attribute, values.data()) != NC_NOERR)
            return {};
        return values;
    }
    size_t dimensionLength(int dim) const
    {
        size_t length = 0;
        nc_inq_dimlen(id, dim, &length);
        return length;
    }
    QString dimensionName(int dim) const
    {
        char name[NC_MAX_NAME + 1] = {};
        nc_inq_dimname(id, dim, name);
        return QString::fromUtf8(name);
    }
    const Variable* find(const QString& name) const
    {
        for (const Variable& variable : variables)
            if (variable.name == name)
                return &variable;
        return nullptr;
    }
    // The 1-D variable named like the dimension, if there is one.
    const Variable* coordinate(int dim) const
    {
        const Variable* variable = find(dimensionName(dim));
        return variable && variable->dims.size() == 1 && variable->dims[0] == dim ? variable
                                                                                  : nullptr;
    }
    Role role(int dim) const
    {
        if (const Variable* c = coordinate(dim)) {
            const QString axis = text(c->id, "axis").toUpper();
            if (axis == QLatin1String("X"))
                return Role::X;
            if (axis == QLatin1String("Y"))
                return Role::Y;
            if (axis == QLatin1String("Z"))
                return Role::Z;
            if (axis == QLatin1String("T"))
                return Role::T;
            const QString standard = text(c->id, "standard_name");
            const QString units = text(c->id, "units").toLower();
            if (standard == QLatin1String("longitude") ||
                standard == QLatin1String("grid_longitude") ||
                standard == QLatin1String("projection_x_coordinate") ||
                units.startsWith(QLatin1String("degree_e")) ||
                units.startsWith(QLatin1String("degrees_e")))
                return Role::X;
            if (standard == QLatin1String("latitude") ||
                standard == QLatin1String("grid_latitude") ||
                standard == QLatin1String("projection_y_coordinate") ||
                units.startsWith(QLatin1String("degree_n")) ||
                units.startsWith(QLatin1String("degrees_n")))
                return Role::Y;
            if (standard == QLatin1String("time") || units.contains(QLatin1String(" since ")))
                return Role::T;
            if (!text(c->id, "positive").isEmpty() || standard == QLatin1String("depth") ||
                standard == QLatin1String("height") || standard == QLatin1String("air_pressure"))
                return Role::Z;
        }
        const QString name = dimensionName(dim).toLower();
        if (name == QLatin1String("time") || name == QLatin1String("t") ||
            name.startsWith(QLatin1String("ocean_time")))
            return Role::T;
        if (name == QLatin1String("lon") || name == QLatin1String("longitude") ||
            name == QLatin1String("x"))
            return Role::X;
        if (name == QLatin1String("lat") || name == QLatin1String("latitude") ||
            name == QLatin1String("y"))
            return Role::Y;
        if (name == QLatin1String("depth") || name == QLatin1String("z") ||
            name.startsWith(QLatin1String("lev")) || name == QLatin1String("height") ||
            name == QLatin1String("plev") || name.startsWith(QLatin1String("s_")))
            return Role::Z;
        return Role::Unknown;
    }
    QString describe(const Variable& variable) const
    {
        QStringList dims;
        for (int dim : variable.dims)
            dims.append(QStringLiteral("%1=%2").arg(dimensionName(dim)).arg(dimensionLength(dim)));
        return QStringLiteral("%1(%2)").arg(variable.name, dims.join(QStringLiteral(", ")));
    }

    int id = -1;
    bool open = false;
    QString path;
    int dimensionCount = 0;
    std::vector<Variable> variables;
};

// Where each dimension of a variable sits: the horizontal pair, time, level.
struct Layout
{
    int x = -1;
    int y = -1;
    int t = -1;
    int level = -1;
};

bool numeric(nc_type type)
{
    return type != NC_CHAR && type != NC_STRING && type < NC_VLEN && type != NC_NAT;
}

bool layoutOf(const File& file, const Variable& variable, Layout& layout, QString* reason)
{
    layout = Layout();
    std::vector<int> unknown;
    for (int dim : variable.dims) {
        switch (file.role(dim)) {
        case Role::X:
            layout.x = dim;
            break;
        case Role::Y:
            layout.y = dim;
            break;
        case Role::T:
            layout.t = layout.t < 0 ? dim : layout.t;
            break;
        case Role::Z:
            if (layout.level >= 0 && file.dimensionLength(dim) > 1) {
                *reason = QStringLiteral("%1 has more than one level dimension")
                              .arg(file.describe(variable));
                return false;
            }
            if (layout.level < 0 || file.dimensionLength(dim) > 1)
                layout.level = dim;
            break;
        case Role::Unknown:
            unknown.push_back(dim);
            break;
        }
    }
    // CF order (T, Z, Y, X): unnamed dimensions fill the horizontal pair
    // from the end.
    while (!unknown.empty() && (layout.x < 0 || layout.y < 0)) {
        (layout.x < 0 ? layout.x : layout.y) = unknown.back();
        unknown.pop_back();
    }
    for (int dim : unknown) {
        if (file.dimensionLength(dim) <= 1)
            continue;
        if (layout.level >= 0 && file.dimensionLength(layout.level) > 1) {
            *reason =
                QStringLiteral("%1 has more than one extra dimension").arg(file.describe(variable));
            return false;
        }
        layout.level = dim;
    }
    if (layout.x < 0 || layout.y < 0) {
        *reason =
            QStringLiteral("%1 has no two horizontal dimensions").arg(file.describe(variable));
        return false;
    }
    // NetCDF lets a variable name one dimension twice (a matrix); as a grid
    // it would have no distinct x and y to read along.
    if (layout.x == layout.y) {
        *reason = QStringLiteral("%1 uses %2 for both x and y")
                      .arg(file.describe(variable), file.dimensionName(layout.x));
        return false;
    }
    return true;
}

// A chunked (NetCDF-4) variable whose slice spans more chunks than the
// library's cache holds would inflate chunks again for every step and level
// read; the cache grows to hold the chunks of one slice, up to a bound that
// keeps a huge slice from claiming that much memory twice.
void fitChunkCache(const File& file, const Variable& variable, const std::vector<size_t>& start,
                   const std::vector<size_t>& count)
{
    const size_t rank = variable.dims.size();
    int storage = NC_CONTIGUOUS;
    std::vector<size_t> chunk(rank, 0);
    size_t typeSize = 0;
    if (rank == 0 ||
        nc_inq_var_chunking(file.id, variable.id, &storage, chunk.data()) != NC_NOERR ||
        storage != NC_CHUNKED ||
        nc_inq_type(file.id, variable.type, nullptr, &typeSize) != NC_NOERR)
        return;
    double bytes = double(typeSize);
    double chunks = 1.0;
    for (size_t d = 0; d < rank; ++d) {
        if (chunk[d] == 0)
            return;
        bytes *= double(chunk[d]);
        chunks *= double((start[d] + count[d] - 1) / chunk[d] - start[d] / chunk[d] + 1);
    }
    constexpr double largestCache = double(size_t(256) << 20);
    const double wanted = std::min(bytes * chunks, largestCache);
    size_t size = 0;
    size_t entries = 0;
    float preemption = 0.75f;
    if (nc_get_var_chunk_cache(file.id, variable.id, &size, &entries, &preemption) != NC_NOERR ||
        double(size) >= wanted)
        return;
    const size_t fitting = size_t(std::min(chunks, wanted / std::max(bytes, 1.0)) + 1.0);
    nc_set_var_chunk_cache(file.id, variable.id, size_t(wanted), std::max(entries, fitting),
                           preemption);
}

// Reads one horizontal slice (rows along y, x fastest, as the variable
// stores them) with packing, fill values and valid ranges applied.
bool readSlice(const File& file, const Variable& variable, const Layout& layout, int step,
               int level, FlowRecord::Values& out, QString* reason)
{
    const size_t rank = variable.dims.size();
    std::vector<size_t> start(rank, 0);
    std::vector<size_t> count(rank, 1);
    int xPosition = -1;
    int yPosition = -1;
    for (size_t d = 0; d < rank; ++d) {
        const int dim = variable.dims[d];
        const size_t length = file.dimensionLength(dim);
        if (dim == layout.x) {
            count[d] = length;
            xPosition = int(d);
        } else if (dim == layout.y) {
            count[d] = length;
            yPosition = int(d);
        } else if (dim == layout.t) {
            start[d] = size_t(step);
        } else if (dim == layout.level) {
            start[d] = size_t(level);
        }
        if (start[d] >= std::max<size_t>(length, 1)) {
            *reason = QStringLiteral("%1: index %2 along %3 lies beyond its %4 entries")
                          .arg(variable.name)
                          .arg(start[d])
                          .arg(file.dimensionName(dim))
                          .arg(length);
            return false;
        }
    }
    if (xPosition < yPosition) {
        *reason = QStringLiteral("%1 stores x before y; only y-then-x layouts are read")
                      .arg(variable.name);
        return false;
    }
    const size_t points = count[size_t(xPosition)] * count[size_t(yPosition)];
    out.resize(points);
    const std::vector<double> fill = file.numbers(variable.id, "_FillValue");
    const std::vector<double> missing = file.numbers(variable.id, "missing_value");
    const std::vector<double> range = file.numbers(variable.id, "valid_range");
    const std::vector<double> low = file.numbers(variable.id, "valid_min");
    const std::vector<double> high = file.numbers(variable.id, "valid_max");
    const std::vector<double> scale = file.numbers(variable.id, "scale_factor");
    const std::vector<double> offset = file.numbers(variable.id, "add_offset");

    fitChunkCache(file, variable, start, count);
    std::vector<double> wide;
    int status = NC_NOERR;
    if (variable.type == NC_DOUBLE) {
        wide.resize(points);
        status = nc_get_vara_double(file.id, variable.id, start.data(), count.data(), wide.data());
    } else {
        status = nc_get_vara_float(file.id, variable.id, start.data(), count.data(), out.data());
    }
    if (status != NC_NOERR && status != NC_ERANGE) {
        *reason = QStringLiteral("%1: reading failed: %2")
                      .arg(variable.name, QString::fromUtf8(nc_strerror(status)));
        return false;
    }

    // Missing values compare in the stored (packed) type, as read.
    std::vector<double> absent(missing);
    if (!fill.empty())
        absent.push_back(fill[0]);
    else if (variable.type == NC_FLOAT)
        absent.push_back(NC_FILL_FLOAT);
    else if (variable.type == NC_DOUBLE)
        absent.push_back(NC_FILL_DOUBLE);
    else if (variable.type == NC_SHORT)
        absent.push_back(NC_FILL_SHORT);
    else if (variable.type == NC_INT)
        absent.push_back(NC_FILL_INT);
    double minimum = -std::numeric_limits<double>::infinity();
    double maximum = std::numeric_limits<double>::infinity();
    if (range.size() == 2) {
        minimum = range[0];
        maximum = range[1];
    }
    if (!low.empty())
        minimum = low[0];
    if (!high.empty())
        maximum = high[0];
    const double factor = scale.empty() ? 1.0 : scale[0];
    const double shift = offset.empty() ? 0.0 : offset[0];
    const bool packed = factor != 1.0 || shift != 0.0;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> absentFloat;
    for (double a : absent)
        absentFloat.push_back(float(a));

    const bool ranged = minimum > -std::numeric_limits<double>::infinity() ||
                        maximum < std::numeric_limits<double>::infinity();
    if (wide.empty() && absentFloat.size() <= 1 && !ranged) {
        // The common case, a float variable with one fill value, in one
        // pass that the compiler can vectorise.
        const float fillValue = absentFloat.empty() ? nan : absentFloat[0];
        float* values = out.data();
        if (packed) {
            for (size_t k = 0; k < points; ++k)
                values[k] = values[k] == fillValue ? nan : float(values[k] * factor + shift);
        } else {
            for (size_t k = 0; k < points; ++k)
                values[k] = values[k] == fillValue ? nan : values[k];
        }
        return true;
    }
    for (size_t k = 0; k < points; ++k) {
        const double raw = wide.empty() ? double(out[k]) : wide[k];
        bool isAbsent = !(raw >= minimum && raw <= maximum) && !std::isnan(raw);
        if (wide.empty()) {
            for (float a : absentFloat)
                isAbsent = isAbsent || out[k] == a;
        } else {
            for (double a : absent)
                isAbsent = isAbsent || raw == a;
        }
        if (isAbsent)
            out[k] = nan;
        else if (packed || !wide.empty())
            out[k] = float(raw * factor + shift);
    }
    return true;
}

bool readAxis(const File& file, int dim, std::vector<double>& axis, QString* unit)
{
    const size_t length = file.dimensionLength(dim);
    axis.resize(length);
    const Variable* c = file.coordinate(dim);
    if (c && numeric(c->type)) {
        const size_t start = 0;
        if (nc_get_vara_double(file.id, c->id, &start, &length, axis.data()) == NC_NOERR) {
            *unit = file.text(c->id, "units");
            return true;
        }
    }
    for (size_t k = 0; k < length; ++k)
        axis[k] = double(k);
    unit->clear();
    return false;
}

// Which horizontal coordinate a 2-D coordinate variable holds, by its
// standard name, its units or the names ocean models give them.
Role planeRole(const File& file, const Variable& c, bool* degrees)
{
    const QString units = file.text(c.id, "units").toLower();
    const QString standard = file.text(c.id, "standard_name");
    const QString name = c.name.toLower();
    if (standard == QLatin1String("longitude") || standard == QLatin1String("grid_longitude") ||
        units.startsWith(QLatin1String("degree_e")) ||
        units.startsWith(QLatin1String("degrees_e")) || name.startsWith(QLatin1String("lon")) ||
        name == QLatin1String("nav_lon") || name.startsWith(QLatin1String("glam"))) {
        *degrees = true;
        return Role::X;
    }
    *degrees = false;
    if (standard == QLatin1String("latitude") || standard == QLatin1String("grid_latitude") ||
        units.startsWith(QLatin1String("degree_n")) ||
        units.startsWith(QLatin1String("degrees_n")) || name.startsWith(QLatin1String("lat")) ||
        name == QLatin1String("nav_lat") || name.startsWith(QLatin1String("gphi")))
        return Role::Y;
    if (standard == QLatin1String("projection_x_coordinate") || name == QLatin1String("x") ||
        name.startsWith(QLatin1String("x_")))
        return Role::X;
    if (standard == QLatin1String("projection_y_coordinate") || name == QLatin1String("y") ||
        name.startsWith(QLatin1String("y_")))
        return Role::Y;
    return Role::Unknown;
}

// Longitudes made continuous along every grid line, so that a grid across
// the date line keeps its cells whole: the first row along its columns, then
// every column from the first row on, each point within half a turn of the
// nearest position above it (or, in the first row, left of it); a missing
// position breaks no chain.
void unwrapLongitudes(FlowRecord::Positions& lon, size_t nx, size_t ny)
{
    auto near = [](double& value, double neighbour) {
        if (std::isfinite(value) && std::isfinite(neighbour))
            value -= 360.0 * std::round((value - neighbour) / 360.0);
    };
    std::vector<double> above(lon.begin(), lon.begin() + std::ptrdiff_t(std::min(nx, lon.size())));
    double left = std::numeric_limits<double>::quiet_NaN();
    for (double& value : above) {
        near(value, left);
        if (std::isfinite(value))
            left = value;
    }
    std::copy(above.begin(), above.end(), lon.begin());
    for (size_t j = 1; j < ny; ++j)
        for (size_t i = 0; i < nx; ++i) {
            double& value = lon[j * nx + i];
            near(value, above[i]);
            if (std::isfinite(value))
                above[i] = value;
        }
}

// The grid from 2-D coordinates on the dimensions (y, x): the variables the
// component's "coordinates" attribute names, else the names ocean models
// give them (ROMS, NEMO). Coordinates that vary along one axis each give the
// grid lines, any others a curvilinear grid. A leading dimension (a time of
// one step) takes index 0. False with a reason when reading fails; true,
// leaving the record's grid empty, when there are no such coordinates.
// The variables that may hold the positions of a component's points, first
// those its "coordinates" attribute names; only those on its plane count.
std::vector<const Variable*> planeCoordinateCandidates(const File& file, const Variable& u,
                                                       int yDim, int xDim)
{
    QStringList names = file.text(u.id, "coordinates").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // ROMS, NEMO, MOM (tracer and velocity points), CICE, then plain names.
    for (const char* name : {"lon_rho",  "lat_rho",  "nav_lon",   "nav_lat",  "glamt",  "gphit",
                             "geolon_c", "geolat_c", "geolon_t",  "geolat_t", "geolon", "geolat",
                             "ULON",     "ULAT",     "TLON",      "TLAT",     "x_rho",  "y_rho",
                             "lon",      "lat",      "longitude", "latitude"})
        names.append(QLatin1String(name));
    std::vector<const Variable*> found;
    for (const QString& name : names) {
        const Variable* c = file.find(name);
        const size_t rank = c ? c->dims.size() : 0;
        if (c && rank >= 2 && numeric(c->type) && c->dims[rank - 2] == yDim &&
            c->dims[rank - 1] == xDim)
            found.push_back(c);
    }
    return found;
}

bool readPlaneCoordinates(const File& file, const Variable& u, int yDim, int xDim,
                          FlowRecord& record, QStringList* used, QString* reason)
{
    const Variable* coordinate[2] = {nullptr, nullptr};
    bool degrees = false;
    for (const Variable* c : planeCoordinateCandidates(file, u, yDim, xDim)) {
        bool inDegrees = false;
        const Role role = planeRole(file, *c, &inDegrees);
        if (role == Role::X && !coordinate[0]) {
            coordinate[0] = c;
            degrees = inDegrees;
        } else if (role == Role::Y && !coordinate[1]) {
            coordinate[1] = c;
        }
    }
    if (!coordinate[0] || !coordinate[1])
        return true;
    *used = QStringList{coordinate[0]->name, coordinate[1]->name};
    const size_t nx = file.dimensionLength(xDim);
    const size_t ny = file.dimensionLength(yDim);
    FlowRecord::Positions values[2];
    for (int axis = 0; axis < 2; ++axis) {
        const Variable& c = *coordinate[axis];
        std::vector<size_t> start(c.dims.size(), 0);
        std::vector<size_t> count(c.dims.size(), 1);
        count[count.size() - 2] = ny;
        count[count.size() - 1] = nx;
        values[axis].resize(nx * ny);
        const int status =
            nc_get_vara_double(file.id, c.id, start.data(), count.data(), values[axis].data());
        if (status != NC_NOERR) {
            *reason = QStringLiteral("%1: reading failed: %2")
                          .arg(c.name, QString::fromUtf8(nc_strerror(status)));
            return false;
        }
        // A filled coordinate is no position: as NaN the grid check names
        // the point, where the fill value itself would stretch the extent.
        std::vector<double> absent = file.numbers(c.id, "_FillValue");
        const std::vector<double> missing = file.numbers(c.id, "missing_value");
        absent.insert(absent.end(), missing.begin(), missing.end());
        for (double& value : values[axis])
            if (std::find(absent.begin(), absent.end(), value) != absent.end())
                value = std::numeric_limits<double>::quiet_NaN();
    }
    FlowRecord::Positions& px = values[0];
    FlowRecord::Positions& py = values[1];
    if (degrees)
        unwrapLongitudes(px, nx, ny);
    record.lengthUnit = file.text(coordinate[0]->id, "units");
    auto varies = [&](const FlowRecord::Positions& p, bool alongY) {
        for (size_t j = 0; j < ny; ++j)
            for (size_t i = 0; i < nx; ++i) {
                const double reference = alongY ? p[i] : p[j * nx];
                const double value = p[j * nx + i];
                if (!(std::abs(value - reference) <= 1e-6 * std::max(1.0, std::abs(reference))))
                    return true;
            }
        return false;
    };
    if (!varies(px, true) && !varies(py, false)) {
        record.x.assign(px.begin(), px.begin() + std::ptrdiff_t(nx));
        record.y.resize(ny);
        for (size_t j = 0; j < ny; ++j)
            record.y[j] = py[j * nx];
        return true;
    }
    record.x.clear();
    record.y.clear();
    record.pointX = std::move(px);
    record.pointY = std::move(py);
    record.gridColumns = nx;
    record.gridRows = ny;
    return true;
}

// Arakawa C-grid components on the faces between the cell centres (nx - 1
// by ny faces along x, nx by ny - 1 along y) averaged to the centres: the
// mean of the finite faces on either side, one face at the grid's edge, NaN
// where neither has a value.
FlowRecord::Values facesToCentres(const FlowRecord::Values& faces, size_t nx, size_t ny,
                                  bool alongX)
{
    FlowRecord::Values centres(nx * ny, std::numeric_limits<float>::quiet_NaN());
    const size_t faceColumns = alongX ? nx - 1 : nx;
    for (size_t j = 0; j < ny; ++j)
        for (size_t i = 0; i < nx; ++i) {
            const size_t last = alongX ? i : j;
            const size_t faceCount = alongX ? nx - 1 : ny - 1;
            float sum = 0.0f;
            int count = 0;
            for (size_t side = 0; side < 2; ++side) {
                if ((side == 0 && last == 0) || (side == 1 && last >= faceCount))
                    continue;
                const size_t fi = alongX ? i - 1 + side : i;
                const size_t fj = alongX ? j : j - 1 + side;
                const float value = faces[fj * faceColumns + fi];
                if (std::isfinite(value)) {
                    sum += value;
                    ++count;
                }
            }
            if (count > 0)
                centres[j * nx + i] = sum / float(count);
        }
    return centres;
}

// A unit that is not a fixed length of time counts as seconds.
double secondsPer(const QString& units)
{
    const double seconds = CfTime(units).secondsPerUnit();
    return seconds > 0.0 ? seconds : 1.0;
}

QString partner(const QString& standard)
{
    QString result = standard;
    result.replace(QLatin1String("eastward"), QLatin1String("northward"));
    if (result.startsWith(QLatin1String("x_")))
        result.replace(0, 2, QLatin1String("y_"));
    result.replace(QLatin1String("_x_"), QLatin1String("_y_"));
    return result;
}

bool eastwardVelocity(const QString& standard)
{
    const bool kind = standard.contains(QLatin1String("velocity")) ||
                      standard.contains(QLatin1String("wind")) ||
                      standard.contains(QLatin1String("current"));
    return kind && partner(standard) != standard;
}

// One read of a NetCDF file in its stages: choose the pair, check the
// layout, read the axes, read the slices, gather the scalars. The pair may
// come from other files on the same grid ("FILE:VAR"), which then stay open
// here; scalars come from the chosen file only.
class Reading
{
public:
    Reading(const LoadOptions& newOptions, FlowRecord& newRecord, QString* newReason)
        : options(newOptions), record(newRecord), reason(newReason)
    {
    }

    bool open(const QString& fileName)
    {
        {
            // The header lies at the start; a megabyte holds any real one.
            QFile raw(fileName);
            if (raw.open(QIODevice::ReadOnly)) {
                const QByteArray start = raw.read(qint64(1) << 20);
                if (!NetCdfClassicHeader(start, raw.size()).check(reason))
                    return false;
            }
        }
        if (!file.openFile(fileName, reason))
            return false;
        // Coordinates, cell bounds and masks share the grid's dimensions but
        // are never a velocity component: the choice leaves them out.
        QStringList notVelocity;
        for (const Variable& variable : file.variables)
            for (const char* attribute : {"coordinates", "bounds"})
                notVelocity += file.text(variable.id, attribute).split(QLatin1Char(' '));
        auto offered = [&](const Variable& variable) {
            nc_type type = NC_NAT;
            size_t length = 0;
            return !notVelocity.contains(variable.name) &&
                   nc_inq_att(file.id, variable.id, "axis", &type, &length) != NC_NOERR &&
                   nc_inq_att(file.id, variable.id, "flag_values", &type, &length) != NC_NOERR &&
                   !file.text(variable.id, "units").startsWith(QLatin1String("degree"));
        };
        record.readsOtherFiles = true;
        QStringList described;
        for (const Variable& variable : file.variables) {
            if (variable.dims.size() >= 2 && numeric(variable.type)) {
                Layout candidate;
                QString ignored;
                if (offered(variable) && layoutOf(file, variable, candidate, &ignored)) {
                    record.candidates.append(variable.name);
                    record.candidateGrids.append(QStringLiteral("%1 x %2")
                                                     .arg(file.dimensionLength(candidate.x))
                                                     .arg(file.dimensionLength(candidate.y)));
                }
                described.append(file.describe(variable));
            }
        }
        listing = described.isEmpty() ? QStringLiteral("no variables of two or more dimensions")
                                      : described.join(QStringLiteral(", "));
        return true;
    }

    // The velocity pair: as told, by standard name, by common name.
    bool choosePair()
    {
        if (!options.uVariable.isEmpty() || !options.vVariable.isEmpty()) {
            if (options.uVariable.isEmpty() || options.vVariable.isEmpty()) {
                *reason = QStringLiteral("name both velocity components");
                return false;
            }
            return named(options.uVariable, &u, uFile) && named(options.vVariable, &v, vFile);
        }
        std::vector<std::pair<const Variable*, const Variable*>> pairs;
        for (const Variable& a : file.variables) {
            const QString standard = file.text(a.id, "standard_name");
            if (!numeric(a.type) || a.dims.size() < 2 || !eastwardVelocity(standard))
                continue;
            for (const Variable& b : file.variables)
                if (&a != &b && onePlane(a, b) &&
                    file.text(b.id, "standard_name") == partner(standard))
                    pairs.emplace_back(&a, &b);
        }
        if (pairs.empty()) {
            for (const auto& [uName, vName] : VelocityPair::commonPairs()) {
                const Variable* a = file.find(uName);
                const Variable* b = file.find(vName);
                if (a && b && onePlane(*a, *b) && a->dims.size() >= 2 && numeric(a->type) &&
                    numeric(b->type))
                    pairs.emplace_back(a, b);
            }
        }
        if (pairs.empty())
            return VelocityPair::leaveOpen(
                record,
                QStringLiteral("no pair of velocity components found; variables: %1").arg(listing),
                reason);
        if (pairs.size() > 1) {
            QStringList found;
            for (const auto& pair : pairs)
                found.append(pair.first->name + QLatin1Char('/') + pair.second->name);
            record.suggestedPair = {pairs.front().first->name, pairs.front().second->name};
            return VelocityPair::leaveOpen(
                record,
                QStringLiteral("more than one pair of velocity components: %1")
                    .arg(found.join(QStringLiteral(", "))),
                reason);
        }
        u = pairs.front().first;
        v = pairs.front().second;
        return true;
    }

    // Both components on one horizontal grid that can be shown, and the
    // chosen step and level inside the file.
    bool checkLayout()
    {
        if (!layoutOf(uSource(), *u, layout, reason) || !layoutOf(vSource(), *v, vLayout, reason))
            return false;
        gridX = layout.x;
        gridY = layout.y;
        findStaggering();
        nx = uSource().dimensionLength(gridX);
        ny = uSource().dimensionLength(gridY);
        record.levels =
            layout.level >= 0
                ? int(std::min<size_t>(uSource().dimensionLength(layout.level), INT_MAX))
                : 1;
        if (!staggered && (vSource().dimensionLength(vLayout.x) != nx ||
                           vSource().dimensionLength(vLayout.y) != ny)) {
            *reason = QStringLiteral("%1 and %2 lie on different grids")
                          .arg(uSource().describe(*u), vSource().describe(*v));
            if (uSource().path != vSource().path)
                *reason += QStringLiteral(" (%1, %2)")
                               .arg(QFileInfo(uSource().path).fileName(),
                                    QFileInfo(vSource().path).fileName());
            return false;
        }
        if (nx < 2 || ny < 2 || double(nx) * double(ny) > double(INT_MAX)) {
            *reason = QStringLiteral("%1: a horizontal grid of %2 x %3 points cannot be shown")
                          .arg(uSource().describe(*u))
                          .arg(nx)
                          .arg(ny);
            return false;
        }
        steps = layout.t >= 0 ? uSource().dimensionLength(layout.t) : 1;
        record.timeSteps = int(std::min<size_t>(std::max<size_t>(steps, 1), INT_MAX));
        *reason = options.refusal(record.timeSteps, record.levels,
                                  layout.level >= 0 ? uSource().dimensionName(layout.level)
                                                    : QStringLiteral("the file"));
        return reason->isEmpty();
    }

    // The horizontal axes and the time between steps.
    bool readAxes()
    {
        QString yUnit;
        const bool xCoordinate = readAxis(uSource(), layout.x, record.x, &record.lengthUnit);
        const bool yCoordinate = readAxis(uSource(), layout.y, record.y, &yUnit);
        // Positions on the plane outrank the 1-D axes beside them, which
        // in ocean model output are nominal (MOM's tripolar grid, CICE, CMIP
        // index axes).
        if (staggered || (!xCoordinate && !yCoordinate) ||
            !planeCoordinateCandidates(uSource(), *u, gridY, gridX).empty()) {
            if (staggered) {
                readAxis(uSource(), gridX, record.x, &record.lengthUnit);
                readAxis(uSource(), gridY, record.y, &yUnit);
            }
            if (!readPlaneCoordinates(uSource(), *u, gridY, gridX, record, &planeCoordinates,
                                      reason))
                return false;
        }
        if (uSource().path != vSource().path && !sameAxes())
            return false;
        if (layout.t >= 0)
            readTimes(uSource().coordinate(layout.t));
        if (layout.t >= 0 && steps >= 2) {
            const Variable* time = uSource().coordinate(layout.t);
            double t[2] = {0.0, 1.0};
            const size_t start = 0;
            const size_t count = 2;
            if (time && numeric(time->type) &&
                nc_get_vara_double(uSource().id, time->id, &start, &count, t) == NC_NOERR)
                record.timeDifference =
                    float((t[1] - t[0]) * secondsPer(uSource().text(time->id, "units")));
            else
                record.timeDifference = 1.0f;
        }
        return true;
    }

    bool readSlices()
    {
        collectScalars();
        std::vector<SliceRead> reads = {
            {&uSource(), u, layout, options.step, options.level, &record.u},
            {&vSource(), v, vLayout, options.step, options.level, &record.v}};
        // The first scalar's array is sized while v is read.
        if (!scalarReads.empty())
            reads.push_back(scalarReads.front());
        if (!readInTurn(reads, 2))
            return false;
        record.velocityUnit = uSource().text(u->id, "units");
        if (staggered) {
            record.u = facesToCentres(record.u, nx, ny, true);
            record.v = facesToCentres(record.v, nx, ny, false);
        }
        return readMask() && rotate();
    }

    // Every other variable on the same horizontal dimensions; one with a
    // time or level dimension of its own takes index 0 of it.
    bool gatherScalars()
    {
        if (!readInTurn(scalarReads, scalarReads.size()))
            return false;
        for (FlowRecord::Field& field : scalarFields) {
            applyMask(field.values);
            record.scalars.push_back(std::move(field));
        }
        return true;
    }

private:
    // One slice to read, and where its values go.
    struct SliceRead
    {
        const File* file;
        const Variable* variable;
        Layout layout;
        int step;
        int level;
        FlowRecord::Values* out;
    };

    // The first `count` slices of `reads`, one after another on this thread
    // (the library is not thread-safe), while a helper prepares the next
    // one's array: sizing leaves fresh pages untouched, and their first
    // touch costs about what the library's read into them does, so the
    // helper clears them beside the read.
    bool readInTurn(std::vector<SliceRead>& reads, size_t count)
    {
        constexpr size_t worthAHelper = size_t(1) << 16;
        std::vector<size_t> sizes;
        for (const SliceRead& read : reads)
            sizes.push_back(read.file->dimensionLength(read.layout.x) *
                            read.file->dimensionLength(read.layout.y));
        for (size_t k = 0; k < count; ++k) {
            const bool ahead = k + 1 < reads.size() && sizes[k + 1] >= worthAHelper;
            bool read = false;
            ReaderThreads::run(ahead ? 2 : 1, [&](int helper) {
                if (helper) {
                    FlowRecord::Values& next = *reads[k + 1].out;
                    next.resize(sizes[k + 1]);
                    std::fill(next.begin(), next.end(), 0.0f);
                } else
                    read = readSlice(*reads[k].file, *reads[k].variable, reads[k].layout,
                                     reads[k].step, reads[k].level, *reads[k].out, reason);
            });
            if (!read)
                return false;
        }
        return true;
    }

    // Every other variable on the same horizontal dimensions; one with a
    // time or level dimension of its own takes index 0 of it.
    void collectScalars()
    {
        scalarReads.clear();
        scalarFields.clear();
        if (uFile)
            return;
        QStringList skip =
            file.text(u->id, "coordinates").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        skip += planeCoordinates;
        skip += QStringLiteral("mask_rho");
        std::vector<std::pair<const Variable*, Layout>> chosen;
        for (const Variable& variable : file.variables) {
            if (&variable == u || &variable == v || !numeric(variable.type) ||
                variable.dims.size() < 2 || skip.contains(variable.name))
                continue;
            Layout scalarLayout;
            QString ignored;
            if (!layoutOf(file, variable, scalarLayout, &ignored) || scalarLayout.x != gridX ||
                scalarLayout.y != gridY)
                continue;
            chosen.emplace_back(&variable, scalarLayout);
            FlowRecord::Field field;
            field.name = variable.name;
            field.unit = file.text(variable.id, "units");
            scalarFields.push_back(std::move(field));
        }
        for (size_t k = 0; k < chosen.size(); ++k) {
            const Layout& scalarLayout = chosen[k].second;
            const int scalarStep = scalarLayout.t == layout.t ? options.step : 0;
            const int scalarLevel = scalarLayout.level == layout.level ? options.level : 0;
            scalarReads.push_back({&file, chosen[k].first, scalarLayout, scalarStep, scalarLevel,
                                   &scalarFields[k].values});
        }
    }

    std::vector<FlowRecord::Field> scalarFields;
    std::vector<SliceRead> scalarReads;

    // Two components that may make a pair: on the same dimensions, or on the
    // two face grids of a C-grid, which differ in their horizontal pair.
    bool onePlane(const Variable& a, const Variable& b) const
    {
        if (a.dims == b.dims)
            return true;
        const size_t rank = a.dims.size();
        return rank >= 2 && b.dims.size() == rank &&
               std::equal(a.dims.begin(), a.dims.end() - 2, b.dims.begin());
    }

    // A C-grid (ROMS): u on the faces between the centres along x, one column
    // fewer than the centres' grid, v along y, one row fewer; the centres'
    // grid is the one lon_rho, mask_rho or angle lie on. The record then
    // takes the centres' grid.
    void findStaggering()
    {
        if (uSource().path != vSource().path)
            return;
        const File& source = uSource();
        for (const char* name : {"lon_rho", "mask_rho", "angle", "x_rho"}) {
            const Variable* c = source.find(QLatin1String(name));
            if (!c || c->dims.size() < 2)
                continue;
            const int yDim = c->dims[c->dims.size() - 2];
            const int xDim = c->dims[c->dims.size() - 1];
            const size_t columns = source.dimensionLength(xDim);
            const size_t rows = source.dimensionLength(yDim);
            if (source.dimensionLength(layout.x) + 1 == columns &&
                source.dimensionLength(layout.y) == rows &&
                source.dimensionLength(vLayout.x) == columns &&
                source.dimensionLength(vLayout.y) + 1 == rows) {
                staggered = true;
                gridX = xDim;
                gridY = yDim;
            }
            return;
        }
    }

    // A variable of the file on the record's grid, at index 0 of any other
    // dimension; empty when there is none.
    FlowRecord::Values onGrid(const char* name)
    {
        const Variable* c = uSource().find(QLatin1String(name));
        Layout cLayout;
        QString ignored;
        FlowRecord::Values values;
        if (!c || !numeric(c->type) || c->dims.size() < 2 ||
            !layoutOf(uSource(), *c, cLayout, &ignored) || cLayout.x != gridX ||
            cLayout.y != gridY || !readSlice(uSource(), *c, cLayout, 0, 0, values, &ignored))
            values.clear();
        return values;
    }

    bool readMask()
    {
        mask = onGrid("mask_rho");
        applyMask(record.u);
        applyMask(record.v);
        return true;
    }

    // Land (a mask of 0) has no data.
    void applyMask(FlowRecord::Values& values) const
    {
        if (mask.size() != values.size())
            return;
        for (size_t k = 0; k < values.size(); ++k)
            if (mask[k] == 0.0f)
                values[k] = std::numeric_limits<float>::quiet_NaN();
    }

    // Components along a ROMS grid's own directions (angle: from east to the
    // grid's x axis, in radians) turned to east and north. Components named
    // eastward already are, and an "angle" elsewhere may mean anything.
    bool rotate()
    {
        const bool roms = staggered || uSource().find(QStringLiteral("lon_rho")) ||
                          uSource().find(QStringLiteral("mask_rho"));
        if (!roms || uSource().text(u->id, "standard_name").startsWith(QLatin1String("eastward")) ||
            u->name.contains(QLatin1String("east"), Qt::CaseInsensitive))
            return true;
        const FlowRecord::Values angle = onGrid("angle");
        if (angle.size() != record.u.size() || angle.size() != record.v.size())
            return true;
        const Variable* a = uSource().find(QStringLiteral("angle"));
        const double toRadians =
            uSource().text(a->id, "units").toLower().startsWith(QLatin1String("degree"))
                ? std::acos(-1.0) / 180.0
                : 1.0;
        for (size_t k = 0; k < angle.size(); ++k) {
            const double turn = double(angle[k]) * toRadians;
            const double c = std::cos(turn);
            const double s = std::sin(turn);
            const double gridU = record.u[k];
            const double gridV = record.v[k];
            record.u[k] = float(gridU * c - gridV * s);
            record.v[k] = float(gridU * s + gridV * c);
        }
        record.velocityNote =
            QStringLiteral("rotated from grid directions to east/north by %1").arg(a->name);
        return true;
    }

    // Components from two files must lie on one grid, not only on one of the
    // same size, and at the same times: the coordinate values of both agree
    // (uwnd of one year and vwnd of the next would make a wind of neither).
    bool sameAxes()
    {
        const std::pair<int, int> pairs[3] = {
            {layout.x, vLayout.x}, {layout.y, vLayout.y}, {layout.t, vLayout.t}};
        for (const auto& [uDim, vDim] : pairs) {
            if (uDim < 0 || vDim < 0)
                continue;
            std::vector<double> uAxis;
            std::vector<double> vAxis;
            QString unit;
            readAxis(uSource(), uDim, uAxis, &unit);
            readAxis(vSource(), vDim, vAxis, &unit);
            const QString files =
                QStringLiteral("%1 and %2 lie on different grids: %3")
                    .arg(QFileInfo(uSource().path).fileName(), QFileInfo(vSource().path).fileName(),
                         uSource().dimensionName(uDim));
            if (uAxis.size() != vAxis.size()) {
                *reason = files + QStringLiteral(" has %1 values in one, %2 in the other")
                                      .arg(uAxis.size())
                                      .arg(vAxis.size());
                return false;
            }
            double span = 0.0;
            for (size_t k = 0; k < uAxis.size(); ++k)
                span = std::max(span, std::abs(uAxis[k] - uAxis.front()));
            for (size_t k = 0; k < uAxis.size(); ++k) {
                if (!(std::abs(uAxis[k] - vAxis[k]) <= 1e-6 * span)) {
                    *reason = files + QStringLiteral(" is %1 at index %2 in one, %3 in the other")
                                          .arg(uAxis[k])
                                          .arg(k)
                                          .arg(vAxis[k]);
                    return false;
                }
            }
        }
        return true;
    }

    // The time coordinate's values, for the dates of the steps; a time
    // dimension of a million steps is no series anyone plays.
    void readTimes(const Variable* time)
    {
        if (!time || !numeric(time->type) || steps > (size_t(1) << 20))
            return;
        std::vector<double> values(steps);
        const size_t start = 0;
        if (nc_get_vara_double(uSource().id, time->id, &start, &steps, values.data()) != NC_NOERR)
            return;
        record.times = std::move(values);
        record.timeUnits =
            CfTime(uSource().text(time->id, "units"), uSource().text(time->id, "calendar"));
    }

    const File& uSource() const { return uFile ? *uFile : file; }
    const File& vSource() const { return vFile ? *vFile : file; }

    bool named(const QString& option, const Variable** found, std::unique_ptr<File>& other)
    {
        QString otherName;
        QString variableName;
        VelocityPair::splitVariable(option, &otherName, &variableName);
        const File* source = &file;
        if (!otherName.isEmpty()) {
            other.reset(new File);
            if (!other->openFile(otherName, reason))
                return false;
            source = other.get();
        }
        *found = source->find(variableName);
        if (!*found || !numeric((*found)->type) || (*found)->dims.size() < 2) {
            *reason = QStringLiteral("no variable \"%1\" of two or more dimensions; variables: %2")
                          .arg(variableName, listing);
            return false;
        }
        return true;
    }

    const LoadOptions& options;
    FlowRecord& record;
    QString* reason;
    File file;
    std::unique_ptr<File> uFile;
    std::unique_ptr<File> vFile;
    QString listing;
    const Variable* u = nullptr;
    const Variable* v = nullptr;
    Layout layout;
    Layout vLayout;
    // The record's grid: u's horizontal dimensions, or the cell centres'
    // where the components lie on the faces of a C-grid.
    int gridX = -1;
    int gridY = -1;
    bool staggered = false;
    FlowRecord::Values mask;
    QStringList planeCoordinates;
    size_t nx = 0;
    size_t ny = 0;
    size_t steps = 1;
};

} // namespace

const NetCdfReader& NetCdfReader::instance()
{
    static const NetCdfReader format;
    return format;
}

FileFormat::Claim NetCdfReader::probe(const QByteArray& head, const QString& fileName) const
{
    if (head.startsWith("CDF\x01") || head.startsWith("CDF\x02") || head.startsWith("CDF\x05") ||
        head.startsWith("\x89HDF\r\n\x1a\n"))
        return Claim::Signature;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffixes().contains(suffix) || suffix == QLatin1String("netcdf") ? Claim::Suffix
                                                                            : Claim::None;
}

bool NetCdfReader::read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                        QString* reason) const
{
    Reading reading(options, record, reason);
    return reading.open(fileName) && reading.choosePair() && reading.checkLayout() &&
           reading.readAxes() && reading.readSlices() && reading.gatherScalars();
}
