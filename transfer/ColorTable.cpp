#include "transfer/ColorTable.h"

#include "transfer/TransferFunction.h"

#include <algorithm>
#include <cmath>

ColorTable::ColorTable(const TransferFunction& function, int newEntries)
    : image(std::max(newEntries, 1), 1, QImage::Format_ARGB32_Premultiplied),
      entries(std::max(newEntries, 1))
{
    function.fillColorTable(&image);
    words = reinterpret_cast<const QRgb*>(image.constScanLine(0));
}

int ColorTable::indexOf(float value) const
{
    if (!(value > 0.0f)) // NaN, zero and below
        return 0;
    if (value >= 1.0f)
        return entries - 1;
    return int(value * float(entries - 1));
}

QColor ColorTable::straightColor(int index) const
{
    return QColor::fromRgba(qUnpremultiply(words[index]));
}
