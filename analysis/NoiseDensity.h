#pragma once
// Noise spectrum of one channel: amplitude spectral density of the block with
// its mean removed (Hann window, Welch averaging, double-precision FFT), the
// noise floor, the tones that stand above it and, when one tone dominates the
// block, the figures of a converter's sine test.

#include <cstddef>
#include <vector>

struct SpectrumPeak {
    double frequency = 0;  // Hz (power-weighted centre of the tone's bins)
    double level = 0;      // dB of the tone: dBFS (codes) or dB re 1 mV RMS (millivolts)
};

// The sine test of a block whose power is mostly one tone. All in dB except
// the bits; THD is negative (harmonics below the fundamental).
struct SineFigures {
    bool present = false;
    double frequency = 0;    // Hz of the fundamental
    double level = 0;        // dBFS or dB re 1 mV RMS
    double snr = 0, thd = 0, sinad = 0, sfdr = 0;
    double enob = 0;         // (SINAD - 1.76) / 6.02
};

struct Spectrum {
    double sampleRate = 0;     // Hz; 1 when the rate was unknown (axis in cycles per sample)
    int segmentLength = 0;     // samples per FFT segment (a power of two)
    int segments = 0;          // segments averaged
    double binWidth = 0;       // Hz
    double resolutionBandwidth = 0;  // Hz: the window's equivalent noise bandwidth
    double floor = 0;          // noise floor: median density corrected to a mean, dB per root hertz
    std::vector<double> frequency;  // Hz, 0 .. sampleRate / 2
    std::vector<double> density;    // dB per root hertz: dBFS/√Hz or dB re 1 mV/√Hz
    std::vector<SpectrumPeak> peaks; // up to three tones above the floor, largest first
    SineFigures sine;
};

// Longest segment used: 4096 samples gives 0.29 Hz bins at 1200 sps and about
// 30 averages for a full block.
constexpr int kMaxSegment = 4096;
// Segments are not shortened below this to get more averages.
constexpr int kMinAveragedSegment = 256;
// Averages wanted where the segment can stay at least kMinAveragedSegment long.
constexpr int kWantedAverages = 8;
// Blocks shorter than this have no spectrum.
constexpr int kMinSpectrumSamples = 8;
// A tone is listed when its highest bin stands this many dB above the median
// density of the bins around it.
constexpr double kToneAboveFloorDb = 10.0;

// Full scale of codes: a sine of amplitude 2^23 codes is 0 dBFS. Millivolt
// levels refer to 1 mV RMS.
constexpr double kFullScaleAmplitude = 8388608.0;

// `sampleRate` <= 0 means unknown: the axis is then in cycles per sample.
// Fewer than kMinSpectrumSamples values (or any that is not finite) give an
// empty spectrum.
Spectrum ComputeSpectrum(const std::vector<double>& values, double sampleRate, bool hexCodes);

// Segment length for n samples: the longest power of two up to kMaxSegment
// that gives kWantedAverages half-overlapping segments, but not below
// kMinAveragedSegment (nor above n).
int SpectrumSegmentLength(std::size_t n);

// Welch average of n values minus `mean` with `window` (its length is the
// segment length): one-sided power spectral density in unit^2/Hz, bins 0 ..
// len/2. Segments start every half segment; the last one is aligned to the
// block's end so that every sample is used (none is shifted when n - len is
// a multiple of len/2, which lets a long span be averaged piece by piece).
// `segments` receives their number; fewer values than the window is no
// segment and an empty result.
std::vector<double> WelchDensity(const double* values, std::size_t n, double mean, double sampleRate,
                                 const std::vector<double>& window, int* segments);

// Periodic Hann window of `len` samples, the spectrum's window.
std::vector<double> HannWindow(int len);

// The spectrum of a Hann-window Welch density (`psd`, bins 0 .. len/2, as
// WelchDensity gives it) averaged over `segments` segments: levels in dB,
// noise floor, resolution bandwidth, the tones above the floor and, given
// the block the density came from (with its mean), the sine test. A span
// averaged piece by piece gives instead the Blackman-Harris density of the
// same segments (`sineDensity`) for the sine test, or nothing for none.
Spectrum SpectrumFromDensity(const std::vector<double>& psd, int segments, double sampleRate, bool hexCodes,
                             const std::vector<double>* block = nullptr, double blockMean = 0,
                             const std::vector<double>* sineDensity = nullptr);

// The sine test of a tone near `toneHz` (SineFigures.cpp). Not present when the
// segment is too short to hold the tone's and the harmonics' bins apart.
SineFigures ComputeSineFigures(const std::vector<double>& values, double mean, double sampleRate,
                               int segmentLength, double toneHz, double reference);
// The same from a Welch density with BlackmanHarrisWindow(segmentLength)
// (bins 0 .. segmentLength/2), for a span averaged piece by piece.
SineFigures SineFiguresFromDensity(std::vector<double> density, double sampleRate, int segmentLength,
                                   double toneHz, double reference);
// The sine test's window: 7-term Blackman-Harris, periodic, `len` samples.
std::vector<double> BlackmanHarrisWindow(int len);
