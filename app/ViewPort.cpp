#include "app/ViewPort.h"

#include "app/shell/CollapseableWidget.h"
#include "app/shell/Layer.h"
#include "app/shell/PaintContext.h"
#include "data/FlowData.h"
#include "data/ProfileTimer.h"
#include "layers/LayerColorCoding.h"
#include "render/HugePageImage.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDebug>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {
constexpr double pixelsPerScale = 1000.0;
// One wheel notch is 15 degrees, reported in eighths of a degree.
constexpr int eighthsPerDegree = 8;
constexpr int degreesPerStep = 15;
constexpr float wheelShrinkFactor = 0.8f;
constexpr float wheelGrowFactor = 1.25f;
// The middle-button drag changes the scale by scale / dragDivisor per event.
constexpr double dragDivisor = 100.0;
} // namespace

ViewPort::ViewPort(QWidget* parent) : ViewPort(LayerStack::create(), parent) {}

ViewPort::ViewPort(const QList<Layer*>& newLayers, QWidget* parent)
    : QWidget(parent), layers(newLayers)
{
    // For the value read-out under the cursor; a move costs one signal.
    setMouseTracking(true);
    connectLayers();
    zoomSettle.setSingleShot(true);
    zoomSettle.setInterval(0);
    connect(&zoomSettle, &QTimer::timeout, this, [this] {
        if (deferredSize.isValid())
            updateImageSizeForInput();
    });
}

ViewPort::~ViewPort()
{
    for (Layer* layer : std::as_const(layers))
        delete layer;
    layers.clear();
}

void ViewPort::connectLayers()
{
    for (Layer* layer : std::as_const(layers)) {
        connect(layer, &Layer::layerChanged, this, &ViewPort::layerChanged);
        connect(this, &ViewPort::flowDataChanged, layer, &Layer::setFlowData);
        connect(this, &ViewPort::flowDataStepped, layer, &Layer::setFlowDataStep);
        connect(this, &ViewPort::sizeChanged, layer, &Layer::setSize);
    }
}

QSize ViewPort::imageSizeFor(float aspectRatio, float scale)
{
    const int base = int(scale * pixelsPerScale);
    int width;
    int height;
    if (aspectRatio <= 1.0f) {
        height = base;
        width = int(aspectRatio * base + 0.5);
    } else {
        width = base;
        height = int(base / aspectRatio + 0.5);
    }
    return QSize(std::max(width, 1), std::max(height, 1));
}

void ViewPort::setFlowData(FlowData* newFlowData)
{
    // Another data set, another domain: the marks made on this one go.
    clearProfileLine();
    clearPinnedPoint();
    flowData = newFlowData;
    composedValid = false;
    emit flowDataChanged(newFlowData);
    updateImageSize();
}

void ViewPort::setFlowDataStep(FlowData* newFlowData)
{
    const bool sameShape =
        flowData && newFlowData && flowData->aspectRatio() == newFlowData->aspectRatio();
    if (!sameShape) {
        setFlowData(newFlowData);
        return;
    }
    flowData = newFlowData;
    emit flowDataStepped(newFlowData);
}

void ViewPort::layerChanged(Layer*)
{
    composedValid = false;
    if (updating)
        repaintPending = true;
    else
        update();
}

void ViewPort::updateImageSize()
{
    deferredSize = QSize();
    updating = true;
    if (flowData) {
        const float aspect = flowData->aspectRatio();
        if (std::isfinite(aspect) && aspect > 0.0f) {
            layerSize = imageSizeFor(aspect, scale);
            composedValid = false;
            emit sizeChanged(layerSize);
        } else {
            qDebug() << "ViewPort/updateImageSize: !!!invalid aspect ratio" << aspect << "!!!";
        }
    }
    updating = false;
    if (repaintPending) {
        repaintPending = false;
        update();
    }
}

void ViewPort::updateImageSizeForInput()
{
    const float aspect = flowData ? flowData->aspectRatio() : 0.0f;
    if (zoomSettle.isActive() && std::isfinite(aspect) && aspect > 0.0f) {
        deferredSize = imageSizeFor(aspect, scale);
        update();
        return;
    }
    updateImageSize();
    zoomSettle.start();
}

