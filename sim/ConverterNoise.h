// What makes the simulated converter's readings move: noise that depends on
// the data rate and the gain like a converter data sheet's noise table, and
// optional slow drift (a random walk and a temperature-like sine). Pure
// numbers; SimBoard draws the random values.
#pragma once

namespace vexlo::sim {

// RMS noise in output codes at a rate code 0..10 and a gain code 0..5 (codes
// outside are clamped): lower rates are quieter (the filter averages
// longer), higher gains show more codes of noise (the input-referred noise
// falls less than the gain rises). The table is in sim/README.md.
double noiseRmsCodes(int rateCode, int gainCode);

struct Drift {
    // Random walk: each reading adds a Gaussian step of walk * sqrt(1 / sps)
    // codes, so after t seconds the walk has spread by walk * sqrt(t) codes.
    double walk = 0;
    // Slow sine of this amplitude in codes and this period in seconds of
    // board time (readings / nominal sps), like a temperature coefficient.
    double tempco = 0;
    double tempcoPeriodS = 600;
};

} // namespace vexlo::sim
