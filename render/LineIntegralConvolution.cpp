#include "render/LineIntegralConvolution.h"

#include "data/ParallelBlocks.h"
#include "data/Vector3.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr double pi = 3.14159265358979323846;

// Steps of the line beyond the kernel's reach on either side, in kernel
// half-lengths: the longer the line, the more pixels one trace serves, while
// the kernel still reaches full windows along all of it.
constexpr int depositReach = 3;

// Where the field stands still and no line passes, the noise's mean: a
// body at rest shows plain grey rather than unsmeared noise.
constexpr float stillValue = 0.5f;

// The lattices of seeds a tile tries in turn, in pixels.
constexpr int seedStrides[] = {4, 2, 1};

// Below this length the interpolated direction has turned through a zero
// (a critical point or a fold), where the line stops.
constexpr float stallLength = 1e-3f;

std::uint32_t mix(std::uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

float latticeNoise(int i, int j)
{
    const std::uint32_t h =
        mix(std::uint32_t(i) * 0x9e3779b1U ^ mix(std::uint32_t(j) + 0x632be5abU));
    return float(h >> 8) * (1.0f / 16777216.0f);
}

struct Raster
{
    int width;
    int height;

    // Bilinear interpolation of the direction (two floats per pixel) and
    // of the input (one) at a point inside [0, width - 1] x [0, height - 1],
    // the cell found once for both.
    void sample(const float* directions, const float* input, float x, float y, float* dx, float* dy,
                float* value) const
    {
        const int i = std::min(int(x), std::max(width - 2, 0));
        const int j = std::min(int(y), std::max(height - 2, 0));
        const qsizetype a = qsizetype(j) * width + i;
        const qsizetype right = i + 1 < width ? 1 : 0;
        const qsizetype down = j + 1 < height ? width : 0;
        const float fx = x - float(i);
        const float fy = y - float(j);
        const auto mix2 = [&](const float* values, qsizetype stride, int k) {
            const float v00 = values[a * stride + k];
            const float v10 = values[(a + right) * stride + k];
            const float v01 = values[(a + down) * stride + k];
            const float v11 = values[(a + down + right) * stride + k];
            const float lower = v00 + fx * (v10 - v00);
            const float upper = v01 + fx * (v11 - v01);
            return lower + fy * (upper - lower);
        };
        *dx = mix2(directions, 2, 0);
        *dy = mix2(directions, 2, 1);
        *value = mix2(input, 1, 0);
    }

    bool inside(float x, float y) const
    {
        return x >= 0.0f && y >= 0.0f && x <= float(width - 1) && y <= float(height - 1);
    }
};

// The sliding sums of one kernel window over a traced line: the samples'
// sum with and without the Hann window's cosine and sine parts, so that
// moving the window costs one addition and one removal whatever its weights.
struct WindowSums
{
    double s0 = 0.0, sc = 0.0, ss = 0.0; // samples
    double w0 = 0.0, wc = 0.0, ws = 0.0; // weights

    void add(double value, double c, double s, double sign)
    {
        s0 += sign * value;
        sc += sign * value * c;
        ss += sign * value * s;
        w0 += sign;
        wc += sign * c;
        ws += sign * s;
    }
};

} // namespace

int LineIntegralConvolution::tileCount(QSize size)
{
    if (size.isEmpty())
        return 0;
    const int across = (size.width() + tileSide - 1) / tileSide;
    const int down = (size.height() + tileSide - 1) / tileSide;
    return across * down;
}

namespace {

// Row `row` of LineIntegralConvolution::noise for columns [0, width), each
// lattice value hashed once; the same arithmetic, so the same values.
void noiseRow(int row, int width, std::vector<float>& lattice, float* out)
{
    constexpr int spacing = LineIntegralConvolution::noiseSpacing;
    const int j = row / spacing;
    const float fy = float(row - j * spacing) / spacing;
    const int points = width / spacing + 2;
    lattice.resize(2 * std::size_t(points));
    for (int i = 0; i < points; ++i) {
        lattice[2 * std::size_t(i)] = latticeNoise(i, j);
        lattice[2 * std::size_t(i) + 1] = latticeNoise(i, j + 1);
    }
    for (int column = 0; column < width; ++column) {
        const int i = column / spacing;
        const float fx = float(column - i * spacing) / spacing;
        const float* a = lattice.data() + 2 * std::size_t(i);
        const float lower = a[0] + fx * (a[2] - a[0]);
        const float upper = a[1] + fx * (a[3] - a[1]);
        out[column] = lower + fy * (upper - lower);
    }
}

} // namespace

