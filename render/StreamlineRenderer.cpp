#include "render/StreamlineRenderer.h"

#include "render/PolygonRasterizer.h"
#include "render/StreamlineParameters.h"
#include "transfer/ColorTable.h"

#include <QPolygonF>

#include <climits>

namespace {

// The stroke is lineWidth * 20 pixels wide (slider value / 5).
constexpr double strokePixelsPerLineWidth = 20.0;

// A glyph's base is glyphSize * 0.02 image widths long and it spans four
// times as many steps along the line.
constexpr double glyphBasePerSize = 0.02;
constexpr double glyphSpanPerSize = 0.08;

QRgb modulated(QRgb straight, double texture)
{
    return qRgba(int(qRed(straight) * texture), int(qGreen(straight) * texture),
                 int(qBlue(straight) * texture), qAlpha(straight));
}

// The glyph's offset vertex beside `at`, s * |d| to the left of the direction
// of travel d as the image is seen (image y grows downwards).
QPointF besideLine(const StreamlinePoint& at, float dx, float dy, double scale)
{
    return QPointF(at.x + scale * dy, at.y - scale * dx);
}

} // namespace

QImage StreamlineRenderer::render(const std::vector<Streamline>& lines, const ColorTable& table,
                                  QSize size, const StreamlineParameters& look,
                                  double tracedStepSize)
{
    if (size.isEmpty())
        return QImage();
    // Drawn premultiplied and handed over as the straight ARGB the layer keeps.
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return QImage();
    canvas.fill(0);
    PolygonRasterizer rasterizer(canvas);

    // Texture modulates the straight colour, as a pen of that colour would
    // show it; the table's words are premultiplied.
    std::vector<QRgb> straight(table.count());
    for (int i = 0; i < table.count(); ++i)
        straight[i] = table.straightColor(i).rgba();

    // Lines are traced in the unit square; the picture is imageWidth wide.
    const double imageWidth = canvas.width();
    auto pixel = [imageWidth](double x, double y) {
        return QPointF(x * imageWidth, y * imageWidth);
    };

    // Glyphs follow the step the lines were traced with, so a step changed
    // without a retrace does not resize them.
    const bool drawGlyphs = look.glyphs && tracedStepSize > 0.0;
    const double glyphScale = drawGlyphs ? look.glyphSize * glyphBasePerSize / tracedStepSize : 0.0;
    const double steps = drawGlyphs ? look.glyphSize * glyphSpanPerSize / tracedStepSize : 0.0;
    const int glyphInterval = steps < 1.0 ? 1 : steps >= double(INT_MAX) ? INT_MAX : int(steps);

    QPolygonF outline;
    const double baseWidth = look.lineWidth * strokePixelsPerLineWidth;

    for (const Streamline& line : lines) {
        if (line.empty())
            continue;
        auto point = line.begin();
        const StreamlinePoint* previous = &*point;
        ++point;
        if (drawGlyphs && point != line.end()) {
            const float dx = float(point->x) - float(previous->x);
            const float dy = float(point->y) - float(previous->y);
            outline.clear();
            const QPointF beside = besideLine(*previous, dx, dy, glyphScale);
            outline << pixel(beside.x(), beside.y()) << pixel(previous->x, previous->y);
        }
        int sinceGlyph = 0;
        for (; point != line.end(); ++point) {
            const StreamlinePoint& current = *point;
            QRgb color = straight[table.indexOf(current.magnitude)];
            if (look.texture)
                color = modulated(color, current.texture);
            const QRgb paint = qPremultiply(color);

            // A transparent colour paints nothing over the transparent image.
            if (paint != 0 && (current.x != previous->x || current.y != previous->y)) {
                const double width = look.tapering ? baseWidth * current.taper : baseWidth;
                rasterizer.strokeSegment(pixel(previous->x, previous->y),
                                         pixel(current.x, current.y), width, paint);
            }

            if (drawGlyphs) {
                outline << pixel(current.x, current.y);
                if (++sinceGlyph % glyphInterval == 0) {
                    rasterizer.fillPolygon(outline.constData(), int(outline.size()), paint);
                    const float dx = float(current.x) - float(previous->x);
                    const float dy = float(current.y) - float(previous->y);
                    outline.clear();
                    const QPointF beside = besideLine(current, dx, dy, glyphScale);
                    outline << pixel(beside.x(), beside.y()) << pixel(current.x, current.y);
                }
            }
            previous = &current;
        }
    }
    canvas.convertTo(QImage::Format_ARGB32);
    return canvas;
}
