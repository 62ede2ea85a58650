#include "layers/LayerColorCoding.h"

#include "app/shell/PaintContext.h"
#include "data/CurvilinearFlowData.h"
#include "data/DerivedFieldCache.h"
#include "data/DerivedFieldGrid.h"
#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "data/ProfileTimer.h"
#include "data/RectangularFlowData.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunctionWidget.h"
#include "ui_ColorCodingLayer.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QLabel>
#include <QPainter>
#include <QSignalBlocker>
#include <QSpinBox>

#include <cmath>

LayerColorCoding::LayerColorCoding(int newScalarIndex, bool newVisible)
    : Layer(newVisible), worker(this), scalarIndex(newScalarIndex)
{
    worker.setScalarIndex(newScalarIndex);
}

LayerColorCoding::~LayerColorCoding()
{
    worker.wait();
    delete[] rawData;
    delete form;
}

void LayerColorCoding::setupControls(QWidget* panel)
{
    if (form) {
        qDebug() << "LayerColorCoding/setupControls:"
                 << "!!!controls exist already!!!";
        return;
    }
    form = new Ui::ColorCodingLayer;
    form->setupUi(panel);
    fieldSelector = form->scalarIndex;
    form->transferFunction->setMapOpacity(TransferFunctionWidget::OpaqueMaps);
    form->transferFunction->setTransferFunction(function);
    setTransferFunctionEditor(form->transferFunction);
    connect(form->transferFunction, &TransferFunctionWidget::transferFunctionChanged, this,
            &LayerColorCoding::setTransferFunction);
    connect(form->scalarIndex, &QComboBox::currentIndexChanged, this,
            &LayerColorCoding::scalarIndexChanged);
    refillFieldSelector();

    // Built here rather than in the form: it only matters for a series.
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(
        new QLabel(QCoreApplication::translate("ColorCodingLayer", "Colour range"), panel));
    rangeSelector = new QComboBox(panel);
    rangeSelector->addItem(QCoreApplication::translate("ColorCodingLayer", "Per step"), PerStep);
    rangeSelector->addItem(QCoreApplication::translate("ColorCodingLayer", "Whole series"),
                           WholeSeries);
    rangeSelector->setCurrentIndex(rangeChoice);
    rangeRow->addWidget(rangeSelector, 1);
    form->verticalLayout->insertLayout(1, rangeRow);
    connect(rangeSelector, &QComboBox::currentIndexChanged, this,
            [this](int index) { setColorRange(index == WholeSeries ? WholeSeries : PerStep); });

    showLicSettings();
    connect(form->licTexture, &QCheckBox::toggled, this, &LayerColorCoding::takeLicSettings);
    connect(form->licKernelLength, &QSpinBox::valueChanged, this,
            &LayerColorCoding::takeLicSettings);
    for (QComboBox* box : {form->licKernel, form->licContrast, form->licCombine})
        connect(box, &QComboBox::currentIndexChanged, this, &LayerColorCoding::takeLicSettings);
}

void LayerColorCoding::showLicSettings()
{
    if (!form || !form->licTexture)
        return;
    const QSignalBlocker a(form->licTexture), b(form->licKernelLength), c(form->licKernel),
        d(form->licContrast), e(form->licCombine);
    form->licTexture->setChecked(licShown);
    form->licKernelLength->setValue(lic.kernelLength);
    form->licKernel->setCurrentIndex(lic.kernel);
    form->licContrast->setCurrentIndex(lic.contrast);
    form->licCombine->setCurrentIndex(combine);
}

void LayerColorCoding::takeLicSettings()
{
    LineIntegralConvolution::Parameters parameters;
    parameters.kernelLength = form->licKernelLength->value();
    parameters.kernel = LineIntegralConvolution::Kernel(form->licKernel->currentIndex());
    parameters.contrast = LineIntegralConvolution::Contrast(form->licContrast->currentIndex());
    setLic(form->licTexture->isChecked(), parameters,
           LineIntegralConvolution::Combine(form->licCombine->currentIndex()));
}

