#pragma once

#include "app/shell/Layer.h"
#include "data/FlowDataWorkerVector.h"
#include "render/ArrowRenderer.h"
#include "transfer/TransferFunction.h"

#include <QImage>
#include <QPointer>

#include <cmath>

namespace Ui {
class ArrowLayer;
}
class QSlider;

// The velocity field as a grid of arrow glyphs spanning the image edge to
// edge (the first and last arrows of a row sit on the borders, where the
// raster's samples at 0 and 1 lie), drawn by ArrowRenderer and coloured
// through the layer's transfer function by the vector's magnitude.
//
// The owned worker resamples the vector field onto the arrow grid (not onto
// the pixels), so only a new data set or quantity resamples; size, arrow size,
// length mode and colour changes redraw at once from the vectors in hand.
// Those vectors keep the grid counts they were sampled for and are drawn with
// them until the vectors of new counts arrive.
class LayerArrows : public Layer
{
    Q_OBJECT

public:
    static constexpr int colorTableSize = 256;
    // The quantity (arrows along the shorter side) is held within the
    // slider's range, and the longer side has at most maxArrowsPerSide
    // arrows, so a grid never has more than 40 000 arrows.
    static constexpr int minQuantity = 3;
    static constexpr int maxQuantity = 100;
    static constexpr int maxArrowsPerSide = 400;
    // Magnitudes up to this get no arrow.
    static constexpr float minMagnitude = ArrowRenderer::minMagnitude;

    explicit LayerArrows(bool visible);
    ~LayerArrows() override;

    // Builds the "ArrowLayer" form (length, size and quantity sliders and the
    // transfer function editor) onto the panel; the editor starts with the
    // layer's transfer function. Without a form the layer renders all the same.
    void setupControls(QWidget* panel) override;
    void draw(PaintContext& context) override;
    // The whole picture as filled shapes (context.source is taken as the
    // whole image).
    void drawVectors(PaintContext& context) override;
    Kind kind() const override { return Kind::Arrows; }
    // True while the worker resamples for this layer.
    bool isRendering() const override { return worker.isRunning(); }

    // Redraws the arrows from the vectors in hand into a fresh image of the
    // layer's size; nothing without vectors or a size.
    void updateImage();

    const QImage& currentImage() const { return image; }
    const TransferFunction& transferFunction() const override { return function; }
    // The three sliders' values as the layer holds them: length (0 to 100),
    // size (20 to 500) and quantity (minQuantity to maxQuantity).
    int lengthValue() const { return int(std::lround(arrowNormPerc * 100.0f)); }
    int sizeValue() const { return int(std::lround(arrowSize * 100.0f)); }
    int quantity() const { return arrowQuantity; }
    // Curly vectors (CurlyArrowRenderer) rather than straight arrows.
    bool isCurly() const { return curly; }
    void setCurly(bool curly);
    // Sets all three through the form's sliders (clamped to their ranges,
    // the form shows them), or straight without a form; one resample at most.
    void setSliderValues(int length, int size, int quantity);
    // The size slider's factor (1 at 100) and the length blend (1: all
    // arrows equally long), as ArrowRenderer takes them.
    float arrowSizeFactor() const { return arrowSize; }
    float lengthBlend() const { return arrowNormPerc; }
    // The grid asked of the worker (columns, rows).
    QSize arrowCounts() const { return QSize(arrowCountX, arrowCountY); }

    // Columns and rows for `quantity` arrows along the shorter side of a
    // field of the given aspect (width / height); the longer side gets
    // round(quantity * ratio), halves rounded up.
    static QSize arrowCountsFor(float aspect, int quantity);

public slots:
    // Every data set starts with quantity 20.
    void setFlowData(FlowData* flowData) override;
    // Keeps the quantity and the arrows on show until the new ones arrive.
    void setFlowDataStep(FlowData* flowData) override;
    void setSize(const QSize& size) override;
    // Arrows along the shorter side; resamples. Nothing without a data set.
    void setQuantity(int quant);
    // Size slider value: 100 = glyph units of width / 400 pixels.
    void setArrowSize(int value);
    // Length slider value: 100 = all arrows equally long, 0 = length
    // proportional to the magnitude.
    void setArrowNormPerc(int arrowNormPerc);
    void setTransferFunction(const TransferFunction& function) override;

protected:
    void customEvent(QEvent* event) override;
    void renderShown() override;

private:
    void resetPicture();

    int arrowQuantity = 20;
    int arrowCountX = 20;
    int arrowCountY = 20;
    float arrowSize = 1.0f;
    float arrowNormPerc = 1.0f;
    bool curly = false;
    Ui::ArrowLayer* form = nullptr;
    // The form's widgets belong to the panel, which may go first.
    TransferFunction function;
    QPointer<QSlider> quantitySlider;
    QImage image;
    FlowDataWorkerVector worker;
    bool resampleDeferred = false; // asked for while hidden
    // The newest vectors taken from the worker (owned), row by row, and the
    // grid (columns, rows) they were sampled on.
    Vector3* vectorData = nullptr;
    QSize vectorCounts;
};
