#pragma once

#include <QImage>
#include <QPointF>
#include <QSize>

#include <vector>

class ColorTable;
class FlowData;
class QPainter;
struct Vector3;

// Draws curly vectors: at every point of the arrow grid (laid out as
// ArrowRenderer lays it, `vectors` sampled there) a short streamline of the
// field traced both ways from the point, as long along its arc as the straight
// arrow of that vector is from tail to tip (ArrowRenderer::lengthFor), half
// upstream and half downstream. It is drawn as a shaft that widens from the
// tail and ends in a head at the downstream end, in the straight glyph's
// widths, coloured through `table` by the vector's magnitude. Image rows
// follow +y of the data.
class CurlyArrowRenderer
{
public:
    // Steps per curve; the arc of each is traced by the midpoint rule.
    static constexpr int stepsPerCurve = 16;

    struct Curve
    {
        std::vector<QPointF> points; // centre line, image coordinates, tail first
        QRgb color = 0;              // premultiplied
        double length = 0.0;         // the arc length asked for, pixels
    };

    // The centre line through `base` (image coordinates of a picture of
    // `size` over the whole domain) of arc length `length`, tail first; it
    // ends early where it would leave the picture or the field stalls.
    static std::vector<QPointF> centreLine(const FlowData& data, QSize size, QPointF base,
                                           double length);
    // Every curve of the grid, in grid order; vectors at most
    // ArrowRenderer::minMagnitude, or not finite, get none.
    static std::vector<Curve> curves(const FlowData& data, const Vector3* vectors, QSize counts,
                                     const ColorTable& table, QSize size, float arrowSize,
                                     float normPerc);
    // Null when the size or the counts are empty or the image cannot be
    // allocated.
    static QImage render(const FlowData& data, const Vector3* vectors, QSize counts,
                         const ColorTable& table, QSize size, float arrowSize, float normPerc);
    // The same as filled shapes in image coordinates, for vector devices.
    static void paint(QPainter& painter, const FlowData& data, const Vector3* vectors, QSize counts,
                      const ColorTable& table, QSize size, float arrowSize, float normPerc);
};
