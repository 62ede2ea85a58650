#pragma once

#include <QList>
#include <QMarginsF>
#include <QRectF>
#include <QString>

class FlowData;
class QFontMetricsF;
class QPainter;

// The axes of a picture of the data: a frame with outward ticks at the
// legend's rounded values (ColorLegend::ticks), their labels and a title per
// axis. The picture spans the data's shown ranges; the frame is the part of
// it the axes go around (all of it in a saved picture, the visible part in
// the view), and the ticks read the values along the frame.
class FigureAxes
{
public:
    struct Axis
    {
        double minimum = 0.0;
        double maximum = 1.0;
        QString title;
    };

    struct Tick
    {
        double value;
        double position; // along the frame's side, in painter coordinates
        QString label;   // empty where it would crowd its neighbour
        QRectF box;      // the label's box, empty without a label
    };

    FigureAxes() = default;
    FigureAxes(const Axis& x, const Axis& y);
    // The shown axes of `data`: the file's y across where its fast index runs
    // along y, titled by name and unit, "x [m]" or "longitude [degrees_east]".
    static FigureAxes of(const FlowData& data);

    const Axis& xAxis() const { return x; }
    const Axis& yAxis() const { return y; }

    // The room the labels and titles take outside a frame.
    static QMarginsF margins(const QFontMetricsF& metrics);

    // Ticks along the frame's bottom (x) and left (y) side for a picture
    // placed at `picture`; y grows upwards unless flipped.
    QList<Tick> xTicks(const QRectF& picture, const QRectF& frame,
                       const QFontMetricsF& metrics) const;
    QList<Tick> yTicks(const QRectF& picture, const QRectF& frame, bool flipped,
                       const QFontMetricsF& metrics) const;

    void paint(QPainter& painter, const QRectF& picture, const QRectF& frame, bool flipped) const;

private:
    Axis x;
    Axis y;
};
