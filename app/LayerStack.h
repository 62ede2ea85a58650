#pragma once

#include <QList>

class Layer;

// The layers the program shows, in painting order (bottom first): colour
// coding, streamlines, arrows, each kind twice. The first layer of each pair
// starts hidden; hidden layers still receive every data set and size.
class LayerStack
{
public:
    // New layers, owned by the caller.
    static QList<Layer*> create();
};
