#include "render/PolygonRasterizer.h"

#include "data/CpuClones.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if VELMORA_HAS_AVX2_FUNCTIONS
#include <immintrin.h>
#endif

namespace {

// Each of the four bytes of `word` times `factor` / 255, rounded to the
// nearest: (x + 128 + ((x + 128) >> 8)) >> 8 is exact for x up to 255 * 255,
// and it is what the vector loops compute, so a pixel comes out the same
// whichever loop reaches it.
inline quint32 byteMultiply(quint32 word, quint32 factor)
{
    quint32 redBlue = (word & 0xff00ffu) * factor + 0x800080u;
    redBlue = ((redBlue + ((redBlue >> 8) & 0xff00ffu)) >> 8) & 0xff00ffu;
    quint32 alphaGreen = ((word >> 8) & 0xff00ffu) * factor + 0x800080u;
    alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0xff00ffu)) & 0xff00ff00u;
    return alphaGreen | redBlue;
}

// floor and ceil of a non-negative value: a truncating conversion, which
// without SSE4.1 is far cheaper than the library calls.
inline int floorOf(float x)
{
    return int(x);
}
inline int ceilOf(float x)
{
    const int whole = int(x);
    return float(whole) < x ? whole + 1 : whole;
}

// An edge's signed area in one row where it crosses from column leftColumn
// to rightColumn, two columns or more: the area to the right grows
// quadratically in the first and last column, linearly between.
inline void spreadAcross(float* row, float left, float right, int leftColumn, int rightColumn,
                         float area)
{
    const float leftFloor = float(leftColumn);
    const float perColumn = 1.0f / (right - left);
    const float leftFraction = left - leftFloor;
    const float firstShare = 0.5f * perColumn * (1.0f - leftFraction) * (1.0f - leftFraction);
    const float rightFraction = right - float(rightColumn) + 1.0f;
    const float lastShare = 0.5f * perColumn * rightFraction * rightFraction;
    row[leftColumn] += area * firstShare;
    if (rightColumn == leftColumn + 2) {
        row[leftColumn + 1] += area * (1.0f - firstShare - lastShare);
    } else {
        const float secondShare = perColumn * (1.5f - leftFraction);
        row[leftColumn + 1] += area * (secondShare - firstShare);
        for (int column = leftColumn + 2; column < rightColumn - 1; ++column)
            row[column] += area * perColumn;
        const float beforeLast = secondShare + float(rightColumn - leftColumn - 3) * perColumn;
        row[rightColumn - 1] += area * (1.0f - beforeLast - lastShare);
    }
    row[rightColumn] += area * lastShare;
}

// `color` times each pixel's coverage level over the pixels, source over:
// pixel = color * level + pixel * (1 - alpha(color) * level), every product
// rounded as byteMultiply rounds it.
VELMORA_CPU_CLONES void blendRow(quint32* pixels, const quint8* level, int count, quint32 color,
                                 bool opaque)
{
    int k = 0;
#ifdef __SSE2__
    // Four pixels at a time in 16-bit lanes; the same roundings as below.
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi16(0x80);
    const __m128i full = _mm_set1_epi16(255);
    const __m128i colorWords = _mm_unpacklo_epi8(_mm_set1_epi32(int(color)), zero);
    auto multiply = [&](__m128i a, __m128i b) {
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(a, b), rounding);
        return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
    // Each of two pixels' levels spread over its four channel lanes.
    auto spread = [&](quint32 twoLevels) {
        const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(twoLevels)), zero);
        const __m128i pairs = _mm_unpacklo_epi16(words, words);
        return _mm_unpacklo_epi32(pairs, pairs);
    };
    auto alphas = [](__m128i words) {
        return _mm_shufflehi_epi16(_mm_shufflelo_epi16(words, _MM_SHUFFLE(3, 3, 3, 3)),
                                   _MM_SHUFFLE(3, 3, 3, 3));
    };
    for (; k + 4 <= count; k += 4) {
        quint32 fourLevels;
        std::memcpy(&fourLevels, level + k, sizeof fourLevels);
        if (fourLevels == 0)
            continue;
        if (opaque && fourLevels == 0xffffffffu) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + k), _mm_set1_epi32(int(color)));
            continue;
        }
        const __m128i destination = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + k));
        const __m128i sourceLow = multiply(colorWords, spread(fourLevels & 0xffffu));
        const __m128i sourceHigh = multiply(colorWords, spread(fourLevels >> 16));
        const __m128i low =
            _mm_add_epi16(sourceLow, multiply(_mm_unpacklo_epi8(destination, zero),
                                              _mm_sub_epi16(full, alphas(sourceLow))));
        const __m128i high =
            _mm_add_epi16(sourceHigh, multiply(_mm_unpackhi_epi8(destination, zero),
                                               _mm_sub_epi16(full, alphas(sourceHigh))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + k), _mm_packus_epi16(low, high));
    }
