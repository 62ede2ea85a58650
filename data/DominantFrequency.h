#pragma once

#include <vector>

// The strongest frequency of an evenly sampled signal, such as a point's
// history over the steps of a series.
//
// Samples: NaN at the start and the end is dropped; a NaN run inside (a
// missing step) is bridged by the straight line between its neighbours, so
// the record keeps its length and its time base; the number bridged is
// gapSamples(). At least four finite samples are needed.
//
// Spectrum: the mean is removed and a Hann window applied (a record is
// seldom a whole number of periods, and the window keeps the leakage of one
// strong peak from hiding a weaker one), then the signal, zero-padded to a
// power of two of at least four times its length, goes through a radix-2
// FFT. amplitudes() are one-sided, corrected for the window's gain: a sine
// of amplitude A on a bin shows A. The peak is looked for from one cycle per
// record up (below that the record does not hold a period) and refined by a
// parabola through the logarithms of the three bins around it (exact for
// the Gaussian a Hann peak nearly is), so the frequency is found to a small
// fraction of resolution() = 1 / (n dt).
class DominantFrequency
{
public:
    // `timeStep`: the time between two samples (> 0); frequencies are in
    // cycles per its unit.
    DominantFrequency(const std::vector<double>& signal, double timeStep);

    bool isValid() const { return valid; }
    // NaN when not valid.
    double frequency() const { return peak; }
    double amplitude() const { return peakAmplitude; }
    double resolution() const { return binWidth; }
    int sampleCount() const { return used; }
    int gapSamples() const { return bridged; }

    // The spectrum: frequency of bin k is k * frequencyStep(), from 0 to the
    // Nyquist frequency.
    const std::vector<double>& amplitudes() const { return spectrum; }
    double frequencyStep() const { return step; }

    // St = f L / U; NaN when U is 0 or any value is not a number.
    static double strouhal(double frequency, double length, double velocity);

private:
    bool valid = false;
    double peak;
    double peakAmplitude;
    double binWidth;
    double step = 0.0;
    int used = 0;
    int bridged = 0;
    std::vector<double> spectrum;
};