bool ViewPort::applyScale(double newScale, bool fromInput)
{
    const float clamped = std::min(float(newScale), maximumScale);
    if (!(clamped > minimumScale) || clamped == scale)
        return false;
    scale = clamped;
    if (fromInput)
        updateImageSizeForInput();
    else
        updateImageSize();
    return true;
}

void ViewPort::fitToScreen()
{
    centerX = 0.5;
    centerY = 0.5;
    const float aspect = flowData ? flowData->aspectRatio() : 0.0f;
    if (!(aspect > 0.0f) || !std::isfinite(aspect) || viewSize.width() <= 0 ||
        viewSize.height() <= 0) {
        update();
        return;
    }
    // The scale at which the image side in the limiting direction equals the
    // view's side, derived from the aspect ratio alone (the current image
    // size may lag behind the scale after a drag below the lower limit).
    const double w = viewSize.width();
    const double h = viewSize.height();
    const double ratio = aspect / (w / h);
    double newScale;
    if (ratio <= 1.0)
        newScale = aspect > 1.0f ? h * aspect / pixelsPerScale : h / pixelsPerScale;
    else
        newScale = aspect <= 1.0f ? w / (aspect * pixelsPerScale) : w / pixelsPerScale;
    applyScale(newScale);
    update();
}

void ViewPort::mousePressEvent(QMouseEvent* event)
{
    lastMousePos = event->position().toPoint();
    if (event->buttons() != Qt::LeftButton) {
        gesture = Gesture::None;
        return;
    }
    pressPos = lastMousePos;
    pressWithControl = event->modifiers().testFlag(Qt::ControlModifier);
    if (event->modifiers() == Qt::ShiftModifier && !layerSize.isEmpty()) {
        gesture = Gesture::Seed;
        setCursor(Qt::CrossCursor);
    } else if ((pressWithControl || profileTool) && !layerSize.isEmpty()) {
        gesture = Gesture::Click;
        setCursor(Qt::CrossCursor);
    } else {
        gesture = Gesture::Pan;
        setCursor(Qt::OpenHandCursor);
    }
}

void ViewPort::mouseReleaseEvent(QMouseEvent* event)
{
    const Gesture ended = std::exchange(gesture, Gesture::None);
    unsetCursor();
    if (event->button() != Qt::LeftButton)
        return;
    if (ended == Gesture::Seed) {
        const QPoint releasePos = event->position().toPoint();
        QPointF unit;
        if ((releasePos - pressPos).manhattanLength() >= QApplication::startDragDistance())
            emit seedsPicked(unitPositionOf(pressPos), unitPositionOf(releasePos));
        else if (domainPosition(pressPos, &unit))
            emit seedsPicked(unit, unit);
    } else if (ended == Gesture::Line) {
        emit profileLineChanged(profilePoints, false);
    } else if (ended == Gesture::Click && pressWithControl) {
        QPointF unit;
        if (domainPosition(pressPos, &unit))
            pinPoint(unit);
    } else if (ended == Gesture::Click && !profilePoints.isEmpty()) {
        // With the tool on, a click carries the line on to a polyline.
        profilePoints.append(unitPositionOf(pressPos));
        update();
        emit profileLineChanged(profilePoints, false);
    }
}

void ViewPort::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (gesture == Gesture::Seed) {
        // The rake is placed on release; the view holds still meanwhile.
    } else if ((gesture == Gesture::Click || gesture == Gesture::Line) &&
               event->buttons() == Qt::LeftButton) {
        if (gesture == Gesture::Click &&
            (pos - pressPos).manhattanLength() >= QApplication::startDragDistance()) {
            gesture = Gesture::Line;
            profilePoints = {unitPositionOf(pressPos), unitPositionOf(pos)};
        } else if (gesture == Gesture::Line) {
            profilePoints.last() = unitPositionOf(pos);
        }
        if (gesture == Gesture::Line) {
            update();
            emit profileLineChanged(profilePoints, true);
        }
    } else if (event->buttons() == Qt::MiddleButton) {
        // The step grows with scale squared; any move that is not upwards
        // shrinks. Below the lower limit the scale is kept but not applied,
        // so dragging back up resumes from there.
        const double step = (double(scale) / dragDivisor) * scale;
        const double dragged = lastMousePos.y() - pos.y() > 0 ? scale + step : scale - step;
        const float stored = std::min(float(dragged), maximumScale);
        if (stored != scale) {
            scale = stored;
            if (scale > minimumScale)
                updateImageSizeForInput();
        }
    } else if (event->buttons() == Qt::LeftButton && !shownSize().isEmpty()) {
        centerX += double(lastMousePos.x() - pos.x()) / shownSize().width();
        centerY += double(lastMousePos.y() - pos.y()) / shownSize().height();
        update();
    } else if (event->buttons() == Qt::NoButton) {
        QPointF unit;
        const bool inside = domainPosition(event->position(), &unit);
        emit cursorMoved(inside, unit);
    }
    lastMousePos = pos;
}