void LayerColorCoding::setLic(bool shown, const LineIntegralConvolution::Parameters& parameters,
                              LineIntegralConvolution::Combine newCombine)
{
    LineIntegralConvolution::Parameters clamped = parameters;
    clamped.kernelLength = qBound(LineIntegralConvolution::minKernelLength, parameters.kernelLength,
                                  LineIntegralConvolution::maxKernelLength);
    const bool recompute = shown != licShown || (shown && clamped != lic);
    licShown = shown;
    lic = clamped;
    combine = newCombine;
    showLicSettings();
    if (recompute) {
        if (shown)
            worker.setVectorPass(
                [clamped](const Vector3* vectors, int width, int height, float aspect, float* out) {
                    return LineIntegralConvolution::compute(vectors, QSize(width, height), aspect,
                                                            clamped, out);
                });
        else
            worker.setVectorPass({});
        if (shown)
            startWorkerIfReady();
    }
    if (rawData)
        mapColors();
}

void LayerColorCoding::draw(PaintContext& context)
{
    if (image.isNull())
        return;
    QRectF source = context.source;
    if (image.size() != size && size.width() > 0 && size.height() > 0) {
        // A picture of an earlier size, shown stretched over the layer.
        const qreal sx = qreal(image.width()) / size.width();
        const qreal sy = qreal(image.height()) / size.height();
        source =
            QRectF(source.x() * sx, source.y() * sy, source.width() * sx, source.height() * sy);
    }
    context.painter->drawImage(context.target, image, source);
}

void LayerColorCoding::setFlowData(FlowData* newFlowData)
{
    Layer::setFlowData(newFlowData);
    if (newFlowData) {
        // Every data set starts with its first entry, which the refilled
        // selector shows; without a selector an index that still fits stays.
        const int last = fieldCount(newFlowData) - 1;
        scalarIndex = fieldSelector ? 0 : qBound(0, scalarIndex, qMax(last, 0));
    }
    forgetDerivedCache();
    worker.setFlowData(newFlowData, scalarIndex);
    refillFieldSelector();
    resetPicture();
    startWorkerIfReady();
}

void LayerColorCoding::setFlowDataStep(FlowData* newFlowData)
{
    if (!newFlowData || scalarIndex >= fieldCount(newFlowData)) {
        setFlowData(newFlowData);
        return;
    }
    Layer::setFlowData(newFlowData);
    forgetDerivedCache();
    worker.setFlowData(newFlowData, scalarIndex);
    // A derived field waits for the step's cache.
    if (derivedKind() < 0)
        startWorkerIfReady();
}

void LayerColorCoding::forgetDerivedCache()
{
    if (derivedCache)
        disconnect(derivedCache, nullptr, this, nullptr);
    derivedCache = nullptr;
    derivedWaiting = false;
    // Waits for a resampling of the old cache's set.
    worker.setExtraSet(nullptr);
}

void LayerColorCoding::setDerivedFieldCache(DerivedFieldCache* cache)
{
    forgetDerivedCache();
    derivedCache = cache;
    if (cache)
        connect(cache, &DerivedFieldCache::computed, this, [this](int kind, bool stored) {
            if (kind != derivedKind())
                return;
            derivedWaiting = false;
            if (stored)
                requestDerived();
        });
    requestDerived();
}

int LayerColorCoding::derivedKind() const
{
    const int kind = flowData ? scalarIndex - flowData->scalarSetCount() : -1;
    return kind >= 0 && kind < DerivedField::kindCount ? kind : -1;
}

void LayerColorCoding::requestDerived()
{
    const int kind = derivedKind();
    if (kind < 0 || !derivedCache)
        return;
    const auto which = DerivedField::Kind(kind);
    derivedWaiting = !derivedCache->request(which);
    if (derivedWaiting)
        return; // computed() follows
    worker.setExtraSet(derivedCache->find(which));
    startWorkerIfReady();
}

