#pragma once

#include "app/LayerStack.h"
#include "app/VectorPicture.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QTimer>
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
    // the axes, the reference arrow and the scale bar when they are shown) and writes it:
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

    // Shows or hides layer `index` and sets its opacity (0 to 1, in the
    // panel's whole percents) through its panel, so the panel shows it;
    // straight on the layer before the panels exist.
    void setLayerLook(int index, bool visible, float opacity);
    // The pan: the picture position at the widget centre, in fractions of
    // the shown picture (see above); any finite value, as dragging allows.
    void setCenter(double fractionX, double fractionY);

    float zoomScale() const { return scale; }
    QSize imageSize() const { return layerSize; }
    double centerFractionX() const { return centerX; }
    double centerFractionY() const { return centerY; }
    bool isFlippedVertically() const { return flipped; }
    bool isLegendShown() const { return legendShown; }
    bool areAxesShown() const { return axesShown; }
    bool isReferenceArrowShown() const { return referenceArrowShown; }
    bool isScaleBarShown() const { return scaleBarShown; }
    // The unit-square position of the data (x right, y up in the data's own
    // sense, as rasters take it) under a widget position; false when the
    // position is outside the picture or there is no picture.
    bool domainPosition(const QPointF& widgetPosition, QPointF* unitPosition) const;
    // The widget position of a unit-square position, inside the picture or not.
    QPointF widgetPosition(const QPointF& unitPosition) const;
    // The profile line's vertices in the unit square (empty: none) and the
    // pinned point; both are kept through zoom, pan, flip and the steps of a
    // series, and dropped with a new data set.
    const QList<QPointF>& profileLine() const { return profilePoints; }
    bool pinnedPoint(QPointF* unitPosition) const;
    bool isProfileToolActive() const { return profileTool; }
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
    // Emitted when the profile line has changed: its vertices in the unit
    // square (empty: removed); `dragging` while a drag still moves its end.
    void profileLineChanged(const QList<QPointF>& unitPoints, bool dragging);
    // Emitted when a point has been pinned (a Ctrl+click) or unpinned.
    void pointPinned(bool pinned, QPointF unitPosition);
    // Emitted after a Shift+click (from == to, inside the picture) or a
    // Shift+drag from `from` to `to`, in the unit square: streamline seeds.
    void seedsPicked(QPointF from, QPointF to);

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
    // With the tool on, a left drag draws a new profile line instead of
    // panning and a click adds a vertex to it; Ctrl+drag draws one always.
    void setProfileToolActive(bool active);
    // Vertices in the unit square; fewer than two remove the line.
    void setProfileLine(const QList<QPointF>& unitPoints);
    void clearProfileLine() { setProfileLine({}); }
    void clearPinnedPoint();
    // Pins the point at a unit-square position, as a Ctrl+click there does.
    void pinPoint(const QPointF& unitPosition);
    void setAxesShown(bool shown);
    void setReferenceArrowShown(bool shown);
    // A bar of a round length near a fifth of the visible width, in the
    // file's length unit; it follows the zoom.
    void setScaleBarShown(bool shown);
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
    bool applyScale(double newScale, bool fromInput = false);
    // The image-size update for zoom input (wheel, middle-button drag). A
    // step taken in the same pass of the event loop as the previous one (a
    // burst of notches queued while the layers rendered) only moves the
    // scale and stretches the picture in hand; the layers get the last size
    // once the pass has ended, so a burst costs two renderings, not one per
    // notch.
    void updateImageSizeForInput();
    // The size the picture is shown at: the layer image size, or while an
    // input zoom waits for its update, the size of the current scale.
    QSize shownSize() const { return deferredSize.isValid() ? deferredSize : layerSize; }
    // The visible layers composed in stack order with their opacities, as
    // shown (mirrored for y up), at the layer image size; rebuilt after any
    // layer, size or orientation change, so that a pan only copies pixels.
    const QImage& composedLayers();
    // The line and the pinned point over the picture (not into saved ones).
    void paintMarks(QPainter& painter);
    // The unit-square position under a widget position, not clipped.
    QPointF unitPositionOf(const QPointF& widgetPosition) const;
    // Where the picture lies in the widget at the scale shown, centred on
    // (centerX, centerY); it may reach beyond the widget's sides.
    QRectF pictureRect() const;
    // The legend, the axes and the keys over the picture, which
    // lies at `picture` in the widget.
    void paintDecorations(QPainter& painter, const QRectF& picture);

    FlowData* flowData = nullptr;
    QSize viewSize{-1, -1};
    QSize layerSize{-1, -1};
    // Valid while an input zoom's image-size update waits for zoomSettle.
    QSize deferredSize;
    QTimer zoomSettle;
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
    bool scaleBarShown = false;
    double referenceSpeed = 0.0;
    QImage composed;
    bool composedValid = false;
    QList<Layer*> layers;
    // What the left button does from its press to its release: a plain press
    // pans; a Ctrl press (or any with the profile tool) is a click until the
    // pointer has moved the drag distance, then draws a line.
    enum class Gesture
    {
        None,
        Pan,
        Click,
        Line,
        Seed
    };
    Gesture gesture = Gesture::None;
    QPoint pressPos;
    bool pressWithControl = false;
    bool profileTool = false;
    QList<QPointF> profilePoints;
    bool pinned = false;
    QPointF pinnedUnit;
    // One per layer once createLayerPanels has run; they belong to the dock.
    QList<QPointer<QWidget>> panels;
};