float LineIntegralConvolution::noise(int column, int row)
{
    const int i =
        column >= 0 ? column / noiseSpacing : -((-column + noiseSpacing - 1) / noiseSpacing);
    const int j = row >= 0 ? row / noiseSpacing : -((-row + noiseSpacing - 1) / noiseSpacing);
    const float fx = float(column - i * noiseSpacing) / noiseSpacing;
    const float fy = float(row - j * noiseSpacing) / noiseSpacing;
    const float lower = latticeNoise(i, j) + fx * (latticeNoise(i + 1, j) - latticeNoise(i, j));
    const float upper =
        latticeNoise(i, j + 1) + fx * (latticeNoise(i + 1, j + 1) - latticeNoise(i, j + 1));
    return lower + fy * (upper - lower);
}

void LineIntegralConvolution::unitDirections(const Vector3* vectors, QSize size, float aspect,
                                             float* directions)
{
    const int width = size.width();
    const double sx = std::max(width - 1, 1);
    const double sy = double(std::max(size.height() - 1, 1)) * double(aspect);
    ParallelBlocks::run(
        size.height(), ParallelBlocks::grainFor(width), [&](int, int first, int last) {
            for (qsizetype p = qsizetype(first) * width; p < qsizetype(last) * width; ++p) {
                const double dx = double(vectors[p].x) * sx;
                const double dy = double(vectors[p].y) * sy;
                const double n = std::sqrt(dx * dx + dy * dy);
                // A zero vector seeds no line and stops any trace.
                const bool still = n == 0.0;
                const bool usable = still || std::isfinite(n);
                directions[2 * p] = still ? 0.0f : usable ? float(dx / n) : notANumber;
                directions[2 * p + 1] = still ? 0.0f : usable ? float(dy / n) : notANumber;
            }
        });
}

