#include "LayerStreamlines.h"

#include "ColorTable.h"
#include "FlowData.h"
#include "PaintContext.h"
#include "ProfileTimer.h"
#include "TransferFunctionWidget.h"
#include "ui_StreamlinesLayer.h"

#include <QDebug>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <array>
#include <climits>
#include <utility>

namespace {

// Entries of the colour table; a magnitude m selects entry trunc(m * 255).
constexpr int colorTableEntries = 256;

// The stroke is lineWidth * 20 pixels wide (slider value / 5).
constexpr double strokePixelsPerLineWidth = 20.0;

// A glyph's base is glyphSize * 0.02 image widths long and it spans four
// times as many steps along the line.
constexpr double glyphBasePerSize = 0.02;
constexpr double glyphSpanPerSize = 0.08;

QRgb modulated(QRgb straight, double texture)
{
    return qRgba(int(qRed(straight) * texture), int(qGreen(straight) * texture),
                 int(qBlue(straight) * texture), qAlpha(straight));
}

// The glyph's offset vertex beside `at`, s * |d| to the left of the direction
// of travel d as the image is seen (image y grows downwards).
QPointF besideLine(const StreamlinePoint& at, float dx, float dy, double scale)
{
    return QPointF(at.x + scale * dy, at.y - scale * dx);
}

} // namespace

LayerStreamlines::LayerStreamlines(bool visible)
    : Layer(visible), tracedStepSize(double(0.004f)), stepSize(double(0.004f)),
      lineWidth(double(0.05f)), dSep(0.05), dTest(0.5), glyphSize(0.5), textureLength(30.0),
      method(EulerMethod), tracer(tracingParameters())
{
}

LayerStreamlines::~LayerStreamlines()
{
    delete ui;
}

void LayerStreamlines::setupControls(QWidget* panel)
{
    if (ui) {
        qDebug() << "LayerStreamlines/setupControls:"
                 << "!!!controls exist already!!!";
        return;
    }
    ui = new Ui::StreamlinesLayer;
    ui->setupUi(panel);
    transferFunction = ui->transferFunction;

    connect(ui->streamlinesEulerRadioButton, &QRadioButton::clicked, this,
            &LayerStreamlines::setEulerMethod);
    connect(ui->streamlinesRungeKuttaRadioButton, &QRadioButton::clicked, this,
            &LayerStreamlines::setRungeKuttaMethod);
    connect(ui->streamlinesWidthSlider, &QSlider::valueChanged, this,
            &LayerStreamlines::setLineWidth);
    connect(ui->streamlinesDsep, &QDoubleSpinBox::valueChanged, this, &LayerStreamlines::setDSep);
    connect(ui->streamlinesDTest, &QDoubleSpinBox::valueChanged, this, &LayerStreamlines::setDTest);
    connect(ui->streamlinesStepSize, &QDoubleSpinBox::valueChanged, this,
            &LayerStreamlines::setStepSize);
    connect(ui->streamlinesGlyphGroupBox, &QGroupBox::toggled, this,
            &LayerStreamlines::toggleGlyphMapping);
    connect(ui->streamlinesGlyphSizeSlider, &QSlider::valueChanged, this,
            &LayerStreamlines::setGlyphSize);
    connect(ui->streamlinesTextureGroupBox, &QGroupBox::toggled, this,
            &LayerStreamlines::toggleTexture);
    connect(ui->streamlinesTextureLengthSlider, &QSlider::valueChanged, this,
            &LayerStreamlines::setTextureLength);
    connect(ui->taperingCheckBox, &QCheckBox::toggled, this, &LayerStreamlines::toggleTapering);
    connect(ui->streamlinesDrawButton, &QPushButton::clicked, this, &LayerStreamlines::updateImage);
    connect(ui->autoUpdateCheckBox, &QCheckBox::toggled, this, &LayerStreamlines::toggleAutoUpdate);
    connect(ui->transferFunction, &TransferFunctionWidget::colorsChanged, this,
            &LayerStreamlines::colorsChanged);

    // Only the spin boxes hand their start values to the layer; the sliders'
    // positions are not taken over until they are moved.
    dSep = ui->streamlinesDsep->value();
    dTest = ui->streamlinesDTest->value();
    stepSize = ui->streamlinesStepSize->value();
}

void LayerStreamlines::draw(PaintContext& context)
{
    if (!image.isNull())
        context.painter->drawImage(context.target, image, context.source);
}

void LayerStreamlines::setFlowData(FlowData* flowData)
{
    Layer::setFlowData(flowData);
    image = QImage();
    updateImage();
}

void LayerStreamlines::setSize(const QSize& size)
{
    Layer::setSize(size);
    if (!image.isNull()) {
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        emit layerChanged(this);
    }
    drawImage();
}

