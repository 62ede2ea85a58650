#pragma once

#include "app/shell/Layer.h"
#include "render/LineIntegralConvolution.h"
#include "render/StreamlineParameters.h"
#include "transfer/TransferFunction.h"

#include <QList>
#include <QPointF>
#include <QString>

// What a session holds of one layer of the stack: the panel's visibility and
// opacity, the transfer function, and the settings of the layer's kind (the
// others keep their start values). Values lie within the forms' ranges.
struct SessionLayer
{
    Layer::Kind kind = Layer::Kind::Other;
    bool visible = true;
    float opacity = 1.0f;
    TransferFunction function;

    // Colour coding: the field as the selector lists it (found again by
    // name, so a file with other sets keeps the choice where it can), its
    // position there, and whether the ends span the whole series.
    QString field;
    int fieldIndex = 0;
    bool wholeSeries = false;
    // The LIC look.
    bool lic = false;
    LineIntegralConvolution::Parameters licParameters;
    LineIntegralConvolution::Combine licCombine = LineIntegralConvolution::Multiply;

    // Arrows: the three sliders.
    int arrowLength = 100;
    int arrowSize = 100;
    int arrowQuantity = 20;
    bool curlyArrows = false;

    // Streamlines.
    StreamlineParameters streamlines;
    bool autoUpdate = true;
    // The user's seeds in the file's coordinates, and whether the placement
    // fills evenly from their lines.
    QList<QPointF> seeds;
    bool fillEvenly = true;
};
