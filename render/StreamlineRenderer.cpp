#include "render/StreamlineRenderer.h"

#include "render/PolygonRasterizer.h"
#include "render/StreamlineParameters.h"
#include "transfer/ColorTable.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>

#include <climits>
#include <cmath>

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

// The left side of a tapered line and, backwards, its right side, each point
// half its own width from the line, square caps at both ends; the first
// point takes the second's width, as the first segment does.
QPolygonF taperedOutline(const QPolygonF& points, const std::vector<double>& widths)
{
    const int n = int(points.size());
    QPolygonF left;
    QPolygonF right;
    for (int i = 0; i < n; ++i) {
        const QPointF before = points[std::max(i - 1, 0)];
        const QPointF after = points[std::min(i + 1, n - 1)];
        QPointF direction = after - before;
        const double length = std::hypot(direction.x(), direction.y());
        if (!(length > 0.0))
            continue;
        direction /= length;
        const double half = widths[size_t(std::max(i, 1))] / 2.0;
        const QPointF normal(-direction.y() * half, direction.x() * half);
        QPointF at = points[i];
        if (i == 0)
            at -= direction * half;
        else if (i == n - 1)
            at += direction * half;
        left << at + normal;
        right.prepend(at - normal);
    }
    return left + right;
}

// The table's colours straight (not premultiplied): texture modulates them
// as a pen of that colour would show it.
std::vector<QRgb> straightColors(const ColorTable& table)
{
    std::vector<QRgb> straight(table.count());
    for (int i = 0; i < table.count(); ++i)
        straight[i] = table.straightColor(i).rgba();
    return straight;
}

// Glyphs follow the step the lines were traced with, so a step changed
// without a retrace does not resize them.
struct GlyphSpacing
{
    bool draw;
    double scale;
    int interval;
};

GlyphSpacing glyphSpacing(const StreamlineParameters& look, double tracedStepSize)
{
    const bool draw = look.glyphs && tracedStepSize > 0.0;
    const double steps = draw ? look.glyphSize * glyphSpanPerSize / tracedStepSize : 0.0;
    return {draw, draw ? look.glyphSize * glyphBasePerSize / tracedStepSize : 0.0,
            steps < 1.0                ? 1
            : steps >= double(INT_MAX) ? INT_MAX
                                       : int(steps)};
}

} // namespace

QImage StreamlineRenderer::render(const std::vector<Streamline>& lines, const ColorTable& table,
                                  QSize size, const StreamlineParameters& look,
                                  double tracedStepSize)
{
    if (size.isEmpty())
        return QImage();
    // Drawn premultiplied and handed over as the straight ARGB the layer
    // keeps; in QImage's own memory, which alone it converts in place.
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return QImage();
    canvas.fill(0);
    PolygonRasterizer rasterizer(canvas);

    // The table's words are premultiplied.
    const std::vector<QRgb> straight = straightColors(table);

    // Lines are traced in the unit square; the picture is imageWidth wide.
    const double imageWidth = canvas.width();
    auto pixel = [imageWidth](double x, double y) {
        return QPointF(x * imageWidth, y * imageWidth);
    };

    const GlyphSpacing glyphs = glyphSpacing(look, tracedStepSize);
    const bool drawGlyphs = glyphs.draw;
    const double glyphScale = glyphs.scale;
    const int glyphInterval = glyphs.interval;

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

void StreamlineRenderer::paint(QPainter& painter, const std::vector<Streamline>& lines,
                               const ColorTable& table, QSize size,
                               const StreamlineParameters& look, double tracedStepSize)
{
    if (size.isEmpty())
        return;
    const std::vector<QRgb> straight = straightColors(table);
    const double imageWidth = size.width();
    auto pixel = [imageWidth](double x, double y) {
        return QPointF(x * imageWidth, y * imageWidth);
    };
    const GlyphSpacing glyphs = glyphSpacing(look, tracedStepSize);
    const bool drawGlyphs = glyphs.draw;
    const double glyphScale = glyphs.scale;
    const int glyphInterval = glyphs.interval;
    const double baseWidth = look.lineWidth * strokePixelsPerLineWidth;

    QPainterPathStroker stroker;
    stroker.setWidth(baseWidth);
    stroker.setCapStyle(Qt::SquareCap);
    stroker.setJoinStyle(Qt::MiterJoin);

    painter.save();
    painter.setPen(Qt::NoPen);
    for (const Streamline& line : lines) {
        if (line.size() < 2)
            continue;
        QPolygonF points;
        std::vector<double> widths;
        QPainterPath glyphPath;
        // Colour sums, premultiplied so that transparent segments count as such.
        double sum[4] = {0.0, 0.0, 0.0, 0.0};
        double weight = 0.0;
        QPolygonF glyph;
        auto previous = line.begin();
        points << pixel(previous->x, previous->y);
        widths.push_back(baseWidth);
        if (drawGlyphs) {
            auto next = std::next(previous);
            const QPointF beside = besideLine(*previous, float(next->x) - float(previous->x),
                                              float(next->y) - float(previous->y), glyphScale);
            glyph << pixel(beside.x(), beside.y()) << points.back();
        }
        int sinceGlyph = 0;
        for (auto point = std::next(line.begin()); point != line.end(); ++point) {
            const StreamlinePoint& current = *point;
            QRgb color = straight[table.indexOf(current.magnitude)];
            if (look.texture)
                color = modulated(color, current.texture);
            const QRgb paint = qPremultiply(color);
            const QPointF at = pixel(current.x, current.y);
            const double length =
                std::hypot(at.x() - points.back().x(), at.y() - points.back().y());
            sum[0] += length * qRed(paint);
            sum[1] += length * qGreen(paint);
            sum[2] += length * qBlue(paint);
            sum[3] += length * qAlpha(paint);
            weight += length;
            if (length > 0.0) {
                points << at;
                widths.push_back(look.tapering ? baseWidth * current.taper : baseWidth);
            }
            if (drawGlyphs) {
                glyph << at;
                if (++sinceGlyph % glyphInterval == 0) {
                    glyphPath.addPolygon(glyph);
                    glyphPath.closeSubpath();
                    const QPointF beside =
                        besideLine(current, float(current.x) - float(previous->x),
                                   float(current.y) - float(previous->y), glyphScale);
                    glyph.clear();
                    glyph << pixel(beside.x(), beside.y()) << at;
                }
            }
            previous = point;
        }
        if (!(weight > 0.0) || points.size() < 2)
            continue;
        const int alpha = int(std::lround(sum[3] / weight));
        if (alpha == 0)
            continue;
        const QColor color = QColor::fromRgba(qUnpremultiply(
            qRgba(int(std::lround(sum[0] / weight)), int(std::lround(sum[1] / weight)),
                  int(std::lround(sum[2] / weight)), alpha)));
        QPainterPath path;
        if (look.tapering) {
            path.addPolygon(taperedOutline(points, widths));
            path.closeSubpath();
        } else {
            QPainterPath centre;
            centre.addPolygon(points);
            path = stroker.createStroke(centre);
        }
        path.setFillRule(Qt::WindingFill);
        // A glyph may wind against the outline, which would cut a hole
        // under the non-zero rule; the union has none.
        if (!glyphPath.isEmpty())
            path = path.united(glyphPath);
        painter.fillPath(path, color);
    }
    painter.restore();
}
