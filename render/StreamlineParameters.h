#pragma once

#include "render/IntegrationMethod.h"

// Every setting of a streamline layer, with the layer's start values; lengths
// in domain units (widths of the data set). The tracer reads the tracing
// settings, StreamlineRenderer the look. The layer's form later hands over
// its own spin-box values (dSep 0.03, dTest 0.5, stepSize 0.003).
// Single-precision start values are deliberate: they decide the exact
// positions of the traced points. Kept here, beside the renderer, so that
// render/ needs nothing from streamlines/; the tracer includes it downwards.
struct StreamlineParameters
{
    // Tracing.
    double stepSize = double(0.004f);
    double dSep = 0.05;
    double dTest = 0.5;          // fraction of dSep; dTest * dSep is the separation distance
    double textureLength = 30.0; // points per texture period
    int method = EulerMethod;

    // Look.
    double lineWidth = double(0.05f); // the stroke is lineWidth * 20 pixels wide
    double glyphSize = 0.5;
    bool glyphs = false;
    bool texture = false;
    bool tapering = false;
};
