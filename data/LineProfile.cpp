#include "data/LineProfile.h"

#include "data/FlowData.h"
#include "data/FlowProbe.h"
#include "data/ProbeColumns.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

FlowProbe::Reading readAt(const FlowData& data, const QPointF& point)
{
    const QPointF unit = FlowProbe::unitPosition(data, point.x(), point.y());
    return FlowProbe::read(data, unit.x(), unit.y());
}

} // namespace

LineProfile::LineProfile(const FlowData& data, const QList<QPointF>& vertices, int samples,
                         const QList<const ScalarSet*>& derived)
    : corners(vertices), unitOfFlux(fluxUnit(data.velocityUnit(), data.lengthUnit()))
{
    const int segments = int(vertices.size()) - 1;
    std::vector<double> start(size_t(std::max(segments, 0)) + 1, 0.0);
    std::vector<QPointF> tangents;
    for (int k = 0; k < segments; ++k) {
        const QPointF d = vertices.at(k + 1) - vertices.at(k);
        const double length = std::hypot(d.x(), d.y());
        start[size_t(k) + 1] = start[size_t(k)] + length;
        tangents.push_back(length > 0.0 ? d / length : QPointF());
    }
    totalLength = start.back();
    const QString lengthUnit = data.lengthUnit();
    table.addColumn(QStringLiteral("s"), lengthUnit);
    table.addColumn(QStringLiteral("x"), lengthUnit);
    table.addColumn(QStringLiteral("y"), lengthUnit);
    ProbeColumns::add(table, data, derived, true);
    if (segments < 1 || samples < 2 || !(totalLength > 0.0) || !std::isfinite(totalLength)) {
        fluxValue = notANumber;
        return;
    }

    std::vector<double> row;
    row.reserve(size_t(table.columnCount()));
    int segment = 0;
    for (int k = 0; k < samples; ++k) {
        const bool last = k == samples - 1;
        const double s = last ? totalLength : totalLength * k / (samples - 1);
        // The segment holding s: [start, end), the last sample on the last
        // segment (of some length: a repeated vertex has none).
        while (segment + 1 < segments && (s >= start[size_t(segment) + 1] || last))
            ++segment;
        while (segment > 0 && !(start[size_t(segment) + 1] > start[size_t(segment)]))
            --segment;
        const QPointF a = vertices.at(segment);
        const QPointF b = vertices.at(segment + 1);
        const double span = start[size_t(segment) + 1] - start[size_t(segment)];
        const double along = std::clamp((s - start[size_t(segment)]) / span, 0.0, 1.0);
        const QPointF point = last ? b : a + along * (b - a);
        const QPointF unit = FlowProbe::unitPosition(data, point.x(), point.y());
        const FlowProbe::Reading reading = FlowProbe::read(data, unit.x(), unit.y());
        outside += reading.inside ? 0 : 1;
        row.clear();
        row.push_back(s);
        row.push_back(point.x());
        row.push_back(point.y());
        ProbeColumns::append(row, reading,
                             derived.isEmpty()
                                 ? QList<double>()
                                 : FlowProbe::readSets(data, derived, unit.x(), unit.y()),
                             &tangents[size_t(segment)]);
        table.appendRow(row);
    }

    std::vector<QPointF> normals;
    for (const QPointF& t : tangents)
        normals.push_back(QPointF(-t.y(), t.x()));
    integrate(data, start, normals);
}

void LineProfile::integrate(const FlowData& data, const std::vector<double>& segmentStart,
                            const std::vector<QPointF>& normals)
{
    const std::vector<double>& s = table.values(S);
    const std::vector<double>& u = table.values(U);
    const std::vector<double>& v = table.values(V);
    const int segments = int(normals.size());
    const int samples = table.rowCount();
    double sum = 0.0;
    bool any = false;
    int k = 0; // the first sample not yet passed
    for (int j = 0; j < segments; ++j) {
        const double begin = segmentStart[size_t(j)];
        const double end = segmentStart[size_t(j) + 1];
        if (!(end > begin))
            continue;
        // Nodes of this segment: its two vertices and the samples strictly
        // between them; the vertices are read afresh (a sample on a vertex
        // reads the same).
        const FlowProbe::Reading first = readAt(data, corners.at(j));
        const FlowProbe::Reading final = readAt(data, corners.at(j + 1));
        const QPointF n = normals[size_t(j)];
        double previousS = begin;
        double previous = first.vx * n.x() + first.vy * n.y();
        auto addInterval = [&](double nextS, double next) {
            const double width = nextS - previousS;
            if (std::isfinite(previous) && std::isfinite(next)) {
                sum += 0.5 * width * (previous + next);
                any = true;
            } else {
                gapLength += width;
            }
            previousS = nextS;
            previous = next;
        };
        while (k < samples && s[size_t(k)] <= begin)
            ++k;
        for (; k < samples && s[size_t(k)] < end; ++k)
            addInterval(s[size_t(k)], u[size_t(k)] * n.x() + v[size_t(k)] * n.y());
        addInterval(end, final.vx * n.x() + final.vy * n.y());
    }
    fluxValue = any ? sum : notANumber;
}

QString LineProfile::fluxUnit(const QString& velocityUnit, const QString& lengthUnit)
{
    if (velocityUnit.isEmpty() || lengthUnit.isEmpty())
        return QString();
    for (const QChar separator : {QLatin1Char('/'), QLatin1Char(' ')}) {
        const QString prefix = lengthUnit + separator;
        if (velocityUnit.startsWith(prefix))
            return lengthUnit + QLatin1Char('2') + velocityUnit.mid(lengthUnit.size());
    }
    return velocityUnit + QStringLiteral("·") + lengthUnit;
}
