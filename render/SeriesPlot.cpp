#include "render/SeriesPlot.h"

#include "transfer/ColorLegend.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr double padding = 6.0;
constexpr double tickLength = 4.0;
constexpr double labelGap = 4.0; // least room between two labels
constexpr double yMargin = 0.05; // of the y range, above and below the lines
constexpr double lineWidth = 1.5;
constexpr double dotRadius = 2.0;
constexpr double swatchLength = 18.0;

QString withUnit(const QString& name, const QString& unit)
{
    return unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QLatin1Char(']');
}

struct Range
{
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();

    void add(double value)
    {
        if (std::isfinite(value)) {
            minimum = std::min(minimum, value);
            maximum = std::max(maximum, value);
        }
    }
    // An empty range becomes 0..1, a single value a small span around it.
    void settle()
    {
        if (!(minimum <= maximum)) {
            minimum = 0.0;
            maximum = 1.0;
        } else if (minimum == maximum) {
            const double half = minimum == 0.0 ? 1.0 : std::abs(minimum) * 0.05;
            minimum -= half;
            maximum += half;
        }
    }
};

// Ticks along an axis of `length` pixels from `start` (x: to the right; y:
// upwards, so positions decrease). Labels are placed by `place` and kept
// greedily from the low end while they keep `labelGap` from the last kept one.
QList<SeriesPlot::Tick> axisTicks(double minimum, double maximum, double start, double length,
                                  bool upwards, const QFontMetricsF& metrics)
{
    QList<SeriesPlot::Tick> ticks;
    const QList<double> values = ColorLegend::ticks(minimum, maximum);
    const double step =
        values.size() > 1 ? values.at(1) - values.at(0) : std::max(maximum - minimum, 1.0);
    const double span = maximum - minimum;
    double lastEdge = -std::numeric_limits<double>::infinity();
    for (double value : values) {
        SeriesPlot::Tick tick;
        tick.value = value;
        const double along = span > 0.0 ? (value - minimum) / span * length : 0.0;
        tick.position = upwards ? start - along : start + along;
        tick.label = ColorLegend::label(value, step);
        const double width = metrics.horizontalAdvance(tick.label);
        const double height = metrics.height();
        // Measured along the axis from its low end, whichever way it runs.
        const double extent = upwards ? height : width;
        const double low = along - extent / 2.0;
        if (low >= lastEdge + labelGap || ticks.isEmpty()) {
            tick.labelled = true;
            lastEdge = along + extent / 2.0;
        }
        if (upwards)
            tick.labelRect = QRectF(0.0, tick.position - height / 2.0, width, height);
        else
            tick.labelRect = QRectF(tick.position - width / 2.0, 0.0, width, height);
        ticks.append(tick);
    }
    return ticks;
}

} // namespace

void SeriesPlot::setVisible(int index, bool visible)
{
    if (index >= 0 && index < curves.size())
        curves[index].visible = visible;
}

void SeriesPlot::setXAxis(const QString& title, const QString& unit)
{
    xTitle = title;
    xUnit = unit;
}

void SeriesPlot::clearMarker()
{
    marker = std::numeric_limits<double>::quiet_NaN();
}

bool SeriesPlot::hasMarker() const
{
    return std::isfinite(marker);
}

QString SeriesPlot::yAxisTitle() const
{
    QList<QString> units;
    QList<QStringList> names;
    for (const Series& curve : curves) {
        if (!curve.visible)
            continue;
        const qsizetype at = units.indexOf(curve.unit);
        if (at < 0) {
            units.append(curve.unit);
            names.append({curve.name});
        } else {
            names[at].append(curve.name);
        }
    }
    QStringList groups;
    for (qsizetype k = 0; k < units.size(); ++k)
        groups.append(withUnit(names.at(k).join(QStringLiteral(", ")), units.at(k)));
    return groups.join(QStringLiteral("; "));
}

