#pragma once

#include "data/FlowData.h"
#include "data/Vector3.h"

#include <functional>

// A data set whose field is a function of the domain position (x across,
// y in widths), for exact expectations without files.
class AnalyticField : public FlowData
{
public:
    using Field = std::function<Vector3(double x, double y)>;

    AnalyticField(float aspectRatio, Field field) : field(std::move(field))
    {
        aspect = aspectRatio;
    }

    Vector3 vectorAt(double x, double y) const override { return field(x, y); }

private:
    Field field;
};
