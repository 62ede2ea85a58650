#pragma once

#include <QImage>
#include <QSize>

class ColorTable;
class QPainter;
struct Vector3;

// Draws a grid of arrow glyphs into a transparent premultiplied image, edge
// to edge: `counts` (columns, rows) vectors, row by row, the first and last
// arrow of a row on the image borders. The glyph is 8 units long and 6 wide,
// one unit being (shorter image side / 400) * arrowSize pixels; it points
// along the vector's x and y (image rows follow +y of the data), is coloured
// through `table` by the vector's magnitude, and its length blends a fixed
// length (normPerc 1) with one proportional to the magnitude (normPerc 0).
// Vectors whose magnitude is at most minMagnitude, or not finite, get none.
class ArrowRenderer
{
public:
    static constexpr float minMagnitude = 0.001f;

    // Null when the size or the counts are empty or the image cannot be
    // allocated.
    static QImage render(const Vector3* vectors, QSize counts, const ColorTable& table, QSize size,
                         float arrowSize, float normPerc);
    // The same arrows as filled shapes in image coordinates, for vector
    // devices: one path per colour, so a picture of thousands of arrows stays
    // small. Changes no painter state.
    static void paint(QPainter& painter, const Vector3* vectors, QSize counts,
                      const ColorTable& table, QSize size, float arrowSize, float normPerc);
    // The drawn length in pixels of an arrow of magnitude m (the field's
    // scaled length, as the vectors hold it) for a picture of `size`.
    static double lengthFor(float magnitude, QSize size, float arrowSize, float normPerc);
};
