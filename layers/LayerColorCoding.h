#pragma once

#include "app/shell/Layer.h"
#include "data/DerivedField.h"
#include "data/FlowDataWorkerScalar.h"
#include "data/ValueRange.h"
#include "render/ColorCodingRenderer.h"
#include "render/LineIntegralConvolution.h"
#include "transfer/TransferFunction.h"

#include <QImage>
#include <QList>
#include <QPointer>

namespace Ui {
class ColorCodingLayer;
}
class DerivedFieldCache;
class QComboBox;

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
//
// After the scalar list the selector offers the derived fields (entry
// scalarSetCount() + DerivedField::Kind). Their sets live in the cache the
// owner of the data set keeps beside it and hands over with
// setDerivedFieldCache after every setFlowData or setFlowDataStep; the layer
// forgets the cache when the data set changes, so the owner may delete it
// (first, then the data set) once every layer has switched. A chosen derived
// field is asked for in the background and resampled when it arrives.
//
// The LIC look modulates the colours by a line integral convolution of the
// vector field at the raster's size, computed by the worker beside the
// values (its vector pass); until a raster with the texture arrives the
// colours show without it, and a change of the LIC settings keeps the
// picture on show until the new texture is there.
class LayerColorCoding : public Layer
{
    Q_OBJECT

public:
    static constexpr int colorTableSize = ColorCodingRenderer::colorTableSize;

    // What the ends of the transfer function stand for: the extremes of the
    // field in the data set on show, or its extremes over a whole series
    // (as given by setSeriesRanges; per step until they are known).
    enum ColorRange
    {
        PerStep,
        WholeSeries
    };

    // scalarIndex: entry of the data set's scalar list; the last entry is
    // the velocity magnitude, the derived fields follow it.
    LayerColorCoding(int scalarIndex, bool visible);
    ~LayerColorCoding() override;

    // Builds the "ColorCodingLayer" form (field selector and transfer
    // function editor) onto the panel; the editor starts with the layer's
    // transfer function. Without a form the layer renders all the same.
    void setupControls(QWidget* panel) override;
    void draw(PaintContext& context) override;
    Kind kind() const override { return Kind::ColorCoding; }
    // True while the worker resamples for this layer, or the derived set it
    // asked for is on its way.
    bool isRendering() const override { return worker.isRunning() || derivedWaiting; }

    // The picture as last coloured: premultiplied ARGB of the size of the
    // raster it was coloured from; null before the first raster and after a
    // reset.
    const QImage& currentImage() const { return image; }
    int currentScalarIndex() const { return scalarIndex; }
    const TransferFunction& transferFunction() const override { return function; }
    ColorRange colorRange() const { return rangeChoice; }
    // The physical values the transfer function spans now, from its left
    // end to its right end; (0, 0) without a data set.
    ValueRange valueRange() const;
    bool isLicShown() const { return licShown; }
    const LineIntegralConvolution::Parameters& licParameters() const { return lic; }
    LineIntegralConvolution::Combine licCombine() const { return combine; }
    // The name of the shown field, as the field selector lists it.
    QString fieldName() const { return fieldName(flowData, scalarIndex); }

    // Entry `index` of the data set's scalar list as the user sees it: the
    // file's name of the set with its unit, else "Scalar k".
    // "Velocity" for the last entry, the speed; then the derived fields with
    // their units.
    static QString fieldName(const FlowData* flowData, int index);
    // The entries the selector offers for `flowData`: its scalar list, then
    // the derived fields.
    static int fieldCount(const FlowData* flowData);
    // The entry `name` means for `flowData`: an entry as the selector lists
    // it, with or without its unit (any case), or a derived field's key;
    // -1 when none.
    static int fieldIndex(const FlowData* flowData, const QString& name);

public slots:
    void setFlowData(FlowData* flowData) override;
    // Keeps the field, the range choice and the picture on show until the
    // new raster arrives.
    void setFlowDataStep(FlowData* flowData) override;
    void setSize(const QSize& size) override;
    // Recolours the raster in hand through `function`.
    void setTransferFunction(const TransferFunction& function) override;
    // A position of the field selector (= scalar list index); -1, as while
    // the selector is cleared, is ignored.
    void scalarIndexChanged(int index);
    // Chooses entry `index` through the field selector, which then shows it;
    // straight through scalarIndexChanged without a form.
    void setField(int index);
    // Recolours the raster in hand.
    void setColorRange(ColorRange range);
    // The extremes over the series, one per scalar list entry (see
    // FlowSeries::seriesRanges); empty when there is no series, which asks
    // for them again (seriesRangesWanted) while the whole series is chosen.
    void setSeriesRanges(const QList<ValueRange>& ranges);
    // The derived sets of the data set in hand (null: none).
    void setDerivedFieldCache(DerivedFieldCache* cache);
    // Turns the LIC look on or off with its settings (the kernel length
    // clamped to its range); the form follows.
    void setLic(bool shown, const LineIntegralConvolution::Parameters& parameters,
                LineIntegralConvolution::Combine combine);

signals:
    // The whole-series range was chosen and the layer has no series ranges.
    void seriesRangesWanted();

protected:
    void customEvent(QEvent* event) override;
    void renderShown() override;

private:
    void refillFieldSelector();
    void resetPicture();
    void startWorkerIfReady();
    void mapColors();
    bool wholeSeries() const;
    // The derived field chosen, or -1 for an entry of the scalar list.
    int derivedKind() const;
    void requestDerived();
    void forgetDerivedCache();
    ValueRange stepRange() const;
    void showLicSettings();
    void takeLicSettings();

    bool resampleDeferred = false; // asked for while hidden
    Ui::ColorCodingLayer* form = nullptr;
    // The form's widgets belong to the panel, which may go first.
    QPointer<QComboBox> fieldSelector;
    TransferFunction function;
    QImage image;
    FlowDataWorkerScalar worker;
    int scalarIndex;
    // The newest raster taken from the worker (owned) and the size it holds.
    float* rawData = nullptr;
    QSize rawSize;
    // The physical range of the data set rawData was sampled from.
    ValueRange rawRange;
    ColorRange rangeChoice = PerStep;
    QList<ValueRange> seriesRanges;
    QPointer<QComboBox> rangeSelector;
    QPointer<DerivedFieldCache> derivedCache;
    // rawData holds a derived field in its own units, not normalised.
    bool rawPhysical = false;
    bool derivedWaiting = false;
    bool licShown = false;
    LineIntegralConvolution::Parameters lic;
    LineIntegralConvolution::Combine combine = LineIntegralConvolution::Multiply;
    // rawData holds the texture after its values (see FlowDataWorkerScalar).
    bool rawTexture = false;
};
