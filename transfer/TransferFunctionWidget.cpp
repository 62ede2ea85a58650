#include "transfer/TransferFunctionWidget.h"

#include "transfer/ColorMap.h"
#include "transfer/HoverPoints.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>

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

    // The end points stay on their edges and cannot be removed.
    hoverPoints->setPoints(TransferFunction().points());
    hoverPoints->setPointLock(0, HoverPoints::LockToLeft);
    hoverPoints->setPointLock(1, HoverPoints::LockToRight);
    hoverPoints->setSortType(HoverPoints::XSort);

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    const QString hint = QCoreApplication::translate(
        "TransferFunctionWidget", "Drag points to edit; right-click empty space for colour maps");
    setToolTip(hint);
    setStatusTip(hint);

    connect(hoverPoints, &HoverPoints::pointsChanged, this, &TransferFunctionWidget::colorsChanged);
    connect(this, &TransferFunctionWidget::colorsChanged, this,
            [this] { emit transferFunctionChanged(transferFunction()); });
}

void TransferFunctionWidget::fillColorTable(QImage* image) const
{
    transferFunction().fillColorTable(image);
}

TransferFunction TransferFunctionWidget::transferFunction() const
{
    TransferFunction function(hoverPoints->points(), hoverPoints->colors());
    function.setColorMap(mapName);
    return function;
}

void TransferFunctionWidget::setTransferFunction(const TransferFunction& function)
{
    if (function == transferFunction() || function.points().size() < 2)
        return;
    mapName = function.colorMap();
    hoverPoints->setPoints(function.points());
    hoverPoints->setColors(function.colors());
    hoverPoints->setPointLock(0, HoverPoints::LockToLeft);
    hoverPoints->setPointLock(int(function.points().size()) - 1, HoverPoints::LockToRight);
    update();
    emit colorsChanged();
}

void TransferFunctionWidget::applyColorMap(const QString& name)
{
    setTransferFunction(
        ColorMap::transferFunction(name, transferFunction(), mapOpacity == OpaqueMaps));
}

void TransferFunctionWidget::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    for (const QString& name : ColorMap::names())
        menu.addAction(name, this, [this, name] { applyColorMap(name); });
    menu.exec(event->globalPos());
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
