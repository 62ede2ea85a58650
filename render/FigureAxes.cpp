#include "render/FigureAxes.h"

#include "data/DerivedFieldGrid.h"
#include "data/FlowData.h"
#include "transfer/ColorLegend.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr double tickLength = 5.0;
constexpr double gap = 3.0;
// The least room between two labels on one side.
constexpr double labelSpacing = 6.0;
// The widest label the left margin makes room for, in digits.
constexpr int marginDigits = 8;

QString titled(const QString& name, const QString& unit)
{
    return unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QLatin1Char(']');
}

// Ticks of [a, b] (either order) at positions from `place`; labels are
// thinned to every second, third, ... tick until no two boxes come closer
// than labelSpacing along the side.
QList<FigureAxes::Tick> ticksAlong(double a, double b, const std::function<double(double)>& place,
                                   const std::function<QRectF(double, const QString&)>& boxOf,
                                   bool horizontal)
{
    const double low = std::min(a, b);
    const double high = std::max(a, b);
    const QList<double> values = ColorLegend::ticks(low, high);
    const double step = values.size() > 1 ? values.at(1) - values.at(0) : std::max(high - low, 1.0);
    QList<FigureAxes::Tick> ticks;
    if (!(high > low))
        return ticks;
    for (double value : values) {
        const QString text = ColorLegend::label(value, step);
        const double position = place(value);
        ticks.append({value, position, text, boxOf(position, text)});
    }
    for (int every = 1; every <= int(ticks.size()); ++every) {
        bool apart = true;
        QRectF last;
        for (int k = 0; k < int(ticks.size()) && apart; k += every) {
            const QRectF box = ticks[k].box;
            if (!last.isNull())
                apart = horizontal ? std::abs(box.center().x() - last.center().x()) >=
                                         (box.width() + last.width()) / 2.0 + labelSpacing
                                   : std::abs(box.center().y() - last.center().y()) >=
                                         (box.height() + last.height()) / 2.0 + labelSpacing;
            last = box;
        }
        if (apart) {
            for (int k = 0; k < int(ticks.size()); ++k) {
                if (k % every != 0) {
                    ticks[k].label.clear();
                    ticks[k].box = QRectF();
                }
            }
            break;
        }
    }
    return ticks;
}

} // namespace

FigureAxes::FigureAxes(const Axis& newX, const Axis& newY) : x(newX), y(newY) {}

FigureAxes FigureAxes::of(const FlowData& data)
{
    const bool exchanged = data.axesExchanged();
    const Vector3 low = data.geometryMinimum();
    const Vector3 high = data.geometryMaximum();
    const QString unit = data.lengthUnit();
    const bool sphere =
        DerivedFieldGrid::isLongitudeUnit(unit) || DerivedFieldGrid::isLatitudeUnit(unit);
    // On a sphere the file's x is the longitude whatever unit it names.
    const QString fileX = sphere
                              ? titled(QStringLiteral("longitude"), QStringLiteral("degrees_east"))
                              : titled(QStringLiteral("x"), unit);
    const QString fileY = sphere
                              ? titled(QStringLiteral("latitude"), QStringLiteral("degrees_north"))
                              : titled(QStringLiteral("y"), unit);
    const Axis fileXAxis{low.x, high.x, fileX};
    const Axis fileYAxis{low.y, high.y, fileY};
    return exchanged ? FigureAxes(fileYAxis, fileXAxis) : FigureAxes(fileXAxis, fileYAxis);
}

QMarginsF FigureAxes::margins(const QFontMetricsF& metrics)
{
    const double line = metrics.height();
    const double label = metrics.horizontalAdvance(QString(marginDigits, QLatin1Char('8')));
    return QMarginsF(tickLength + gap + label + gap + line + gap, line / 2.0 + gap,
                     metrics.horizontalAdvance(QString(marginDigits / 2, QLatin1Char('8'))),
                     tickLength + gap + line + gap + line + gap);
}

QList<FigureAxes::Tick> FigureAxes::xTicks(const QRectF& picture, const QRectF& frame,
                                           const QFontMetricsF& metrics) const
{
    const auto valueAt = [&](double px) {
        return x.minimum + (px - picture.left()) / picture.width() * (x.maximum - x.minimum);
    };
    const auto place = [&](double value) {
        return picture.left() + (value - x.minimum) / (x.maximum - x.minimum) * picture.width();
    };
    const double top = frame.bottom() + tickLength + gap;
    const auto boxOf = [&](double position, const QString& text) {
        const double width = metrics.horizontalAdvance(text);
        return QRectF(position - width / 2.0, top, width, metrics.height());
    };
    return ticksAlong(valueAt(frame.left()), valueAt(frame.right()), place, boxOf, true);
}

QList<FigureAxes::Tick> FigureAxes::yTicks(const QRectF& picture, const QRectF& frame, bool flipped,
                                           const QFontMetricsF& metrics) const
{
    const double span = y.maximum - y.minimum;
    const auto valueAt = [&](double py) {
        const double share = flipped ? (py - picture.top()) / picture.height()
                                     : (picture.bottom() - py) / picture.height();
        return y.minimum + share * span;
    };
    const auto place = [&](double value) {
        const double share = (value - y.minimum) / span;
        return flipped ? picture.top() + share * picture.height()
                       : picture.bottom() - share * picture.height();
    };
    const double right = frame.left() - tickLength - gap;
    const auto boxOf = [&](double position, const QString& text) {
        const double width = metrics.horizontalAdvance(text);
        return QRectF(right - width, position - metrics.height() / 2.0, width, metrics.height());
    };
    return ticksAlong(valueAt(frame.top()), valueAt(frame.bottom()), place, boxOf, false);
}

void FigureAxes::paint(QPainter& painter, const QRectF& picture, const QRectF& frame,
                       bool flipped) const
{
    if (frame.isEmpty() || picture.isEmpty())
        return;
    const QFontMetricsF metrics(painter.font());
    painter.save();
    painter.setOpacity(1.0);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1.0));
    painter.drawRect(frame);
    for (const Tick& tick : xTicks(picture, frame, metrics)) {
        painter.drawLine(QPointF(tick.position, frame.bottom()),
                         QPointF(tick.position, frame.bottom() + tickLength));
        if (!tick.label.isEmpty())
            painter.drawText(tick.box, Qt::AlignCenter, tick.label);
    }
    double labelsLeft = frame.left() - tickLength - gap;
    for (const Tick& tick : yTicks(picture, frame, flipped, metrics)) {
        painter.drawLine(QPointF(frame.left() - tickLength, tick.position),
                         QPointF(frame.left(), tick.position));
        if (!tick.label.isEmpty()) {
            painter.drawText(tick.box, Qt::AlignRight | Qt::AlignVCenter, tick.label);
            labelsLeft = std::min(labelsLeft, tick.box.left());
        }
    }
    const double line = metrics.height();
    painter.drawText(
        QRectF(frame.left(), frame.bottom() + tickLength + gap + line + gap, frame.width(), line),
        Qt::AlignCenter, x.title);
    // The y title reads upwards beside the labels.
    painter.translate(labelsLeft - gap - line, frame.center().y());
    painter.rotate(-90.0);
    painter.drawText(QRectF(-frame.height() / 2.0, 0.0, frame.height(), line), Qt::AlignCenter,
                     y.title);
    painter.restore();
}
