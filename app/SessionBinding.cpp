#include "app/SessionBinding.h"

#include "app/Session.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"

void SessionBinding::capture(const ViewPort& viewPort, Session* session)
{
    session->zoom = viewPort.zoomScale();
    session->centerX = viewPort.centerFractionX();
    session->centerY = viewPort.centerFractionY();
    session->flipped = viewPort.isFlippedVertically();
    session->legend = viewPort.isLegendShown();
    session->axes = viewPort.areAxesShown();
    session->referenceArrow = viewPort.isReferenceArrowShown();
    session->scaleBar = viewPort.isScaleBarShown();
    session->layers.clear();
    for (const Layer* layer : viewPort.layerList()) {
        SessionLayer saved;
        saved.kind = layer->kind();
        saved.visible = layer->isVisible();
        saved.opacity = layer->opacity();
        saved.function = layer->transferFunction();
        if (saved.kind == Layer::Kind::ColorCoding) {
            const auto* coding = static_cast<const LayerColorCoding*>(layer);
            saved.field = coding->fieldName();
            saved.fieldIndex = coding->currentScalarIndex();
            saved.wholeSeries = coding->colorRange() == LayerColorCoding::WholeSeries;
            saved.lic = coding->isLicShown();
            saved.licParameters = coding->licParameters();
            saved.licCombine = coding->licCombine();
        } else if (saved.kind == Layer::Kind::Arrows) {
            const auto* arrows = static_cast<const LayerArrows*>(layer);
            saved.arrowLength = arrows->lengthValue();
            saved.arrowSize = arrows->sizeValue();
            saved.arrowQuantity = arrows->quantity();
            saved.curlyArrows = arrows->isCurly();
        } else if (saved.kind == Layer::Kind::Streamlines) {
            const auto* lines = static_cast<const LayerStreamlines*>(layer);
            saved.streamlines = lines->parameters();
            saved.autoUpdate = lines->isAutoUpdate();
            saved.seeds = lines->seeds();
            saved.fillEvenly = lines->fillsEvenly();
        }
        session->layers.append(saved);
    }
}

QString SessionBinding::apply(const Session& session, ViewPort& viewPort)
{
    viewPort.setFlippedVertically(session.flipped);
    viewPort.setLegendShown(session.legend);
    viewPort.setAxesShown(session.axes);
    viewPort.setReferenceArrowShown(session.referenceArrow);
    viewPort.setScaleBarShown(session.scaleBar);
    viewPort.setScale(session.zoom);
    viewPort.setCenter(session.centerX, session.centerY);
    QStringList skipped;
    const QList<Layer*>& layers = viewPort.layerList();
    for (int i = 0; i < layers.size() && i < session.layers.size(); ++i) {
        Layer* layer = layers.at(i);
        const SessionLayer& saved = session.layers.at(i);
        if (saved.kind != layer->kind()) {
            skipped << QString::number(i + 1);
            continue;
        }
        if (saved.kind == Layer::Kind::ColorCoding) {
            auto* coding = static_cast<LayerColorCoding*>(layer);
            const FlowData* data = coding->currentFlowData();
            int index = LayerColorCoding::fieldIndex(data, saved.field);
            if (index < 0 && saved.fieldIndex < LayerColorCoding::fieldCount(data))
                index = saved.fieldIndex;
            if (index >= 0)
                coding->setField(index);
            coding->setColorRange(saved.wholeSeries ? LayerColorCoding::WholeSeries
                                                    : LayerColorCoding::PerStep);
            coding->setLic(saved.lic, saved.licParameters, saved.licCombine);
        } else if (saved.kind == Layer::Kind::Arrows) {
            auto* arrows = static_cast<LayerArrows*>(layer);
            arrows->setSliderValues(saved.arrowLength, saved.arrowSize, saved.arrowQuantity);
            arrows->setCurly(saved.curlyArrows);
        } else if (saved.kind == Layer::Kind::Streamlines) {
            auto* lines = static_cast<LayerStreamlines*>(layer);
            // Seeds first, so that the parameters' retrace is the only one
            // unless the seeds change.
            if (saved.seeds != lines->seeds() || saved.fillEvenly != lines->fillsEvenly())
                lines->setSeeds(saved.seeds, saved.fillEvenly);
            lines->setParameters(saved.streamlines, saved.autoUpdate);
        }
        layer->editTransferFunction(saved.function);
        viewPort.setLayerLook(i, saved.visible, saved.opacity);
    }
    if (skipped.isEmpty())
        return QString();
    return QStringLiteral("layer %1 is of another kind here and keeps its settings")
        .arg(skipped.join(QStringLiteral(", ")));
}