#endif
    for (; k < count; ++k) {
        const quint32 coverage = level[k];
        if (coverage == 0)
            continue;
        if (coverage == 255 && opaque) {
            pixels[k] = color;
            continue;
        }
        const quint32 source = coverage == 255 ? color : byteMultiply(color, coverage);
        pixels[k] = source + byteMultiply(pixels[k], 255u - (source >> 24));
    }
}

#if VELMORA_HAS_AVX2_FUNCTIONS
// The coverage pass of one row eight columns at a time, from `column` while
// a whole eight fits before `end`: each cell is added to the running sum (in
// and out through `sum`) and cleared, and its level written. Every lane does
// the four-column loop's arithmetic in the same order, so the levels are the
// same bit for bit. Returns the column reached.
VELMORA_AVX2 int coverageEight(float* row, quint8* level, int column, int end, float* sum)
{
    const __m256 signBits = _mm256_set1_ps(-0.0f);
    const __m256 lowHalf = _mm256_castsi256_ps(_mm256_setr_epi32(-1, -1, -1, -1, 0, 0, 0, 0));
    __m256 carried = _mm256_set1_ps(*sum);
    for (; column + 8 <= end; column += 8) {
        __m256 sums = _mm256_loadu_ps(row + column);
        _mm256_storeu_ps(row + column, _mm256_setzero_ps());
        // Prefix sums within each group of four, as the four-column loop
        // forms them; then the sum so far onto the first four, and the first
        // four's last onto the second four, as the next group would carry it.
        sums = _mm256_add_ps(sums,
                             _mm256_castsi256_ps(_mm256_slli_si256(_mm256_castps_si256(sums), 4)));
        sums = _mm256_add_ps(sums,
                             _mm256_castsi256_ps(_mm256_slli_si256(_mm256_castps_si256(sums), 8)));
        sums = _mm256_add_ps(sums, _mm256_and_ps(carried, lowHalf));
        const __m256 lowLast = _mm256_permute_ps(sums, _MM_SHUFFLE(3, 3, 3, 3));
        sums = _mm256_add_ps(sums, _mm256_permute2f128_ps(lowLast, lowLast, 0x08));
        carried = _mm256_permutevar8x32_ps(sums, _mm256_set1_epi32(7));
        const __m256 winding = _mm256_andnot_ps(signBits, sums);
        const __m256 turns =
            _mm256_cvtepi32_ps(_mm256_cvttps_epi32(_mm256_mul_ps(winding, _mm256_set1_ps(0.5f))));
        const __m256 parity = _mm256_sub_ps(winding, _mm256_add_ps(turns, turns));
        const __m256 coverage = _mm256_min_ps(parity, _mm256_sub_ps(_mm256_set1_ps(2.0f), parity));
        const __m256i whole = _mm256_cvttps_epi32(
            _mm256_add_ps(_mm256_mul_ps(coverage, _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
        const __m128i words =
            _mm_packs_epi32(_mm256_castsi256_si128(whole), _mm256_extracti128_si256(whole, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(level + column),
                         _mm_packus_epi16(words, _mm_setzero_si128()));
    }
    *sum = _mm256_cvtss_f32(carried);
    return column;
}

// Each 16-bit lane of a times b / 255, rounded as byteMultiply rounds.
VELMORA_AVX2 inline __m256i multiplyWords(__m256i a, __m256i b)
{
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(a, b), _mm256_set1_epi16(0x80));
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// Each pixel's alpha word in its four channel words.
VELMORA_AVX2 inline __m256i alphaWords(__m256i words)
{
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(words, _MM_SHUFFLE(3, 3, 3, 3)),
                                  _MM_SHUFFLE(3, 3, 3, 3));
}

// blendRow's arithmetic eight pixels at a time, the pixels past the last
// whole eight left to it. Empty and full groups take the same arithmetic,
// which leaves the first as they are and stores the colour in the second:
// in a glyph's short rows the tests for them cost more than they spared.
VELMORA_AVX2 void blendEight(quint32* pixels, const quint8* level, int count, quint32 color,
                             bool opaque)
{
    int k = 0;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i full = _mm256_set1_epi16(255);
    const __m256i colorWords = _mm256_unpacklo_epi8(_mm256_set1_epi32(int(color)), zero);
    // The unpacks work within each half: the low words hold pixels 0, 1 and
    // 4, 5 of the eight, the high words 2, 3 and 6, 7. Each pixel's level
    // goes to its four channel words.
    const __m256i lowLevels =
        _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1, 4, -1, 4, -1, 4,
                         -1, 4, -1, 5, -1, 5, -1, 5, -1, 5, -1);
    const __m256i highLevels =
        _mm256_setr_epi8(2, -1, 2, -1, 2, -1, 2, -1, 3, -1, 3, -1, 3, -1, 3, -1, 6, -1, 6, -1, 6,
                         -1, 6, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    for (; k + 8 <= count; k += 8) {
        auto* at = reinterpret_cast<__m256i*>(pixels + k);
        const __m256i levels =
            _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(level + k)));
        const __m256i destination = _mm256_loadu_si256(at);
        const __m256i sourceLow = multiplyWords(colorWords, _mm256_shuffle_epi8(levels, lowLevels));
        const __m256i sourceHigh =
            multiplyWords(colorWords, _mm256_shuffle_epi8(levels, highLevels));
        const __m256i low = _mm256_add_epi16(
            sourceLow, multiplyWords(_mm256_unpacklo_epi8(destination, zero),
                                     _mm256_sub_epi16(full, alphaWords(sourceLow))));
        const __m256i high = _mm256_add_epi16(
            sourceHigh, multiplyWords(_mm256_unpackhi_epi8(destination, zero),
                                      _mm256_sub_epi16(full, alphaWords(sourceHigh))));
        _mm256_storeu_si256(at, _mm256_packus_epi16(low, high));
    }
    blendRow(pixels + k, level + k, count - k, color, opaque);
}

// One edge's rows [firstRow, endRow), eight at a time: each lane works out
// a row with the arithmetic of PolygonRasterizer::accumulate, in the same
// order, and the rows are then added to their cells one after another, so
// the cells come out the same bit for bit. A row within one or two columns
// adds to three cells, the third taking zero in the first case: steep edges
// switch between the two from row to row, and a branch between them
// mispredicted. Rows across more columns go to spreadAcross.
struct EdgeRows
{
    float x0, y0, y1, slope, direction, columns;
    int firstRow, endRow;
};

// The edge's x at height y, clamped to the box as std::clamp does.
VELMORA_AVX2 inline __m256 edgeXAt(__m256 y, __m256 x0, __m256 y0, __m256 slope, __m256 columns)
{
    const __m256 x = _mm256_add_ps(x0, _mm256_mul_ps(_mm256_sub_ps(y, y0), slope));
    return _mm256_min_ps(columns, _mm256_max_ps(_mm256_setzero_ps(), x));
}

VELMORA_AVX2 void accumulateEight(const EdgeRows& edge, float* cells, int stride, int rowBegin,
                                  int* rowFirst, int* rowLast)
{
    const __m256 x0 = _mm256_set1_ps(edge.x0);
    const __m256 y0 = _mm256_set1_ps(edge.y0);
    const __m256 y1 = _mm256_set1_ps(edge.y1);
    const __m256 slope = _mm256_set1_ps(edge.slope);
    const __m256 direction = _mm256_set1_ps(edge.direction);
    const __m256 columns = _mm256_set1_ps(edge.columns);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    alignas(32) float first[8];
    alignas(32) float second[8];
    alignas(32) float third[8];
    alignas(32) float lefts[8];
    alignas(32) float rights[8];
    alignas(32) float areas[8];
    alignas(32) int leftColumns[8];
    alignas(32) int rightColumns[8];
    for (int group = edge.firstRow; group < edge.endRow; group += 8) {
        const __m256i rows = _mm256_add_epi32(_mm256_set1_epi32(group), lanes);
        const __m256 rowTop = _mm256_cvtepi32_ps(rows);
        // max(row, y0) and min(row + 1, y1) with std::max's and std::min's
        // operand order.
        const __m256 top = _mm256_max_ps(y0, rowTop);
        const __m256 bottom = _mm256_min_ps(y1, _mm256_add_ps(rowTop, one));
        const __m256 x = edgeXAt(top, x0, y0, slope, columns);
        const __m256 xNext = edgeXAt(bottom, x0, y0, slope, columns);
        const __m256 area = _mm256_mul_ps(_mm256_sub_ps(bottom, top), direction);
        const __m256 left = _mm256_min_ps(xNext, x);
        const __m256 right = _mm256_max_ps(xNext, x);
        const __m256i leftColumn = _mm256_cvttps_epi32(left);
        const __m256 leftFloor = _mm256_cvtepi32_ps(leftColumn);
        const __m256i rightWhole = _mm256_cvttps_epi32(right);
        // ceil: one more where the truncation fell short.
        const __m256i rightColumn = _mm256_sub_epi32(
            rightWhole,
            _mm256_castps_si256(_mm256_cmp_ps(_mm256_cvtepi32_ps(rightWhole), right, _CMP_LT_OQ)));
        // Within one column.
        const __m256 share = _mm256_sub_ps(_mm256_mul_ps(half, _mm256_add_ps(x, xNext)), leftFloor);
        const __m256 oneFirst = _mm256_sub_ps(area, _mm256_mul_ps(area, share));
        const __m256 oneSecond = _mm256_mul_ps(area, share);
        // Across two.
        const __m256 perColumn = _mm256_div_ps(one, _mm256_sub_ps(right, left));
        const __m256 leftRest = _mm256_sub_ps(one, _mm256_sub_ps(left, leftFloor));
        const __m256 firstShare =
            _mm256_mul_ps(_mm256_mul_ps(_mm256_mul_ps(half, perColumn), leftRest), leftRest);
        const __m256 rightFraction =
            _mm256_add_ps(_mm256_sub_ps(right, _mm256_cvtepi32_ps(rightColumn)), one);
        const __m256 lastShare = _mm256_mul_ps(
            _mm256_mul_ps(_mm256_mul_ps(half, perColumn), rightFraction), rightFraction);
        const __m256 two = _mm256_castsi256_ps(
            _mm256_cmpeq_epi32(rightColumn, _mm256_add_epi32(leftColumn, _mm256_set1_epi32(2))));
        _mm256_store_ps(first, _mm256_blendv_ps(oneFirst, _mm256_mul_ps(area, firstShare), two));
        _mm256_store_ps(
            second,
            _mm256_blendv_ps(
                oneSecond,
                _mm256_mul_ps(area, _mm256_sub_ps(_mm256_sub_ps(one, firstShare), lastShare)),
                two));
        _mm256_store_ps(third, _mm256_and_ps(_mm256_mul_ps(area, lastShare), two));
        _mm256_store_ps(lefts, left);
        _mm256_store_ps(rights, right);
        _mm256_store_ps(areas, area);
        _mm256_store_si256(reinterpret_cast<__m256i*>(leftColumns), leftColumn);
        _mm256_store_si256(reinterpret_cast<__m256i*>(rightColumns), rightColumn);
        const int count = std::min(8, edge.endRow - group);
        for (int k = 0; k < count; ++k) {
            const int y = group + k - rowBegin;
            float* row = cells + size_t(y) * size_t(stride);
            const int leftAt = leftColumns[k];
            const int rightAt = rightColumns[k];
            if (rightAt <= leftAt + 2) {
                row[leftAt] += first[k];
                row[leftAt + 1] += second[k];
                row[leftAt + 2] += third[k];
            } else {
                spreadAcross(row, lefts[k], rights[k], leftAt, rightAt, areas[k]);
            }
            rowFirst[y] = std::min(rowFirst[y], leftAt);
            rowLast[y] = std::max(rowLast[y], std::max(rightAt, leftAt + 1));
        }
    }
}
#endif

// Rows of a shape rasterized at once.
constexpr int stripRows = 64;

std::atomic<bool> eightLanesAllowed{true};

bool eightLanesAvailable()
{
#if VELMORA_HAS_AVX2_FUNCTIONS
    return CpuClones::hasAvx2() && eightLanesAllowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

} // namespace

void PolygonRasterizer::setEightLanes(bool allowed)
{
    eightLanesAllowed = allowed;
}

PolygonRasterizer::Target PolygonRasterizer::Target::of(QImage& image)
{
    Q_ASSERT(image.format() == QImage::Format_ARGB32_Premultiplied);
    return Target{image.bits(), image.bytesPerLine(), image.width(), image.height()};
}

PolygonRasterizer::PolygonRasterizer(QImage& target, int firstRow, int endRow)
    : PolygonRasterizer(Target::of(target), firstRow, endRow)
{
}

PolygonRasterizer::PolygonRasterizer(const Target& target, int firstRow, int endRow)
    : bits(target.bits), bytesPerLine(target.bytesPerLine), imageWidth(target.width),
      bandTop(std::clamp(firstRow, 0, target.height)),
      bandEnd(endRow < 0 ? target.height : std::clamp(endRow, bandTop, target.height)),
      eightLanes(eightLanesAvailable())
{
}

void PolygonRasterizer::fillPolygon(const QPointF* points, int count, QRgb premultipliedColor)
{
    if (count < 3 || premultipliedColor == 0)
        return;
    double minX = points[0].x();
    double maxX = minX;
    double minY = points[0].y();
    double maxY = minY;
    for (int k = 1; k < count; ++k) {
        if (!std::isfinite(points[k].x()) || !std::isfinite(points[k].y()))
            return;
        minX = std::min(minX, points[k].x());
        maxX = std::max(maxX, points[k].x());
        minY = std::min(minY, points[k].y());
        maxY = std::max(maxY, points[k].y());
    }
    if (!beginShape(minX, minY, maxX, maxY))
        return;
    // A tall shape goes in strips of rows, which keeps the cells few (and in
    // the cache) however large the shape; a row comes out the same.
    const int shapeEnd = rowEnd;
    for (int stripTop = rowBegin; stripTop < shapeEnd; stripTop += stripRows) {
        rowBegin = stripTop;
        rowEnd = std::min(shapeEnd, stripTop + stripRows);
        std::fill(rowFirst.begin(), rowFirst.end(), INT_MAX);
        std::fill(rowLast.begin(), rowLast.end(), -1);
        for (int k = 0; k < count; ++k) {
            const QPointF& a = points[k];
            const QPointF& b = points[k + 1 < count ? k + 1 : 0];
            addEdge(a.x() - boxLeft, a.y() - boxTop, b.x() - boxLeft, b.y() - boxTop);
        }
        blendShape(premultipliedColor);
    }
}

void PolygonRasterizer::strokeSegment(QPointF from, QPointF to, double width,
                                      QRgb premultipliedColor)
{
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    const double length = std::hypot(dx, dy);
    if (!(length > 0.0) || !(width > 0.0))
        return;
    const double half = 0.5 * width / length;
    const double ax = dx * half; // along the segment, width / 2 long
    const double ay = dy * half;
    const QPointF corners[4] = {
        QPointF(from.x() - ax + ay, from.y() - ay - ax),
        QPointF(to.x() + ax + ay, to.y() + ay - ax),
        QPointF(to.x() + ax - ay, to.y() + ay + ax),
        QPointF(from.x() - ax - ay, from.y() - ay + ax),
    };
    fillPolygon(corners, 4, premultipliedColor);
}

bool PolygonRasterizer::beginShape(double minX, double minY, double maxX, double maxY)
{
    // Also false for NaN, which fails every comparison.
    if (!(maxX > 0.0 && maxY > bandTop && minX < imageWidth && minY < bandEnd))
        return false;
    if (!std::isfinite(minX - maxX) || !std::isfinite(minY - maxY))
        return false;
    boxLeft = minX > 0.0 ? int(minX) : 0;
    boxTop = minY > 0.0 ? int(minY) : 0;
    const int right = maxX < imageWidth ? int(std::ceil(maxX)) : imageWidth;
    const int bottom = maxY < bandEnd ? int(std::ceil(maxY)) : bandEnd;
    boxColumns = right - boxLeft;
    rowBegin = std::max(boxTop, bandTop) - boxTop;
    rowEnd = bottom - boxTop;
    if (boxColumns <= 0 || rowEnd <= rowBegin)
        return false;
    const size_t rows = size_t(std::min(rowEnd - rowBegin, stripRows));
    const size_t needed = size_t(cellStride()) * rows;
    if (cells.size() < needed)
        cells.resize(needed, 0.0f);
    if (levels.size() < size_t(boxColumns + lanePadding))
        levels.resize(size_t(boxColumns + lanePadding));
    rowFirst.resize(rows);
    rowLast.resize(rows);
    return true;
}

// An edge in box coordinates. Parts beside the box are moved onto its left or
// right border, where they still bound the area to their right as the whole
// edge did.
void PolygonRasterizer::addEdge(double x0, double y0, double x1, double y1)
{
    if (y0 == y1)
        return;
    const double columns = boxColumns;
    if (x0 >= 0.0 && x0 <= columns && x1 >= 0.0 && x1 <= columns) {
        accumulate(float(x0), float(y0), float(x1), float(y1));
        return;
    }
    // The edge as x0 + t dx, y0 + t dy for t in [0, 1], cut where it crosses
    // either border.
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    double cuts[4] = {0.0, 1.0, 1.0, 1.0};
    int cutCount = 1;
    for (const double border : {0.0, columns}) {
        const double t = (border - x0) / dx;
        if (t > 0.0 && t < 1.0)
            cuts[cutCount++] = t;
    }
    if (cutCount == 3 && cuts[2] < cuts[1])
        std::swap(cuts[1], cuts[2]);
    cuts[cutCount++] = 1.0;
    for (int k = 0; k + 1 < cutCount; ++k) {
        const double ta = cuts[k];
        const double tb = cuts[k + 1];
        const double ya = k == 0 ? y0 : y0 + ta * dy;
        const double yb = k + 2 == cutCount ? y1 : y0 + tb * dy;
        if (ya != yb)
            accumulate(float(std::clamp(x0 + ta * dx, 0.0, columns)), float(ya),
                       float(std::clamp(x0 + tb * dx, 0.0, columns)), float(yb));
    }
}

// Adds the signed area an edge bounds to its right, cell by cell, in the kept
// rows: summed along a row, the cells then give each pixel's coverage. x lies
// in [0, boxColumns]. Where the edge crosses a row's top and bottom follows
// from its ends alone, so a band cuts nothing that changes a pixel.
VELMORA_CPU_CLONES void PolygonRasterizer::accumulate(float x0, float y0, float x1, float y1)
{
    float direction = 1.0f;
    if (y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
        direction = -1.0f;
    }
    // Also true for an edge whose ends are one float apart in y only.
    if (!(y1 > float(rowBegin) && y0 < float(rowEnd)) || y0 == y1)
        return;
    const float slope = (x1 - x0) / (y1 - y0);
    // Infinite where the ends are a denormal apart in y: such an edge bounds
    // no area worth a coverage level, and its x would come out NaN.
    if (!std::isfinite(slope))
        return;
    const float columns = float(boxColumns);
    const int stride = cellStride();
    const int firstRow = y0 > float(rowBegin) ? floorOf(y0) : rowBegin;
    const int endRow = y1 < float(rowEnd) ? ceilOf(y1) : rowEnd;
#if VELMORA_HAS_AVX2_FUNCTIONS
    // An edge of a few rows (the many short ones of a curve) would leave
    // most of the eight lanes idle.
    if (eightLanes && endRow - firstRow >= 4) {
        accumulateEight({x0, y0, y1, slope, direction, columns, firstRow, endRow}, cells.data(),
                        stride, rowBegin, rowFirst.data(), rowLast.data());
        return;
    }
#endif
    // A row's top is the last one's bottom, so its x is the last one's next.
    float top = std::max(float(firstRow), y0);
    float x = std::clamp(x0 + (top - y0) * slope, 0.0f, columns);
    for (int y = firstRow; y < endRow; ++y, top = float(y)) {
        const float bottom = std::min(float(y + 1), y1);
        const float xNext = std::clamp(x0 + (bottom - y0) * slope, 0.0f, columns);
        const float area = (bottom - top) * direction;
        const float left = std::min(x, xNext);
        const float right = std::max(x, xNext);
        const int leftColumn = floorOf(left);
        const float leftFloor = float(leftColumn);
        const int rightColumn = ceilOf(right);
        float* row = cells.data() + size_t(y - rowBegin) * size_t(stride);
        if (rightColumn <= leftColumn + 1) {
            // Within one column: the part of the cell right of the edge's
            // mean position, the rest to the next cell.
            const float share = 0.5f * (x + xNext) - leftFloor;
            row[leftColumn] += area - area * share;
            row[leftColumn + 1] += area * share;
        } else {
            spreadAcross(row, left, right, leftColumn, rightColumn, area);
        }
        int& first = rowFirst[size_t(y - rowBegin)];
        int& last = rowLast[size_t(y - rowBegin)];
        first = std::min(first, leftColumn);
        last = std::max(last, std::max(rightColumn, leftColumn + 1));
        x = xNext;
    }
}

// Sums each row's cells into coverage levels, clearing the cells again, and
// blends. Beyond the last touched cell of a row a closed outline sums to zero.
VELMORA_CPU_CLONES void PolygonRasterizer::blendShape(QRgb color)
{
    const int stride = cellStride();
    const bool opaque = qAlpha(color) == 255;
    // Columns the row may run on to, in whole groups of the vector loops'
    // width, without leaving the image's row.
    const int imageColumns = imageWidth - boxLeft;
    const int group = eightLanes ? 8 : 4;
    quint8* level = levels.data();
    for (int y = rowBegin; y < rowEnd; ++y) {
        const int first = rowFirst[size_t(y - rowBegin)];
        const int last = rowLast[size_t(y - rowBegin)];
        if (first > last)
            continue;
        float* row = cells.data() + size_t(y - rowBegin) * size_t(stride);
        int blendEnd = std::min(last + 1, boxColumns);
        // Past the last touched cell the sums are those of a closed outline,
        // zero, so the levels there are zero and blending them leaves the
        // pixels as they are: the row runs on to a whole group where the
        // image has the pixels, which spares the one-pixel tails.
        for (int width = group; width >= 4; width /= 2) {
            const int paddedEnd = first + (blendEnd - first + width - 1) / width * width;
            if (paddedEnd <= imageColumns) {
                blendEnd = paddedEnd;
                break;
            }
        }
        int column = first;
        float sum = 0.0f;
#if VELMORA_HAS_AVX2_FUNCTIONS
        if (eightLanes)
            column = coverageEight(row, level, column, blendEnd, &sum);
#endif
#ifdef __SSE2__
        // Four columns at a time: the running sum as a prefix sum within the
        // four plus the sum so far. The parity below needs no choice there:
        // up to one turn, the truncated half winding is zero.
        const __m128 signBits = _mm_set1_ps(-0.0f);
        __m128 carried = _mm_set1_ps(sum);
        for (; column + 4 <= blendEnd; column += 4) {
            __m128 sums = _mm_loadu_ps(row + column);
            _mm_storeu_ps(row + column, _mm_setzero_ps());
            sums = _mm_add_ps(sums, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(sums), 4)));
            sums = _mm_add_ps(sums, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(sums), 8)));
            sums = _mm_add_ps(sums, carried);
            carried = _mm_shuffle_ps(sums, sums, _MM_SHUFFLE(3, 3, 3, 3));
            const __m128 winding = _mm_andnot_ps(signBits, sums);
            const __m128 turns =
                _mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_mul_ps(winding, _mm_set1_ps(0.5f))));
            const __m128 parity = _mm_sub_ps(winding, _mm_add_ps(turns, turns));
            const __m128 coverage = _mm_min_ps(parity, _mm_sub_ps(_mm_set1_ps(2.0f), parity));
            const __m128i whole = _mm_cvttps_epi32(
                _mm_add_ps(_mm_mul_ps(coverage, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
            const __m128i bytes =
                _mm_packus_epi16(_mm_packs_epi32(whole, whole), _mm_setzero_si128());
            const int fourLevels = _mm_cvtsi128_si32(bytes);
            std::memcpy(level + column, &fourLevels, sizeof fourLevels);
        }
        sum = _mm_cvtss_f32(carried);
#endif
        for (; column < blendEnd; ++column) {
            sum += row[column];
            row[column] = 0.0f;
            // Even-odd: twice-covered area is outside again, as with the
            // painter's default fill rule.
            const float winding = std::fabs(sum);
            // Up to one turn (all but overlaps) the coverage is the winding
            // itself, which spares the conversions.
            const float parity =
                winding <= 1.0f ? winding : winding - 2.0f * float(int(winding * 0.5f));
            const float coverage = std::min(parity, 2.0f - parity);
            level[column] = quint8(int(coverage * 255.0f + 0.5f));
        }
        // The cells summed are cleared as they go; those right of the
        // image's border are left.
        if (blendEnd <= last)
            std::fill(row + std::max(first, blendEnd), row + last + 1, 0.0f);

        auto* pixels = reinterpret_cast<quint32*>(bits + (boxTop + y) * bytesPerLine) + boxLeft;
#if VELMORA_HAS_AVX2_FUNCTIONS
        if (eightLanes) {
            blendEight(pixels + first, level + first, blendEnd - first, color, opaque);
            continue;
        }
#endif
        blendRow(pixels + first, level + first, blendEnd - first, color, opaque);
    }
}
