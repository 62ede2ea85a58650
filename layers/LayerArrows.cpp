#include "LayerArrows.h"

#include "ColorTable.h"
#include "PaintContext.h"
#include "ProfileTimer.h"
#include "TransferFunctionWidget.h"
#include "ui_ArrowLayer.h"

#include <QDebug>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {

constexpr int initialQuantity = 20;

} // namespace

LayerArrows::LayerArrows(bool visible) : Layer(visible), worker(this) {}

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
    transferFunction = form->transferFunction;
    quantitySlider = form->arrowQuantitySlider;
    connect(form->arrowLengthSlider, &QSlider::valueChanged, this, &LayerArrows::setArrowNormPerc);
    connect(form->arrowSizeSlider, &QSlider::valueChanged, this, &LayerArrows::setArrowSize);
    connect(form->arrowQuantitySlider, &QSlider::valueChanged, this, &LayerArrows::setQuantity);
    connect(form->transferFunction, &TransferFunctionWidget::colorsChanged, this,
            &LayerArrows::colorsChanged);
}

void LayerArrows::draw(PaintContext& context)
{
    if (!image.isNull())
        context.painter->drawImage(context.target, image, context.source);
}

void LayerArrows::setFlowData(FlowData* flowData)
{
    Layer::setFlowData(flowData);
    worker.setFlowData(flowData);
    if (flowData && quantitySlider) {
        // The slider shows the quantity the new data set starts with.
        const QSignalBlocker blocker(quantitySlider);
        quantitySlider->setValue(initialQuantity);
    }
    setQuantity(initialQuantity);
    resetPicture();
}

void LayerArrows::setSize(const QSize& size)
{
    Layer::setSize(size);
    worker.setRasterSize(arrowCountX, arrowCountY);
    updateImage();
}

void LayerArrows::setQuantity(int quant)
{
    if (!flowData)
        return;
    const QSize counts = arrowCountsFor(flowData->aspectRatio(), quant);
    arrowCountX = counts.width();
    arrowCountY = counts.height();
    worker.setRasterSize(arrowCountX, arrowCountY);
    worker.start();
}

void LayerArrows::setArrowSize(int value)
{
    arrowSize = float(value) / 100.0f;
    updateImage();
}

void LayerArrows::setArrowNormPerc(int arrowNormPerc)
{
    this->arrowNormPerc = float(arrowNormPerc) / 100.0f;
    updateImage();
}

void LayerArrows::colorsChanged()
{
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

QPainterPath LayerArrows::arrowPath()
{
    QPainterPath path;
    path.moveTo(-4, -1);
    path.lineTo(-4, 1);
    path.lineTo(0, 1);
    path.lineTo(0, 3);
    path.lineTo(4, 0);
    path.lineTo(0, -3);
    path.lineTo(0, -1);
    path.closeSubpath();
    return path;
}

void LayerArrows::updateImage()
{
    if (!vectorData || !transferFunction || size.width() <= 0 || size.height() <= 0)
        return;
    ProfileTimer timer(QStringLiteral("LayerArrows/updateImage"));
    timer.start();
    const ColorTable table(*transferFunction, colorTableSize);
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        qDebug() << "LayerArrows/updateImage: !!!cannot allocate the picture!!!" << size;
        return;
    }
    picture.fill(0);

    QPainter painter(&picture);
    painter.setPen(Qt::NoPen);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = arrowPath();
    const int columns = vectorCounts.width();
    const int rows = vectorCounts.height();
    const float dx = float(size.width()) / float(columns - 1);
    const float dy = float(size.height()) / float(rows - 1);
    const float s = float(size.width()) * arrowSize / 400.0f;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const Vector3& v = vectorData[j * columns + i];
            const float m = v.length();
            if (!(m > minMagnitude) || !std::isfinite(m))
                continue;
            // Image rows run along +y of the data, so the angle measured from
            // +x towards +y turns the glyph the data's way.
            const double angle = std::atan2(double(v.y), double(v.x));
            const float along = s * (arrowNormPerc + 10.0f * (1.0f - arrowNormPerc) * m);
            QTransform transform;
            transform.translate(i * dx, j * dy);
            transform.rotateRadians(angle);
            transform.scale(along, s);
            painter.setTransform(transform);
            painter.fillPath(path, table.straightColor(table.indexOf(m)));
        }
    }
    painter.end();
    image = picture;
    timer.stop();
    emit layerChanged(this);
}
