#include "transfer/TransferFunction.h"

#include "transfer/ColorTable.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

TransferFunction::TransferFunction()
    : TransferFunction(QPolygonF() << QPointF(0.0, 1.0) << QPointF(1.0, 0.0), {})
{
}

TransferFunction::TransferFunction(const QPolygonF& points, const QList<QColor>& colors)
    : pointList(points), colorList(colors)
{
    colorList.resize(pointList.size(), QColor(255, 255, 255, 255));
}

void TransferFunction::fillColorTable(QImage* image) const
{
    if (!image || image->isNull())
        return;

    // Stops ordered by position; a later point at the same position replaces
    // an earlier one. Opacity is trunc((1 - y) * 255), one step below the
    // editor's on-screen rule for some interior y; the layers rely on this rule.
    struct Stop
    {
        double position;
        double premultiplied[4]; // red, green, blue, alpha in 0..255
    };
    std::vector<Stop> stops;
    for (int i = 0; i < pointList.size(); ++i) {
        const QColor& color = colorList.at(i);
        const double position = pointList.at(i).x();
        if (!std::isfinite(position))
            continue;
        const double alpha = int((1.0 - pointList.at(i).y()) * 255);
        const Stop stop{position,
                        {color.red() * alpha / 255.0, color.green() * alpha / 255.0,
                         color.blue() * alpha / 255.0, alpha}};
        auto at = std::lower_bound(stops.begin(), stops.end(), position,
                                   [](const Stop& s, double p) { return s.position < p; });
        if (at != stops.end() && at->position == position)
            *at = stop;
        else
            stops.insert(at, stop);
    }

    // Column c holds the function at (c + 1/2) / width, the premultiplied
    // colours interpolated linearly, the end stops held beyond the ends. The
    // toolkit's gradient would be up to two levels off (its table has 1024
    // entries), too coarse for colour maps that must stay true to their source.
    const int width = image->width();
    QImage row(width, 1, QImage::Format_ARGB32_Premultiplied);
    auto* words = reinterpret_cast<QRgb*>(row.scanLine(0));
    size_t next = 0;
    for (int c = 0; c < width; ++c) {
        if (stops.empty()) {
            words[c] = 0;
            continue;
        }
        const double t = (c + 0.5) / width;
        while (next < stops.size() && stops[next].position <= t)
            ++next;
        const Stop& low = stops[next == 0 ? 0 : next - 1];
        const Stop& high = stops[next == stops.size() ? stops.size() - 1 : next];
        const double span = high.position - low.position;
        const double w = span > 0.0 ? (t - low.position) / span : 0.0;
        int channel[4];
        for (int k = 0; k < 4; ++k) {
            const double value =
                low.premultiplied[k] + w * (high.premultiplied[k] - low.premultiplied[k]);
            channel[k] = std::clamp(int(std::lround(value)), 0, 255);
        }
        for (int k = 0; k < 3; ++k)
            channel[k] = std::min(channel[k], channel[3]);
        words[c] = qRgba(channel[0], channel[1], channel[2], channel[3]);
    }

    const QImage converted =
        image->format() == row.format() ? row : row.convertToFormat(image->format());
    const qsizetype bytes = std::min(converted.bytesPerLine(), image->bytesPerLine());
    for (int y = 0; y < image->height(); ++y)
        std::memcpy(image->scanLine(y), converted.constScanLine(0), size_t(bytes));
}

ColorTable TransferFunction::colorTable(int entries) const
{
    return ColorTable(*this, entries);
}
