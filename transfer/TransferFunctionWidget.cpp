#include "TransferFunctionWidget.h"

#include "HoverPoints.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace {

QPixmap checkerboard()
{
    QPixmap pixmap(20, 20);
    QPainter painter(&pixmap);
    painter.fillRect(0, 0, 10, 10, Qt::lightGray);
    painter.fillRect(10, 10, 10, 10, Qt::lightGray);
    painter.fillRect(10, 0, 10, 10, Qt::darkGray);
    painter.fillRect(0, 10, 10, 10, Qt::darkGray);
    return pixmap;
}

} // namespace

TransferFunctionWidget::TransferFunctionWidget(QWidget* parent)
    : QWidget(parent), hoverPoints(new HoverPoints(this, HoverPoints::CircleShape))
{
    QPalette checkered = palette();
    checkered.setBrush(QPalette::Window, QBrush(checkerboard()));
    setAutoFillBackground(true);
    setPalette(checkered);

    // Transparent white on the left rising to opaque white on the right; the
    // end points stay on their edges and cannot be removed.
    hoverPoints->setPoints(QPolygonF() << QPointF(0.0, 1.0) << QPointF(1.0, 0.0));
    hoverPoints->setPointLock(0, HoverPoints::LockToLeft);
    hoverPoints->setPointLock(1, HoverPoints::LockToRight);
    hoverPoints->setSortType(HoverPoints::XSort);

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(hoverPoints, &HoverPoints::pointsChanged, this, &TransferFunctionWidget::colorsChanged);
}

void TransferFunctionWidget::fillColorTable(QImage* image) const
{
    if (!image || image->isNull())
        return;

    image->fill(0);

    // Opacity is trunc((1 - y) * 255) here, one step below the screen's rule
    // for some interior y; the layers rely on the table's rule.
    const QPolygonF points = hoverPoints->points();
    const QList<QColor> colors = hoverPoints->colors();
    QLinearGradient gradient(0, 0, image->width(), 0);
    for (int i = 0; i < points.size(); ++i) {
        const QColor& color = colors.at(i);
        gradient.setColorAt(points.at(i).x(), QColor(color.red(), color.green(), color.blue(),
                                                     int((1.0 - points.at(i).y()) * 255)));
    }

    QPainter painter(image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(image->rect(), gradient);
}

QSize TransferFunctionWidget::minimumSizeHint() const
{
    return QSize(180, 80);
}

void TransferFunctionWidget::paintEvent(QPaintEvent*)
{
    const QPolygonF points = hoverPoints->points();
    const QList<QColor> colors = hoverPoints->colors();
    QLinearGradient gradient(0, 0, width(), 0);
    for (int i = 0; i < points.size(); ++i) {
        const QColor& color = colors.at(i);
        gradient.setColorAt(points.at(i).x(), QColor(color.red(), color.green(), color.blue(),
                                                     255 - int(points.at(i).y() * 255)));
    }

    QPainter painter(this);
    painter.fillRect(rect(), gradient);
}