void LineIntegralConvolution::convolveTiles(const float* directions, QSize size, int kernelLength,
                                            Kernel kernel, const float* input, int firstTile,
                                            int lastTile, float* out)
{
    const Raster raster{size.width(), size.height()};
    const int across = (raster.width + tileSide - 1) / tileSide;
    // Kernel half-length in steps, and the steps on either side of the seed
    // whose pixels take a value from this line.
    const int half =
        std::max(1, int(std::lround(std::clamp(kernelLength, minKernelLength, maxKernelLength) *
                                    0.5f / stepLength)));
    const int reach = depositReach * half;
    const int longest = half + reach;
    const int count = 2 * longest + 1;
    const std::size_t samples = std::size_t(count);
    std::vector<float> xs(samples), ys(samples), values(samples);
    std::vector<double> cosines(samples), sines(samples);
    for (int m = 0; m < count; ++m) {
        cosines[std::size_t(m)] = std::cos(pi * m / half);
        sines[std::size_t(m)] = std::sin(pi * m / half);
    }
    std::vector<float> sums(std::size_t(tileSide) * tileSide);
    std::vector<int> hits(std::size_t(tileSide) * tileSide);

    for (int tile = firstTile; tile < lastTile; ++tile) {
        const int left = (tile % across) * tileSide;
        const int top = (tile / across) * tileSide;
        const int right = std::min(left + tileSide, raster.width);
        const int bottom = std::min(top + tileSide, raster.height);
        const int tileWidth = right - left;
        std::fill(sums.begin(), sums.end(), 0.0f);
        std::fill(hits.begin(), hits.end(), 0);

        // One half of a line from the seed at index `longest`; the seed's
        // direction is the pixel's own.
        struct Half
        {
            int sign;
            float x, y, dx, dy;
            int steps = 0;
            bool going = true;
        };
        const auto advance = [&](Half& h) {
            const float n = std::sqrt(h.dx * h.dx + h.dy * h.dy);
            const float step = float(h.sign) * stepLength / n;
            const float nx = h.x + h.dx * step;
            const float ny = h.y + h.dy * step;
            if (!(n > stallLength) || !raster.inside(nx, ny)) {
                h.going = false;
                return;
            }
            h.x = nx;
            h.y = ny;
            ++h.steps;
            const std::size_t m = std::size_t(longest + h.sign * h.steps);
            xs[m] = nx;
            ys[m] = ny;
            raster.sample(directions, input, nx, ny, &h.dx, &h.dy, &values[m]);
        };
        // Both halves step in one loop: their chains of dependent
        // arithmetic then overlap in the processor.
        const auto trace = [&](float x, float y, float dx, float dy, int* first, int* last) {
            Half back{-1, x, y, dx, dy};
            Half ahead{1, x, y, dx, dy};
            for (int k = 0; k < longest && (back.going || ahead.going); ++k) {
                if (back.going)
                    advance(back);
                if (ahead.going)
                    advance(ahead);
            }
            *first = longest - back.steps;
            *last = longest + ahead.steps;
        };

        // Seeds on coarse lattices first, so that the first lines lie apart
        // and later ones fill the gaps, rather than each running beside the
        // last at half a pixel.
        for (const int stride : seedStrides)
            for (int row = top; row < bottom; row += stride) {
                for (int column = left; column < right; column += stride) {
                    const qsizetype pixel = qsizetype(row) * raster.width + column;
                    const std::size_t own = std::size_t(row - top) * tileWidth + (column - left);
                    const float dx = directions[2 * pixel];
                    const float dy = directions[2 * pixel + 1];
                    if (hits[own] > 0 || std::isnan(dx) || (dx == 0.0f && dy == 0.0f))
                        continue;
                    xs[std::size_t(longest)] = float(column);
                    ys[std::size_t(longest)] = float(row);
                    values[std::size_t(longest)] = input[pixel];
                    int first = longest;
                    int last = longest;
                    trace(float(column), float(row), dx, dy, &first, &last);

                    WindowSums window;
                    const int from = std::max(first, longest - reach);
                    const int to = std::min(last, longest + reach);
                    for (int m = std::max(first, from - half); m <= std::min(last, from + half);
                         ++m)
                        window.add(values[std::size_t(m)], cosines[std::size_t(m)],
                                   sines[std::size_t(m)], 1.0);
                    for (int i = from; i <= to; ++i) {
                        if (i > from) {
                            const int in = i + half;
                            const int outgoing = i - half - 1;
                            if (in <= last)
                                window.add(values[std::size_t(in)], cosines[std::size_t(in)],
                                           sines[std::size_t(in)], 1.0);
                            if (outgoing >= first)
                                window.add(values[std::size_t(outgoing)],
                                           cosines[std::size_t(outgoing)],
                                           sines[std::size_t(outgoing)], -1.0);
                        }
                        double value;
                        if (kernel == Box) {
                            value = window.s0 / window.w0;
                        } else {
                            const double c = cosines[std::size_t(i)];
                            const double s = sines[std::size_t(i)];
                            const double weight = window.w0 + c * window.wc + s * window.ws;
                            if (!(weight > 1e-6))
                                continue;
                            value = (window.s0 + c * window.sc + s * window.ss) / weight;
                        }
                        const int px = int(xs[std::size_t(i)] + 0.5f);
                        const int py = int(ys[std::size_t(i)] + 0.5f);
                        if (px < left || px >= right || py < top || py >= bottom)
                            continue;
                        const std::size_t at = std::size_t(py - top) * tileWidth + (px - left);
                        sums[at] += float(value);
                        ++hits[at];
                    }
                }
            }
        for (int row = top; row < bottom; ++row)
            for (int column = left; column < right; ++column) {
                // A line's last point may round into an empty pixel beside
                // the cell that stopped it; that pixel stays empty.
                const std::size_t own = std::size_t(row - top) * tileWidth + (column - left);
                const qsizetype pixel = qsizetype(row) * raster.width + column;
                out[pixel] = std::isnan(directions[2 * pixel]) ? notANumber
                             : hits[own] > 0                   ? sums[own] / float(hits[own])
                                                               : stillValue;
            }
    }
}

void LineIntegralConvolution::stretch(float* texture, qsizetype count)
{
    double sum = 0.0, squares = 0.0;
    qsizetype finite = 0;
    for (qsizetype p = 0; p < count; ++p)
        if (std::isfinite(texture[p])) {
            sum += texture[p];
            squares += double(texture[p]) * texture[p];
            ++finite;
        }
    if (finite == 0)
        return;
    const double mean = sum / double(finite);
    const double spread = std::sqrt(std::max(0.0, squares / double(finite) - mean * mean));
    // Two spreads either side of the mean fill the range; a flat texture
    // becomes mid grey.
    const float scale = spread > 0.0 ? float(0.25 / spread) : 0.0f;
    for (qsizetype p = 0; p < count; ++p)
        if (std::isfinite(texture[p]))
            texture[p] = std::clamp(0.5f + (texture[p] - float(mean)) * scale, 0.0f, 1.0f);
}

