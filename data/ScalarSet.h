#pragma once

#include "data/SharedArray.h"

#include <QString>

// One scalar field over the grid, in grid-point order, with the extremes of
// the finite values read from the file.
struct ScalarSet
{
    SharedArray<float> values;
    float minimum = 0.0f;
    float maximum = 0.0f;
    // As the file names them; empty for the native format.
    QString name;
    QString unit;
};
