#include "render/CurlyArrowRenderer.h"

#include "data/FlowData.h"
#include "data/ParallelBlocks.h"
#include "data/Vector3.h"
#include "render/ArrowRenderer.h"
#include "render/HugePageImage.h"
#include "render/PolygonRasterizer.h"
#include "transfer/ColorTable.h"

#include <QDebug>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The straight glyph's widths in glyph units: the shaft is 2 wide at the
// head, the head 6; the tail starts at a fifth of the shaft.
constexpr double shaftHalfWidth = 1.0;
constexpr double tailShare = 0.2;
constexpr double headHalfWidth = 3.0;
constexpr double headLength = 4.0;

// The length of a pixel-sized step. std::hypot's care against overflow and
// underflow, needless at these sizes, took a fifth of the curves' time.
inline double stepLength(double dx, double dy)
{
    return std::sqrt(dx * dx + dy * dy);
}

// Maps image coordinates to the data's domain coordinates and back; the
// picture spans the whole domain, so x and y may scale differently.
struct ImageDomain
{
    double toX;
    double toY;

    ImageDomain(const FlowData& data, QSize size)
        : toX(1.0 / size.width()), toY(double(data.inverseAspectRatio()) / size.height())
    {
    }

    // The unit direction of the field in image coordinates at an image
    // point, reversed upstream; false where the field stalls or is not finite.
    bool direction(const FlowData& data, double px, double py, double sign, QPointF* d) const
    {
        const Vector3 v = data.vectorAt(px * toX, py * toY);
        const double dx = double(v.x) / toX * sign;
        const double dy = double(v.y) / toY * sign;
        const double n = stepLength(dx, dy);
        if (!(n > 0.0) || !std::isfinite(n) || !(v.length() > ArrowRenderer::minMagnitude))
            return false;
        *d = QPointF(dx / n, dy / n);
        return true;
    }
};

// One half of the centre line as it is traced: where it stands, which way it
// goes (+1 downstream, -1 upstream) and the points it has reached.
struct HalfLine
{
    static constexpr int maxSteps = CurlyArrowRenderer::stepsPerCurve / 2;

    HalfLine(QPointF base, double direction) : p(base), sign(direction) {}

    QPointF p;
    double sign;
    bool going = true;
    int count = 0;
    QPointF points[maxSteps];

    // One midpoint step of h; the half ends where the field stalls or the
    // step would leave the picture.
    void step(const FlowData& data, const ImageDomain& map, QSize size, double h)
    {
        const auto inside = [size](const QPointF& q) {
            return q.x() >= 0.0 && q.y() >= 0.0 && q.x() <= size.width() && q.y() <= size.height();
        };
        QPointF d;
        going = map.direction(data, p.x(), p.y(), sign, &d);
        if (!going)
            return;
        const QPointF middle = p + d * (h * 0.5);
        going = inside(middle) && map.direction(data, middle.x(), middle.y(), sign, &d);
        if (!going)
            return;
        const QPointF next = p + d * h;
        going = inside(next);
        if (!going)
            return;
        points[count++] = next;
        p = next;
        going = count < maxSteps;
    }
};

// The most points of a centre line: the base and both halves.
constexpr int maxLinePoints = CurlyArrowRenderer::stepsPerCurve + 1;

// The centre line of CurlyArrowRenderer::centreLine into `line` (room for
// maxLinePoints), tail first; returns its number of points.
int traceCentreLine(const FlowData& data, QSize size, QPointF base, double length, QPointF* line)
{
    if (size.isEmpty() || !(length > 0.0) || !std::isfinite(length))
        return 0;
    const ImageDomain map(data, size);
    const double h = length / CurlyArrowRenderer::stepsPerCurve;
    // Both halves step in one loop: each step waits on the field lookups of
    // the last, so two independent chains of them overlap in the processor.
    HalfLine upstream(base, -1.0);
    HalfLine downstream(base, +1.0);
    while (upstream.going || downstream.going) {
        if (upstream.going)
            upstream.step(data, map, size, h);
        if (downstream.going)
            downstream.step(data, map, size, h);
    }
    int count = 0;
    for (int k = upstream.count - 1; k >= 0; --k)
        line[count++] = upstream.points[k];
    line[count++] = base;
    for (int k = 0; k < downstream.count; ++k)
        line[count++] = downstream.points[k];
    return count;
}

double arcLength(const QPointF* line, int count)
{
    double sum = 0.0;
    for (int k = 1; k < count; ++k)
        sum += stepLength(line[k].x() - line[k - 1].x(), line[k].y() - line[k - 1].y());
    return sum;
}

