#pragma once

#include <QImage>
#include <QSize>

struct Vector3;

// Line integral convolution of a white-noise texture along the streamlines
// of a vector raster, by the fast method: a streamline traced from a pixel
// that no line has reached yet serves every pixel it passes, its values
// taken from one kernel window slid along it.
//
// Frame: the vector raster of FlowData::calcVector, column c and row r at
// x = c / (width - 1), y = r / (height - 1) of the unit square (y in widths
// times the aspect ratio); the texture has the same layout, so row 0 is
// y = 0 and a picture shown y up mirrors it. Lines are traced in pixel units,
// the vector (u, v) pointing along (u (width - 1), v (height - 1) aspect).
//
// Kernel: kernelLength pixels along the line, centred on the pixel, sampled
// at the Euler steps of stepLength pixels along the bilinearly interpolated
// unit direction that trace the line; a box or a Hann window. The noise is a hash of the
// position on a lattice of noiseSpacing pixels, bilinearly interpolated, so
// the same raster always gives the same texture.
//
// Threads: the picture is cut into fixed tiles of tileSide x tileSide
// pixels; a tile seeds its lines from its own pixels in a fixed order (on
// lattices of 4, then 2, then 1 pixels, each in row order) and
// deposits into its own pixels only, reading the shared inputs alone. So any
// split of the tiles over threads, in any order, gives the same texture, and
// compute() hands them to ParallelBlocks.
//
// Output: values in [0, 1], NaN where the vector is not finite; lines stop
// where a sample would read such a vector, or leave the raster, or stall.
class LineIntegralConvolution
{
public:
    enum Kernel
    {
        Box,
        Hann
    };

    // How the convolved noise, whose spread is narrow, is brought to [0, 1]:
    // stretched by its spread, convolved a second time (sharper lines) and
    // stretched, or equalised through its histogram.
    enum Contrast
    {
        Stretch,
        SecondPass,
        Equalize
    };

    // How the texture meets the colours of a picture.
    enum Combine
    {
        Multiply,
        Blend
    };

    struct Parameters
    {
        int kernelLength = 20; // pixels
        Kernel kernel = Hann;
        Contrast contrast = Stretch;

        bool operator==(const Parameters& other) const
        {
            return kernelLength == other.kernelLength && kernel == other.kernel &&
                   contrast == other.contrast;
        }
        bool operator!=(const Parameters& other) const { return !(*this == other); }
    };

    static constexpr int minKernelLength = 2;
    static constexpr int maxKernelLength = 200;
    static constexpr int tileSide = 128;
    static constexpr float stepLength = 1.0f;
    static constexpr int noiseSpacing = 2;

    // Tiles in row order of tiles, then column order.
    static int tileCount(QSize size);

    // Fills `out` (width * height values); false, leaving it untouched, when
    // the inputs are missing or the scratch memory is not there.
    static bool compute(const Vector3* vectors, QSize size, float aspect,
                        const Parameters& parameters, float* out);

    // One convolution of `input` (width * height finite values: the noise,
    // or a first pass) over tiles [firstTile, lastTile) into their pixels of
    // `out`, not yet brought to [0, 1]. `directions` holds two floats per
    // pixel from unitDirections().
    static void convolveTiles(const float* directions, QSize size, int kernelLength, Kernel kernel,
                              const float* input, int firstTile, int lastTile, float* out);
    // The raster's unit directions in pixel units, (0, 0) where a vector is
    // zero and NaN pairs where it is not finite; 2 * width * height floats.
    static void unitDirections(const Vector3* vectors, QSize size, float aspect, float* directions);
    // Brings a convolved texture to [0, 1] by its mean and spread, or by its
    // histogram; NaN stays NaN.
    static void stretch(float* texture, qsizetype count);
    static void equalize(float* texture, qsizetype count);

    // The noise at pixel (column, row), in [0, 1).
    static float noise(int column, int row);

    // Modulates a premultiplied picture of the texture's size: Multiply
    // scales its colours by the texture, Blend mixes them half and half with
    // the texture's grey; a NaN texture value empties the pixel.
    static void combine(QImage& picture, const float* texture, Combine how);
};
