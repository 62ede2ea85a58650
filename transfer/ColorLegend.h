#pragma once

#include "transfer/TransferFunction.h"

#include <QList>
#include <QRectF>
#include <QString>

class QPainter;

// The colour scale of a transfer function for a field whose normalised 0..1
// spans the physical `minimum`..`maximum`: a vertical bar (maximum at the
// top) with the field's title, both extremes and a few rounded tick values.
class ColorLegend
{
public:
    ColorLegend(const TransferFunction& function, const QString& title, double minimum,
                double maximum);

    // Rounded values inside [minimum, maximum]: multiples of one step of 1,
    // 2, 2.5 or 5 times a power of ten, three to six of them where the range
    // allows; the minimum alone for an empty or non-finite range.
    static QList<double> ticks(double minimum, double maximum);
    // A tick value with as many digits as the step between ticks needs.
    static QString label(double value, double step);

    // Paints the legend into the bottom-right corner of `area`, at most a
    // third of its height tall; nothing where the area is too small.
    void paint(QPainter& painter, const QRectF& area) const;

private:
    TransferFunction function;
    QString title;
    double minimum;
    double maximum;
};
