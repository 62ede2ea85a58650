#include "formats/PointTable.h"

#include "formats/ReaderThreads.h"
#include "formats/VelocityPair.h"
#include "formats/VtkArrays.h"

#include <QSet>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The grid lines of one axis: sorted distinct values, values within a
// hundredth of the typical spacing merged into the first of them.
std::vector<double> gridLines(const PointTable::Column& values)
{
    // A grid of a million points has only a thousand or so distinct values
    // per axis: they are gathered through a hash table on their bits first,
    // so that only they are sorted. -0 and +0 both get in, and meet again in
    // std::unique below.
    std::vector<double> sorted;
    {
        std::vector<std::uint64_t> table(size_t(64), 0);
        std::vector<char> used(table.size(), 0);
        size_t mask = table.size() - 1;
        const auto slotOf = [](std::uint64_t bits, size_t tableMask) {
            return size_t((bits * 0x9E3779B97F4A7C15ull) >> 32) & tableMask;
        };
        for (const double value : values) {
            std::uint64_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            size_t slot = slotOf(bits, mask);
            while (used[slot] && table[slot] != bits)
                slot = (slot + 1) & mask;
            if (used[slot])
                continue;
            used[slot] = 1;
            table[slot] = bits;
            sorted.push_back(value);
            if (sorted.size() * 2 > table.size()) {
                // Grow: every distinct value so far goes into a table twice the size.
                table.assign(table.size() * 2, 0);
                used.assign(table.size(), 0);
                mask = table.size() - 1;
                for (const double kept : sorted) {
                    std::uint64_t keptBits;
                    std::memcpy(&keptBits, &kept, sizeof keptBits);
                    size_t s = slotOf(keptBits, mask);
                    while (used[s])
                        s = (s + 1) & mask;
                    used[s] = 1;
                    table[s] = keptBits;
                }
            }
        }
    }
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (sorted.size() < 2)
        return sorted;
    const double range = sorted.back() - sorted.front();
    const double tolerance = 0.01 * range / double(sorted.size() - 1);
    std::vector<double> lines;
    lines.push_back(sorted.front());
    for (size_t k = 1; k < sorted.size(); ++k)
        if (sorted[k] - lines.back() > tolerance)
            lines.push_back(sorted[k]);
    return lines;
}

// The last line not above the value: merged values lie just above it.
// `hint` is the answer for the row before: files list their points along one
// axis, so the answer is mostly the same line or the next.
int lineIndex(const std::vector<double>& lines, double value, int* hint)
{
    const int count = int(lines.size());
    const auto fits = [&](int k) {
        return k >= 0 && k < count && lines[size_t(k)] <= value &&
               (k + 1 == count || value < lines[size_t(k) + 1]);
    };
    if (!fits(*hint)) {
        if (fits(*hint + 1)) {
            ++*hint;
        } else {
            const auto above = std::upper_bound(lines.begin(), lines.end(), value);
            *hint = int(above - lines.begin()) - 1;
        }
    }
    return *hint;
}

QString number(double value)
{
    return QString::number(value, 'g', 9);
}

} // namespace

// PIV software keeps rejected vectors in its exports and flags them in a
// column instead: "isNaN" (1 = rejected) or the vector type (0 = rejected).
// Left as they are they would show as still flow and pull the speed range to
// zero, so their vectors become missing; the flags stay a scalar set.
void PointTable::rejectMasked(const FlowRecord::Field& field, FlowRecord& record)
{
    const QString key = field.name.toLower().remove(QLatin1Char(' ')).remove(QLatin1Char('_'));
    const bool isNaNFlag = key == QLatin1String("isnan");
    if (!isNaNFlag && key != QLatin1String("vectortype") && key != QLatin1String("typevector"))
        return;
    const float rejected = isNaNFlag ? 1.0f : 0.0f;
    for (size_t k = 0; k < field.values.size(); ++k)
        if (field.values[k] == rejected)
            record.u[k] = record.v[k] = std::numeric_limits<float>::quiet_NaN();
}

void PointTable::splitUnit(const QString& text, QString* name, QString* unit)
{
    QString trimmed = text.trimmed();
    for (const QChar open : {QLatin1Char('['), QLatin1Char('(')}) {
        const QChar close = open == QLatin1Char('[') ? QLatin1Char(']') : QLatin1Char(')');
        const int start = trimmed.indexOf(open);
        if (start > 0 && trimmed.endsWith(close)) {
            *name = trimmed.left(start).trimmed();
            *unit = trimmed.mid(start + 1, trimmed.size() - start - 2).trimmed();
            return;
        }
    }
    *name = trimmed;
    unit->clear();
}

