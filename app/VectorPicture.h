#pragma once

#include "render/FigureAxes.h"
#include "render/ScaleBar.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>

class Layer;
class QPainter;

// The picture a view saves, composed without a widget into any painter: the
// visible layers in stack order with their opacities over the background,
// shown y up (or flipped), with the legend, the axes around it and the
// reference arrow when asked for. Raster devices get the layers' images;
// vector devices (SVG, PDF) their shapes (Layer::drawVectors), so both
// outputs of one view agree. One painter unit is one layer image pixel.
class VectorPicture
{
public:
    // Not owned; the layers must outlive the picture.
    VectorPicture(const QList<Layer*>& layers, QSize layerSize);

    void setFlippedVertically(bool flipped) { flippedVertically = flipped; }
    void setBackground(const QColor& color) { background = color; }
    void setLegendShown(bool shown) { legendShown = shown; }
    void setAxes(const std::optional<FigureAxes>& newAxes) { axes = newAxes; }
    // The speed of the reference arrow, in the arrow data's unit; 0 chooses
    // a round speed near the field's typical one; unset: no arrow.
    void setReferenceSpeed(std::optional<double> speed) { referenceSpeed = speed; }
    void setScaleBar(const std::optional<ScaleBar>& bar) { scaleBar = bar; }
    // Drawn centred above the picture; empty: none.
    void setTitle(const QString& text) { title = text; }
    // For the title, the axes, the legend and the keys; the application's by default.
    void setFont(const QFont& newFont) { font = newFont; }
    // The whole picture's size, the rest centred in it with its aspect ratio
    // kept; empty (the start) or smaller than the rest: as large as the rest.
    void setCanvasSize(QSize size) { canvas = size; }
    // Stored in PNG and JPEG files, and the PDF page's and SVG's resolution.
    void setDotsPerInch(int dpi) { dotsPerInch = dpi > 0 ? dpi : defaultDotsPerInch; }
    static constexpr int defaultDotsPerInch = 96;
    // The layers as already composed for a raster (as shown, at the layer
    // size); raster pictures then draw it instead of asking the layers.
    void setComposedLayers(const QImage& composed) { composedLayers = composed; }

    // The whole picture: the layer image with room for the axes around it.
    QSize size() const;
    // Where the layer image lies in the picture.
    QRectF pictureRect() const;

    void paint(QPainter& painter, bool vectors) const;
    // The raster picture; null when there is no size or no memory.
    QImage image() const;
    // By the suffix: SVG for .svg, PDF for .pdf (one page of the picture's
    // size at the resolution, 96 dots per inch unless set), PNG for .png, JPEG otherwise. False
    // when there is nothing to draw or the file cannot be written.
    bool write(const QString& fileName) const;
    static bool isVectorFileName(const QString& fileName);

    // The speed and drawn length of the reference arrow for `layers` at
    // `layerSize`; nothing without a visible arrow layer with data.
    static std::optional<std::pair<double, double>>
    referenceArrowFor(const QList<Layer*>& layers, QSize layerSize, double speed);
    // Paints the reference arrow of the visible arrow layer into the corner of `area`.
    static void paintReferenceArrow(QPainter& painter, const QList<Layer*>& layers, QSize layerSize,
                                    double speed, const QRectF& area);
    // Paints the legend of the topmost visible colour coding into `area`.
    static void paintLegend(QPainter& painter, const QList<Layer*>& layers, const QRectF& area);

private:
    // The room round the layer image: the axes' margins and the title's line.
    QMarginsF room() const;
    QSize naturalSize() const;

    QList<Layer*> layers;
    QSize layerSize;
    bool flippedVertically = false;
    QColor background = Qt::white;
    bool legendShown = false;
    std::optional<FigureAxes> axes;
    std::optional<double> referenceSpeed;
    QImage composedLayers;
    std::optional<ScaleBar> scaleBar;
    QString title;
    QFont font;
    QSize canvas;
    int dotsPerInch = defaultDotsPerInch;
};
