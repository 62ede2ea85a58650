#pragma once

#include <QColor>
#include <QList>
#include <QRectF>
#include <QString>

#include <limits>
#include <vector>

class QFontMetricsF;
class QPainter;

// A line plot of several series over one x axis, painted into any QPainter
// (a widget, an image, an SVG generator: the same code draws all three).
//
// Axes span the finite values of the visible series (y with a small margin);
// ticks and their labels follow ColorLegend::ticks / label, and a label that
// would touch its neighbour is left out (its tick stays). A value that is not
// finite, in x or y, breaks the series' line: a gap in the data is a gap in
// the plot, and a lone finite point between gaps is drawn as a dot. A
// vertical marker (the current step) and a legend of the visible series sit
// over the lines.
//
// The layout is a pure function of the series, the area and the font, so a
// test or a widget can ask where things go without painting.
class SeriesPlot
{
public:
    struct Series
    {
        QString name;
        QString unit;
        QColor color;
        std::vector<double> x;
        std::vector<double> y; // as many as x
        bool visible = true;
    };

    struct Tick
    {
        double value = 0.0;
        double position = 0.0; // pixels along the axis (x to the right, y downwards)
        QString label;
        bool labelled = false; // false: left out so that labels never overlap
        QRectF labelRect;
    };

    struct Layout
    {
        QRectF plot; // the frame the lines are drawn in
        double xMinimum = 0.0;
        double xMaximum = 1.0;
        double yMinimum = 0.0;
        double yMaximum = 1.0;
        QList<Tick> xTicks;
        QList<Tick> yTicks;
    };

    void setSeries(const QList<Series>& newSeries) { curves = newSeries; }
    const QList<Series>& series() const { return curves; }
    void setVisible(int index, bool visible);
    // The x axis title and its unit, e.g. "s" and "m" give "s [m]".
    void setXAxis(const QString& title, const QString& unit);
    void setMarker(double x) { marker = x; }
    void clearMarker();
    bool hasMarker() const;
    double markerPosition() const { return marker; }

    // "u, v, speed [m/s]; vorticity [1/s]": the visible series by unit.
    QString yAxisTitle() const;
    Layout layout(const QRectF& area, const QFontMetricsF& metrics) const;
    // Paints over a white background filling `area`.
    void paint(QPainter& painter, const QRectF& area) const;

private:
    QList<Series> curves;
    QString xTitle;
    QString xUnit;
    double marker = std::numeric_limits<double>::quiet_NaN(); // NaN: none
};
