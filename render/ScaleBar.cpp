#include "render/ScaleBar.h"

#include "data/DerivedFieldGrid.h"
#include "data/FlowData.h"
#include "render/CornerBox.h"
#include "render/FigureAxes.h"
#include "render/ReferenceArrow.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double margin = 10.0;
constexpr double padding = 6.0;
constexpr double barThickness = 4.0;
constexpr double endTick = 4.0;

} // namespace

ScaleBar::ScaleBar(double newSpan, const QString& newUnit) : span(newSpan), unit(newUnit) {}

std::optional<ScaleBar> ScaleBar::of(const FlowData& data)
{
    const QString lengthUnit = data.lengthUnit();
    if (DerivedFieldGrid::isLongitudeUnit(lengthUnit) ||
        DerivedFieldGrid::isLatitudeUnit(lengthUnit))
        return std::nullopt;
    const FigureAxes::Axis x = FigureAxes::of(data).xAxis();
    const double width = std::abs(x.maximum - x.minimum);
    if (!(width > 0.0) || !std::isfinite(width))
        return std::nullopt;
    return ScaleBar(width, lengthUnit);
}

ScaleBar::Bar ScaleBar::barFor(const QRectF& picture, const QRectF& area) const
{
    const double pixelsPerUnit = picture.width() / span;
    if (!(pixelsPerUnit > 0.0) || !std::isfinite(pixelsPerUnit))
        return {0.0, 0.0};
    // Round on the same 1-2-5 rule as the reference arrow's speed.
    const double length = ReferenceArrow::roundSpeed(area.width() / 5.0 / pixelsPerUnit);
    return {length, length * pixelsPerUnit};
}

QRectF ScaleBar::paint(QPainter& painter, const QRectF& picture, const QRectF& area) const
{
    const Bar bar = barFor(picture, area);
    const QFontMetricsF metrics(painter.font());
    const QString caption = ReferenceArrow::text(bar.length, unit);
    const double width = std::max(bar.pixels, metrics.horizontalAdvance(caption)) + 2.0 * padding;
    const double height = padding + endTick * 2.0 + padding + metrics.height() + padding;
    if (!(bar.pixels > 0.0) || width + 2.0 * margin > area.width() ||
        height + 2.0 * margin > area.height())
        return QRectF();
    const QRectF box(area.left() + margin, area.top() + margin, width, height);
    beginCornerBox(painter, box);
    const double left = box.left() + padding;
    const double middle = box.top() + padding + endTick;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRect(QRectF(left, middle - barThickness / 2.0, bar.pixels, barThickness));
    // End marks one pixel wide inside the bar's length, so that its ink
    // spans exactly the length.
    painter.drawRect(QRectF(left, middle - endTick, 1.0, 2.0 * endTick));
    painter.drawRect(QRectF(left + bar.pixels - 1.0, middle - endTick, 1.0, 2.0 * endTick));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(left, box.top() + 2.0 * padding + 2.0 * endTick, width - 2.0 * padding,
                            metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, caption);
    painter.restore();
    return box;
}
