#include "transfer/ColorLegend.h"

#include "transfer/ColorTable.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int barEntries = 256;
constexpr double margin = 10.0;
constexpr double padding = 6.0;
constexpr double barWidth = 16.0;
constexpr double tickLength = 4.0;
constexpr int minTicks = 3;
constexpr int maxTicks = 6;

int tickCount(double minimum, double maximum, double step)
{
    return int(std::floor(maximum / step) - std::ceil(minimum / step)) + 1;
}

double stepOf(const QList<double>& ticks, double minimum, double maximum)
{
    return ticks.size() > 1 ? ticks.at(1) - ticks.at(0) : std::max(maximum - minimum, 1.0);
}

} // namespace

ColorLegend::ColorLegend(const TransferFunction& newFunction, const QString& newTitle,
                         double newMinimum, double newMaximum)
    : function(newFunction), title(newTitle), minimum(newMinimum), maximum(newMaximum)
{
}

QList<double> ColorLegend::ticks(double minimum, double maximum)
{
    const double range = maximum - minimum;
    if (!std::isfinite(range) || !(range > 0.0))
        return {minimum};
    // Steps of 1, 2, 2.5 and 5 times a power of ten, from fine to coarse:
    // the finest that gives at most six ticks.
    const double decade = std::pow(10.0, std::floor(std::log10(range)) - 2.0);
    static constexpr double factors[] = {1.0, 2.0, 2.5, 5.0};
    double step = 0.0;
    for (double scale = decade; step == 0.0 && scale < range * 1000.0; scale *= 10.0) {
        for (double factor : factors) {
            const int count = tickCount(minimum, maximum, factor * scale);
            if (count <= maxTicks && count >= minTicks) {
                step = factor * scale;
                break;
            }
        }
    }
    if (step == 0.0)
        return {minimum, maximum};
    QList<double> values;
    const double first = std::ceil(minimum / step);
    const double last = std::floor(maximum / step);
    for (double k = first; k <= last; k += 1.0) {
        // k * step can land a rounding error beyond the range at its ends.
        const double value = std::clamp(k * step, minimum, maximum);
        values.append(value == 0.0 ? 0.0 : value);
    }
    return values;
}

QString ColorLegend::label(double value, double step)
{
    // One digit finer than the step: ticks print exactly, extremes close enough.
    const double resolution = std::pow(10.0, std::floor(std::log10(std::abs(step))) - 1.0);
    const double rounded = std::round(value / resolution) * resolution;
    if (rounded == 0.0 || !std::isfinite(rounded))
        return std::isfinite(value) ? QStringLiteral("0") : QStringLiteral("—");
    const double magnitude = std::abs(rounded);
    int digits = int(std::floor(std::log10(magnitude)) - std::log10(resolution) + 1.5);
    const int valueExponent = int(std::floor(std::log10(magnitude)));
    if (magnitude >= 1e6) {
        // Here 'g' would give each label as few digits as it needs, "-2e+06"
        // beside "-1.8e+06". Every label of one step gets the digits of the
        // step, and a value between its multiples (an extreme) one more.
        const int stepExponent = int(std::floor(std::log10(std::abs(step))));
        const auto multipleOf = [](double x, int exponent) {
            const double q = x / std::pow(10.0, exponent);
            return std::abs(q - std::round(q)) < 1e-6;
        };
        int unitExponent = multipleOf(step, stepExponent) ? stepExponent : stepExponent - 1;
        if (!multipleOf(rounded, unitExponent))
            unitExponent = stepExponent - 1;
        return QString::number(rounded, 'e', std::clamp(valueExponent - unitExponent, 0, 11));
    }
    // 'g' turns to an exponent once the whole digits outnumber the precision,
    // so that 200 in steps of 200 would read "2e+02". Below a million every
    // whole digit is given, as a plot's axis prints it.
    digits = std::max(digits, valueExponent + 1);
    return QString::number(rounded, 'g', std::clamp(digits, 1, 12));
}

void ColorLegend::paint(QPainter& painter, const QRectF& area) const
{
    const QFontMetricsF metrics(painter.font());
    const QList<double> values = ticks(minimum, maximum);
    const double step = stepOf(values, minimum, maximum);
    const QString lowest = label(minimum, step);
    const QString highest = label(maximum, step);

    double labelWidth =
        std::max(metrics.horizontalAdvance(lowest), metrics.horizontalAdvance(highest));
    for (double value : values)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label(value, step)));
    const double lineHeight = metrics.height();
    const double width =
        std::max(barWidth + tickLength + padding + labelWidth, metrics.horizontalAdvance(title)) +
        2.0 * padding;
    const double height = std::min(std::max(std::min(area.height() / 3.0, 240.0), 8.0 * lineHeight),
                                   area.height() - 2.0 * margin);
    const double barHeight = height - lineHeight - 3.0 * padding - lineHeight;
    if (width + 2.0 * margin > area.width() || barHeight < 2.0 * lineHeight)
        return;

    const QRectF box(area.right() - margin - width, area.bottom() - margin - height, width, height);
    painter.save();
    painter.setOpacity(1.0);
    painter.setPen(QColor(0, 0, 0, 160));
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRoundedRect(box, 4.0, 4.0);

    painter.setPen(Qt::black);
    painter.drawText(
        QRectF(box.left() + padding, box.top() + padding, width - 2.0 * padding, lineHeight),
        Qt::AlignLeft | Qt::AlignVCenter, title);

    // The bar over a checkerboard, so that opacity shows.
    const QRectF bar(box.left() + padding,
                     box.top() + 2.0 * padding + lineHeight + lineHeight / 2.0, barWidth,
                     barHeight);
    const double cell = barWidth / 2.0;
    for (int row = 0; row * cell < bar.height(); ++row) {
        for (int column = 0; column < 2; ++column) {
            const QRectF square(bar.left() + column * cell, bar.top() + row * cell, cell,
                                std::min(cell, bar.height() - row * cell));
            painter.fillRect(square, (row + column) % 2 ? Qt::lightGray : Qt::white);
        }
    }
    const ColorTable table(function, barEntries);
    QImage strip(1, barEntries, QImage::Format_ARGB32_Premultiplied);
    for (int k = 0; k < barEntries; ++k)
        strip.setPixel(0, barEntries - 1 - k, table.premultiplied(k));
    painter.drawImage(bar, strip);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QColor(0, 0, 0, 160));
    painter.drawRect(bar);

    // Extremes at the bar's ends, ticks between where they do not crowd them.
    const double range = maximum - minimum;
    const auto yOf = [&](double value) {
        return range > 0.0 ? bar.bottom() - (value - minimum) / range * bar.height() : bar.bottom();
    };
    const double textLeft = bar.right() + tickLength + padding / 2.0;
    const auto mark = [&](double y, const QString& text) {
        painter.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + tickLength, y));
        painter.drawText(QRectF(textLeft, y - lineHeight / 2.0, labelWidth + padding, lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    painter.setPen(Qt::black);
    mark(bar.top(), highest);
    mark(bar.bottom(), lowest);
    double lastY = bar.bottom();
    for (double value : values) {
        const double y = yOf(value);
        if (y - bar.top() > lineHeight && lastY - y > lineHeight) {
            mark(y, label(value, step));
            lastY = y;
        }
    }
    painter.restore();
}
