#pragma once

#include "transfer/HoverPoints.h"
#include "transfer/TransferFunctionWidget.h"

#include <QApplication>
#include <QMouseEvent>

// Sets a transfer function of constant opacity (1 - y) running from `left`
// at 0 to `right` at 1, colouring the two end points by double-clicks as a
// user would; every edit emits colorsChanged.
inline void setTransferFunction(TransferFunctionWidget* function, const QColor& left,
                                const QColor& right, double y)
{
    function->resize(200, 80);
    HoverPoints* editor = function->editor();
    editor->setPoints(QPolygonF({QPointF(0, y), QPointF(1, y)}));
    const int row = int(y * 79);
    const auto pick = [&](const QColor& colour, int x) {
        editor->setColorPicker([colour](const QColor&) { return colour; });
        const QPointF at(x, row);
        QMouseEvent event(QEvent::MouseButtonDblClick, at, function->mapToGlobal(at),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(function, &event);
    };
    pick(left, 0);
    pick(right, 199);
    editor->setColorPicker(nullptr);
}
