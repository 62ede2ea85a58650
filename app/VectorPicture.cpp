#include "app/VectorPicture.h"

#include "app/LayerStack.h"
#include "app/shell/Layer.h"
#include "app/shell/PaintContext.h"
#include "data/FlowData.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "render/ArrowRenderer.h"
#include "render/ReferenceArrow.h"
#include "transfer/ColorLegend.h"

#include <QDebug>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <cmath>

namespace {

constexpr int jpegQuality = 80;
constexpr double pointsPerInch = 72.0;
constexpr double metresPerInch = 0.0254;
// Above and below the title's line.
constexpr double titleGap = 4.0;

bool hasSuffix(const QString& fileName, const char* suffix)
{
    return QFileInfo(fileName).suffix().compare(QLatin1String(suffix), Qt::CaseInsensitive) == 0;
}

} // namespace

VectorPicture::VectorPicture(const QList<Layer*>& newLayers, QSize newLayerSize)
    : layers(newLayers), layerSize(newLayerSize)
{
}

QMarginsF VectorPicture::room() const
{
    const QFontMetricsF metrics(font);
    QMarginsF margins = axes ? FigureAxes::margins(metrics) : QMarginsF();
    if (!title.isEmpty())
        margins.setTop(margins.top() + metrics.height() + 2.0 * titleGap);
    return margins;
}

QSize VectorPicture::naturalSize() const
{
    if (layerSize.isEmpty())
        return QSize();
    const QMarginsF margins = room();
    return QSize(int(std::ceil(std::ceil(margins.left()) + layerSize.width() + margins.right())),
                 int(std::ceil(std::ceil(margins.top()) + layerSize.height() + margins.bottom())));
}

QSize VectorPicture::size() const
{
    const QSize natural = naturalSize();
    return natural.isEmpty() || canvas.isEmpty() ? natural : canvas.expandedTo(natural);
}

QRectF VectorPicture::pictureRect() const
{
    const QMarginsF margins = room();
    const QSize spare = size() - naturalSize();
    // Whole pixels, so that a raster picture maps image pixels one to one.
    return QRectF(QPointF(std::ceil(margins.left()) + spare.width() / 2,
                          std::ceil(margins.top()) + spare.height() / 2),
                  QSizeF(layerSize));
}

void VectorPicture::paint(QPainter& painter, bool vectors) const
{
    if (layerSize.isEmpty())
        return;
    const QRectF picture = pictureRect();
    painter.save();
    painter.setFont(font);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (axes || !title.isEmpty() || size() != layerSize)
        painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size())), Qt::white);
    QColor under = background;
    under.setAlpha(255);
    painter.fillRect(picture, under);

    painter.save();
    painter.setClipRect(picture);
    if (!vectors && !composedLayers.isNull()) {
        painter.drawImage(picture, composedLayers);
    } else {
        // Layer images hold row 0 at their top; y up puts it at the bottom.
        painter.translate(picture.topLeft());
        if (!flippedVertically) {
            painter.translate(0.0, layerSize.height());
            painter.scale(1.0, -1.0);
        }
        PaintContext context;
        context.painter = &painter;
        context.target = QRectF(QPointF(0, 0), QSizeF(layerSize));
        context.source = context.target;
        for (Layer* layer : layers) {
            if (!layer->isVisible())
                continue;
            painter.setOpacity(layer->opacity());
            if (vectors)
                layer->drawVectors(context);
            else
                layer->draw(context);
        }
    }
    painter.restore();

    if (legendShown)
        paintLegend(painter, layers, picture);
    if (referenceSpeed)
        paintReferenceArrow(painter, layers, layerSize, *referenceSpeed, picture);
    if (scaleBar)
        scaleBar->paint(painter, picture, picture);
    if (axes)
        axes->paint(painter, picture, picture, flippedVertically);
    if (!title.isEmpty()) {
        const QFontMetricsF metrics(font);
        const double line = metrics.height();
        const double top =
            picture.top() - (axes ? FigureAxes::margins(metrics).top() : 0.0) - titleGap - line;
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0.0, top, size().width(), line), Qt::AlignCenter, title);
    }
    painter.restore();
}

