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
#include <vector>

namespace {

constexpr int initialQuantity = 20;

// The glyph in glyph units, pointing along +x and centred on the origin: a
// shaft from -4 to 0, two units thick, and a head from 0 to 4, six units wide.
constexpr int glyphPoints = 7;
constexpr double glyph[glyphPoints][2] = {{-4, -1}, {-4, 1}, {0, 1}, {0, 3},
                                          {4, 0},   {0, -3}, {0, -1}};

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
    const int columns = vectorCounts.width();
    const int rows = vectorCounts.height();
    const float dx = float(size.width()) / float(columns - 1);
    const float dy = float(size.height()) / float(rows - 1);
    const float s = float(size.width()) * arrowSize / 400.0f;
    QPointF placed[glyphPoints];
    // One brush per table entry in use, made on first use.
    std::vector<QBrush> brushes(colorTableSize, QBrush(Qt::NoBrush));
    int brushEntry = -1;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const Vector3& v = vectorData[j * columns + i];
            const float m = v.length();
            if (!(m > minMagnitude) || !std::isfinite(m))
                continue;
            // The direction of (x, y) alone, as atan2(y, x) would turn it;
            // image rows run along +y of the data, so this turns the glyph
            // the data's way. A vector along z alone points along +x.
            const double planar = std::hypot(double(v.x), double(v.y));
            const double cosine = planar > 0.0 ? double(v.x) / planar : 1.0;
            const double sine = planar > 0.0 ? double(v.y) / planar : 0.0;
            const double along = s * (arrowNormPerc + 10.0f * (1.0f - arrowNormPerc) * m);
            const double x0 = double(i * dx);
            const double y0 = double(j * dy);
            // translate(x0, y0) . rotate . scale(along, s), applied by hand:
            // one polygon per arrow is much cheaper than a path under a
            // painter transform.
            for (int k = 0; k < glyphPoints; ++k) {
                const double gx = glyph[k][0] * along;
                const double gy = glyph[k][1] * s;
                placed[k] = QPointF(x0 + cosine * gx - sine * gy, y0 + sine * gx + cosine * gy);
            }
            const int entry = table.indexOf(m);
            if (entry != brushEntry) {
                if (brushes[entry].style() == Qt::NoBrush)
                    brushes[entry] = QBrush(table.straightColor(entry));
                painter.setBrush(brushes[entry]);
                brushEntry = entry;
            }
            painter.drawPolygon(placed, glyphPoints);
        }
    }
    painter.end();
    image = picture;
    timer.stop();
    emit layerChanged(this);
}
