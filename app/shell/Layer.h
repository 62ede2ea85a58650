#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>

class FlowData;
struct PaintContext;
class QWidget;
class TransferFunction;
class TransferFunctionWidget;

// A picture the view port stacks. A layer renders its own image of exactly
// `size` pixels (no valid image while the size is negative or no data set is
// set), paints it on request and builds its controls into its panel.
// GUI thread only; all connections to and from a layer are direct.
class Layer : public QObject
{
    Q_OBJECT

public:
    // The program's layer classes; Other for any layer that is none of them.
    enum class Kind
    {
        ColorCoding,
        Streamlines,
        Arrows,
        Other
    };

    explicit Layer(bool visible);
    ~Layer() override;

    // Which of the program's layer classes this is; a layer of a kind other
    // than Other is an object of that class (LayerStack relies on it).
    virtual Kind kind() const { return Kind::Other; }

    // Builds the layer's form onto `panel` (a CollapseableWidget), sets the
    // panel's "title" property and connects the controls. Called once.
    virtual void setupControls(QWidget* panel) = 0;
    // Draws context.source of the layer image into context.target with the
    // context's painter; nothing while the image is null. Changes no painter state.
    virtual void draw(PaintContext& context) = 0;
    // As draw, for a vector device (SVG, PDF): shapes where the layer has
    // them, so they stay sharp at any size; the image by default.
    virtual void drawVectors(PaintContext& context) { draw(context); }

    // True while a computation for this layer runs on another thread; its
    // result arrives later as a posted event. Synchronous layers never are.
    virtual bool isRendering() const { return false; }

    // The function that colours the layer's values (see TransferFunction).
    virtual const TransferFunction& transferFunction() const = 0;
    // Replaces it and redraws from what the layer holds, without resampling.
    virtual void setTransferFunction(const TransferFunction& function) = 0;
    // Sets the function through the form's editor, which then shows it and
    // hands it on; straight to setTransferFunction without a form.
    void editTransferFunction(const TransferFunction& function);

    bool isVisible() const { return visible; }
    float opacity() const { return layerOpacity; }
    FlowData* currentFlowData() const { return flowData; }
    QSize imageSize() const { return size; }

signals:
    // Emitted when the layer looks different: its image was replaced or
    // redrawn, or its opacity or visibility was set. A hidden layer does not
    // render (see deferWhileHidden).
    void layerChanged(Layer* layer);

public slots:
    // Overrides call the base first, then re-render. Not owned.
    virtual void setFlowData(FlowData* flowData);
    // The next data set of the same series (same grid and scalar sets): the
    // layer keeps its field, settings and transfer function, and may show
    // its last picture until the new one is ready. Not owned. By default the
    // same as setFlowData.
    virtual void setFlowDataStep(FlowData* flowData);
    virtual void setSize(const QSize& size);
    void setOpacity(float value);
    void setVisibility(bool visible);

protected:
    // A hidden layer keeps its parameters but renders nothing: its rendering
    // entry points call this first and return when it is true. Showing the
    // layer then calls renderShown() once, which renders from the parameters
    // as they are by then.
    bool deferWhileHidden();
    virtual void renderShown() {}
    // The form's transfer function editor, for editTransferFunction.
    void setTransferFunctionEditor(TransferFunctionWidget* editor);

    FlowData* flowData = nullptr;
    QSize size{-1, -1};
    float layerOpacity = 1.0f;
    bool visible;

private:
    bool renderDeferred = false;
    // The form's widgets belong to the panel, which may go first.
    QPointer<QWidget> editor;
};
