#include "data/ProbeColumns.h"

#include "data/ExtractionTable.h"
#include "data/FlowData.h"

void ProbeColumns::add(ExtractionTable& table, const FlowData& data,
                       const QList<const ScalarSet*>& derived, bool lineComponents)
{
    const QString velocity = data.velocityUnit();
    table.addColumn(QStringLiteral("u"), velocity);
    table.addColumn(QStringLiteral("v"), velocity);
    table.addColumn(QStringLiteral("speed"), velocity);
    if (lineComponents) {
        table.addColumn(QStringLiteral("tangential"), velocity);
        table.addColumn(QStringLiteral("normal"), velocity);
    }
    for (int s = 0; s + 1 < data.scalarSetCount(); ++s)
        table.addColumn(scalarName(data, s), data.scalarSets().at(s).unit);
    for (const ScalarSet* set : derived)
        table.addColumn(set->name, set->unit);
}

void ProbeColumns::append(std::vector<double>& row, const FlowProbe::Reading& reading,
                          const QList<double>& derived, const QPointF* tangent)
{
    row.push_back(reading.vx);
    row.push_back(reading.vy);
    row.push_back(reading.speed);
    if (tangent) {
        row.push_back(reading.vx * tangent->x() + reading.vy * tangent->y());
        // n = (-t.y, t.x)
        row.push_back(-reading.vx * tangent->y() + reading.vy * tangent->x());
    }
    row.insert(row.end(), reading.scalars.cbegin(), reading.scalars.cend());
    row.insert(row.end(), derived.cbegin(), derived.cend());
}

QString ProbeColumns::scalarName(const FlowData& data, int index)
{
    const QString& name = data.scalarSets().at(index).name;
    return name.isEmpty() ? QStringLiteral("Scalar ") + QString::number(index) : name;
}
