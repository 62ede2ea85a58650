#pragma once

#include <QRectF>
#include <QString>

class FlowData;
class QPainter;

// The key to an arrow layer's lengths: one arrow of a given speed, drawn as
// long as the layer draws that speed, with its value and unit ("1 m/s"), in
// a box in the bottom-left corner of a picture.
class ReferenceArrow
{
public:
    // `length` in pixels, `glyphUnit` the layer's glyph unit (the shaft is two
    // units thick, the head six wide and four long), both as ArrowRenderer draws.
    ReferenceArrow(double speed, const QString& unit, double length, double glyphUnit);

    // A round value (1, 2 or 5 times a power of ten) near `speed`, nearest on a
    // logarithmic scale; 1 for a speed that is not positive or not finite.
    static double roundSpeed(double speed);
    // The mean speed over the finite vectors of `data`, in the file's unit.
    static double typicalSpeed(const FlowData& data);
    // "1 m/s": the value as few digits as it needs, then the unit if any.
    static QString text(double speed, const QString& unit);

    double length() const { return arrowLength; }
    // Paints the box into the bottom-left corner of `area` and returns it;
    // an empty box (nothing painted) where it does not fit.
    QRectF paint(QPainter& painter, const QRectF& area) const;

private:
    double speed;
    QString unit;
    double arrowLength;
    double glyphUnit;
};
