#pragma once

#include <QRectF>
#include <QString>

#include <optional>

class FlowData;
class QPainter;

// The key to a picture's lengths: a bar of a round length (1, 2 or 5 times a
// power of ten) near a fifth of the shown width, with its value and the
// length unit ("2 m"), in a box in the top-left corner of a picture.
class ScaleBar
{
public:
    // `span` is the data's width in the length unit, as the picture spans it.
    ScaleBar(double span, const QString& unit);
    // The bar of `data`'s shown width; none without an extent, or on a
    // longitude-latitude grid, where a degree is no fixed length.
    static std::optional<ScaleBar> of(const FlowData& data);

    struct Bar
    {
        double length; // in the length unit
        double pixels; // as drawn
    };
    // The bar for a picture placed at `picture` of which `area` is shown.
    Bar barFor(const QRectF& picture, const QRectF& area) const;
    // Paints the box into the top-left corner of `area` and returns it; an
    // empty box (nothing painted) where it does not fit.
    QRectF paint(QPainter& painter, const QRectF& picture, const QRectF& area) const;

private:
    double span;
    QString unit;
};
