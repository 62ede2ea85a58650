#pragma once

#include <QColor>
#include <QList>
#include <QPolygonF>
#include <QString>

class ColorTable;
class QImage;

// A colour-and-opacity transfer function over the normalised values [0, 1],
// held as control points in the editor's frame: a point's x is the value, its
// y the transparency (0 opaque at the top, 1 transparent at the bottom), and
// its colour the colour there. Colour and opacity are linear between points,
// which are ordered by x. A plain value: layers keep their own copy and render
// from it, with or without an editor.
class TransferFunction
{
public:
    // The start-up ramp: transparent white at 0 rising to opaque white at 1.
    TransferFunction();
    // `colors` holds one colour per point; missing ones are opaque white.
    TransferFunction(const QPolygonF& points, const QList<QColor>& colors);

    const QPolygonF& points() const { return pointList; }
    const QList<QColor>& colors() const { return colorList; }
    // The colour map the points were last set from (see ColorMap); empty for
    // the start-up ramp (which is "white"). Hand edits keep it: the points still came from there.
    const QString& colorMap() const { return mapName; }
    void setColorMap(const QString& name) { mapName = name; }

    // Renders the function into every row of `image` (caller's size and
    // format; layers use a one-row premultiplied ARGB image): column c holds
    // the function at (c + 1/2) / width, rounded to the nearest level.
    void fillColorTable(QImage* image) const;
    // The function sampled into `entries` premultiplied words.
    ColorTable colorTable(int entries) const;

    bool operator==(const TransferFunction& other) const
    {
        return pointList == other.pointList && colorList == other.colorList &&
               mapName == other.mapName;
    }
    bool operator!=(const TransferFunction& other) const { return !(*this == other); }

private:
    QPolygonF pointList;
    QList<QColor> colorList;
    QString mapName;
};
