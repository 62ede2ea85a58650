#include "render/ArrowRenderer.h"

#include "data/ParallelBlocks.h"
#include "data/Vector3.h"
#include "render/HugePageImage.h"
#include "render/PolygonRasterizer.h"
#include "transfer/ColorTable.h"

#include <QDebug>
#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The glyph in glyph units, pointing along +x and centred on the origin: a
// shaft from -4 to 0, two units thick, and a head from 0 to 4, six units wide.
constexpr int glyphPoints = 7;
constexpr double glyph[glyphPoints][2] = {{-4, -1}, {-4, 1}, {0, 1}, {0, 3},
                                          {4, 0},   {0, -3}, {0, -1}};

struct PlacedArrow
{
    QPointF outline[glyphPoints];
    double top;
    double bottom;
    QRgb color;
    bool drawn; // false where the vector gets no arrow
};

// Every arrow of the grid in image coordinates, one slot per grid point in
// grid order, and how far an outline reaches above or below its row's line.
struct PlacedArrows
{
    std::vector<PlacedArrow> byPoint;
    int columns = 0;
    double rowSpacing = 0.0;
    double reach = 0.0;

    // The slots of the grid rows whose arrows may reach into image rows
    // [firstRow, endRow): a band need not look at the others.
    std::pair<size_t, size_t> slotsNear(int firstRow, int endRow) const
    {
        const double rows = double(byPoint.size() / size_t(columns));
        // A row more on either side absorbs the rounding of the rows' lines.
        const double first = std::floor((firstRow - reach) / rowSpacing) - 1.0;
        const double end = std::ceil((endRow + reach) / rowSpacing) + 2.0;
        return {size_t(std::clamp(first, 0.0, rows)) * size_t(columns),
                size_t(std::clamp(end, 0.0, rows)) * size_t(columns)};
    }
};

PlacedArrows placeArrows(const Vector3* vectors, QSize counts, const ColorTable& table, QSize size,
                         float arrowSize, float normPerc)
{
    PlacedArrows placed;
    const int columns = counts.width();
    const int rows = counts.height();
    const float dx = float(size.width()) / float(columns - 1);
    const float dy = float(size.height()) / float(rows - 1);
    // Glyph units follow the shorter side, as the arrow spacing does, so that
    // arrows on a wide domain do not outgrow their spacing.
    const float s = float(std::min(size.width(), size.height())) * arrowSize / 400.0f;
    placed.byPoint.resize(size_t(columns) * size_t(rows));
    placed.columns = columns;
    placed.rowSpacing = dy;
    // A row of arrows costs about fifty resampled points an arrow.
    const int grain = ParallelBlocks::grainFor(qint64(columns) * 50);
    std::vector<double> reaches(size_t(ParallelBlocks::countFor(rows, grain)), 0.0);
    ParallelBlocks::run(rows, grain, [&](int block, int firstRow, int endRow) {
        double reach = 0.0;
        for (int j = firstRow; j < endRow; ++j) {
            for (int i = 0; i < columns; ++i) {
                const Vector3& v = vectors[j * columns + i];
                PlacedArrow& arrow = placed.byPoint[size_t(j) * size_t(columns) + size_t(i)];
                const float m = v.length();
                arrow.drawn = m > ArrowRenderer::minMagnitude && std::isfinite(m);
                if (!arrow.drawn)
                    continue;
                // The direction of (x, y) alone, as atan2(y, x) would turn
                // it; image rows run along +y of the data, so this turns the
                // glyph the data's way. A vector along z alone points along
                // +x. Float components squared cannot overflow or underflow
                // a double, so std::hypot's costly care is not needed.
                const double planar = std::sqrt(double(v.x) * v.x + double(v.y) * v.y);
                const double cosine = planar > 0.0 ? double(v.x) / planar : 1.0;
                const double sine = planar > 0.0 ? double(v.y) / planar : 0.0;
                const double along = s * (normPerc + 10.0f * (1.0f - normPerc) * m);
                const double x0 = double(i * dx);
                const double y0 = double(j * dy);
                arrow.top = y0;
                arrow.bottom = y0;
                // translate(x0, y0) . rotate . scale(along, s), applied by hand.
                for (int k = 0; k < glyphPoints; ++k) {
                    const double gx = glyph[k][0] * along;
                    const double gy = glyph[k][1] * s;
                    arrow.outline[k] =
                        QPointF(x0 + cosine * gx - sine * gy, y0 + sine * gx + cosine * gy);
                    arrow.top = std::min(arrow.top, arrow.outline[k].y());
                    arrow.bottom = std::max(arrow.bottom, arrow.outline[k].y());
                }
                reach = std::max({reach, y0 - arrow.top, arrow.bottom - y0});
                arrow.color = table.premultiplied(table.indexOf(m));
            }
        }
        reaches[size_t(block)] = reach;
    });
    placed.reach = *std::max_element(reaches.begin(), reaches.end());
    return placed;
}

