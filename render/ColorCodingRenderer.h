#pragma once

#include <QImage>
#include <QRgb>
#include <QSize>

class ColorTable;

// Colours a raster of normalised values (row by row, row 0 at y = 0) through
// a colour table of colorTableSize premultiplied words.
class ColorCodingRenderer
{
public:
    static constexpr int colorTableSize = 4096;

    // A premultiplied picture of `size`; null when the raster is missing, the
    // table has another size or the picture cannot be allocated. Each value
    // v is looked up as v * scale + offset, which maps a raster normalised to
    // one range onto the table spread over another.
    static QImage render(const float* raster, QSize size, const ColorTable& table,
                         float scale = 1.0f, float offset = 0.0f);

    // w = v * scale + offset selects word trunc(w * 4095) of `table`, clamped
    // to the table; a non-finite value gives a transparent pixel.
    static void mapValues(const float* values, int count, const QRgb* table, QRgb* out,
                          float scale = 1.0f, float offset = 0.0f);
};
