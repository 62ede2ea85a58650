#pragma once

#include "transfer/TransferFunction.h"

#include <QWidget>

class HoverPoints;
class QImage;

// Edits a colour-and-opacity transfer function over [0, 1] on a checkerboard:
// a point's x is the value position, its y the opacity (top opaque), its
// colour the colour there; colour and opacity are linear between points.
// The editor holds the points and colours; transferFunction() is their value.
//
// A right-click away from the points (or the context-menu key) offers the
// named colour maps of ColorMap; choosing one replaces the points.
class TransferFunctionWidget : public QWidget
{
    Q_OBJECT

public:
    // What a chosen colour map does to the opacity.
    enum MapOpacity
    {
        KeepOpacityProfile, // the function's opacity stays as it is
        OpaqueMaps          // the map is fully opaque (dense colour coding)
    };

    explicit TransferFunctionWidget(QWidget* parent = nullptr);

    void setMapOpacity(MapOpacity opacity) { mapOpacity = opacity; }

    // Renders the function into every row of `image` (caller's size and
    // format; layers use a one-row premultiplied ARGB image): column c holds
    // the function at (c + 1/2) / width.
    void fillColorTable(QImage* image) const;

    TransferFunction transferFunction() const;
    // Replaces the edited function (the end points stay locked to their
    // edges); emits the change signals when it differs from the current one.
    void setTransferFunction(const TransferFunction& function);

    QSize minimumSizeHint() const override;

    HoverPoints* editor() const { return hoverPoints; }

public slots:
    // Replaces the function by the named colour map (see ColorMap).
    void applyColorMap(const QString& name);

signals:
    // Emitted once after every edit of the function.
    void colorsChanged();
    // Emitted with the new function right after colorsChanged.
    void transferFunctionChanged(const TransferFunction& function);

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    HoverPoints* hoverPoints;
    MapOpacity mapOpacity = KeepOpacityProfile;
    QString mapName;
};