// The closed outline of one curve of `count` points: the shaft's left side
// from the tail to the head's base, the head, the shaft's right side back.
// s is the glyph unit.
std::vector<QPointF> outline(const QPointF* line, int count, double s)
{
    std::vector<QPointF> shape;
    if (count < 2)
        return shape;
    const double total = arcLength(line, count);
    if (!(total > 0.0))
        return shape;
    const double head = std::min(headLength * s, 0.5 * total);
    const double shaftEnd = total - head;
    // Room for the most points: the left side fills it from the front, the
    // right side from the back (so already turned round), and the right
    // side then moves down behind the head.
    constexpr int headPoints = 5;
    const int room = 2 * count + headPoints;
    shape.resize(std::size_t(room));
    QPointF* const points = shape.data();
    double along = 0.0;
    int k = 0;
    QPointF headBase = line[0];
    QPointF headDirection(1, 0);
    for (; k < count; ++k) {
        // The segment ending at point k (the first one for the tail), its
        // length measured once for the direction and the arc.
        const QPointF a = line[k == 0 ? 0 : k - 1];
        const QPointF b = line[k == 0 ? 1 : k];
        const double n = stepLength(b.x() - a.x(), b.y() - a.y());
        if (k > 0)
            along += n;
        const QPointF d = n > 0.0 ? (b - a) / n : headDirection;
        if (along >= shaftEnd) {
            // The head's base lies on this segment, where the shaft ends.
            const double back = along - shaftEnd;
            headBase = line[k] - d * back;
            headDirection = d;
            break;
        }
        const double w = s * shaftHalfWidth * (tailShare + (1.0 - tailShare) * along / shaftEnd);
        const QPointF normal(-d.y(), d.x());
        points[k] = line[k] + normal * w;
        points[room - 1 - k] = line[k] - normal * w;
        headDirection = d;
    }
    const QPointF normal(-headDirection.y(), headDirection.x());
    points[k] = headBase + normal * (s * shaftHalfWidth);
    points[k + 1] = headBase + normal * (s * headHalfWidth);
    points[k + 2] = line[count - 1];
    points[k + 3] = headBase - normal * (s * headHalfWidth);
    points[k + 4] = headBase - normal * (s * shaftHalfWidth);
    // The loop runs to the end only when no point reaches the head's base
    // (a glyph unit that is not a number); the right side then already lies
    // where it belongs.
    if (k < count)
        std::copy(points + room - k, points + room, points + k + headPoints);
    shape.resize(std::size_t(2 * k + headPoints));
    return shape;
}

bool drawable(const Vector3* vectors, QSize counts, QSize size)
{
    return vectors && !size.isEmpty() && counts.width() >= 2 && counts.height() >= 2;
}

double glyphUnit(QSize size, float arrowSize)
{
    return double(float(std::min(size.width(), size.height())) * arrowSize / 400.0f);
}

struct Shape
{
    std::vector<QPointF> outline;
    double top;
    double bottom;
    QRgb color;
};

// Where the curve from grid point (i, j) of `counts` over a picture of
// `size` starts, how long it is and its colour; false where the vector there
// gets none.
struct CurveStart
{
    QPointF base;
    double length = 0.0;
    QRgb color = 0;
};

bool curveStart(const Vector3* vectors, QSize counts, int i, int j, const ColorTable& table,
                QSize size, float arrowSize, float normPerc, CurveStart* start)
{
    const Vector3& v = vectors[j * counts.width() + i];
    const float m = v.length();
    if (!(m > ArrowRenderer::minMagnitude) || !std::isfinite(m))
        return false;
    const float dx = float(size.width()) / float(counts.width() - 1);
    const float dy = float(size.height()) / float(counts.height() - 1);
    start->base = QPointF(double(i * dx), double(j * dy));
    start->length = ArrowRenderer::lengthFor(m, size, arrowSize, normPerc);
    start->color = table.premultiplied(table.indexOf(m));
    return true;
}

