#include "app/ViewPort.h"

#include "app/shell/CollapseableWidget.h"
#include "app/shell/Layer.h"
#include "app/shell/PaintContext.h"
#include "data/FlowData.h"
#include "data/ProfileTimer.h"
#include "layers/LayerColorCoding.h"

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

bool ViewPort::applyScale(double newScale)
{
    const float clamped = std::min(float(newScale), maximumScale);
    if (!(clamped > minimumScale) || clamped == scale)
        return false;
    scale = clamped;
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
    if (event->buttons() == Qt::LeftButton)
        setCursor(Qt::OpenHandCursor);
}

void ViewPort::mouseReleaseEvent(QMouseEvent*)
{
    unsetCursor();
}

void ViewPort::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (event->buttons() == Qt::MiddleButton) {
        // The step grows with scale squared; any move that is not upwards
        // shrinks. Below the lower limit the scale is kept but not applied,
        // so dragging back up resumes from there.
        const double step = (double(scale) / dragDivisor) * scale;
        const double dragged = lastMousePos.y() - pos.y() > 0 ? scale + step : scale - step;
        const float stored = std::min(float(dragged), maximumScale);
        if (stored != scale) {
            scale = stored;
            if (scale > minimumScale)
                updateImageSize();
        }
    } else if (event->buttons() == Qt::LeftButton && !layerSize.isEmpty()) {
        centerX += double(lastMousePos.x() - pos.x()) / layerSize.width();
        centerY += double(lastMousePos.y() - pos.y()) / layerSize.height();
        update();
    } else if (event->buttons() == Qt::NoButton) {
        QPointF unit;
        const bool inside = domainPosition(event->position(), &unit);
        emit cursorMoved(inside, unit);
    }
    lastMousePos = pos;
}

void ViewPort::leaveEvent(QEvent*)
{
    emit cursorLeft();
}

bool ViewPort::domainPosition(const QPointF& widgetPosition, QPointF* unitPosition) const
{
    if (layerSize.isEmpty() || viewSize.isEmpty())
        return false;
    const double tx = viewSize.width() * 0.5 - centerX * layerSize.width();
    const double ty = viewSize.height() * 0.5 - centerY * layerSize.height();
    const double x = (widgetPosition.x() - tx) / layerSize.width();
    const double shown = (widgetPosition.y() - ty) / layerSize.height();
    const double y = flipped ? shown : 1.0 - shown;
    if (!(x >= 0.0 && x <= 1.0 && y >= 0.0 && y <= 1.0))
        return false;
    if (unitPosition)
        *unitPosition = QPointF(x, y);
    return true;
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
    applyScale(float(scale * factor));
}

void ViewPort::paintEvent(QPaintEvent*)
{
    ProfileTimer timer(QStringLiteral("paintEvent"));
    timer.start();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (!layerSize.isEmpty() && !viewSize.isEmpty()) {
        const double tx = viewSize.width() * 0.5 - centerX * layerSize.width();
        const double ty = viewSize.height() * 0.5 - centerY * layerSize.height();
        const QRectF visible = QRectF(tx, ty, layerSize.width(), layerSize.height())
                                   .intersected(QRectF(0, 0, viewSize.width(), viewSize.height()));
        const QImage& picture = composedLayers();
        if (!visible.isEmpty() && !picture.isNull())
            painter.drawImage(visible, picture, visible.translated(-tx, -ty));
        paintDecorations(painter, QRectF(tx, ty, layerSize.width(), layerSize.height()));
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
    QImage picture(layerSize, QImage::Format_ARGB32_Premultiplied);
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
    composed = flipped ? picture : picture.mirrored(false, true);
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
        VectorPicture::paintReferenceArrow(painter, layers, layerSize, referenceSpeed,
                                           axesShown ? frame : widget);
}

void ViewPort::resizeEvent(QResizeEvent* event)
{
    viewSize = event->size();
}

VectorPicture ViewPort::picture()
{
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
    }
    layout->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
}
