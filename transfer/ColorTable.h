#pragma once

#include <QColor>
#include <QImage>
#include <QRgb>

class TransferFunction;

// A transfer function sampled into N premultiplied ARGB words. A normalised
// value v selects entry trunc(v * (N - 1)); values beyond [0, 1] take the end
// entries and NaN takes entry 0, so no value indexes outside the table.
class ColorTable
{
public:
    // At least one entry; fewer are taken as one.
    ColorTable(const TransferFunction& function, int entries);

    int count() const { return entries; }
    int indexOf(float value) const;
    QRgb premultiplied(int index) const { return words[index]; }
    // The table word converted back to a straight (non-premultiplied) colour,
    // which is what a QPen or QBrush expects.
    QColor straightColor(int index) const;
    const QRgb* data() const { return words; }

private:
    QImage image;
    const QRgb* words;
    int entries;
};
