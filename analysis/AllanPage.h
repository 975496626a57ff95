#pragma once
// The "アラン偏差" page of the noise analysis window: the Allan deviation of
// each channel on a log-log chart (tau in seconds, deviation in the block's
// unit) and each channel's minimum named as text.

#include <QString>
#include <QWidget>
#include <utility>
#include <vector>

#include "analysis/AllanDeviation.h"

class QChartView;
class QLabel;
class QLineSeries;
class QLogValueAxis;

class AllanPage : public QWidget {
    Q_OBJECT
public:
    explicit AllanPage(QWidget* parent = nullptr);

    // Shows the curves of (channel name, values) at `sampleRate` (0: rate
    // unknown, no curve) with `unit` on the value axis. While the page is
    // hidden the values are kept and the curves computed when it shows.
    void Show(const std::vector<std::pair<QString, const std::vector<double>*>>& channels, double sampleRate,
              const QString& unit);

    // Shows curves computed elsewhere (a span's, see SpanAnalysis).
    void ShowPoints(const std::vector<std::pair<QString, std::vector<AllanPoint>>>& channels, double sampleRate,
                    const QString& unit);

    // The points shown, per channel in the order given (none computed yet
    // while the page has not shown since the last block).
    const std::vector<std::vector<AllanPoint>>& Points() const { return points_; }
    QLabel* Minimum = nullptr;   // one line per channel: its minimum and tau

protected:
    void showEvent(QShowEvent* event) override;

private:
    void recompute();
    void draw();

    std::vector<std::pair<QString, std::vector<double>>> channels_;
    double sampleRate_ = 0;
    QString unit_;
    bool pending_ = false;
    QChartView* view_ = nullptr;
    QLineSeries* series_[2] = {nullptr, nullptr};
    QLogValueAxis* x_ = nullptr;
    QLogValueAxis* y_ = nullptr;
    std::vector<QString> names_;
    std::vector<std::vector<AllanPoint>> points_;
};