void ViewPort::setProfileToolActive(bool active)
{
    profileTool = active;
}

void ViewPort::setProfileLine(const QList<QPointF>& unitPoints)
{
    const QList<QPointF> points = unitPoints.size() >= 2 ? unitPoints : QList<QPointF>();
    if (points == profilePoints)
        return;
    profilePoints = points;
    update();
    emit profileLineChanged(profilePoints, false);
}

void ViewPort::pinPoint(const QPointF& unitPosition)
{
    pinned = true;
    pinnedUnit = unitPosition;
    update();
    emit pointPinned(true, unitPosition);
}

void ViewPort::clearPinnedPoint()
{
    if (!pinned)
        return;
    pinned = false;
    update();
    emit pointPinned(false, pinnedUnit);
}

bool ViewPort::pinnedPoint(QPointF* unitPosition) const
{
    if (pinned && unitPosition)
        *unitPosition = pinnedUnit;
    return pinned;
}

void ViewPort::leaveEvent(QEvent*)
{
    emit cursorLeft();
}

bool ViewPort::domainPosition(const QPointF& widgetPosition, QPointF* unitPosition) const
{
    if (layerSize.isEmpty() || viewSize.isEmpty())
        return false;
    const QPointF unit = unitPositionOf(widgetPosition);
    if (!(unit.x() >= 0.0 && unit.x() <= 1.0 && unit.y() >= 0.0 && unit.y() <= 1.0))
        return false;
    if (unitPosition)
        *unitPosition = unit;
    return true;
}

QRectF ViewPort::pictureRect() const
{
    const QSize size = shownSize();
    return QRectF(viewSize.width() * 0.5 - centerX * size.width(),
                  viewSize.height() * 0.5 - centerY * size.height(), size.width(), size.height());
}

QPointF ViewPort::unitPositionOf(const QPointF& widgetPosition) const
{
    const QRectF picture = pictureRect();
    const double x = (widgetPosition.x() - picture.x()) / picture.width();
    const double shown = (widgetPosition.y() - picture.y()) / picture.height();
    return QPointF(x, flipped ? shown : 1.0 - shown);
}

QPointF ViewPort::widgetPosition(const QPointF& unitPosition) const
{
    const QRectF picture = pictureRect();
    const double shown = flipped ? unitPosition.y() : 1.0 - unitPosition.y();
    return QPointF(picture.x() + unitPosition.x() * picture.width(),
                   picture.y() + shown * picture.height());
}

void ViewPort::setFlippedVertically(bool newFlipped)
{
    if (flipped == newFlipped)
        return;
    flipped = newFlipped;
    composedValid = false;
    update();
}

void ViewPort::setLegendShown(bool shown)
{
    if (legendShown == shown)
        return;
    legendShown = shown;
    update();
}

void ViewPort::setAxesShown(bool shown)
{
    if (axesShown == shown)
        return;
    axesShown = shown;
    update();
}

void ViewPort::setReferenceArrowShown(bool shown)
{
    if (referenceArrowShown == shown)
        return;
    referenceArrowShown = shown;
    update();
}

void ViewPort::setScaleBarShown(bool shown)
{
    if (scaleBarShown == shown)
        return;
    scaleBarShown = shown;
    update();
}

void ViewPort::setReferenceSpeed(double speed)
{
    referenceSpeed = speed > 0.0 && std::isfinite(speed) ? speed : 0.0;
    update();
}

