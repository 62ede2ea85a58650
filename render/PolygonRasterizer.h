#pragma once

#include <QImage>
#include <QPointF>
#include <QRgb>

#include <vector>

// Fills polygons into a premultiplied ARGB32 image with antialiasing by exact
// area coverage: a pixel takes the share of its square that the polygon
// covers and the colour is blended over what is there (source over). Pixel
// (i, j) is the square [i, i + 1] x [j, j + 1], as in the toolkit's
// antialiased painting, so a picture equals a QPainter's up to the rounding of
// coverage. Where a polygon overlaps itself, the overlap is outside (the
// even-odd rule, the painter's default for polygons).
//
// Made for many small shapes of one colour each (arrow glyphs, stroked
// segments): a shape costs its edges and the pixels of its own rows, with no
// path objects, span lists or painter state between shapes.
class PolygonRasterizer
{
public:
    // `target` must be Format_ARGB32_Premultiplied; it is drawn into directly
    // and must outlive the rasterizer. Only rows [firstRow, endRow) are
    // touched (endRow -1: to the bottom), so that threads can draw the same
    // shapes into bands of one image; a pixel comes out the same whatever
    // the band.
    explicit PolygonRasterizer(QImage& target, int firstRow = 0, int endRow = -1);

    // An image's pixels, taken by the thread that owns it before threads draw
    // into its bands: QImage's writable accessors count detaches in the
    // image, which several threads must not do at once.
    struct Target
    {
        uchar* bits;
        qsizetype bytesPerLine;
        int width;
        int height;

        static Target of(QImage& image);
    };
    PolygonRasterizer(const Target& target, int firstRow, int endRow);

    // Where the processor has AVX2, an edge goes eight rows at a time and a
    // row is summed and blended eight pixels at a time, else one row and
    // four pixels at a time; false keeps every rasterizer made afterwards at the latter.
    // The pixels are the same either way.
    static void setEightLanes(bool allowed);

    void fillPolygon(const QPointF* points, int count, QRgb premultipliedColor);
    // A straight segment stroked with a square cap: the rectangle reaching
    // width / 2 beside the segment and beyond both of its ends.
    void strokeSegment(QPointF from, QPointF to, double width, QRgb premultipliedColor);

private:
    bool beginShape(double minX, double minY, double maxX, double maxY);
    void addEdge(double x0, double y0, double x1, double y1);
    void accumulate(float x0, float y0, float x1, float y1);
    void blendShape(QRgb color);
    // A strip row's cells: the box's columns, the column after its right
    // border, and zeros that a row's last group of eight may read.
    int cellStride() const { return boxColumns + 1 + lanePadding; }

    static constexpr int lanePadding = 8;

    uchar* bits;
    qsizetype bytesPerLine;
    int imageWidth;
    int bandTop;
    int bandEnd;
    // Chosen once: an edge and a row are too small to ask each time.
    bool eightLanes = false;

    // The current shape's box in whole pixels, clipped to the image's sides
    // and top, which is the origin of its coordinates; of its rows, those in
    // the band are drawn, a strip at a time: [rowBegin, rowEnd) in box
    // coordinates. The strip's cells
    // hold signed area increments along each row, with two spare columns (an
    // edge on the box's right border adds to the column after it); they are
    // all zero between shapes.
    int boxLeft = 0;
    int boxTop = 0;
    int boxColumns = 0;
    int rowBegin = 0;
    int rowEnd = 0;
    std::vector<float> cells;
    std::vector<int> rowFirst;
    std::vector<int> rowLast;
    std::vector<quint8> levels;
};