SeriesPlot::Layout SeriesPlot::layout(const QRectF& area, const QFontMetricsF& metrics) const
{
    Layout result;
    Range xRange;
    Range yRange;
    for (const Series& curve : curves) {
        if (!curve.visible)
            continue;
        const size_t n = std::min(curve.x.size(), curve.y.size());
        for (size_t k = 0; k < n; ++k) {
            if (std::isfinite(curve.x[k]) && std::isfinite(curve.y[k])) {
                xRange.add(curve.x[k]);
                yRange.add(curve.y[k]);
            }
        }
    }
    // With nothing visible the x axis still spans the data, so that it does
    // not jump when a series is switched off and on.
    if (!(xRange.minimum <= xRange.maximum)) {
        for (const Series& curve : curves)
            for (double x : curve.x)
                xRange.add(x);
    }
    xRange.settle();
    yRange.settle();
    const double yPad = (yRange.maximum - yRange.minimum) * yMargin;
    result.xMinimum = xRange.minimum;
    result.xMaximum = xRange.maximum;
    result.yMinimum = yRange.minimum - yPad;
    result.yMaximum = yRange.maximum + yPad;

    // The y labels' width decides the left margin, the x labels' height the
    // bottom one; the last x label may reach half its width past the frame.
    const double lineHeight = metrics.height();
    double yLabelWidth = 0.0;
    const QList<double> yValues = ColorLegend::ticks(result.yMinimum, result.yMaximum);
    const double yStep = yValues.size() > 1 ? yValues.at(1) - yValues.at(0) : 1.0;
    for (double value : yValues)
        yLabelWidth =
            std::max(yLabelWidth, metrics.horizontalAdvance(ColorLegend::label(value, yStep)));
    const double left = area.left() + padding + lineHeight + padding + yLabelWidth + tickLength;
    const double right = area.right() - padding - metrics.horizontalAdvance(QStringLiteral("0000"));
    const double top = area.top() + padding + lineHeight / 2.0;
    const double bottom = area.bottom() - padding - lineHeight - padding - lineHeight - tickLength;
    result.plot = QRectF(QPointF(left, top),
                         QPointF(std::max(left + 1.0, right), std::max(top + 1.0, bottom)));

    result.xTicks = axisTicks(result.xMinimum, result.xMaximum, result.plot.left(),
                              result.plot.width(), false, metrics);
    for (Tick& tick : result.xTicks)
        tick.labelRect.moveTop(result.plot.bottom() + tickLength);
    result.yTicks = axisTicks(result.yMinimum, result.yMaximum, result.plot.bottom(),
                              result.plot.height(), true, metrics);
    for (Tick& tick : result.yTicks)
        tick.labelRect.moveRight(result.plot.left() - tickLength);
    return result;
}

