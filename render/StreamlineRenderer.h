#pragma once

#include "render/Streamline.h"

#include <QImage>
#include <QSize>

#include <vector>

class ColorTable;
class QPainter;
struct StreamlineParameters;

// Draws traced lines (domain coordinates, in widths) into a transparent
// straight-ARGB image of `size`, which spans the domain's width. Each segment
// takes the colour of its end point's magnitude, darkened by the texture value
// and thinned by the taper factor when those looks are on; direction glyphs,
// sized by the step the lines were traced with, are filled triangles beside
// the line every few points.
class StreamlineRenderer
{
public:
    // Null for an empty size (it would scale the painter by zero).
    static QImage render(const std::vector<Streamline>& lines, const ColorTable& table, QSize size,
                         const StreamlineParameters& look, double tracedStepSize);
    // The same lines for vector devices, in image coordinates: each line one
    // filled path (its stroke's outline, thinned where it tapers, with its
    // glyphs), so no seams show between segments. A path has one colour:
    // the mean of its segments' colours as the picture draws them, weighted
    // by their lengths. Changes no painter state.
    static void paint(QPainter& painter, const std::vector<Streamline>& lines,
                      const ColorTable& table, QSize size, const StreamlineParameters& look,
                      double tracedStepSize);
};
