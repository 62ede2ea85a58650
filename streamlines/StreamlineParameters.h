#pragma once

#include "IntegrationMethod.h"

// The tracing parameters; lengths in domain units (widths of the data set).
// Defaults are the layer's own start values (the form later sets dSep 0.03,
// dTest 0.5, stepSize 0.003). Single-precision defaults are deliberate:
// they decide the exact positions of the traced points.
struct StreamlineParameters
{
    double stepSize = double(0.004f);
    double dSep = 0.05;
    double dTest = 0.5; // fraction of dSep; dTest * dSep is the separation distance
    double textureLength = 30.0;
    int method = EulerMethod;
};