void SeriesPlot::paint(QPainter& painter, const QRectF& area) const
{
    const QFontMetricsF metrics(painter.font());
    const Layout frame = layout(area, metrics);
    const QRectF& plot = frame.plot;
    const double xSpan = frame.xMaximum - frame.xMinimum;
    const double ySpan = frame.yMaximum - frame.yMinimum;
    const auto toPixel = [&](double x, double y) {
        return QPointF(plot.left() + (x - frame.xMinimum) / xSpan * plot.width(),
                       plot.bottom() - (y - frame.yMinimum) / ySpan * plot.height());
    };

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(area, Qt::white);

    // Grid, frame, ticks and labels.
    painter.setPen(QPen(QColor(0, 0, 0, 30), 0));
    for (const Tick& tick : frame.xTicks)
        painter.drawLine(QPointF(tick.position, plot.top()), QPointF(tick.position, plot.bottom()));
    for (const Tick& tick : frame.yTicks)
        painter.drawLine(QPointF(plot.left(), tick.position), QPointF(plot.right(), tick.position));
    painter.setPen(QPen(Qt::black, 0));
    painter.drawRect(plot);
    for (const Tick& tick : frame.xTicks) {
        painter.drawLine(QPointF(tick.position, plot.bottom()),
                         QPointF(tick.position, plot.bottom() + tickLength));
        if (tick.labelled)
            painter.drawText(tick.labelRect, Qt::AlignCenter, tick.label);
    }
    for (const Tick& tick : frame.yTicks) {
        painter.drawLine(QPointF(plot.left() - tickLength, tick.position),
                         QPointF(plot.left(), tick.position));
        if (tick.labelled)
            painter.drawText(tick.labelRect, Qt::AlignRight | Qt::AlignVCenter, tick.label);
    }
    const double lineHeight = metrics.height();
    const QRectF xTitleRect(plot.left(), area.bottom() - padding - lineHeight, plot.width(),
                            lineHeight);
    painter.drawText(xTitleRect, Qt::AlignCenter,
                     metrics.elidedText(withUnit(xTitle, xUnit), Qt::ElideRight, plot.width()));
    painter.save();
    painter.translate(area.left() + padding + lineHeight / 2.0, plot.center().y());
    painter.rotate(-90.0);
    painter.drawText(QRectF(-plot.height() / 2.0, -lineHeight / 2.0, plot.height(), lineHeight),
                     Qt::AlignCenter,
                     metrics.elidedText(yAxisTitle(), Qt::ElideRight, plot.height()));
    painter.restore();

    // The lines, broken wherever a value is not finite.
    painter.setClipRect(plot.adjusted(-1.0, -1.0, 1.0, 1.0));
    for (const Series& curve : curves) {
        if (!curve.visible)
            continue;
        painter.setPen(QPen(curve.color, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        const size_t n = std::min(curve.x.size(), curve.y.size());
        QList<QPointF> run;
        const auto flush = [&] {
            if (run.size() == 1) {
                painter.setBrush(curve.color);
                painter.drawEllipse(run.front(), dotRadius, dotRadius);
                painter.setBrush(Qt::NoBrush);
            } else if (run.size() > 1) {
                painter.drawPolyline(run.constData(), int(run.size()));
            }
            run.clear();
        };
        for (size_t k = 0; k < n; ++k) {
            if (std::isfinite(curve.x[k]) && std::isfinite(curve.y[k]))
                run.append(toPixel(curve.x[k], curve.y[k]));
            else
                flush();
        }
        flush();
    }
    if (hasMarker() && marker >= frame.xMinimum && marker <= frame.xMaximum) {
        painter.setPen(QPen(QColor(60, 60, 60), 1.0, Qt::DashLine));
        const double x = toPixel(marker, 0.0).x();
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }

    // The legend in the corner of the frame that hides the fewest samples,
    // as many entries as fit.
    QList<const Series*> shown;
    double textWidth = 0.0;
    for (const Series& curve : curves) {
        if (curve.visible) {
            shown.append(&curve);
            textWidth =
                std::max(textWidth, metrics.horizontalAdvance(withUnit(curve.name, curve.unit)));
        }
    }
    const qsizetype fitting = qsizetype((plot.height() - 2.0 * padding) / lineHeight);
    const qsizetype entries = std::min(shown.size(), fitting);
    const double boxWidth = padding + swatchLength + padding + textWidth + padding;
    if (entries > 0 && boxWidth + 2.0 * padding < plot.width()) {
        const double boxHeight = entries * lineHeight + padding;
        const double left = plot.left() + padding;
        const double right = plot.right() - padding - boxWidth;
        const double top = plot.top() + padding;
        const double bottom = plot.bottom() - padding - boxHeight;
        const QRectF corners[] = {
            QRectF(right, top, boxWidth, boxHeight), QRectF(left, top, boxWidth, boxHeight),
            QRectF(right, bottom, boxWidth, boxHeight), QRectF(left, bottom, boxWidth, boxHeight)};
        int hidden[4] = {0, 0, 0, 0};
        for (const Series* curve : std::as_const(shown)) {
            const size_t n = std::min(curve->x.size(), curve->y.size());
            for (size_t k = 0; k < n; ++k) {
                const QPointF at = toPixel(curve->x[k], curve->y[k]);
                for (int c = 0; c < 4; ++c)
                    hidden[c] += corners[c].contains(at);
            }
        }
        const QRectF box = corners[std::min_element(hidden, hidden + 4) - hidden];
        painter.setPen(QPen(QColor(0, 0, 0, 120), 0));
        painter.setBrush(QColor(255, 255, 255, 210));
        painter.drawRect(box);
        for (qsizetype k = 0; k < entries; ++k) {
            const double y = box.top() + padding / 2.0 + (double(k) + 0.5) * lineHeight;
            painter.setPen(QPen(shown.at(k)->color, lineWidth));
            painter.drawLine(QPointF(box.left() + padding, y),
                             QPointF(box.left() + padding + swatchLength, y));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(box.left() + 2.0 * padding + swatchLength, y - lineHeight / 2.0,
                                    textWidth + padding, lineHeight),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             withUnit(shown.at(k)->name, shown.at(k)->unit));
        }
    }
    painter.restore();
}
