#pragma once

#include <QBrush>
#include <QColor>
#include <QList>
#include <QObject>
#include <QPen>
#include <QPolygonF>
#include <QRectF>
#include <QSizeF>

#include <functional>

class QMouseEvent;
class QWidget;

// Turns a host widget into an editor of coloured control points. Points are
// stored in normalised host coordinates: x = 0 at the left edge and 1 at the
// right edge, y = 0 at the top and 1 at the bottom, so resizing the host
// moves nothing. The editor is an event filter on the host and its child
// object: it interprets the host's mouse events, paints a curve and the
// points over what the host paints, and announces every edit.
//
// Mouse: left press selects a point to drag or inserts a white one; right
// press removes an unlocked point (and the host's context menu is not
// opened for it); double-click picks a point's colour.
// Points, colours and lock words always have the same length and index.
// GUI thread only.
class HoverPoints : public QObject
{
    Q_OBJECT

public:
    enum PointShape
    {
        CircleShape = 0,
        RectangleShape = 1
    };
    enum SortType
    {
        NoSort = 0,
        XSort = 1,
        YSort = 2
    };
    enum ConnectionType
    {
        NoConnection = 0,
        LineConnection = 1,
        CurveConnection = 2
    };
    // Bits of a point's lock word; 0 = free. A point locked to an edge stays on it.
    enum LockType
    {
        LockToLeft = 1,
        LockToRight = 2,
        LockToTop = 4,
        LockToBottom = 8
    };

    // Answers a colour request; an invalid colour means "cancelled".
    using ColorPicker = std::function<QColor(const QColor& initial)>;

    HoverPoints(QWidget* widget, PointShape shape);

    bool eventFilter(QObject* object, QEvent* event) override;

    // Replaces every point (clamped into the bounds), makes all colours opaque
    // white and all lock words 0. Emits nothing and does not repaint.
    void setPoints(const QPolygonF& points);
    QPolygonF points() const { return pointList; }
    // Replaces the colours point by point; ignored unless there is one per point.
    void setColors(const QList<QColor>& colors);
    QList<QColor> colors() const { return colorList; }

    // An index outside the point list is ignored.
    void setPointLock(int index, LockType lock);
    void setSortType(SortType type) { sortType = type; }
    void setEditable(bool newEditable) { editable = newEditable; }

    // Replaces the modal colour dialog (QColorDialog::getColor, white initial
    // colour, no parent) opened by a double-click on a point.
    void setColorPicker(ColorPicker picker);

signals:
    // Emitted after every edit with the whole point list, also after a right
    // click on a locked point that removed nothing.
    void pointsChanged(const QPolygonF& points);

public slots:
    // Disabling stops all filtering, the painting of points and curve included.
    void setEnabled(bool enabled);
    void setDisabled(bool disabled) { setEnabled(!disabled); }

private:
    QRectF pointBoundingRect(int index) const;
    QPointF clamped(const QPointF& point, unsigned lock) const;
    int hitTest(const QPoint& position) const;
    bool handlePress(QMouseEvent* event);
    bool handleDoubleClick(QMouseEvent* event);
    void insertPoint(const QPointF& point);
    void removePoint(int index);
    void movePoint(int index, const QPointF& point, bool emitChange);
    void firePointChange();
    void paintPoints();

    QWidget* host;
    QPolygonF pointList;
    QList<QColor> colorList;
    QRectF bounds{0.0, 0.0, 1.0, 1.0};
    PointShape shape;
    SortType sortType = NoSort;
    ConnectionType connectionType = CurveConnection;
    QList<unsigned> locks;
    QSizeF pointSize{11.0, 11.0};
    int currentIndex = -1;
    // The right press that hit a point also asks for a context menu; that one is swallowed.
    bool swallowContextMenu = false;
    bool editable = true;
    bool enabled = true;
    QPen pointPen;
    QBrush pointBrush;
    QPen connectionPen;
    ColorPicker colorPicker;
};
