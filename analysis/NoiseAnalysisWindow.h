#pragma once
// "ノイズ解析": a tool window of Form1 that shows the noise figures,
// histogram and spectrum of the last block and follows each new one. It only
// reads the block (through the decoding functions) and changes nothing in
// the main window. A span of a data file (chosen in the live view) can be
// handed to it instead: that span, of any length, is read and analysed on a
// worker thread (analysis/FileSpan) while the window stays responsive, until
// the next block replaces it.

#include <QString>
#include <QWidget>
#include <memory>
#include <utility>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/Histogram.h"
#include "analysis/NoiseStats.h"
#include "analysis/NoiseDensity.h"

class AllanPage;
class BackgroundJob;
class Form1;
class SampleBlock;
class QChartView;
class QLineSeries;
class QValueAxis;
class QLabel;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTimer;
class QVBoxLayout;
struct FileSpanResult;

class NoiseAnalysisWindow : public QWidget {
    Q_OBJECT
public:
    explicit NoiseAnalysisWindow(Form1* owner);
    ~NoiseAnalysisWindow() override;

    // Reads the owner's last block and shows it (the spectrum when its tab is
    // shown). While a measurement runs the last analysis stays.
    void Refresh();

    // Analyses records first .. end - 1 of the data file at `path` (a
    // cancelled or unfinished analysis before it is dropped). The window
    // shows the progress, then the span's figures, or why there are none.
    void AnalyzeFileSpan(const QString& path, qint64 first, qint64 end);
    // A span's analysis is running.
    bool Busy() const { return job_ != nullptr; }
    // Stops a running span's analysis; the window says it was cancelled.
    void CancelSpan();

    // The statistics as a tab-separated table; what "テキストでコピー" copies.
    QString StatsText() const;
    // True when the spectrum of the block shown has been computed.
    bool SpectrumReady() const { return spectrumReady_; }

    struct Channel {
        QString name;            // "CH0", "CH1"
        std::vector<double> values;
        NoiseStats stats;
        Histogram histogram;
        Spectrum spectrum;
        // A file span's: its Allan deviation (the values are not kept) and
        // whether it had too many distinct values for a histogram.
        std::vector<AllanPoint> allan;
        bool histogramOverflow = false;
    };
    const std::vector<Channel>& Channels() const { return channels_; }
    bool Hex() const { return hex_; }

    // Controls, public so that tests can read and drive them.
    QLabel* Summary = nullptr;       // what block is shown, or why none
    QTableWidget* Table = nullptr;   // one row per channel
    QTabWidget* Tabs = nullptr;      // "ヒストグラム", "スペクトル"
    QLabel* Peaks = nullptr;         // the largest tones as text
    AllanPage* Allan = nullptr;      // "アラン偏差": chart and minimum
    QPushButton* CancelButton = nullptr;  // "解析を中止": while a span is analysed
    QPushButton* CopyText = nullptr;
    QPushButton* CopyImage = nullptr;
    QPushButton* CloseButton = nullptr;

signals:
    // A block has been read and shown.
    void Updated();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct SpanJob;
    void stopJob();
    void spanDone();
    void showSpanProgress();
    void showChannels();
    // Summary pieces: "CH0, CH1" and "1200sps / バイナリデータ [digit]".
    QString channelNames() const;
    QString rateAndFormat(const QString& rateText) const;
    void scheduleRefresh();
    void showStats();
    void showHistograms();
    void showSpectrum();
    void clearPlots();

    Form1* owner_;
    bool refreshQueued_ = false;
    bool hex_ = true;
    double sampleRate_ = 0;
    bool spectrumReady_ = false;
    bool span_ = false;  // channels_ hold a file span's figures, not the block's
    std::vector<Channel> channels_;
    std::unique_ptr<SpanJob> job_;
    std::unique_ptr<BackgroundJob> worker_;  // runs job_
    QTimer* progress_ = nullptr;
    QWidget* histogramPage_ = nullptr;
    QVBoxLayout* histogramLayout_ = nullptr;
    struct HistogramPlot {
        QChartView* view = nullptr;
        QLineSeries* bars = nullptr;    // outline of the bars (upper edge of a filled area)
        QLineSeries* normal = nullptr;  // normal curve of the same mean and RMS
        QValueAxis* x = nullptr;
        QValueAxis* y = nullptr;
    };
    std::vector<HistogramPlot> histogramPlots_;
    QWidget* spectrumPage_ = nullptr;
    QChartView* spectrumView_ = nullptr;
    QLineSeries* spectrumSeries_[2] = {nullptr, nullptr};
    QValueAxis* spectrumX_ = nullptr;
    QValueAxis* spectrumY_ = nullptr;
};
