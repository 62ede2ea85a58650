#include "transfer/HoverPoints.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <cmath>
#include <utility>

namespace {

QColor pickWithDialog(const QColor& initial)
{
    return QColorDialog::getColor(initial, nullptr);
}

// Relative equality of two coordinates; zero equals only zero.
bool sameCoordinate(double a, double b)
{
    return std::abs(a - b) <= 1e-12 * std::min(std::abs(a), std::abs(b));
}

} // namespace

HoverPoints::HoverPoints(QWidget* widget, PointShape newShape)
    : QObject(widget), host(widget), shape(newShape), colorPicker(pickWithDialog)
{
    pointPen = QPen(QColor(255, 255, 255, 191), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    pointBrush = QBrush(QColor(191, 191, 191, 127), Qt::SolidPattern);
    connectionPen =
        QPen(QColor(191, 191, 191, 127), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);

    widget->installEventFilter(this);
    connect(this, SIGNAL(pointsChanged(QPolygonF)), widget, SLOT(update()));
}

void HoverPoints::setPoints(const QPolygonF& points)
{
    pointList.clear();
    for (const QPointF& point : points)
        pointList << clamped(point, 0);
    colorList = QList<QColor>(pointList.size(), QColor(255, 255, 255, 255));
    locks = QList<unsigned>(pointList.size(), 0u);
    if (currentIndex >= pointList.size())
        currentIndex = -1;
}

void HoverPoints::setColors(const QList<QColor>& colors)
{
    if (colors.size() != pointList.size()) {
        qDebug() << "HoverPoints/setColors: !!!one colour per point expected!!!" << colors.size();
        return;
    }
    colorList = colors;
}

void HoverPoints::setPointLock(int index, LockType lock)
{
    if (index < 0 || index >= locks.size()) {
        qDebug() << "HoverPoints/setPointLock: !!!index out of range!!!" << index;
        return;
    }
    locks[index] = unsigned(lock);
}

void HoverPoints::setColorPicker(ColorPicker picker)
{
    colorPicker = picker ? std::move(picker) : ColorPicker(pickWithDialog);
}

void HoverPoints::setEnabled(bool newEnabled)
{
    if (enabled == newEnabled)
        return;
    enabled = newEnabled;
    host->update();
}

bool HoverPoints::eventFilter(QObject* object, QEvent* event)
{
    if (object != host || !enabled)
        return false;

    switch (event->type()) {
    case QEvent::MouseButtonPress:
        return handlePress(static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonDblClick:
        return handleDoubleClick(static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonRelease:
        currentIndex = -1;
        return false;
    case QEvent::ContextMenu: {
        const bool swallow = swallowContextMenu;
        swallowContextMenu = false;
        return swallow;
    }
    case QEvent::MouseMove:
        if (currentIndex >= 0) {
            const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
            movePoint(
                currentIndex,
                QPointF(position.x() / qreal(host->width()), position.y() / qreal(host->height())),
                true);
        }
        return false;
    case QEvent::Paint: {
        // The host paints itself first; with the host pointer cleared the
        // nested delivery passes this filter untouched.
        QWidget* widget = host;
        host = nullptr;
        QCoreApplication::sendEvent(widget, event);
        host = widget;
        paintPoints();
        return true;
    }
    default:
        return false;
    }
}

bool HoverPoints::handlePress(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    const int hit = hitTest(position);

    if (event->button() == Qt::LeftButton) {
        if (hit != -1) {
            currentIndex = hit;
            return true;
        }
        if (!editable)
            return false;
        insertPoint(
            QPointF(position.x() / qreal(host->width()), position.y() / qreal(host->height())));
        return true;
    }

    if (event->button() == Qt::RightButton) {
        swallowContextMenu = hit != -1;
        if (hit == -1 || !editable)
            return false;
        if (locks.at(hit) == 0)
            removePoint(hit);
        firePointChange();
        return true;
    }

    return false;
}

bool HoverPoints::handleDoubleClick(QMouseEvent* event)
{
    const int hit = hitTest(event->position().toPoint());
    if (hit == -1 || !editable)
        return false;

    const QColor chosen = colorPicker(QColor(Qt::white));
    // The picker may run a nested event loop; the list may have changed meanwhile.
    if (chosen.isValid() && hit < colorList.size()) {
        colorList[hit] = chosen;
        firePointChange();
    }
    return true;
}

int HoverPoints::hitTest(const QPoint& position) const
{
    for (int i = 0; i < pointList.size(); ++i) {
        QPainterPath path;
        if (shape == CircleShape)
            path.addEllipse(pointBoundingRect(i));
        else
            path.addRect(pointBoundingRect(i));
        if (path.contains(QPointF(position)))
            return i;
    }
    return -1;
}

void HoverPoints::insertPoint(const QPointF& point)
{
    int index = 0;
    if (sortType == XSort) {
        for (int i = 0; i < pointList.size(); ++i) {
            if (pointList.at(i).x() > point.x()) {
                index = i;
                break;
            }
        }
    } else if (sortType == YSort) {
        for (int i = 0; i < pointList.size(); ++i) {
            if (pointList.at(i).y() > point.y()) {
                index = i;
                break;
            }
        }
    }

    pointList.insert(index, point);
    colorList.insert(index, QColor(255, 255, 255, 255));
    locks.insert(index, 0u);
    currentIndex = index;
    firePointChange();
}

void HoverPoints::removePoint(int index)
{
    locks.remove(index);
    pointList.remove(index);
    colorList.remove(index);
    // A point may be dragged while another one is removed: keep the dragged
    // index on the same point, or drop the drag if that point is gone.
    if (currentIndex == index)
        currentIndex = -1;
    else if (currentIndex > index)
        --currentIndex;
}

QRectF HoverPoints::pointBoundingRect(int index) const
{
    const QPointF point = pointList.at(index);
    const qreal w = pointSize.width();
    const qreal h = pointSize.height();
    return QRectF(point.x() * host->width() - w / 2, point.y() * host->height() - h / 2, w, h);
}

QPointF HoverPoints::clamped(const QPointF& point, unsigned lock) const
{
    const qreal left = bounds.left();
    const qreal right = left + bounds.width();
    const qreal top = bounds.top();
    const qreal bottom = top + bounds.height();

    qreal x = point.x();
    qreal y = point.y();
    if (x < left || (lock & LockToLeft))
        x = left;
    if (x > right || (lock & LockToRight))
        x = right;
    if (y < top || (lock & LockToTop))
        y = top;
    if (y > bottom || (lock & LockToBottom))
        y = bottom;
    return QPointF(x, y);
}

void HoverPoints::movePoint(int index, const QPointF& point, bool emitChange)
{
    pointList[index] = clamped(point, locks.at(index));
    if (emitChange)
        firePointChange();
}

void HoverPoints::firePointChange()
{
    if (sortType != NoSort) {
        const bool dragging = currentIndex != -1;
        const QPointF current = dragging ? pointList.at(currentIndex) : QPointF();

        if (sortType == XSort) {
            // Strict comparison: points on the same x keep their order, so an
            // interior point never passes a locked end point on the same edge.
            // Lock words belong to the index, not to the point.
            for (int i = 0; i < pointList.size() - 1; ++i) {
                for (int j = i + 1; j < pointList.size(); ++j) {
                    if (pointList.at(j).x() < pointList.at(i).x()) {
                        std::swap(pointList[i], pointList[j]);
                        std::swap(colorList[i], colorList[j]);
                    }
                }
            }
        } else {
            qDebug() << "!!!HoverPoints YSort NOT IMPLEMENTED!!!";
        }

        if (dragging) {
            for (int i = 0; i < pointList.size(); ++i) {
                if (sameCoordinate(pointList.at(i).x(), current.x()) &&
                    sameCoordinate(pointList.at(i).y(), current.y())) {
                    currentIndex = i;
                    break;
                }
            }
        }
    }

    emit pointsChanged(pointList);
}

void HoverPoints::paintPoints()
{
    QPainter painter(host);
    painter.setRenderHint(QPainter::Antialiasing);

    const qreal w = host->width();
    const qreal h = host->height();

    if (connectionPen.style() != Qt::NoPen && connectionType != NoConnection &&
        !pointList.isEmpty()) {
        painter.setPen(connectionPen);
        painter.setBrush(Qt::NoBrush);
        QPainterPath path;
        QPointF previous(pointList.at(0).x() * w, pointList.at(0).y() * h);
        path.moveTo(previous);
        for (int i = 1; i < pointList.size(); ++i) {
            const QPointF next(pointList.at(i).x() * w, pointList.at(i).y() * h);
            const qreal halfway = previous.x() + (next.x() - previous.x()) / 2;
            path.cubicTo(QPointF(halfway, previous.y()), QPointF(halfway, next.y()), next);
            previous = next;
        }
        painter.drawPath(path);
    }

    for (int i = 0; i < pointList.size(); ++i) {
        const QColor color = colorList.at(i);
        pointBrush.setColor(QColor(color.red(), color.green(), color.blue(), 255));
        pointPen.setColor(QColor(255 - color.red(), 255 - color.green(), 255 - color.blue(), 255));
        painter.setPen(pointPen);
        painter.setBrush(pointBrush);
        if (shape == RectangleShape)
            painter.drawRect(pointBoundingRect(i));
        else
            painter.drawEllipse(pointBoundingRect(i));
    }
}
