#pragma once

#include "FlowDataWorkerScalar.h"
#include "Layer.h"

#include <QImage>
#include <QPointer>
#include <QRgb>

namespace Ui {
class ColorCodingLayer;
}
class QComboBox;
class TransferFunctionWidget;

// One scalar field of the data set, or the velocity magnitude, as a dense
// colour image: each pixel takes the transfer function's colour of the
// field's normalised value there.
//
// The field is resampled onto the pixel raster by the owned worker on its own
// thread; colouring runs on the GUI thread whenever a raster arrives or the
// transfer function changes, and never resamples. A raster keeps the size it
// was computed for and is coloured at that size, so after a zoom the old
// picture is shown stretched to the new layer size until the new raster
// arrives. A data-set or field change clears the picture at once.
class LayerColorCoding : public Layer
{
    Q_OBJECT

public:
    static constexpr int colorTableSize = 4096;

    // scalarIndex: entry of the data set's scalar list; the last entry is
    // the velocity magnitude.
    LayerColorCoding(int scalarIndex, bool visible);
    ~LayerColorCoding() override;

    // Builds the "ColorCodingLayer" form (field selector and transfer
    // function) onto the panel. Without it the layer resamples but has no
    // colours to paint with.
    void setupControls(QWidget* panel) override;
    void draw(PaintContext& context) override;
    // True while the worker resamples for this layer.
    bool isRendering() const override { return worker.isRunning(); }

    // The picture as last coloured: premultiplied ARGB of the size of the
    // raster it was coloured from; null before the first raster and after a
    // reset.
    const QImage& currentImage() const { return image; }
    int currentScalarIndex() const { return scalarIndex; }

    // Colours `count` normalised values through a table of colorTableSize
    // premultiplied words: v selects word trunc(v * 4095), clamped to the
    // table; a non-finite value gives a transparent pixel.
    static void mapValues(const float* values, int count, const QRgb* table, QRgb* out);

public slots:
    void setFlowData(FlowData* flowData) override;
    void setSize(const QSize& size) override;
    // Recolours the raster in hand through the current transfer function.
    void colorsChanged();
    // A position of the field selector (= scalar list index); -1, as while
    // the selector is cleared, is ignored.
    void scalarIndexChanged(int index);

protected:
    void customEvent(QEvent* event) override;

private:
    void refillFieldSelector();
    void resetPicture();
    void startWorkerIfReady();
    void mapColors();

    Ui::ColorCodingLayer* form = nullptr;
    // The form's widgets belong to the panel, which may go first.
    QPointer<QComboBox> fieldSelector;
    QPointer<TransferFunctionWidget> transferFunction;
    QImage image;
    FlowDataWorkerScalar worker;
    int scalarIndex;
    // The newest raster taken from the worker (owned) and the size it holds.
    float* rawData = nullptr;
    QSize rawSize;
};