void LineIntegralConvolution::equalize(float* texture, qsizetype count)
{
    constexpr int bins = 1024;
    float low = std::numeric_limits<float>::infinity();
    float high = -low;
    for (qsizetype p = 0; p < count; ++p)
        if (std::isfinite(texture[p])) {
            low = std::min(low, texture[p]);
            high = std::max(high, texture[p]);
        }
    if (!(high > low)) {
        for (qsizetype p = 0; p < count; ++p)
            if (std::isfinite(texture[p]))
                texture[p] = 0.5f;
        return;
    }
    const float scale = float(bins) / (high - low);
    const auto binOf = [&](float v) { return std::min(int((v - low) * scale), bins - 1); };
    std::vector<double> below(bins + 1, 0.0);
    for (qsizetype p = 0; p < count; ++p)
        if (std::isfinite(texture[p]))
            below[std::size_t(binOf(texture[p])) + 1] += 1.0;
    std::vector<double> counts(below.begin() + 1, below.end());
    for (int b = 1; b <= bins; ++b)
        below[std::size_t(b)] += below[std::size_t(b) - 1];
    const double total = below[bins];
    // A value takes the share of values below its bin plus half its own.
    for (qsizetype p = 0; p < count; ++p)
        if (std::isfinite(texture[p])) {
            const int b = binOf(texture[p]);
            texture[p] = float((below[std::size_t(b)] + 0.5 * counts[std::size_t(b)]) / total);
        }
}

bool LineIntegralConvolution::compute(const Vector3* vectors, QSize size, float aspect,
                                      const Parameters& parameters, float* out)
{
    if (!vectors || !out || size.isEmpty())
        return false;
    const qsizetype count = qsizetype(size.width()) * size.height();
    std::unique_ptr<float[]> directions(new (std::nothrow) float[std::size_t(2 * count)]);
    std::unique_ptr<float[]> input(new (std::nothrow) float[std::size_t(count)]);
    if (!directions || !input) {
        qDebug() << "LineIntegralConvolution/compute: !!!cannot allocate!!!" << size;
        return false;
    }
    unitDirections(vectors, size, aspect, directions.get());
    const int width = size.width();
    ParallelBlocks::run(size.height(), ParallelBlocks::grainFor(width * 4),
                        [&](int, int first, int last) {
                            std::vector<float> lattice;
                            for (int row = first; row < last; ++row)
                                noiseRow(row, width, lattice, input.get() + qsizetype(row) * width);
                        });
    const int tiles = tileCount(size);
    const auto convolve = [&] {
        ParallelBlocks::run(tiles, 1, [&](int, int first, int last) {
            convolveTiles(directions.get(), size, parameters.kernelLength, parameters.kernel,
                          input.get(), first, last, out);
        });
    };
    convolve();
    if (parameters.contrast == Equalize) {
        equalize(out, count);
        return true;
    }
    stretch(out, count);
    if (parameters.contrast == SecondPass) {
        // The first pass's empty pixels are never read by a line, which
        // stops before it would sample them; mid grey keeps it so.
        for (qsizetype p = 0; p < count; ++p)
            input[p] = std::isnan(out[p]) ? 0.5f : out[p];
        convolve();
        stretch(out, count);
    }
    return true;
}

void LineIntegralConvolution::combine(QImage& picture, const float* texture, Combine how)
{
    if (picture.isNull() || !texture)
        return;
    if (picture.format() != QImage::Format_ARGB32_Premultiplied)
        picture.convertTo(QImage::Format_ARGB32_Premultiplied);
    const int width = picture.width();
    for (int row = 0; row < picture.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(row));
        const float* values = texture + qsizetype(row) * width;
        for (int column = 0; column < width; ++column) {
            const float t = values[column];
            if (std::isnan(t)) {
                line[column] = 0;
                continue;
            }
            const QRgb c = line[column];
            const int alpha = qAlpha(c);
            if (how == Multiply) {
                line[column] = qRgba(int(qRed(c) * t + 0.5f), int(qGreen(c) * t + 0.5f),
                                     int(qBlue(c) * t + 0.5f), alpha);
            } else {
                const float grey = alpha * t;
                line[column] = qRgba(int((qRed(c) + grey) * 0.5f + 0.5f),
                                     int((qGreen(c) + grey) * 0.5f + 0.5f),
                                     int((qBlue(c) + grey) * 0.5f + 0.5f), alpha);
            }
        }
    }
}
