#include "render/ColorCodingRenderer.h"

#include "render/HugePageImage.h"
#include "transfer/ColorTable.h"

#include <QDebug>

#include <cmath>

QImage ColorCodingRenderer::render(const float* raster, QSize size, const ColorTable& table,
                                   float scale, float offset)
{
    if (!raster || size.isEmpty() || table.count() != colorTableSize)
        return QImage();
    QImage picture = HugePageImage::create(size, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        qDebug() << "ColorCodingRenderer/render: !!!cannot allocate the picture!!!" << size;
        return QImage();
    }
    const int width = size.width();
    for (int row = 0; row < size.height(); ++row)
        mapValues(raster + qsizetype(row) * width, width, table.data(),
                  reinterpret_cast<QRgb*>(picture.scanLine(row)), scale, offset);
    return picture;
}

void ColorCodingRenderer::mapValues(const float* values, int count, const QRgb* table, QRgb* out,
                                    float scale, float offset)
{
    constexpr float last = float(colorTableSize - 1);
    for (int i = 0; i < count; ++i) {
        const float value = values[i] * scale + offset;
        const float scaled = value * last;
        if (scaled >= 0.0f && scaled < float(colorTableSize)) {
            out[i] = table[int(scaled)];
        } else if (std::isfinite(value)) {
            out[i] = table[value > 0.0f ? colorTableSize - 1 : 0];
        } else {
            out[i] = 0;
        }
    }
}
