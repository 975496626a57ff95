#pragma once
// Noise spectrum of one channel: amplitude spectral density of the block with
// its mean removed (Hann window, Welch averaging over half-overlapping
// power-of-two segments) and the largest tones in it.

#include <cstddef>
#include <vector>

struct SpectrumPeak {
    double frequency = 0;  // Hz (power-weighted centre of the tone's bins)
    double level = 0;      // dB of the tone: dBFS (codes) or dB re 1 mV RMS (millivolts)
};

struct Spectrum {
    double sampleRate = 0;     // Hz; 1 when the rate was unknown (axis in cycles per sample)
    int segmentLength = 0;     // samples per FFT segment (a power of two)
    int segments = 0;          // segments averaged
    double binWidth = 0;       // Hz
    std::vector<double> frequency;  // Hz, 0 .. sampleRate / 2
    std::vector<double> density;    // dB per root hertz: dBFS/√Hz or dB re 1 mV/√Hz
    std::vector<SpectrumPeak> peaks; // up to three, largest first
};

// Longest segment used: 4096 samples gives 0.29 Hz bins at 1200 sps and about
// 30 averages for a full block.
constexpr int kMaxSegment = 4096;
// Blocks shorter than this have no spectrum.
constexpr int kMinSpectrumSamples = 8;

// Full scale of codes: a sine of amplitude 2^23 codes is 0 dBFS. Millivolt
// levels refer to 1 mV RMS.
constexpr double kFullScaleAmplitude = 8388608.0;

// `sampleRate` <= 0 means unknown: the axis is then in cycles per sample.
// Fewer than kMinSpectrumSamples values (or any that is not finite) give an
// empty spectrum.
Spectrum ComputeSpectrum(const std::vector<double>& values, double sampleRate, bool hexCodes);

// The two halves of ComputeSpectrum, for spans read a piece at a time.
// WelchDensity: the one-sided power spectral density (unit^2/Hz, bins 0 ..
// len/2) of n values minus `mean`, Hann window of `len` (a power of two up
// to n) samples, averaged over segments starting every len/2 samples;
// `segments` receives their number (0, and an empty result, for a bad len).
std::vector<double> WelchDensity(const double* values, std::size_t n, double mean, double sampleRate,
                                 int len, int* segments);
// The spectrum (levels in dB, tones) of such a density averaged over
// `segments` segments of `len` samples.
Spectrum SpectrumFromDensity(const std::vector<double>& psd, int len, int segments, double sampleRate,
                             bool hexCodes);
