#include "app/PlotWidget.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

PlotWidget::PlotWidget(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(240, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PlotWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    seriesPlot.paint(painter, QRectF(rect()));
}

bool PlotWidget::save(const QString& fileName, const QSize& size) const
{
    const QRectF area(QPointF(0, 0), QSizeF(size));
    if (QFileInfo(fileName).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator generator;
        generator.setFileName(fileName);
        generator.setSize(size);
        generator.setViewBox(area);
        generator.setTitle(seriesPlot.yAxisTitle());
        QPainter painter;
        if (!painter.begin(&generator))
            return false;
        painter.setFont(font());
        seriesPlot.paint(painter, area);
        return painter.end();
    }
    QImage image(size, QImage::Format_ARGB32);
    if (image.isNull())
        return false;
    QPainter painter(&image);
    painter.setFont(font());
    seriesPlot.paint(painter, area);
    painter.end();
    const QString suffix = QFileInfo(fileName).suffix();
    return image.save(fileName, suffix.isEmpty() ? "png" : nullptr);
}
