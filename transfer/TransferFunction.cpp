#include "transfer/TransferFunction.h"

#include "transfer/ColorTable.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>

TransferFunction::TransferFunction()
    : TransferFunction(QPolygonF() << QPointF(0.0, 1.0) << QPointF(1.0, 0.0), {})
{
}

TransferFunction::TransferFunction(const QPolygonF& points, const QList<QColor>& colors)
    : pointList(points), colorList(colors)
{
    colorList.resize(pointList.size(), QColor(255, 255, 255, 255));
}

void TransferFunction::fillColorTable(QImage* image) const
{
    if (!image || image->isNull())
        return;

    image->fill(0);

    // Opacity is trunc((1 - y) * 255) here, one step below the editor's
    // on-screen rule for some interior y; the layers rely on the table's rule.
    QLinearGradient gradient(0, 0, image->width(), 0);
    for (int i = 0; i < pointList.size(); ++i) {
        const QColor& color = colorList.at(i);
        gradient.setColorAt(pointList.at(i).x(), QColor(color.red(), color.green(), color.blue(),
                                                        int((1.0 - pointList.at(i).y()) * 255)));
    }

    QPainter painter(image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(image->rect(), gradient);
}

ColorTable TransferFunction::colorTable(int entries) const
{
    return ColorTable(*this, entries);
}
