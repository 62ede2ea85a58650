#include "app/LayerStack.h"

#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>

namespace {
// How often finishRendering looks at the workers while it waits.
constexpr int finishPollMs = 2;
} // namespace

QList<Layer*> LayerStack::create()
{
    return {new LayerColorCoding(1, false), new LayerColorCoding(0, true),
            new LayerStreamlines(false),    new LayerStreamlines(true),
            new LayerArrows(false),         new LayerArrows(true)};
}

template <class T> QList<T*> LayerStack::ofKind(Layer::Kind kind) const
{
    // A layer of a kind is an object of that kind's class (see Layer::kind).
    QList<T*> found;
    for (Layer* layer : layers)
        if (layer->kind() == kind)
            found.append(static_cast<T*>(layer));
    return found;
}

QList<LayerColorCoding*> LayerStack::colorCodings() const
{
    return ofKind<LayerColorCoding>(Layer::Kind::ColorCoding);
}

QList<LayerStreamlines*> LayerStack::streamlines() const
{
    return ofKind<LayerStreamlines>(Layer::Kind::Streamlines);
}

QList<LayerArrows*> LayerStack::arrows() const
{
    return ofKind<LayerArrows>(Layer::Kind::Arrows);
}

Layer* LayerStack::topmostVisible(Layer::Kind kind) const
{
    const auto found = std::find_if(layers.crbegin(), layers.crend(), [kind](const Layer* layer) {
        return layer->kind() == kind && layer->isVisible();
    });
    return found == layers.crend() ? nullptr : *found;
}

LayerColorCoding* LayerStack::topmostVisibleColorCoding() const
{
    return static_cast<LayerColorCoding*>(topmostVisible(Layer::Kind::ColorCoding));
}

bool LayerStack::finishRendering(int timeoutMs) const
{
    const auto anyRendering = [this] {
        return std::any_of(layers.cbegin(), layers.cend(),
                           [](const Layer* layer) { return layer->isRendering(); });
    };
    // A worker posts its raster before its thread ends, so once none runs
    // delivering the posted events hands every raster over. Between checks
    // the thread sleeps until an event comes (a worker's raster, or the
    // heartbeat for a thread that ends without one) rather than spinning,
    // which would take a core from the workers it waits for.
    QDeadlineTimer deadline(timeoutMs);
    QTimer heartbeat;
    heartbeat.start(finishPollMs);
    for (;;) {
        if (!anyRendering()) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            if (!anyRendering())
                return true;
        }
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
