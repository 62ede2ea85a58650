#include "streamlines/LayerStreamlines.h"

#include "app/shell/PaintContext.h"
#include "data/FlowData.h"
#include "data/ProfileTimer.h"
#include "render/StreamlineRenderer.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunctionWidget.h"
#include "ui_StreamlinesLayer.h"

#include <QDebug>
#include <QPainter>
#include <QSignalBlocker>

#include <cmath>

#include <utility>

LayerStreamlines::LayerStreamlines(bool newVisible)
    : Layer(newVisible), tracedStepSize(settings.stepSize), tracer(settings)
{
}

LayerStreamlines::~LayerStreamlines()
{
    delete form;
}

void LayerStreamlines::setupControls(QWidget* panel)
{
    if (form) {
        qDebug() << "LayerStreamlines/setupControls:"
                 << "!!!controls exist already!!!";
        return;
    }
    form = new Ui::StreamlinesLayer;
    form->setupUi(panel);
    form->transferFunction->setTransferFunction(function);
    setTransferFunctionEditor(form->transferFunction);

    connect(form->streamlinesEulerRadioButton, &QRadioButton::clicked, this,
            &LayerStreamlines::setEulerMethod);
    connect(form->streamlinesRungeKuttaRadioButton, &QRadioButton::clicked, this,
            &LayerStreamlines::setRungeKuttaMethod);
    connect(form->streamlinesWidthSlider, &QSlider::valueChanged, this,
            &LayerStreamlines::setLineWidth);
    connect(form->streamlinesDsep, &QDoubleSpinBox::valueChanged, this, &LayerStreamlines::setDSep);
    connect(form->streamlinesDTest, &QDoubleSpinBox::valueChanged, this,
            &LayerStreamlines::setDTest);
    connect(form->streamlinesStepSize, &QDoubleSpinBox::valueChanged, this,
            &LayerStreamlines::setStepSize);
    connect(form->streamlinesGlyphGroupBox, &QGroupBox::toggled, this,
            &LayerStreamlines::toggleGlyphMapping);
    connect(form->streamlinesGlyphSizeSlider, &QSlider::valueChanged, this,
            &LayerStreamlines::setGlyphSize);
    connect(form->streamlinesTextureGroupBox, &QGroupBox::toggled, this,
            &LayerStreamlines::toggleTexture);
    connect(form->streamlinesTextureLengthSlider, &QSlider::valueChanged, this,
            &LayerStreamlines::setTextureLength);
    connect(form->taperingCheckBox, &QCheckBox::toggled, this, &LayerStreamlines::toggleTapering);
    connect(form->streamlinesDrawButton, &QPushButton::clicked, this,
            &LayerStreamlines::updateImage);
    connect(form->autoUpdateCheckBox, &QCheckBox::toggled, this,
            &LayerStreamlines::toggleAutoUpdate);
    connect(form->transferFunction, &TransferFunctionWidget::transferFunctionChanged, this,
            &LayerStreamlines::setTransferFunction);
    connect(form->fillEvenlyCheckBox, &QCheckBox::toggled, this, &LayerStreamlines::setFillEvenly);
    connect(form->rakeSeedsSpinBox, &QSpinBox::valueChanged, this,
            &LayerStreamlines::setRakeSeedCount);
    connect(form->clearSeedsButton, &QPushButton::clicked, this, &LayerStreamlines::clearSeeds);
    form->clearSeedsButton->setEnabled(!userSeeds.isEmpty());

    // Only the spin boxes hand their start values to the layer; the sliders'
    // positions are not taken over until they are moved.
    settings.dSep = form->streamlinesDsep->value();
    settings.dTest = form->streamlinesDTest->value();
    settings.stepSize = form->streamlinesStepSize->value();
    rakeSeeds = form->rakeSeedsSpinBox->value();
}

void LayerStreamlines::setParameters(const StreamlineParameters& parameters, bool newAutoUpdate)
{
    settings = parameters;
    autoUpdate = newAutoUpdate;
    if (form) {
        const QSignalBlocker blockers[] = {QSignalBlocker(form->streamlinesEulerRadioButton),
                                           QSignalBlocker(form->streamlinesRungeKuttaRadioButton),
                                           QSignalBlocker(form->streamlinesWidthSlider),
                                           QSignalBlocker(form->streamlinesDsep),
                                           QSignalBlocker(form->streamlinesDTest),
                                           QSignalBlocker(form->streamlinesStepSize),
                                           QSignalBlocker(form->streamlinesGlyphGroupBox),
                                           QSignalBlocker(form->streamlinesGlyphSizeSlider),
                                           QSignalBlocker(form->streamlinesTextureGroupBox),
                                           QSignalBlocker(form->streamlinesTextureLengthSlider),
                                           QSignalBlocker(form->taperingCheckBox),
                                           QSignalBlocker(form->autoUpdateCheckBox)};
        form->streamlinesRungeKuttaRadioButton->setChecked(settings.method == RungeKuttaMethod);
        form->streamlinesEulerRadioButton->setChecked(settings.method != RungeKuttaMethod);
        form->streamlinesWidthSlider->setValue(int(std::lround(settings.lineWidth * 100.0)));
        form->streamlinesDsep->setValue(settings.dSep);
        form->streamlinesDTest->setValue(settings.dTest);
        form->streamlinesStepSize->setValue(settings.stepSize);
        form->streamlinesGlyphGroupBox->setChecked(settings.glyphs);
        form->streamlinesGlyphSizeSlider->setValue(int(std::lround(settings.glyphSize * 100.0)));
        form->streamlinesTextureGroupBox->setChecked(settings.texture);
        form->streamlinesTextureLengthSlider->setValue(int(std::lround(settings.textureLength)));
        form->taperingCheckBox->setChecked(settings.tapering);
        form->autoUpdateCheckBox->setChecked(autoUpdate);
    }
    updateImage();
}