ValueRange LayerColorCoding::stepRange() const
{
    const int kind = derivedKind();
    if (kind < 0)
        return flowData ? FlowSeries::stepRange(*flowData, scalarIndex) : ValueRange();
    const ScalarSet* set = derivedCache ? derivedCache->find(DerivedField::Kind(kind)) : nullptr;
    return set ? ValueRange{double(set->minimum), double(set->maximum)} : ValueRange();
}

void LayerColorCoding::setColorRange(ColorRange range)
{
    rangeChoice = range;
    if (rangeSelector && rangeSelector->currentIndex() != range) {
        const QSignalBlocker blocker(rangeSelector);
        rangeSelector->setCurrentIndex(range);
    }
    if (range == WholeSeries && seriesRanges.isEmpty())
        emit seriesRangesWanted();
    if (rawData)
        mapColors();
}

void LayerColorCoding::setSeriesRanges(const QList<ValueRange>& ranges)
{
    seriesRanges = ranges;
    if (rangeChoice == WholeSeries && ranges.isEmpty())
        emit seriesRangesWanted();
    if (rawData && rangeChoice == WholeSeries)
        mapColors();
}

bool LayerColorCoding::wholeSeries() const
{
    return rangeChoice == WholeSeries && scalarIndex >= 0 && scalarIndex < seriesRanges.size();
}

ValueRange LayerColorCoding::valueRange() const
{
    if (wholeSeries())
        return seriesRanges[scalarIndex];
    return stepRange();
}

void LayerColorCoding::setSize(const QSize& newSize)
{
    Layer::setSize(newSize);
    worker.setRasterSize(newSize.width(), newSize.height());
    startWorkerIfReady();
}

void LayerColorCoding::setTransferFunction(const TransferFunction& newFunction)
{
    function = newFunction;
    mapColors();
}

void LayerColorCoding::scalarIndexChanged(int index)
{
    if (index < 0)
        return;
    if (flowData && index >= fieldCount(flowData)) {
        qDebug() << "LayerColorCoding/scalarIndexChanged: !!!index out of range!!!" << index;
        return;
    }
    scalarIndex = index;
    worker.setExtraSet(nullptr);
    worker.setScalarIndex(index);
    resetPicture();
    if (derivedKind() >= 0)
        requestDerived();
    else
        startWorkerIfReady();
}

void LayerColorCoding::setField(int index)
{
    if (fieldSelector && index >= 0 && index < fieldSelector->count())
        fieldSelector->setCurrentIndex(index);
    else if (!fieldSelector)
        scalarIndexChanged(index);
}

void LayerColorCoding::customEvent(QEvent* event)
{
    if (event->type() != FlowDataReady)
        return;
    QSize rasterSize;
    float* raster = worker.takeResult(&rasterSize);
    if (!raster)
        return;
    delete[] rawData;
    rawData = raster;
    rawSize = rasterSize;
    // A raster taken now was sampled from the data set in hand: a change of
    // data set discards the one not yet taken.
    rawRange = stepRange();
    rawPhysical = derivedKind() >= 0;
    rawTexture = licShown;
    mapColors();
}

void LayerColorCoding::refillFieldSelector()
{
    if (!fieldSelector)
        return;
    const QSignalBlocker blocker(fieldSelector);
    fieldSelector->clear();
    if (!flowData)
        return;
    const int count = fieldCount(flowData);
    for (int i = 0; i < count; ++i)
        fieldSelector->addItem(fieldName(flowData, i), i);
    fieldSelector->setCurrentIndex(scalarIndex < count ? scalarIndex : -1);
}

int LayerColorCoding::fieldCount(const FlowData* flowData)
{
    if (!flowData)
        return 0;
    const bool grid = dynamic_cast<const RectangularFlowData*>(flowData) ||
                      dynamic_cast<const CurvilinearFlowData*>(flowData);
    return flowData->scalarSetCount() + (grid ? DerivedField::kindCount : 0);
}

