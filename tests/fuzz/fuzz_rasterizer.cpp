// libFuzzer target of the polygon rasterizer, which writes straight into an
// image's memory: any coordinates (NaN, infinities, huge or nearly equal
// values come from the raw bytes), drawn whole and in bands, into a small
// picture. The bands must give the same pixels as one pass.
#include "render/PolygonRasterizer.h"

#include <QImage>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Input
{
    const uint8_t* data;
    size_t size;

    bool take(void* to, size_t bytes)
    {
        if (size < bytes)
            return false;
        std::memcpy(to, data, bytes);
        data += bytes;
        size -= bytes;
        return true;
    }
};

void draw(QImage& image, int bands, const uint8_t* data, size_t size)
{
    for (int band = 0; band < bands; ++band) {
        PolygonRasterizer rasterizer(image, image.height() * band / bands,
                                     image.height() * (band + 1) / bands);
        Input input{data, size};
        uint8_t kind = 0;
        std::vector<QPointF> points;
        while (input.take(&kind, 1)) {
            const int count = 2 + kind % 7;
            points.clear();
            float xy[2];
            while (int(points.size()) < count && input.take(xy, sizeof xy))
                points.emplace_back(xy[0], xy[1]);
            if (int(points.size()) < count)
                break;
            const QRgb color = qPremultiply(0x80000000u | kind * 0x010203u);
            if (kind & 0x80)
                rasterizer.strokeSegment(points[0], points[1], 0.25 * (kind & 0x0f), color);
            else
                rasterizer.fillPolygon(points.data(), int(points.size()), color);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const QSize canvas(1 + data[0] % 70, 1 + data[1] % 50);
    QImage whole(canvas, QImage::Format_ARGB32_Premultiplied);
    whole.fill(0x40102030);
    QImage banded = whole;
    draw(whole, 1, data + 2, size - 2);
    draw(banded, 3, data + 2, size - 2);
    if (whole != banded)
        std::abort();
    return 0;
}