void LayerStreamlines::draw(PaintContext& context)
{
    if (!image.isNull())
        context.painter->drawImage(context.target, image, context.source);
}

void LayerStreamlines::drawVectors(PaintContext& context)
{
    if (size.isEmpty() || image.isNull())
        return;
    QPainter& painter = *context.painter;
    painter.save();
    painter.translate(context.target.topLeft());
    painter.scale(context.target.width() / size.width(), context.target.height() / size.height());
    StreamlineRenderer::paint(painter, streamlines, function.colorTable(colorTableSize), size,
                              settings, tracedStepSize);
    painter.restore();
}

void LayerStreamlines::setFlowData(FlowData* newFlowData)
{
    Layer::setFlowData(newFlowData);
    image = QImage();
    updateImage();
}

void LayerStreamlines::setSize(const QSize& newSize)
{
    Layer::setSize(newSize);
    drawImage();
    // A picture that could not be drawn at the new size is stretched to it,
    // so that the view's source rectangles still fit it. Stretching first,
    // only to draw over it, cost more than the drawing at the zoom cap.
    if (!image.isNull() && visible && image.size() != newSize) {
        image = image.scaled(newSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        emit layerChanged(this);
    }
}

void LayerStreamlines::drawImage()
{
    // An empty size would scale the painter by zero and divide the widths by it.
    if (size.isEmpty() || deferWhileHidden())
        return;
    ProfileTimer timer("LayerStreamlines/drawImage");
    timer.start();
    QImage canvas = StreamlineRenderer::render(streamlines, function.colorTable(colorTableSize),
                                               size, settings, tracedStepSize);
    timer.stop();
    if (canvas.isNull()) {
        qDebug() << "LayerStreamlines/drawImage: !!!cannot allocate the picture!!!" << size;
        return;
    }
    image = std::move(canvas);
    emit layerChanged(this);
}

void LayerStreamlines::updateImage()
{
    if (!flowData)
        return;
    if (deferWhileHidden()) {
        retraceDeferred = true;
        return;
    }
    retraceDeferred = false;
    tracer.setParameters(settings);
    tracer.setSeeds(StreamlineTracer::domainSeeds(*flowData, userSeeds), fillEvenly);
    replaceStreamlines(tracer.placeStreamlines(*flowData), settings.stepSize);
    const QString reason = tracer.incompleteReason();
    const bool changed = reason != incomplete;
    incomplete = reason;
    drawImage();
    if (!reason.isEmpty() || changed)
        emit tracingIncomplete(reason);
}

void LayerStreamlines::setSeeds(const QList<QPointF>& fileSeeds, bool fill)
{
    userSeeds = fileSeeds;
    fillEvenly = fill;
    if (form) {
        const QSignalBlocker blocker(form->fillEvenlyCheckBox);
        form->fillEvenlyCheckBox->setChecked(fill);
        form->clearSeedsButton->setEnabled(!userSeeds.isEmpty());
    }
    updateImage();
}

void LayerStreamlines::addRake(const QPointF& from, const QPointF& to)
{
    QList<QPointF> seeds = userSeeds;
    const int count = from == to ? 1 : rakeSeeds;
    for (int k = 0; k < count; ++k)
        seeds.append(count > 1 ? from + (to - from) * (double(k) / (count - 1)) : from);
    setSeeds(seeds, fillEvenly);
}

void LayerStreamlines::renderShown()
{
    if (retraceDeferred)
        updateImage();
    else
        drawImage();
}

void LayerStreamlines::autoUpdateImage()
{
    if (autoUpdate)
        updateImage();
}

void LayerStreamlines::setEulerMethod()
{
    settings.method = EulerMethod;
    autoUpdateImage();
}

void LayerStreamlines::setRungeKuttaMethod()
{
    settings.method = RungeKuttaMethod;
    autoUpdateImage();
}

void LayerStreamlines::setStepSize(double newSize)
{
    settings.stepSize = newSize;
    autoUpdateImage();
}

void LayerStreamlines::setLineWidth(int width)
{
    settings.lineWidth = width / 100.0;
    autoUpdateImage();
}

void LayerStreamlines::setDSep(double dSep)
{
    settings.dSep = dSep;
    autoUpdateImage();
}

void LayerStreamlines::setDTest(double dTest)
{
    settings.dTest = dTest;
    autoUpdateImage();
}

void LayerStreamlines::toggleGlyphMapping(bool val)
{
    settings.glyphs = val;
    drawImage();
}

void LayerStreamlines::setGlyphSize(int newSize)
{
    settings.glyphSize = newSize / 100.0;
    drawImage();
}

void LayerStreamlines::toggleTexture(bool val)
{
    settings.texture = val;
    drawImage();
}

void LayerStreamlines::setTextureLength(int length)
{
    settings.textureLength = length;
    autoUpdateImage();
}

void LayerStreamlines::toggleTapering(bool val)
{
    settings.tapering = val;
    drawImage();
}

void LayerStreamlines::toggleAutoUpdate(bool val)
{
    autoUpdate = val;
}

void LayerStreamlines::setTransferFunction(const TransferFunction& newFunction)
{
    function = newFunction;
    drawImage();
}

void LayerStreamlines::replaceStreamlines(std::vector<Streamline> lines, double tracedWith)
{
    streamlines = std::move(lines);
    tracedStepSize = tracedWith;
}
