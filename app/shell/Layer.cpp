#include "app/shell/Layer.h"

#include "transfer/TransferFunctionWidget.h"

Layer::Layer(bool newVisible) : visible(newVisible) {}

Layer::~Layer() = default;

void Layer::setFlowData(FlowData* newFlowData)
{
    flowData = newFlowData;
}

void Layer::setFlowDataStep(FlowData* newFlowData)
{
    setFlowData(newFlowData);
}

void Layer::setSize(const QSize& newSize)
{
    size = newSize;
}

void Layer::setOpacity(float value)
{
    layerOpacity = value;
    emit layerChanged(this);
}

void Layer::setVisibility(bool newVisible)
{
    visible = newVisible;
    if (newVisible && renderDeferred) {
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

void Layer::setTransferFunctionEditor(TransferFunctionWidget* newEditor)
{
    editor = newEditor;
}

void Layer::editTransferFunction(const TransferFunction& function)
{
    if (auto* widget = qobject_cast<TransferFunctionWidget*>(editor.data()))
        widget->setTransferFunction(function);
    // The editor passes on only a change it can show (two points at least).
    if (transferFunction() != function)
        setTransferFunction(function);
}
