#include "data/DominantFrequency.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// In place, radix 2; data.size() is a power of two.
void fourierTransform(std::vector<std::complex<double>>& data)
{
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * M_PI / double(length);
        for (size_t start = 0; start < n; start += length) {
            for (size_t k = 0; k < length / 2; ++k) {
                // The twiddle factor taken directly, not by repeated
                // multiplication, which drifts over long transforms.
                const std::complex<double> w = std::polar(1.0, angle * double(k));
                const std::complex<double> a = data[start + k];
                const std::complex<double> b = w * data[start + k + length / 2];
                data[start + k] = a + b;
                data[start + k + length / 2] = a - b;
            }
        }
    }
}

} // namespace

DominantFrequency::DominantFrequency(const std::vector<double>& signal, double timeStep)
    : peak(notANumber), peakAmplitude(notANumber), binWidth(notANumber)
{
    size_t begin = 0;
    size_t end = signal.size();
    while (begin < end && !std::isfinite(signal[begin]))
        ++begin;
    while (end > begin && !std::isfinite(signal[end - 1]))
        --end;
    if (end - begin < 4 || !(timeStep > 0.0) || !std::isfinite(timeStep))
        return;
    std::vector<double> samples(signal.begin() + std::ptrdiff_t(begin),
                                signal.begin() + std::ptrdiff_t(end));
    const size_t n = samples.size();
    for (size_t k = 1; k < n; ++k) {
        if (std::isfinite(samples[k]))
            continue;
        size_t next = k;
        while (!std::isfinite(samples[next]))
            ++next; // the last sample is finite
        const double from = samples[k - 1];
        const double to = samples[next];
        for (size_t m = k; m < next; ++m)
            samples[m] = from + (to - from) * double(m - k + 1) / double(next - k + 1);
        bridged += int(next - k);
        k = next;
    }
    used = int(n);

    double mean = 0.0;
    for (double value : samples)
        mean += value;
    mean /= double(n);
    size_t padded = 1;
    while (padded < 4 * n)
        padded <<= 1;
    std::vector<std::complex<double>> data(padded);
    double windowSum = 0.0;
    for (size_t k = 0; k < n; ++k) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * (double(k) + 0.5) / double(n));
        windowSum += w;
        data[k] = (samples[k] - mean) * w;
    }
    fourierTransform(data);

    const size_t bins = padded / 2 + 1;
    spectrum.resize(bins);
    for (size_t k = 0; k < bins; ++k)
        spectrum[k] = (k == 0 || 2 * k == padded ? 1.0 : 2.0) * std::abs(data[k]) / windowSum;
    step = 1.0 / (double(padded) * timeStep);
    binWidth = 1.0 / (double(n) * timeStep);

    const size_t lowest = std::max<size_t>(1, padded / n);
    size_t best = lowest;
    for (size_t k = lowest; k < bins; ++k)
        if (spectrum[k] > spectrum[best])
            best = k;
    if (!(spectrum[best] > 0.0))
        return; // a constant signal has no frequency
    double offset = 0.0;
    if (best > 0 && best + 1 < bins && spectrum[best - 1] > 0.0 && spectrum[best + 1] > 0.0) {
        const double a = std::log(spectrum[best - 1]);
        const double b = std::log(spectrum[best]);
        const double c = std::log(spectrum[best + 1]);
        const double curvature = a - 2.0 * b + c;
        if (curvature < 0.0)
            offset = std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5);
    }
    peak = (double(best) + offset) * step;
    peakAmplitude = spectrum[best];
    valid = true;
}

double DominantFrequency::strouhal(double frequency, double length, double velocity)
{
    const double st = frequency * length / velocity;
    return velocity != 0.0 && std::isfinite(st) ? st : notANumber;
}
