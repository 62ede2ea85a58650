#include "app/shell/Layer.h"

Layer::Layer(bool visible) : visible(visible) {}

Layer::~Layer() = default;

void Layer::setFlowData(FlowData* flowData)
{
    this->flowData = flowData;
}

void Layer::setFlowDataStep(FlowData* flowData)
{
    setFlowData(flowData);
}

void Layer::setSize(const QSize& size)
{
    this->size = size;
}

void Layer::setOpacity(float value)
{
    layerOpacity = value;
    emit layerChanged(this);
}

void Layer::setVisibility(bool visible)
{
    this->visible = visible;
    if (visible && renderDeferred) {
        renderDeferred = false;
        renderShown();
    }
    emit layerChanged(this);
}

bool Layer::deferWhileHidden()
{
    if (visible)
        return false;
    renderDeferred = true;
    return true;
}
