#include "render/ReferenceArrow.h"

#include "data/FlowData.h"
#include "render/CornerBox.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

constexpr double margin = 10.0;
constexpr double padding = 6.0;

} // namespace

ReferenceArrow::ReferenceArrow(double newSpeed, const QString& newUnit, double length,
                               double newGlyphUnit)
    : speed(newSpeed), unit(newUnit), arrowLength(length), glyphUnit(newGlyphUnit)
{
}

double ReferenceArrow::roundSpeed(double value)
{
    if (!(value > 0.0) || !std::isfinite(value))
        return 1.0;
    const double decade = std::pow(10.0, std::floor(std::log10(value)));
    double best = decade;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (std::abs(std::log(factor * decade / value)) < std::abs(std::log(best / value)))
            best = factor * decade;
    }
    return best;
}

double ReferenceArrow::typicalSpeed(const FlowData& data)
{
    const SharedArray<Vector3>& vectors = data.vectorArray();
    double sum = 0.0;
    int count = 0;
    for (int k = 0; k < vectors.size(); ++k) {
        const double m = vectors[k].length();
        if (std::isfinite(m)) {
            sum += m;
            ++count;
        }
    }
    const double largest = data.largestSpeed() > 0.0 ? data.largestSpeed() : 1.0;
    return count > 0 ? sum / double(count) * largest : 0.0;
}

QString ReferenceArrow::text(double value, const QString& unitName)
{
    const QString number = QString::number(value, 'g', 6);
    return unitName.isEmpty() ? number : number + QLatin1Char(' ') + unitName;
}

QRectF ReferenceArrow::paint(QPainter& painter, const QRectF& area) const
{
    const QFontMetricsF metrics(painter.font());
    const QString caption = text(speed, unit);
    const double headWidth = 6.0 * glyphUnit;
    const double width = std::max(arrowLength, metrics.horizontalAdvance(caption)) + 2.0 * padding;
    const double height = padding + headWidth + padding + metrics.height() + padding;
    if (!(arrowLength > 0.0) || width + 2.0 * margin > area.width() ||
        height + 2.0 * margin > area.height())
        return QRectF();
    const QRectF box(area.left() + margin, area.bottom() - margin - height, width, height);
    beginCornerBox(painter, box);
    // The layer's glyph, from -4 to 4 along and -3 to 3 across in glyph
    // units, stretched along to the arrow's length.
    const double along = arrowLength / 8.0;
    const double s = glyphUnit;
    const QPointF centre(box.left() + padding + arrowLength / 2.0,
                         box.top() + padding + headWidth / 2.0);
    QPolygonF glyph;
    for (const auto& [gx, gy] :
         {std::pair{-4, -1}, {-4, 1}, {0, 1}, {0, 3}, {4, 0}, {0, -3}, {0, -1}})
        glyph << centre + QPointF(gx * along, gy * s);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawPolygon(glyph);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(box.left() + padding, box.top() + 2.0 * padding + headWidth,
                            width - 2.0 * padding, metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, caption);
    painter.restore();
    return box;
}