bool PointTable::mapColumns(const QStringList& names, int count, const LoadOptions& options,
                            int roles[4], FlowRecord& record, QString* reason)
{
    QStringList bare;
    for (const QString& text : names) {
        QString name;
        QString unit;
        splitUnit(text, &name, &unit);
        bare.append(name);
    }
    record.candidates = bare;
    for (int r = 0; r < 4; ++r)
        roles[r] = -1;
    auto named = [&](const QString& option, int* role) {
        if (option.isEmpty())
            return true;
        for (int c = 0; c < bare.size(); ++c)
            if (bare[c] == option || names[c] == option)
                *role = c;
        if (*role < 0) {
            bool isNumber = false;
            const int column = option.toInt(&isNumber);
            if (isNumber && column >= 1 && column <= count)
                *role = column - 1;
        }
        if (*role < 0) {
            *reason = QStringLiteral("no column named \"%1\"; columns: %2")
                          .arg(option, bare.isEmpty() ? QStringLiteral("(no header)")
                                                      : bare.join(QStringLiteral(", ")));
            return false;
        }
        return true;
    };
    if (count < 4) {
        *reason =
            QStringLiteral("%1 columns; x, y and two velocity components need four").arg(count);
        return false;
    }
    if (!named(options.uVariable, &roles[2]) || !named(options.vVariable, &roles[3]))
        return false;
    if (!bare.isEmpty()) {
        roles[0] = VelocityPair::findOnly(bare, VelocityPair::isXAxis);
        roles[1] = VelocityPair::findOnly(bare, VelocityPair::isYAxis);
        if (roles[2] < 0)
            roles[2] = VelocityPair::findOnly(bare, VelocityPair::isXComponent, roles[0]);
        if (roles[3] < 0)
            roles[3] = VelocityPair::findOnly(bare, VelocityPair::isYComponent, roles[1]);
        if (roles[2] == -2 || roles[3] == -2)
            return VelocityPair::leaveOpen(
                record,
                QStringLiteral("more than one column could be a velocity component: %1")
                    .arg(bare.join(QStringLiteral(", "))),
                reason);
        if (roles[0] < 0 || roles[1] < 0 || roles[0] == -2 || roles[1] == -2) {
            roles[0] = 0;
            roles[1] = 1;
        }
        const bool unnamed = roles[2] < 0 && roles[3] < 0;
        if (!unnamed && (roles[2] < 0 || roles[3] < 0))
            return VelocityPair::leaveOpen(
                record,
                QStringLiteral("only one velocity component found among the columns: %1")
                    .arg(bare.join(QStringLiteral(", "))),
                reason);
        if (unnamed) {
            roles[2] = 2;
            roles[3] = 3;
        }
    } else {
        roles[0] = 0;
        roles[1] = 1;
        if (roles[2] < 0)
            roles[2] = 2;
        if (roles[3] < 0)
            roles[3] = 3;
    }
    const QSet<int> distinct{roles[0], roles[1], roles[2], roles[3]};
    if (distinct.size() != 4) {
        *reason = QStringLiteral("x, y, u and v must be four different columns");
        return false;
    }
    return true;
}

