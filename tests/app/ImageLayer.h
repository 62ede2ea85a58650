#pragma once

#include "app/shell/Layer.h"
#include "app/shell/PaintContext.h"
#include "data/FlowData.h"
#include "transfer/TransferFunction.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QWidget>

// A layer that paints a known picture: `color` over the fraction `coverage`
// of its image (unit-square coordinates, y down), transparent elsewhere. It
// re-renders and announces a change on every size it is given with a data
// set, as real layers do, and reads the data set each time so that a deleted
// one shows up under AddressSanitizer.
class ImageLayer : public Layer
{
public:
    ImageLayer(const QColor& newColor, const QRectF& newCoverage, bool newVisible = true)
        : Layer(newVisible), color(newColor), coverage(newCoverage)
    {
    }

    void setupControls(QWidget*) override {}
    const TransferFunction& transferFunction() const override { return function; }
    void setTransferFunction(const TransferFunction& newFunction) override
    {
        function = newFunction;
    }

    void draw(PaintContext& context) override
    {
        if (!image.isNull())
            context.painter->drawImage(context.target, image, context.source);
    }

    void setSize(const QSize& newSize) override
    {
        Layer::setSize(newSize);
        sizes.append(newSize);
        if (!flowData || newSize.isEmpty())
            return;
        image = QImage(newSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.fillRect(QRectF(coverage.x() * newSize.width(), coverage.y() * newSize.height(),
                                coverage.width() * newSize.width(),
                                coverage.height() * newSize.height()),
                         color);
        painter.end();
        emit layerChanged(this);
    }

    QColor color;
    QRectF coverage;
    TransferFunction function;
    QImage image;
    QList<QSize> sizes;
};
