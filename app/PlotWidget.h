#pragma once

#include "render/SeriesPlot.h"

#include <QWidget>

// Shows a SeriesPlot; everything it draws comes from the plot, so a picture
// saved with save() is what the widget shows, at any size.
class PlotWidget : public QWidget
{
    Q_OBJECT

public:
    explicit PlotWidget(QWidget* parent = nullptr);

    SeriesPlot& plot() { return seriesPlot; }
    const SeriesPlot& plot() const { return seriesPlot; }
    // Writes the plot at `size`: SVG for a name ending in ".svg", otherwise
    // an image in the format of the suffix (PNG without one). False when the
    // file cannot be written.
    bool save(const QString& fileName, const QSize& size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SeriesPlot seriesPlot;
};
