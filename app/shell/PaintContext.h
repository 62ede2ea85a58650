#pragma once

#include <QRectF>

class QPainter;

// How the view port asks a layer to paint: draw the `source` part of the
// layer image (image pixels) into `target` (painter coordinates); both have
// the same size. The painter's opacity is already the layer's and
// antialiasing is on. Valid only during one Layer::draw call.
struct PaintContext
{
    QPainter* painter = nullptr;
    QRectF target;
    QRectF source;
};