bool PointTable::toRecord(const LoadOptions& options, FlowRecord& record, QString* reason,
                          size_t orderedColumns, size_t orderedRows) const
{
    const int count = int(columns.size());
    int roles[4];
    if (!mapColumns(names, count, options, roles, record, reason))
        return false;
    const Column& px = columns[size_t(roles[0])];
    const Column& py = columns[size_t(roles[1])];
    const size_t rows = px.size();
    // The two axes side by side: each its first non-finite value, then its
    // lines.
    size_t firstNonFinite[2] = {rows, rows};
    const int axisThreads = ReaderThreads::countFor(qint64(rows), qint64(1) << 16, 2);
    ReaderThreads::run(axisThreads, [&](int first) {
        for (int axis = first; axis < 2; axis += axisThreads) {
            const Column& values = axis == 0 ? px : py;
            const auto bad = std::find_if(values.begin(), values.end(),
                                          [](double v) { return !std::isfinite(v); });
            firstNonFinite[axis] = size_t(bad - values.begin());
            if (firstNonFinite[axis] == rows)
                (axis == 0 ? record.x : record.y) = gridLines(values);
        }
    });
    if (const size_t r = std::min(firstNonFinite[0], firstNonFinite[1]); r < rows) {
        *reason = QStringLiteral("point %1 has a coordinate that is not finite").arg(r + 1);
        return false;
    }
    const size_t nx = record.x.size();
    const size_t ny = record.y.size();
    if (nx < 2 || ny < 2) {
        *reason = QStringLiteral("%1 distinct x and %2 distinct y values; the grid needs two "
                                 "of each")
                      .arg(nx)
                      .arg(ny);
        return false;
    }
    // A rectilinear grid with a few gaps; scattered or curvilinear points
    // give about as many distinct values as points along each axis.
    if (double(nx) * double(ny) > 2.0 * double(rows) || double(nx) * double(ny) > double(INT_MAX)) {
        if (orderedColumns * orderedRows == rows && orderedColumns >= 2 && orderedRows >= 2) {
            record.x.clear();
            record.y.clear();
            return fill(roles, rows, {}, record) &&
                   VtkArrays::gridFromPoints(px, py, orderedColumns, orderedRows, record, reason);
        }
        *reason = QStringLiteral("the %1 points do not form a rectilinear grid (%2 distinct x and "
                                 "%3 distinct y values)")
                      .arg(rows)
                      .arg(nx)
                      .arg(ny);
        return false;
    }
    const size_t points = nx * ny;
    // Most files list the points in grid order, x fastest: then point k is
    // row k, which each block of rows tells for itself, and there is no
    // point to look up twice.
    if (rows == points) {
        const int threads = ReaderThreads::countFor(qint64(rows), qint64(1) << 16);
        std::vector<char> ordered(size_t(threads), 0);
        ReaderThreads::run(threads, [&](int t) {
            int columnHint = 0;
            int rowHint = 0;
            const size_t last = rows * size_t(t + 1) / size_t(threads);
            size_t r = rows * size_t(t) / size_t(threads);
            for (; r < last; ++r)
                if (size_t(lineIndex(record.y, py[r], &rowHint)) * nx +
                        size_t(lineIndex(record.x, px[r], &columnHint)) !=
                    r)
                    break;
            ordered[size_t(t)] = r == last;
        });
        if (std::all_of(ordered.begin(), ordered.end(), [](char o) { return o != 0; }))
            return fill(roles, points, {}, record);
    }
    std::vector<int> source(points, -1);
    int columnHint = 0;
    int rowHint = 0;
    for (size_t r = 0; r < rows; ++r) {
        const size_t k = size_t(lineIndex(record.y, py[r], &rowHint)) * nx +
                         size_t(lineIndex(record.x, px[r], &columnHint));
        if (source[k] >= 0) {
            for (const Column& column : columns) {
                const double a = column[size_t(source[k])];
                const double b = column[r];
                if (!(a == b || (std::isnan(a) && std::isnan(b)))) {
                    *reason = QStringLiteral("points %1 and %2 share the grid point (%3, %4) with "
                                             "different values")
                                  .arg(source[k] + 1)
                                  .arg(r + 1)
                                  .arg(number(px[r]), number(py[r]));
                    return false;
                }
            }
        }
        source[k] = int(r);
    }
    return fill(roles, points, source, record);
}

bool PointTable::fill(const int roles[4], size_t points, const std::vector<int>& source,
                      FlowRecord& record) const
{
    const int count = int(columns.size());
    QString unused;
    if (!names.isEmpty()) {
        splitUnit(names[roles[0]], &unused, &record.lengthUnit);
        splitUnit(names[roles[2]], &unused, &record.velocityUnit);
    }
    std::vector<FlowRecord::Field> fields;
    std::vector<std::pair<int, FlowRecord::Values*>> gathers = {{roles[2], &record.u},
                                                                {roles[3], &record.v}};
    for (int c = 0; c < count; ++c)
        if (c != roles[0] && c != roles[1] && c != roles[2] && c != roles[3])
            gathers.emplace_back(c, nullptr);
    fields.resize(gathers.size() - 2);
    for (size_t g = 2; g < gathers.size(); ++g)
        gathers[g].second = &fields[g - 2].values;
    // Each column gathered on its own thread, in turn.
    const int threads =
        ReaderThreads::countFor(qint64(points), qint64(1) << 16, qint64(gathers.size()));
    ReaderThreads::run(threads, [&](int first) {
        for (size_t g = size_t(first); g < gathers.size(); g += size_t(threads)) {
            const Column& values = columns[size_t(gathers[g].first)];
            FlowRecord::Values& out = *gathers[g].second;
            out.assign(points, std::numeric_limits<float>::quiet_NaN());
            for (size_t k = 0; k < points; ++k) {
                const int r = source.empty() ? int(k) : source[k];
                if (r >= 0)
                    out[k] = float(values[size_t(r)]);
            }
        }
    });
    for (size_t g = 2; g < gathers.size(); ++g) {
        FlowRecord::Field& field = fields[g - 2];
        if (!names.isEmpty())
            splitUnit(names[gathers[g].first], &field.name, &field.unit);
        rejectMasked(field, record);
        record.scalars.push_back(std::move(field));
    }
    return true;
}