void ViewPort::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return;
    // One factor per event, whatever the number of notches; a backward turn
    // of less than one notch counts as zero steps and shrinks too.
    const int steps = (delta / eighthsPerDegree) / degreesPerStep;
    const float factor = steps >= 0 ? wheelShrinkFactor : wheelGrowFactor;
    applyScale(float(scale * factor), true);
}

void ViewPort::paintEvent(QPaintEvent*)
{
    ProfileTimer timer(QStringLiteral("paintEvent"));
    timer.start();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QSize size = shownSize();
    if (!layerSize.isEmpty() && !size.isEmpty() && !viewSize.isEmpty()) {
        const QRectF placed = pictureRect();
        const QRectF visible =
            placed.intersected(QRectF(0, 0, viewSize.width(), viewSize.height()));
        const QImage& picture = composedLayers();
        // While a zoom waits for its update the picture in hand is stretched.
        QRectF source = visible.translated(-placed.topLeft());
        if (size != layerSize) {
            const double sx = double(layerSize.width()) / size.width();
            const double sy = double(layerSize.height()) / size.height();
            source =
                QRectF(source.x() * sx, source.y() * sy, source.width() * sx, source.height() * sy);
        }
        if (!visible.isEmpty() && !picture.isNull())
            painter.drawImage(visible, picture, source);
        paintDecorations(painter, placed);
        paintMarks(painter);
    }
    timer.stop();
    painter.end();
}

const QImage& ViewPort::composedLayers()
{
    if (composedValid)
        return composed;
    composed = QImage();
    if (layerSize.isEmpty())
        return composed;
    ProfileTimer timer(QStringLiteral("ViewPort/composeLayers"));
    timer.start();
    QImage picture = HugePageImage::create(layerSize, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        qDebug() << "ViewPort/composedLayers: !!!image could not be allocated!!!" << layerSize;
        return composed;
    }
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, true);
    PaintContext context;
    context.painter = &painter;
    context.target = QRectF(QPointF(0, 0), QSizeF(layerSize));
    context.source = context.target;
    for (Layer* layer : std::as_const(layers)) {
        if (!layer->isVisible())
            continue;
        painter.setOpacity(layer->opacity());
        layer->draw(context);
    }
    painter.end();
    // Layer images hold row 0 at their top; y up puts it at the bottom.
    // Mirrored in place: a mirrored copy would hold the picture twice.
    if (!flipped)
        HugePageImage::mirrorRows(picture);
    composed = std::move(picture);
    composedValid = true;
    timer.stop();
    return composed;
}

void ViewPort::paintDecorations(QPainter& painter, const QRectF& picture)
{
    const QRectF widget(rect());
    QRectF frame = widget;
    if (axesShown && flowData) {
        // The axes go round the visible part of the picture, inside the
        // widget, over a band that keeps their labels readable.
        frame = widget.marginsRemoved(FigureAxes::margins(QFontMetricsF(painter.font())))
                    .intersected(picture);
        if (!frame.isEmpty()) {
            QPainterPath band;
            band.addRect(widget);
            band.addRect(frame);
            painter.fillPath(band, QColor(255, 255, 255, 200));
            FigureAxes::of(*flowData).paint(painter, picture, frame, flipped);
        }
    }
    if (legendShown)
        VectorPicture::paintLegend(painter, layers, axesShown ? frame : widget);
    if (referenceArrowShown)
        VectorPicture::paintReferenceArrow(painter, layers, shownSize(), referenceSpeed,
                                           axesShown ? frame : widget);
    if (scaleBarShown && flowData) {
        // Of the visible part only, so that the bar stays near a fifth of it.
        const QRectF shown = (axesShown ? frame : widget).intersected(picture);
        if (const std::optional<ScaleBar> bar = ScaleBar::of(*flowData); bar && !shown.isEmpty())
            bar->paint(painter, picture, shown);
    }
}