int LayerColorCoding::fieldIndex(const FlowData* flowData, const QString& name)
{
    DerivedField::Kind kind;
    if (flowData && DerivedField::fromKey(name, &kind))
        return flowData->scalarSetCount() + int(kind);
    for (int i = 0; i < fieldCount(flowData); ++i) {
        const QString listed = fieldName(flowData, i);
        if (name.compare(listed, Qt::CaseInsensitive) == 0 ||
            name.compare(listed.section(QStringLiteral(" ["), 0, 0), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString LayerColorCoding::fieldName(const FlowData* flowData, int index)
{
    if (!flowData || index < 0 || index >= fieldCount(flowData))
        return QString();
    if (index >= flowData->scalarSetCount()) {
        const auto kind = DerivedField::Kind(index - flowData->scalarSetCount());
        const QString unit = DerivedField::unit(kind, flowData->velocityUnit(),
                                                DerivedFieldGrid::lengthUnitOf(*flowData));
        const QString name = DerivedField::name(kind);
        return unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QLatin1Char(']');
    }
    const ScalarSet& set = flowData->scalarSets().at(index);
    const bool speed = index == flowData->scalarSetCount() - 1;
    QString name = set.name;
    if (name.isEmpty()) {
        name = speed ? QCoreApplication::translate("ColorCodingLayer", "Velocity")
                     : QCoreApplication::translate("ColorCodingLayer", "Scalar ") +
                           QString::number(index);
    }
    const QString unit = speed ? flowData->velocityUnit() : set.unit;
    return unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QLatin1Char(']');
}

void LayerColorCoding::resetPicture()
{
    const bool hadPicture = !image.isNull();
    image = QImage();
    delete[] rawData;
    rawData = nullptr;
    rawSize = QSize();
    if (hadPicture)
        emit layerChanged(this);
}

void LayerColorCoding::startWorkerIfReady()
{
    if (!flowData || size.width() < 0 || size.height() < 0)
        return;
    if (deferWhileHidden()) {
        resampleDeferred = true;
        return;
    }
    resampleDeferred = false;
    worker.startIfIdle();
}

void LayerColorCoding::renderShown()
{
    if (resampleDeferred)
        startWorkerIfReady(); // its raster maps the colours
    else if (rawData)
        mapColors();
}

void LayerColorCoding::mapColors()
{
    if (!rawData) {
        qDebug() << "!!!rawData == 0!!!";
        return;
    }
    if (deferWhileHidden())
        return;
    ProfileTimer timer(QStringLiteral("LayerColorCoding/mapColors"));
    timer.start();
    // The raster is normalised to its own data set's range; for the whole
    // series v becomes (v * (max - min) + min - seriesMin) / seriesSpan.
    float scale = 1.0f;
    float offset = 0.0f;
    if (rawPhysical) {
        const double span = rawRange.maximum - rawRange.minimum;
        scale = span > 0.0 ? float(1.0 / span) : 0.0f;
        offset = span > 0.0 ? float(-rawRange.minimum / span) : 0.0f;
    } else if (wholeSeries()) {
        const ValueRange all = seriesRanges[scalarIndex];
        const double span = all.maximum - all.minimum;
        scale = span > 0.0 ? float((rawRange.maximum - rawRange.minimum) / span) : 0.0f;
        offset = span > 0.0 ? float((rawRange.minimum - all.minimum) / span) : 0.0f;
    }
    QImage picture = ColorCodingRenderer::render(
        rawData, rawSize, function.colorTable(colorTableSize), scale, offset);
    if (picture.isNull()) {
        qDebug() << "LayerColorCoding/mapColors: !!!cannot allocate the picture!!!" << rawSize;
        return;
    }
    if (rawTexture && licShown)
        LineIntegralConvolution::combine(
            picture, rawData + qsizetype(rawSize.width()) * rawSize.height(), combine);
    image = picture;
    timer.stop();
    emit layerChanged(this);
}
