#pragma once

#include "app/shell/Layer.h"

#include <QList>

class LayerArrows;
class LayerColorCoding;
class LayerStreamlines;

// The layers the program shows, in painting order (bottom first): colour
// coding, streamlines, arrows, each kind twice. The first layer of each pair
// starts hidden; hidden layers still receive every data set and size.
//
// An object is a typed view of such a list, which it does not own: it finds
// the layers of a kind by Layer::kind(), so it answers for any list a view
// port holds, and lists a layer of kind Other under none of the kinds.
class LayerStack
{
public:
    // New layers, owned by the caller.
    static QList<Layer*> create();

    explicit LayerStack(const QList<Layer*>& newLayers) : layers(newLayers) {}

    // The layers of each kind, in painting order.
    QList<LayerColorCoding*> colorCodings() const;
    QList<LayerStreamlines*> streamlines() const;
    QList<LayerArrows*> arrows() const;
    // The visible layer of `kind` painted last, or null.
    Layer* topmostVisible(Layer::Kind kind) const;
    LayerColorCoding* topmostVisibleColorCoding() const;

    // Runs the event loop until no layer computes on another thread and every
    // raster they posted has been taken; false after timeoutMs. For batch
    // rendering, where nobody waits for the picture to fill in.
    bool finishRendering(int timeoutMs) const;

private:
    template <class T> QList<T*> ofKind(Layer::Kind kind) const;

    QList<Layer*> layers;
};
