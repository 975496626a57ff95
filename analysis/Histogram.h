#pragma once
// Histogram of one channel's values with the normal curve of the same mean
// and RMS noise, so that outliers and non-Gaussian noise show at a glance.

#include <vector>

struct HistogramBin {
    double lower = 0;   // lower edge; the bin holds lower <= v < lower + width
    double center = 0;
    int count = 0;
};

struct NormalPoint {
    double x = 0;
    double count = 0;   // expected count of a bin of the histogram's width at x
};

struct Histogram {
    double binWidth = 0;
    double step = 0;            // the data's step: one code, or one unit of the last decimal
    bool onePerStep = false;    // one bin per code (or per step of the values)
    std::vector<HistogramBin> bins;
    std::vector<NormalPoint> normal;  // over the bars; empty when the RMS is 0 or there are < 2 values
};

// Up to this many codes (steps) a bar stands for one code. Wider blocks get
// bins of a whole number of steps, as many as the Freedman-Diaconis rule
// asks for (2 IQR / n^(1/3) wide) but kept within kMinHistogramBins ..
// kMaxHistogramBins; their edges lie on multiples of the bin width.
constexpr int kMaxStepBins = 1024;
constexpr int kMinHistogramBins = 16;
constexpr int kMaxHistogramBins = 256;

// `hexCodes`: values are whole codes, one step = 1 code. Otherwise the step is
// one unit of the last decimal the values carry (millivolt texts have a fixed
// number of decimals). `mean` and `rms` shape the normal curve (pass the
// block's figures). Values that are not finite are left out; a span beyond a
// double's range gives no bars.
Histogram ComputeHistogram(const std::vector<double>& values, bool hexCodes, double mean, double rms);
