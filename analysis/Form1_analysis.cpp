// The window's side of the noise analysis: opening the one analysis window.

#include "analysis/NoiseAnalysisWindow.h"
#include "app/Form1.h"

NoiseAnalysisWindow* Form1::NoiseAnalysis() const { return noiseAnalysis_; }

void Form1::ShowNoiseAnalysis()
{
    if (!noiseAnalysis_)
        noiseAnalysis_ = new NoiseAnalysisWindow(this);
    noiseAnalysis_->show();
    noiseAnalysis_->raise();
    noiseAnalysis_->activateWindow();
}
