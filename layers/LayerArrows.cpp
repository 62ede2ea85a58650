#include "layers/LayerArrows.h"

#include "app/shell/PaintContext.h"
#include "data/FlowData.h"
#include "data/ProfileTimer.h"
#include "render/CurlyArrowRenderer.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunctionWidget.h"
#include "ui_ArrowLayer.h"

#include <QComboBox>
#include <QDebug>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr int initialQuantity = 20;
} // namespace

LayerArrows::LayerArrows(bool newVisible) : Layer(newVisible), worker(this) {}

LayerArrows::~LayerArrows()
{
    worker.wait();
    delete[] vectorData;
    delete form;
}

void LayerArrows::setupControls(QWidget* panel)
{
    if (form) {
        qDebug() << "LayerArrows/setupControls:"
                 << "!!!controls exist already!!!";
        return;
    }
    form = new Ui::ArrowLayer;
    form->setupUi(panel);
    form->transferFunction->setTransferFunction(function);
    setTransferFunctionEditor(form->transferFunction);
    quantitySlider = form->arrowQuantitySlider;
    connect(form->arrowLengthSlider, &QSlider::valueChanged, this, &LayerArrows::setArrowNormPerc);
    connect(form->arrowSizeSlider, &QSlider::valueChanged, this, &LayerArrows::setArrowSize);
    connect(form->arrowQuantitySlider, &QSlider::valueChanged, this, &LayerArrows::setQuantity);
    form->arrowStyleComboBox->setCurrentIndex(curly ? 1 : 0);
    connect(form->arrowStyleComboBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { setCurly(index == 1); });
    connect(form->transferFunction, &TransferFunctionWidget::transferFunctionChanged, this,
            &LayerArrows::setTransferFunction);
}

void LayerArrows::draw(PaintContext& context)
{
    if (!image.isNull())
        context.painter->drawImage(context.target, image, context.source);
}

void LayerArrows::drawVectors(PaintContext& context)
{
    if (!vectorData || size.isEmpty())
        return;
    QPainter& painter = *context.painter;
    painter.save();
    painter.translate(context.target.topLeft());
    painter.scale(context.target.width() / size.width(), context.target.height() / size.height());
    if (curly && flowData)
        CurlyArrowRenderer::paint(painter, *flowData, vectorData, vectorCounts,
                                  function.colorTable(colorTableSize), size, arrowSize,
                                  arrowNormPerc);
    else
        ArrowRenderer::paint(painter, vectorData, vectorCounts, function.colorTable(colorTableSize),
                             size, arrowSize, arrowNormPerc);
    painter.restore();
}

void LayerArrows::setFlowData(FlowData* newFlowData)
{
    Layer::setFlowData(newFlowData);
    worker.setFlowData(newFlowData);
    if (newFlowData && quantitySlider) {
        // The slider shows the quantity the new data set starts with.
        const QSignalBlocker blocker(quantitySlider);
        quantitySlider->setValue(initialQuantity);
    }
    setQuantity(initialQuantity);
    resetPicture();
}

void LayerArrows::setFlowDataStep(FlowData* newFlowData)
{
    Layer::setFlowData(newFlowData);
    worker.setFlowData(newFlowData);
    if (!newFlowData) {
        resetPicture();
        return;
    }
    worker.setRasterSize(arrowCountX, arrowCountY);
    worker.start();
}

void LayerArrows::setSize(const QSize& newSize)
{
    Layer::setSize(newSize);
    worker.setRasterSize(arrowCountX, arrowCountY);
    updateImage();
}

void LayerArrows::setQuantity(int quant)
{
    if (!flowData)
        return;
    arrowQuantity = std::clamp(quant, minQuantity, maxQuantity);
    const QSize counts = arrowCountsFor(flowData->aspectRatio(), quant);
    arrowCountX = counts.width();
    arrowCountY = counts.height();
    worker.setRasterSize(arrowCountX, arrowCountY);
    if (deferWhileHidden()) {
        resampleDeferred = true;
        return;
    }
    resampleDeferred = false;
    worker.start();
}

void LayerArrows::setCurly(bool newCurly)
{
    if (newCurly == curly)
        return;
    curly = newCurly;
    if (form) {
        const QSignalBlocker blocker(form->arrowStyleComboBox);
        form->arrowStyleComboBox->setCurrentIndex(curly ? 1 : 0);
    }
    updateImage();
}

void LayerArrows::setSliderValues(int length, int newSize, int quant)
{
    length = std::clamp(length, 0, 100);
    newSize = std::clamp(newSize, 20, 500);
    quant = std::clamp(quant, minQuantity, maxQuantity);
    if (form) {
        form->arrowLengthSlider->setValue(length);
        form->arrowSizeSlider->setValue(newSize);
        form->arrowQuantitySlider->setValue(quant);
        return;
    }
    setArrowNormPerc(length);
    setArrowSize(newSize);
    if (quant != arrowQuantity)
        setQuantity(quant);
}

void LayerArrows::renderShown()
{
    if (resampleDeferred && flowData) {
        resampleDeferred = false;
        worker.start(); // its vectors draw the picture
    } else {
        updateImage();
    }
}

void LayerArrows::setArrowSize(int value)
{
    arrowSize = float(value) / 100.0f;
    updateImage();
}

void LayerArrows::setArrowNormPerc(int newArrowNormPerc)
{
    arrowNormPerc = float(newArrowNormPerc) / 100.0f;
    updateImage();
}

void LayerArrows::setTransferFunction(const TransferFunction& newFunction)
{
    function = newFunction;
    updateImage();
}

void LayerArrows::customEvent(QEvent* event)
{
    if (event->type() != FlowDataReady)
        return;
    QSize counts;
    if (Vector3* vectors = worker.takeResult(&counts)) {
        delete[] vectorData;
        vectorData = vectors;
        vectorCounts = counts;
    }
    updateImage();
}

void LayerArrows::resetPicture()
{
    const bool hadPicture = !image.isNull();
    image = QImage();
    delete[] vectorData;
    vectorData = nullptr;
    vectorCounts = QSize();
    if (hadPicture)
        emit layerChanged(this);
}

QSize LayerArrows::arrowCountsFor(float aspect, int quantity)
{
    const int quant = std::clamp(quantity, minQuantity, maxQuantity);
    const double ratio = std::isfinite(aspect) && aspect > 0.0f ? double(aspect) : 1.0;
    const auto longer = [quant](double factor) {
        return int(std::min(std::floor(factor * quant + 0.5), double(maxArrowsPerSide)));
    };
    if (ratio > 1.0)
        return QSize(longer(ratio), quant);
    return QSize(quant, longer(1.0 / ratio));
}

void LayerArrows::updateImage()
{
    if (!vectorData || size.width() <= 0 || size.height() <= 0 || deferWhileHidden())
        return;
    ProfileTimer timer(QStringLiteral("LayerArrows/updateImage"));
    timer.start();
    const ColorTable table = function.colorTable(colorTableSize);
    QImage picture = curly && flowData
                         ? CurlyArrowRenderer::render(*flowData, vectorData, vectorCounts, table,
                                                      size, arrowSize, arrowNormPerc)
                         : ArrowRenderer::render(vectorData, vectorCounts, table, size, arrowSize,
                                                 arrowNormPerc);
    if (picture.isNull())
        return;
    image = picture;
    timer.stop();
    emit layerChanged(this);
}
