#include "app/LayerStack.h"

#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"

QList<Layer*> LayerStack::create()
{
    return {new LayerColorCoding(1, false), new LayerColorCoding(0, true),
            new LayerStreamlines(false),    new LayerStreamlines(true),
            new LayerArrows(false),         new LayerArrows(true)};
}