void ViewPort::paintMarks(QPainter& painter)
{
    if (profilePoints.isEmpty() && !pinned)
        return;
    painter.save();
    // A light line on a dark rim shows on any colour map.
    const QPen rim(QColor(0, 0, 0, 170), 4.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QPen core(QColor(255, 235, 90), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (!profilePoints.isEmpty()) {
        QPolygonF line;
        for (const QPointF& point : std::as_const(profilePoints))
            line << widgetPosition(point);
        for (const QPen& pen : {rim, core}) {
            painter.setPen(pen);
            painter.drawPolyline(line);
        }
        // The start, where the arc length s is 0, filled; vertices open.
        painter.setPen(QPen(Qt::black, 1.0));
        for (qsizetype k = 0; k < line.size(); ++k) {
            painter.setBrush(k == 0 ? QBrush(QColor(255, 235, 90)) : QBrush(Qt::NoBrush));
            painter.drawEllipse(line.at(k), k == 0 ? 4.0 : 3.0, k == 0 ? 4.0 : 3.0);
        }
    }
    if (pinned) {
        const QPointF at = widgetPosition(pinnedUnit);
        const QPen pinPen(QColor(255, 80, 200), 2.0);
        for (const QPen& pen : {QPen(QColor(0, 0, 0, 170), 4.0), pinPen}) {
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, 6.0, 6.0);
            painter.drawLine(at - QPointF(10.0, 0.0), at - QPointF(3.0, 0.0));
            painter.drawLine(at + QPointF(3.0, 0.0), at + QPointF(10.0, 0.0));
            painter.drawLine(at - QPointF(0.0, 10.0), at - QPointF(0.0, 3.0));
            painter.drawLine(at + QPointF(0.0, 3.0), at + QPointF(0.0, 10.0));
        }
    }
    painter.restore();
}

void ViewPort::resizeEvent(QResizeEvent* event)
{
    viewSize = event->size();
}

VectorPicture ViewPort::picture()
{
    if (deferredSize.isValid())
        updateImageSize();
    VectorPicture picture(layers, layerSize);
    picture.setFlippedVertically(flipped);
    // Where the layers leave pixels uncovered or translucent, the saved
    // picture shows what the screen shows there.
    picture.setBackground(palette().color(backgroundRole()));
    picture.setLegendShown(legendShown);
    if (axesShown && flowData)
        picture.setAxes(FigureAxes::of(*flowData));
    if (referenceArrowShown)
        picture.setReferenceSpeed(referenceSpeed);
    if (scaleBarShown && flowData)
        picture.setScaleBar(ScaleBar::of(*flowData));
    if (!layerSize.isEmpty())
        picture.setComposedLayers(composedLayers());
    return picture;
}

QImage ViewPort::renderImage()
{
    return picture().image();
}

bool ViewPort::exportImage(const QString& fileName)
{
    return picture().write(fileName);
}

void ViewPort::createLayerPanels(QWidget* container)
{
    auto* layout = qobject_cast<QBoxLayout*>(container->layout());
    if (!layout)
        layout = new QVBoxLayout(container);
    for (Layer* layer : std::as_const(layers)) {
        auto* panel = new CollapseableWidget;
        // Before the connections, so that the layer is not told.
        if (!layer->isVisible()) {
            panel->toggleVisible();
            panel->toggleCollapsed();
        }
        connect(panel, &CollapseableWidget::opacityChanged, layer, &Layer::setOpacity);
        connect(panel, &CollapseableWidget::visibleToggled, layer, &Layer::setVisibility);
        layer->setupControls(panel);
        layout->addWidget(panel);
        panels.append(panel);
    }
    layout->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
}

void ViewPort::setLayerLook(int index, bool visible, float opacity)
{
    if (index < 0 || index >= layers.size())
        return;
    const int percent = int(std::lround(std::clamp(opacity, 0.0f, 1.0f) * 100.0f));
    auto* panel =
        index < panels.size() ? qobject_cast<CollapseableWidget*>(panels[index]) : nullptr;
    if (panel) {
        panel->setChecked(visible);
        panel->setOpacityPercent(percent);
        return;
    }
    Layer* layer = layers[index];
    layer->setVisibility(visible);
    layer->setOpacity(float(percent / 100.0));
}

void ViewPort::setCenter(double fractionX, double fractionY)
{
    if (!std::isfinite(fractionX) || !std::isfinite(fractionY))
        return;
    centerX = fractionX;
    centerY = fractionY;
    update();
}