std::vector<Shape> shapes(const FlowData& data, const Vector3* vectors, QSize counts,
                          const ColorTable& table, QSize size, float arrowSize, float normPerc)
{
    std::vector<Shape> out;
    if (!drawable(vectors, counts, size))
        return out;
    const double s = glyphUnit(size, arrowSize);
    const int columns = counts.width();
    out.resize(std::size_t(columns) * std::size_t(counts.height()));
    // Rows of the grid go to the cores: each curve is traced, outlined and
    // measured in its own place while its points are in the cache.
    ParallelBlocks::run(counts.height(), 1, [&](int, int firstRow, int endRow) {
        for (int j = firstRow; j < endRow; ++j) {
            for (int i = 0; i < columns; ++i) {
                CurveStart start;
                QPointF line[maxLinePoints];
                if (!curveStart(vectors, counts, i, j, table, size, arrowSize, normPerc, &start))
                    continue;
                const int points = traceCentreLine(data, size, start.base, start.length, line);
                if (points < 2)
                    continue;
                Shape& shape = out[std::size_t(j) * std::size_t(columns) + std::size_t(i)];
                shape.outline = outline(line, points, s);
                shape.color = start.color;
                if (shape.outline.size() < 3)
                    continue;
                const auto [low, high] = std::minmax_element(
                    shape.outline.begin(), shape.outline.end(),
                    [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
                shape.top = low->y();
                shape.bottom = high->y();
            }
        }
    });
    out.erase(std::remove_if(out.begin(), out.end(),
                             [](const Shape& shape) { return shape.outline.size() < 3; }),
              out.end());
    return out;
}

} // namespace

std::vector<QPointF> CurlyArrowRenderer::centreLine(const FlowData& data, QSize size, QPointF base,
                                                    double length)
{
    QPointF line[maxLinePoints];
    const int count = traceCentreLine(data, size, base, length, line);
    return std::vector<QPointF>(line, line + count);
}

std::vector<CurlyArrowRenderer::Curve>
CurlyArrowRenderer::curves(const FlowData& data, const Vector3* vectors, QSize counts,
                           const ColorTable& table, QSize size, float arrowSize, float normPerc)
{
    std::vector<Curve> out;
    if (!drawable(vectors, counts, size))
        return out;
    const int columns = counts.width();
    out.resize(std::size_t(columns) * std::size_t(counts.height()));
    // Tracing samples the field a few dozen times per curve: rows of the
    // grid go to the cores, each curve into its own place.
    ParallelBlocks::run(counts.height(), 1, [&](int, int firstRow, int endRow) {
        for (int j = firstRow; j < endRow; ++j)
            for (int i = 0; i < columns; ++i) {
                CurveStart start;
                if (!curveStart(vectors, counts, i, j, table, size, arrowSize, normPerc, &start))
                    continue;
                Curve& curve = out[std::size_t(j) * std::size_t(columns) + std::size_t(i)];
                curve.length = start.length;
                curve.points = centreLine(data, size, start.base, start.length);
                curve.color = start.color;
            }
    });
    out.erase(std::remove_if(out.begin(), out.end(),
                             [](const Curve& curve) { return curve.points.size() < 2; }),
              out.end());
    return out;
}

QImage CurlyArrowRenderer::render(const FlowData& data, const Vector3* vectors, QSize counts,
                                  const ColorTable& table, QSize size, float arrowSize,
                                  float normPerc)
{
    if (!drawable(vectors, counts, size))
        return QImage();
    QImage picture = HugePageImage::create(size, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        qDebug() << "CurlyArrowRenderer/render: !!!cannot allocate the picture!!!" << size;
        return QImage();
    }
    const std::vector<Shape> all = shapes(data, vectors, counts, table, size, arrowSize, normPerc);
    // Bands drawn at once, each with every shape that reaches into it, in
    // grid order, as the straight arrows are.
    const PolygonRasterizer::Target target = PolygonRasterizer::Target::of(picture);
    ParallelBlocks::run(size.height(), ParallelBlocks::grainFor(size.width()),
                        [&](int, int firstRow, int endRow) {
                            // Each band clears its own rows, as the straight
                            // arrows' bands do.
                            std::memset(target.bits + firstRow * target.bytesPerLine, 0,
                                        size_t(endRow - firstRow) * size_t(target.bytesPerLine));
                            PolygonRasterizer rasterizer(target, firstRow, endRow);
                            for (const Shape& shape : all) {
                                if (shape.bottom > firstRow && shape.top < endRow)
                                    rasterizer.fillPolygon(shape.outline.data(),
                                                           int(shape.outline.size()), shape.color);
                            }
                        });
    return picture;
}

void CurlyArrowRenderer::paint(QPainter& painter, const FlowData& data, const Vector3* vectors,
                               QSize counts, const ColorTable& table, QSize size, float arrowSize,
                               float normPerc)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    for (const Shape& shape : shapes(data, vectors, counts, table, size, arrowSize, normPerc)) {
        if (qAlpha(shape.color) == 0)
            continue;
        QPainterPath path;
        path.addPolygon(QPolygonF(QList<QPointF>(shape.outline.begin(), shape.outline.end())));
        path.closeSubpath();
        painter.fillPath(path, QColor::fromRgba(qUnpremultiply(shape.color)));
    }
    painter.restore();
}