QImage VectorPicture::image() const
{
    const QSize whole = size();
    if (whole.isEmpty()) {
        qDebug() << "VectorPicture/image: !!!no image size!!!";
        return QImage();
    }
    QImage picture(whole, QImage::Format_ARGB32);
    if (picture.isNull()) {
        qDebug() << "VectorPicture/image: !!!image could not be allocated!!!" << whole;
        return QImage();
    }
    picture.fill(Qt::white);
    QPainter painter(&picture);
    paint(painter, false);
    painter.end();
    return picture;
}

bool VectorPicture::isVectorFileName(const QString& fileName)
{
    return hasSuffix(fileName, "svg") || hasSuffix(fileName, "pdf");
}

bool VectorPicture::write(const QString& fileName) const
{
    const QSize whole = size();
    if (whole.isEmpty())
        return false;
    if (hasSuffix(fileName, "svg")) {
        QSvgGenerator generator;
        generator.setFileName(fileName);
        generator.setSize(whole);
        generator.setViewBox(QRect(QPoint(0, 0), whole));
        generator.setResolution(dotsPerInch);
        generator.setTitle(QFileInfo(fileName).completeBaseName());
        generator.setDescription(QStringLiteral("Velmora"));
        QPainter painter;
        if (!painter.begin(&generator))
            return false;
        paint(painter, true);
        return painter.end();
    }
    if (hasSuffix(fileName, "pdf")) {
        QPdfWriter writer(fileName);
        writer.setResolution(dotsPerInch);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setPageSize(QPageSize(QSizeF(whole) * (pointsPerInch / dotsPerInch),
                                     QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.setCreator(QStringLiteral("Velmora"));
        QPainter painter;
        if (!painter.begin(&writer))
            return false;
        paint(painter, true);
        return painter.end();
    }
    QImage picture = image();
    // After painting: the resolution would scale text set in points.
    const int dotsPerMeter = int(std::lround(dotsPerInch / metresPerInch));
    picture.setDotsPerMeterX(dotsPerMeter);
    picture.setDotsPerMeterY(dotsPerMeter);
    const bool png = hasSuffix(fileName, "png");
    return !picture.isNull() && picture.save(fileName, png ? "png" : "jpg", png ? -1 : jpegQuality);
}

std::optional<std::pair<double, double>>
VectorPicture::referenceArrowFor(const QList<Layer*>& layers, QSize layerSize, double speed)
{
    const auto* arrows =
        static_cast<const LayerArrows*>(LayerStack(layers).topmostVisible(Layer::Kind::Arrows));
    if (!arrows || !arrows->currentFlowData() || layerSize.isEmpty())
        return std::nullopt;
    const FlowData& data = *arrows->currentFlowData();
    const double value =
        speed > 0.0 ? speed : ReferenceArrow::roundSpeed(ReferenceArrow::typicalSpeed(data));
    // The layer draws the field's vectors divided by its largest speed.
    const double largest = data.largestSpeed() > 0.0 ? data.largestSpeed() : 1.0;
    const double length = ArrowRenderer::lengthFor(
        float(value / largest), layerSize, arrows->arrowSizeFactor(), arrows->lengthBlend());
    return std::pair{value, length};
}

void VectorPicture::paintReferenceArrow(QPainter& painter, const QList<Layer*>& layers,
                                        QSize layerSize, double speed, const QRectF& area)
{
    const auto arrow = referenceArrowFor(layers, layerSize, speed);
    if (!arrow)
        return;
    const auto* arrows =
        static_cast<const LayerArrows*>(LayerStack(layers).topmostVisible(Layer::Kind::Arrows));
    const double glyphUnit =
        std::min(layerSize.width(), layerSize.height()) * double(arrows->arrowSizeFactor()) / 400.0;
    ReferenceArrow(arrow->first, arrows->currentFlowData()->velocityUnit(), arrow->second,
                   glyphUnit)
        .paint(painter, area);
}

void VectorPicture::paintLegend(QPainter& painter, const QList<Layer*>& layers, const QRectF& area)
{
    const LayerColorCoding* coding = LayerStack(layers).topmostVisibleColorCoding();
    if (!coding || !coding->currentFlowData())
        return;
    const ValueRange range = coding->valueRange();
    ColorLegend(coding->transferFunction(), coding->fieldName(), range.minimum, range.maximum)
        .paint(painter, area);
}