bool drawable(const Vector3* vectors, QSize counts, QSize size)
{
    return vectors && !size.isEmpty() && counts.width() >= 2 && counts.height() >= 2;
}

} // namespace

QImage ArrowRenderer::render(const Vector3* vectors, QSize counts, const ColorTable& table,
                             QSize size, float arrowSize, float normPerc)
{
    if (!drawable(vectors, counts, size))
        return QImage();
    QImage picture = HugePageImage::create(size, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        qDebug() << "ArrowRenderer/render: !!!cannot allocate the picture!!!" << size;
        return QImage();
    }
    const PlacedArrows arrows = placeArrows(vectors, counts, table, size, arrowSize, normPerc);

    // Bands of rows drawn at once, each with every arrow that reaches into
    // it, in the arrows' order: a pixel blends the same arrows in the same
    // order whatever the split.
    const PolygonRasterizer::Target target = PolygonRasterizer::Target::of(picture);
    ParallelBlocks::run(size.height(), ParallelBlocks::grainFor(size.width()),
                        [&](int, int firstRow, int endRow) {
                            // Each band clears its own rows, over the cores
                            // and into the cache for the drawing.
                            std::memset(target.bits + firstRow * target.bytesPerLine, 0,
                                        size_t(endRow - firstRow) * size_t(target.bytesPerLine));
                            PolygonRasterizer rasterizer(target, firstRow, endRow);
                            const auto [first, end] = arrows.slotsNear(firstRow, endRow);
                            for (size_t k = first; k < end; ++k) {
                                const PlacedArrow& arrow = arrows.byPoint[k];
                                if (arrow.drawn && arrow.bottom > firstRow && arrow.top < endRow)
                                    rasterizer.fillPolygon(arrow.outline, glyphPoints, arrow.color);
                            }
                        });
    return picture;
}

void ArrowRenderer::paint(QPainter& painter, const Vector3* vectors, QSize counts,
                          const ColorTable& table, QSize size, float arrowSize, float normPerc)
{
    if (!drawable(vectors, counts, size))
        return;
    // Glyphs never cross themselves and all turn the same way, so the
    // non-zero rule fills the union of a colour's arrows.
    QHash<QRgb, QPainterPath> paths;
    QList<QRgb> order;
    for (const PlacedArrow& arrow :
         placeArrows(vectors, counts, table, size, arrowSize, normPerc).byPoint) {
        if (!arrow.drawn || qAlpha(arrow.color) == 0)
            continue;
        auto found = paths.find(arrow.color);
        if (found == paths.end()) {
            found = paths.insert(arrow.color, QPainterPath());
            found->setFillRule(Qt::WindingFill);
            order.append(arrow.color);
        }
        QPolygonF outline(glyphPoints);
        std::copy(arrow.outline, arrow.outline + glyphPoints, outline.begin());
        found->addPolygon(outline);
        found->closeSubpath();
    }
    painter.save();
    painter.setPen(Qt::NoPen);
    for (QRgb color : std::as_const(order))
        painter.fillPath(paths.value(color), QColor::fromRgba(qUnpremultiply(color)));
    painter.restore();
}

double ArrowRenderer::lengthFor(float magnitude, QSize size, float arrowSize, float normPerc)
{
    const float s = float(std::min(size.width(), size.height())) * arrowSize / 400.0f;
    const double shaftToTip = glyph[4][0] - glyph[0][0];
    return shaftToTip * s * (normPerc + 10.0f * (1.0f - normPerc) * magnitude);
}
