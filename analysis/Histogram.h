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
    bool onePerStep = false;    // one bin per code (or per step of the values)
    std::vector<HistogramBin> bins;
    std::vector<NormalPoint> normal;  // empty when the RMS is 0 or there are < 2 values
};

// Up to this many codes (steps) a bar stands for one code; wider blocks get
// kHistogramBins equal bins.
constexpr int kMaxStepBins = 1024;
constexpr int kHistogramBins = 256;

// `hexCodes`: values are whole codes, one step = 1 code. Otherwise the step is
// the smallest gap between distinct values (millivolt texts carry a fixed
// number of decimals, so their values sit on such a grid). `mean` and `rms`
// shape the normal curve (pass the block's figures).
Histogram ComputeHistogram(const std::vector<double>& values, bool hexCodes, double mean, double rms);
