#include "sim/ConverterNoise.h"

#include <algorithm>

namespace vexlo::sim {

namespace {

// RMS codes: rows are rate codes (5 .. 1200 sps), columns gain codes
// (gain 1, 8, 16, 32, 64, 128).
constexpr double kNoiseRms[11][6] = {
    {2.0, 3.0, 4.4, 7.2, 13.0, 24.0},     // 5 sps
    {2.5, 3.8, 5.5, 9.0, 16.2, 30.0},     // 10 sps
    {3.2, 4.8, 7.0, 11.5, 20.8, 38.4},    // 20 sps
    {4.5, 6.8, 9.9, 16.2, 29.2, 54.0},    // 50 sps
    {5.0, 7.5, 11.0, 18.0, 32.5, 60.0},   // 60 sps
    {6.5, 9.8, 14.3, 23.4, 42.2, 78.0},   // 100 sps
    {9.0, 13.5, 19.8, 32.4, 58.5, 108.0}, // 200 sps
    {13.0, 19.5, 28.6, 46.8, 84.5, 156.0},   // 400 sps
    {18.0, 27.0, 39.6, 64.8, 117.0, 216.0},  // 800 sps
    {20.0, 30.0, 44.0, 72.0, 130.0, 240.0},  // 960 sps
    {22.0, 33.0, 48.4, 79.2, 143.0, 264.0},  // 1200 sps
};

} // namespace

double noiseRmsCodes(int rateCode, int gainCode)
{
    return kNoiseRms[std::clamp(rateCode, 0, 10)][std::clamp(gainCode, 0, 5)];
}

} // namespace vexlo::sim
