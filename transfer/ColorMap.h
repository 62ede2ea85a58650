#pragma once

#include "transfer/TransferFunction.h"

#include <QList>
#include <QRgb>
#include <QStringList>

// The named colour maps a transfer function can be set to. The tables are
// data files of their own (transfer/colormaps/, compiled in as resources),
// each naming its source and licence: 256 colours, entry k at value k / 255,
// linear in between.
class ColorMap
{
public:
    // In menu order: viridis, cividis, magma, inferno, coolwarm, gray, white.
    static QStringList names();

    // The map's 256 opaque colours; empty for an unknown name. "white" is
    // white throughout (its opacity ramp lives in the transfer function).
    static QList<QRgb> table(const QString& name);

    // A transfer function that follows the map closely enough that a colour
    // table made from it stays within 2/255 of the map's own colours, with as
    // few points as that needs. Opaque throughout when `opaque`; otherwise the
    // opacity of `current` is kept (its points stay points). "white" is the
    // start-up ramp; an unknown name gives `current` unchanged.
    static TransferFunction transferFunction(const QString& name, const TransferFunction& current,
                                             bool opaque);
};
