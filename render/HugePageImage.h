#pragma once

#include "formats/HugePageMemory.h"

#include <QImage>
#include <QSize>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

// A picture whose pixels lie in memory from HugePageMemory. A layer's
// picture, and the view's picture of all layers, are made anew at every zoom
// step, at the size of the whole data set on screen (up to the zoom cap's
// 4000 x 2000); in memory of its own, each such picture would otherwise be
// faulted in 4 kB at a time, which on a virtual machine costs several times
// as long as drawing it. QImage converts and mirrors in place only memory it
// allocated itself, so such a picture is for one that is drawn and shown as
// it is.
class HugePageImage
{
public:
    // Uninitialised pixels; a null image when the size is empty or the
    // memory is not there.
    static QImage create(QSize size, QImage::Format format)
    {
        if (size.isEmpty() || format == QImage::Format_Invalid)
            return QImage();
        const qsizetype bits = QImage::toPixelFormat(format).bitsPerPixel();
        // Rows aligned to 32 bits, as QImage lays them out itself.
        const qsizetype bytesPerLine = (qsizetype(size.width()) * bits + 31) / 32 * 4;
        if (bytesPerLine > std::numeric_limits<qsizetype>::max() / size.height())
            return QImage();
        void* memory = HugePageMemory::allocate(std::size_t(bytesPerLine) * size.height());
        if (!memory)
            return QImage();
        QImage image(static_cast<uchar*>(memory), size.width(), size.height(), bytesPerLine, format,
                     &std::free, memory);
        if (image.isNull())
            std::free(memory);
        return image;
    }

    // Turns the rows upside down in place. QImage::mirror does so only on
    // memory the image allocated itself, and copies a picture made here.
    static void mirrorRows(QImage& image)
    {
        const qsizetype bytes = image.bytesPerLine();
        uchar* const first = image.bits();
        if (!first)
            return;
        // Through a row of scratch: three copies of a row run at memory speed,
        // a swap byte by byte at a third of it.
        std::vector<uchar> scratch(static_cast<std::size_t>(bytes));
        for (int top = 0, bottom = image.height() - 1; top < bottom; ++top, --bottom) {
            uchar* const upper = first + top * bytes;
            uchar* const lower = first + bottom * bytes;
            std::memcpy(scratch.data(), upper, std::size_t(bytes));
            std::memcpy(upper, lower, std::size_t(bytes));
            std::memcpy(lower, scratch.data(), std::size_t(bytes));
        }
    }
};
