#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

// The box a figure's key sits in (reference arrow, scale bar): opaque white
// with a thin grey frame, whatever opacity the layers were painted with.
// Saves the painter's state, which the caller restores after drawing the
// key's contents.
inline void beginCornerBox(QPainter& painter, const QRectF& box)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setOpacity(1.0);
    painter.setPen(QColor(0, 0, 0, 160));
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRoundedRect(box, 4.0, 4.0);
}
