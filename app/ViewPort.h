#pragma once

#include "app/LayerStack.h"
#include "app/VectorPicture.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QWidget>

class FlowData;

// The central widget: owns the layers, hands them the data set and the size
// of the image they render, and composes their images, visible layers in list
// order (later ones on top), each with its own opacity.
//
// Zooming changes the layer image size (the layers render anew, so the picture
// stays sharp); panning only moves which part of the images is shown. The
// longer image side is trunc(scale * 1000) pixels.
//
// Layer images hold row 0 (y = 0 of the data) at their top. The view shows y
// up, as the data means it: each image is drawn mirrored within its place, on
// screen and in the exported picture. "Flip vertically" shows the rows
// downwards instead, for data stored in image coordinates. Positions in the
// view (pan centre, cursor) are taken in the picture as shown: the point at
// the widget centre is (centerX * W, centerY * H) of the shown W x H picture,
// and zooming keeps it in place.
class ViewPort : public QWidget
{
    Q_OBJECT

public:
    // Zoom limits. Every layer holds an image of the full size, so the upper
    // limit bounds memory: the longer side stays at or below 4000 pixels.
    static constexpr float minimumScale = 0.1f; // exclusive
    static constexpr float maximumScale = 4.0f;

    // Creates the layer stack.
    explicit ViewPort(QWidget* parent = nullptr);
    // Takes ownership of the given layers, in painting order.
    explicit ViewPort(const QList<Layer*>& layers, QWidget* parent = nullptr);
    ~ViewPort() override;

    // The layer image size for a data set of the given aspect ratio (width
    // over height) at the given scale; every side is at least one pixel.
    static QSize imageSizeFor(float aspectRatio, float scale);

    // Renders the whole layer image at the current size, whatever the pan and
    // the widget size, onto the view's background colour (with the legend,
    // the axes and the reference arrow when they are shown) and writes it:
    // SVG for ".svg", PDF for ".pdf", PNG for ".png", JPEG (quality 80)
    // otherwise. False when there is no image size yet, the image cannot be
    // allocated or the file cannot be written.
    bool exportImage(const QString& fileName);
    // The picture exportImage writes, to paint into any device.
    VectorPicture picture();
    // The composed picture that exportImage writes; null when there is no
    // image size yet or the image cannot be allocated.
    QImage renderImage();
    // Sets the zoom factor as the zoom controls do (clamped to the upper
    // limit, refused at or below the lower one) and re-renders the layers.
    bool setScale(float newScale) { return applyScale(newScale); }

    // Builds one panel per layer, in list order, into `container`, followed by
    // a spacer that keeps them at the top. Called once.
    void createLayerPanels(QWidget* container);

    float zoomScale() const { return scale; }
    QSize imageSize() const { return layerSize; }
    double centerFractionX() const { return centerX; }
    double centerFractionY() const { return centerY; }
    bool isFlippedVertically() const { return flipped; }
    bool isLegendShown() const { return legendShown; }
    bool areAxesShown() const { return axesShown; }
    bool isReferenceArrowShown() const { return referenceArrowShown; }
    // The unit-square position of the data (x right, y up in the data's own
    // sense, as rasters take it) under a widget position; false when the
    // position is outside the picture or there is no picture.
    bool domainPosition(const QPointF& widgetPosition, QPointF* unitPosition) const;
    const QList<Layer*>& layerList() const { return layers; }
    // The layers by kind; valid as long as the view port.
    LayerStack layerStack() const { return LayerStack(layers); }
    FlowData* currentFlowData() const { return flowData; }

signals:
    // Emitted when a new data set has been stored; layers switch to it inside.
    void flowDataChanged(FlowData* flowData);
    // Emitted when the next step of the same series has been stored; layers
    // switch to it inside, keeping their settings.
    void flowDataStepped(FlowData* flowData);
    // Emitted by every image-size update that finds a data set, also when the
    // size did not change; layers re-render inside.
    void sizeChanged(QSize size);
    // Emitted when the mouse moves over the view with no button pressed:
    // the unit-square position under it, or none (outside the picture).
    void cursorMoved(bool inside, QPointF unitPosition);
    // Emitted when the mouse leaves the view.
    void cursorLeft();

public slots:
    // Not owned; keeps the scale and the centre.
    void setFlowData(FlowData* flowData);
    // The next data set of the series on show (same grid): keeps the scale,
    // the centre and every layer's settings. Not owned.
    void setFlowDataStep(FlowData* flowData);
    // Schedules a repaint, merged into one while the image size is updated.
    void layerChanged(Layer* layer);
    void fitToScreen();
    // Off: y up (the start); on: row 0 of the data at the top.
    void setFlippedVertically(bool flipped);
    void setLegendShown(bool shown);
    void setAxesShown(bool shown);
    void setReferenceArrowShown(bool shown);
    // The reference arrow's speed in the file's unit; 0 (the start) picks a
    // round one near the field's typical speed.
    void setReferenceSpeed(double speed);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void connectLayers();
    void updateImageSize();
    // Applies a new scale, clamped to the upper limit; false if refused
    // (at or below the lower limit) or unchanged.
    bool applyScale(double newScale);
    // The visible layers composed in stack order with their opacities, as
    // shown (mirrored for y up), at the layer image size; rebuilt after any
    // layer, size or orientation change, so that a pan only copies pixels.
    const QImage& composedLayers();
    // The legend, the axes and the reference arrow over the picture, which
    // lies at `picture` in the widget.
    void paintDecorations(QPainter& painter, const QRectF& picture);

    FlowData* flowData = nullptr;
    QSize viewSize{-1, -1};
    QSize layerSize{-1, -1};
    bool updating = false;
    bool repaintPending = false;
    float scale = 1.0f;
    QPoint lastMousePos;
    double centerX = 0.5;
    double centerY = 0.5;
    bool flipped = false;
    bool legendShown = false;
    bool axesShown = false;
    bool referenceArrowShown = false;
    double referenceSpeed = 0.0;
    QImage composed;
    bool composedValid = false;
    QList<Layer*> layers;
};