void LayerStreamlines::drawImage()
{
    // An empty size would scale the painter by zero and divide the widths by it.
    if (size.isEmpty())
        return;
    if (!transferFunction) {
        qDebug() << "LayerStreamlines/drawImage:"
                 << "!!!transferFunction == 0!!!";
        return;
    }

    QImage canvas(size, QImage::Format_ARGB32);
    canvas.fill(0);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);

    ProfileTimer timer("LayerStreamlines/drawImage");
    timer.start();

    // Pens and brushes take straight colours; the table's words are
    // premultiplied and would otherwise be premultiplied a second time.
    const ColorTable table(*transferFunction, colorTableEntries);
    std::array<QRgb, colorTableEntries> straight;
    for (int i = 0; i < colorTableEntries; ++i)
        straight[i] = table.straightColor(i).rgba();

    const double imageWidth = canvas.width();
    painter.scale(imageWidth, imageWidth);

    // Glyphs follow the step the stored lines were traced with, so a step
    // changed without a retrace does not resize them.
    const bool drawGlyphs = glyphMappingEnabled && tracedStepSize > 0.0;
    const double glyphScale = drawGlyphs ? glyphSize * glyphBasePerSize / tracedStepSize : 0.0;
    const double steps = drawGlyphs ? glyphSize * glyphSpanPerSize / tracedStepSize : 0.0;
    const int glyphInterval = steps < 1.0 ? 1 : steps >= double(INT_MAX) ? INT_MAX : int(steps);

    QPen pen(Qt::SolidLine);
    pen.setCapStyle(Qt::SquareCap);
    QBrush glyphBrush(Qt::SolidPattern);
    QPolygonF outline;
    const double baseWidth = lineWidth * strokePixelsPerLineWidth / imageWidth;

    for (const Streamline& line : streamlines) {
        if (line.empty())
            continue;
        auto point = line.begin();
        const StreamlinePoint* previous = &*point;
        ++point;
        if (drawGlyphs && point != line.end()) {
            const float dx = float(point->x) - float(previous->x);
            const float dy = float(point->y) - float(previous->y);
            outline.clear();
            outline << besideLine(*previous, dx, dy, glyphScale)
                    << QPointF(previous->x, previous->y);
        }
        int sinceGlyph = 0;
        for (; point != line.end(); ++point) {
            const StreamlinePoint& current = *point;
            QRgb color = straight[table.indexOf(current.magnitude)];
            if (textureEnabled)
                color = modulated(color, current.texture);

            // A transparent colour paints nothing over the transparent image.
            const bool visibleColor = qAlpha(color) != 0;
            if (visibleColor && (current.x != previous->x || current.y != previous->y)) {
                pen.setColor(QColor::fromRgba(color));
                pen.setWidthF(taperingEnabled ? baseWidth * current.taper : baseWidth);
                painter.setPen(pen);
                painter.drawLine(QPointF(previous->x, previous->y), QPointF(current.x, current.y));
            }

            if (drawGlyphs) {
                outline << QPointF(current.x, current.y);
                if (++sinceGlyph % glyphInterval == 0) {
                    if (visibleColor) {
                        glyphBrush.setColor(QColor::fromRgba(color));
                        painter.setPen(Qt::NoPen);
                        painter.setBrush(glyphBrush);
                        painter.drawPolygon(outline);
                    }
                    const float dx = float(current.x) - float(previous->x);
                    const float dy = float(current.y) - float(previous->y);
                    outline.clear();
                    outline << besideLine(current, dx, dy, glyphScale)
                            << QPointF(current.x, current.y);
                }
            }
            previous = &current;
        }
    }

    timer.stop();
    painter.end();
    image = std::move(canvas);
    emit layerChanged(this);
}

void LayerStreamlines::updateImage()
{
    if (!flowData)
        return;
    tracer.setParameters(tracingParameters());
    replaceStreamlines(tracer.placeStreamlines(*flowData), stepSize);
    drawImage();
}

void LayerStreamlines::autoUpdateImage()
{
    if (autoUpdate)
        updateImage();
}

void LayerStreamlines::setEulerMethod()
{
    method = EulerMethod;
    autoUpdateImage();
}

void LayerStreamlines::setRungeKuttaMethod()
{
    method = RungeKuttaMethod;
    autoUpdateImage();
}

void LayerStreamlines::setStepSize(double size)
{
    stepSize = size;
    autoUpdateImage();
}

void LayerStreamlines::setLineWidth(int width)
{
    lineWidth = width / 100.0;
    autoUpdateImage();
}

void LayerStreamlines::setDSep(double dSep)
{
    this->dSep = dSep;
    autoUpdateImage();
}

void LayerStreamlines::setDTest(double dTest)
{
    this->dTest = dTest;
    autoUpdateImage();
}

void LayerStreamlines::toggleGlyphMapping(bool val)
{
    glyphMappingEnabled = val;
    drawImage();
}

void LayerStreamlines::setGlyphSize(int size)
{
    glyphSize = size / 100.0;
    drawImage();
}

void LayerStreamlines::toggleTexture(bool val)
{
    textureEnabled = val;
    drawImage();
}

void LayerStreamlines::setTextureLength(int length)
{
    textureLength = length;
    autoUpdateImage();
}

void LayerStreamlines::toggleTapering(bool val)
{
    taperingEnabled = val;
    drawImage();
}

void LayerStreamlines::toggleAutoUpdate(bool val)
{
    autoUpdate = val;
}

void LayerStreamlines::colorsChanged()
{
    drawImage();
}

void LayerStreamlines::replaceStreamlines(std::vector<Streamline> lines, double tracedWith)
{
    streamlines = std::move(lines);
    tracedStepSize = tracedWith;
}

StreamlineParameters LayerStreamlines::tracingParameters() const
{
    StreamlineParameters parameters;
    parameters.stepSize = stepSize;
    parameters.dSep = dSep;
    parameters.dTest = dTest;
    parameters.textureLength = textureLength;
    parameters.method = method;
    return parameters;
}
