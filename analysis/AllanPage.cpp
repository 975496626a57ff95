#include "analysis/AllanPage.h"

#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

AllanPage::AllanPage(QWidget* parent) : QWidget(parent)
{
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignTop);
    x_ = new QLogValueAxis(chart);
    y_ = new QLogValueAxis(chart);
    x_->setTitleText(QStringLiteral("τ [s]"));
    x_->setLabelFormat(QStringLiteral("%g"));
    y_->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(x_, Qt::AlignBottom);
    chart->addAxis(y_, Qt::AlignLeft);
    for (int c = 0; c < 2; ++c) {
        auto* series = new QLineSeries(chart);
        series->setPointsVisible(true);
        // The main graph's colours: CH0 blue, CH1 red.
        series->setColor(c == 0 ? QColor(0, 0, 255) : QColor(255, 0, 0));
        chart->addSeries(series);
        series->attachAxis(x_);
        series->attachAxis(y_);
        series_[c] = series;
    }
    view_ = new QChartView(chart, this);
    view_->setAccessibleName(QStringLiteral("アラン偏差のグラフ"));
    view_->setMinimumHeight(260);
    Minimum = new QLabel(this);
    Minimum->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_, 1);
    layout->addWidget(Minimum);
}

void AllanPage::Show(const std::vector<std::pair<QString, const std::vector<double>*>>& channels,
                     double sampleRate, const QString& unit)
{
    channels_.clear();
    for (const auto& [name, values] : channels)
        channels_.emplace_back(name, *values);
    sampleRate_ = sampleRate;
    unit_ = unit;
    points_.clear();
    pending_ = true;
    if (isVisible())
        recompute();
}

void AllanPage::ShowPoints(const std::vector<std::pair<QString, std::vector<AllanPoint>>>& channels,
                           double sampleRate, const QString& unit)
{
    channels_.clear();
    names_.clear();
    points_.clear();
    for (const auto& [name, points] : channels) {
        names_.push_back(name);
        points_.push_back(points);
    }
    sampleRate_ = sampleRate;
    unit_ = unit;
    pending_ = false;
    draw();
}

void AllanPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (pending_)
        recompute();
}

void AllanPage::recompute()
{
    pending_ = false;
    points_.clear();
    names_.clear();
    for (const auto& [name, values] : channels_) {
        names_.push_back(name);
        points_.push_back(ComputeAllanDeviation(values, sampleRate_));
    }
    draw();
}

void AllanPage::draw()
{
    for (QLineSeries* s : series_) {
        s->clear();
        s->setVisible(false);
    }
    QStringList lines;
    double lowX = 0, highX = 0, lowY = 0, highY = 0;
    for (size_t k = 0; k < points_.size(); ++k) {
        const QString& name = names_[k];
        const std::vector<AllanPoint>& p = points_[k];
        lines << name + QStringLiteral(": ") + AllanMinimumText(p, unit_);
        QLineSeries* s = series_[name == QLatin1String("CH1") ? 1 : 0];
        s->setName(name);
        for (const AllanPoint& a : p) {
            // A log axis cannot show zero: a noiseless interval is left out.
            if (!(a.deviation > 0))
                continue;
            s->append(a.tau, a.deviation);
            lowX = lowX > 0 ? std::min(lowX, a.tau) : a.tau;
            highX = std::max(highX, a.tau);
            lowY = lowY > 0 ? std::min(lowY, a.deviation) : a.deviation;
            highY = std::max(highY, a.deviation);
        }
        s->setVisible(s->count() > 0);
    }
    if (lowX > 0) {
        // Whole decades around the points.
        x_->setRange(std::pow(10, std::floor(std::log10(lowX))), std::pow(10, std::ceil(std::log10(highX) + 1e-9)));
        y_->setRange(std::pow(10, std::floor(std::log10(lowY))), std::pow(10, std::ceil(std::log10(highY) + 1e-9)));
    }
    y_->setTitleText(QStringLiteral("アラン偏差 [") + unit_ + u']');
    Minimum->setText(names_.empty() ? QStringLiteral("---")
                     : sampleRate_ > 0 ? lines.join(u'\n')
                                      : QStringLiteral("データレート不明のため τ がわかりません"));
}
