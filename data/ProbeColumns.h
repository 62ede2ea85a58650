#pragma once

#include "data/FlowProbe.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <vector>

class ExtractionTable;
class FlowData;
struct ScalarSet;

// The quantities a profile sample and a point's history share, as columns:
// u, v and the speed in the velocity unit; with a direction of travel t the
// tangential component u·t and the normal one u·n (n is t turned by +90
// degrees, to the left of the direction of travel); then every scalar set of
// the file (its own name, "Scalar k" where the file names none, in its unit),
// then the derived sets given, in their order.
class ProbeColumns
{
public:
    static void add(ExtractionTable& table, const FlowData& data,
                    const QList<const ScalarSet*>& derived, bool lineComponents);
    // The values of one reading in the order of `add`. `tangent` (a unit
    // vector) only with lineComponents; `derived` as FlowProbe::readSets gives them.
    static void append(std::vector<double>& row, const FlowProbe::Reading& reading,
                       const QList<double>& derived, const QPointF* tangent);
    // Scalar set `index` of the file as the columns name it.
    static QString scalarName(const FlowData& data, int index);
};
