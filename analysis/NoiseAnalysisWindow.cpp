#include "analysis/NoiseAnalysisWindow.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "analysis/AllanPage.h"
#include "analysis/FileSpan.h"
#include "analysis/NoiseDensityText.h"
#include "app/BackgroundJob.h"
#include "app/Form1.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

namespace {

constexpr int kSpectrumTab = 1;
// Charts stay readable at the window's smallest size; the page scrolls instead.
constexpr int kMinChartHeight = 220;

// Ticks at round values: a 1-2-5 step giving about six of them, labels with
// the decimals the step needs; on a count axis whole numbers only.
void roundTicks(QValueAxis* axis, double from, double to, bool whole)
{
    if (!(to > from))
        to = from + 1;
    const double raw = (to - from) / 6;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (magnitude * m >= raw) {
            step = magnitude * m;
            break;
        }
    if (whole)
        step = std::max(step, 1.0);
    // Fixed ticks while range and interval change: an old interval against a
    // new, wider range would lay out millions of ticks in between.
    axis->setTickType(QValueAxis::TicksFixed);
    axis->setRange(from, to);
    axis->setTickInterval(step);
    axis->setTickAnchor(std::floor(from / step) * step);
    axis->setTickType(QValueAxis::TicksDynamic);
    const int decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    axis->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) + u'f');
}

// The main graph's colours: CH0 blue, CH1 red.
QColor channelColor(int index) { return index == 0 ? QColor(0, 0, 255) : QColor(255, 0, 0); }

QString unitText(bool hex) { return hex ? QStringLiteral("digit") : QStringLiteral("mV"); }

// How often the progress of a span's analysis is shown.
constexpr int kProgressMs = 200;

} // namespace

// A file span analysed on a worker thread, which writes `rows`, `result`
// and `channels`; the window reads the last two once it is done.
struct NoiseAnalysisWindow::SpanJob {
    QString path;
    qint64 first = 0, end = 0;
    std::atomic<qint64> rows{0};
    FileSpanResult result;
    std::vector<Channel> channels;
};

NoiseAnalysisWindow::NoiseAnalysisWindow(Form1* owner) : QWidget(owner, Qt::Tool), owner_(owner)
{
    setObjectName(QStringLiteral("NoiseAnalysis"));
    setWindowTitle(QStringLiteral("ノイズ解析"));
    setAttribute(Qt::WA_DeleteOnClose);

    Summary = new QLabel(this);
    Summary->setWordWrap(true);
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);  // no text caret
    Summary->setFocusPolicy(Qt::StrongFocus);

    Table = new QTableWidget(this);
    Table->setAccessibleName(QStringLiteral("統計"));
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setTabKeyNavigation(false);  // Tab leaves the table for the next control
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    // As tall as its rows: the window's smallest size never hides a channel.
    Table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    Tabs = new QTabWidget(this);
    histogramPage_ = new QWidget;
    histogramLayout_ = new QVBoxLayout(histogramPage_);
    histogramLayout_->setContentsMargins(0, 0, 0, 0);
    auto* histogramScroll = new QScrollArea;
    histogramScroll->setWidgetResizable(true);
    histogramScroll->setFrameShape(QFrame::NoFrame);
    histogramScroll->setWidget(histogramPage_);
    Tabs->addTab(histogramScroll, QStringLiteral("ヒストグラム(&H)"));

    spectrumPage_ = new QWidget;
    auto* spectrumLayout = new QVBoxLayout(spectrumPage_);
    spectrumLayout->setContentsMargins(0, 0, 0, 0);
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignTop);
    spectrumX_ = new QValueAxis(chart);
    spectrumY_ = new QValueAxis(chart);
    spectrumY_->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(spectrumX_, Qt::AlignBottom);
    chart->addAxis(spectrumY_, Qt::AlignLeft);
    for (int c = 0; c < 2; ++c) {
        auto* series = new QLineSeries(chart);
        series->setName(c == 0 ? QStringLiteral("CH0") : QStringLiteral("CH1"));
        series->setPen(QPen(channelColor(c), 1));
        chart->addSeries(series);
        series->attachAxis(spectrumX_);
        series->attachAxis(spectrumY_);
        spectrumSeries_[c] = series;
    }
    spectrumView_ = new QChartView(chart, spectrumPage_);
    spectrumView_->setAccessibleName(QStringLiteral("スペクトルのグラフ"));
    spectrumView_->setMinimumHeight(kMinChartHeight);
    Peaks = new QLabel(spectrumPage_);
    Peaks->setAccessibleName(QStringLiteral("最大のピーク"));
    Peaks->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Peaks->setFocusPolicy(Qt::StrongFocus);
    spectrumLayout->addWidget(spectrumView_, 1);
    spectrumLayout->addWidget(Peaks);
    Tabs->addTab(spectrumPage_, QStringLiteral("スペクトル(&S)"));
    Allan = new AllanPage;
    Tabs->addTab(Allan, QStringLiteral("アラン偏差(&A)"));

    CancelButton = new QPushButton(QStringLiteral("解析を中止(&X)"), this);
    CancelButton->setVisible(false);
    CopyText = new QPushButton(QStringLiteral("テキストでコピー(&T)"), this);
    CopyImage = new QPushButton(QStringLiteral("グラフを画像でコピー(&G)"), this);
    CloseButton = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CancelButton);
    buttons->addWidget(CopyText);
    buttons->addWidget(CopyImage);
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Summary);
    layout->addWidget(Table);
    layout->addWidget(Tabs, 1);
    layout->addLayout(buttons);
    // Open inside the screen's available area.
    QSize size(900, 700);
    if (const QScreen* screen = owner_->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);

    connect(CopyText, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(StatsText()); });
    connect(CopyImage, &QPushButton::clicked, this, [this] {
        // The whole page, also the part of the histograms scrolled out of view.
        QWidget* page = Tabs->currentIndex() == kSpectrumTab ? spectrumPage_ : histogramPage_;
        QGuiApplication::clipboard()->setImage(page->grab().toImage());
    });
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
    connect(CancelButton, &QPushButton::clicked, this, &NoiseAnalysisWindow::CancelSpan);
    worker_ = std::make_unique<BackgroundJob>();
    progress_ = new QTimer(this);
    progress_->setInterval(kProgressMs);
    connect(progress_, &QTimer::timeout, this, &NoiseAnalysisWindow::showSpanProgress);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    // The spectrum costs the most; it is computed when its tab is shown.
    connect(Tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == kSpectrumTab && !spectrumReady_)
            showSpectrum();
    });
    connect(owner_, &Form1::BlockCompleted, this, &NoiseAnalysisWindow::scheduleRefresh);

    Refresh();
}

NoiseAnalysisWindow::~NoiseAnalysisWindow()
{
    stopJob();
}

void NoiseAnalysisWindow::closeEvent(QCloseEvent* event)
{
    stopJob();
    QWidget::closeEvent(event);
}

void NoiseAnalysisWindow::stopJob()
{
    if (!job_)
        return;
    // The reader stops at its next block of rows: a wait of a moment.
    worker_->Stop();
    job_.reset();
    progress_->stop();
    CancelButton->setVisible(false);
}

void NoiseAnalysisWindow::CancelSpan()
{
    if (!job_)
        return;
    stopJob();
    Summary->setText(QStringLiteral("解析を中止しました。"));
}

void NoiseAnalysisWindow::AnalyzeFileSpan(const QString& path, qint64 first, qint64 end)
{
    stopJob();
    span_ = true;
    channels_.clear();
    spectrumReady_ = false;
    showChannels();
    job_ = std::make_unique<SpanJob>();
    SpanJob* j = job_.get();
    j->path = path;
    j->first = std::max<qint64>(first, 0);
    j->end = std::max(end, j->first);
    auto work = [j](const std::atomic<bool>& cancel) {
        FileSpanRequest request;
        request.from = SpanBound{SpanBound::Index, j->first};
        request.to = SpanBound{SpanBound::Index, j->end};
        request.stopAfterSpan = true;
        request.cancel = &cancel;
        request.progress = [j](qint64 rows) { j->rows.store(rows, std::memory_order_relaxed); };
        j->result = ::AnalyzeFileSpan(j->path, request);
        if (j->result.outcome != FileSpanResult::Done)
            return;
        for (size_t k = 0; k < j->result.channels.size() && !cancel; ++k) {
            const SpanAnalysis& a = *j->result.channels[k];
            Channel c;
            c.name = j->result.ChannelName(int(k));
            c.stats = a.Stats();
            c.histogram = a.ComputedHistogram();
            c.histogramOverflow = a.HistogramOverflow();
            c.spectrum = a.ComputedSpectrum();
            c.allan = a.ComputedAllan();
            j->channels.push_back(std::move(c));
        }
    };
    worker_->Start(this, work, [this] { spanDone(); });
    CancelButton->setVisible(true);
    progress_->start();
    showSpanProgress();
}

void NoiseAnalysisWindow::showSpanProgress()
{
    if (!job_)
        return;
    const qint64 rows = job_->rows.load(std::memory_order_relaxed);
    const int percent = job_->end > 0 ? int(std::clamp<qint64>(rows * 100 / job_->end, 0, 100)) : 0;
    Summary->setText(QStringLiteral("解析中: %1  記録 %2 – %3  %4 %")
                         .arg(QFileInfo(job_->path).fileName())
                         .arg(job_->first)
                         .arg(job_->end - 1)
                         .arg(percent));
}

void NoiseAnalysisWindow::spanDone()
{
    std::unique_ptr<SpanJob> done = std::move(job_);
    progress_->stop();
    CancelButton->setVisible(false);
    const FileSpanResult& r = done->result;
    const QString name = QFileInfo(done->path).fileName();
    if (r.outcome != FileSpanResult::Done || r.first < 0) {
        channels_.clear();
        showChannels();
        Summary->setText(r.outcome == FileSpanResult::Cancelled ? QStringLiteral("解析を中止しました。")
                         : r.first < 0 && r.outcome == FileSpanResult::Done
                             ? name + QStringLiteral(": 範囲に記録がありません")
                             : r.error);
        emit Updated();
        return;
    }
    channels_ = std::move(done->channels);
    hex_ = r.header.content.hex;
    sampleRate_ = r.header.samplesPerSecond;
    QString text = name + QStringLiteral(" / 記録 %1 – %2 (%3 個) / ").arg(r.first).arg(r.last).arg(r.last - r.first + 1)
                   + channelNames() + QStringLiteral(" / ") + rateAndFormat(r.header.content.rateEntry);
    for (const Channel& c : channels_)
        if (c.histogramOverflow)
            text += QStringLiteral(" / ") + c.name + QStringLiteral(": 値の種類が %1 を超えるためヒストグラムはありません")
                                                      .arg(kMaxDistinctValues);
    Summary->setText(text);
    showChannels();
    emit Updated();
}

QString NoiseAnalysisWindow::channelNames() const
{
    QStringList names;
    for (const Channel& c : channels_)
        names << c.name;
    return names.join(QStringLiteral(", "));
}

QString NoiseAnalysisWindow::rateAndFormat(const QString& rateText) const
{
    return (sampleRate_ > 0 ? rateText : QStringLiteral("データレート不明")) + QStringLiteral(" / ")
           + (hex_ ? QStringLiteral("バイナリデータ [digit]") : QStringLiteral("mVデータ [mV]"));
}

void NoiseAnalysisWindow::showChannels()
{
    showStats();
    showHistograms();
    if (span_) {
        std::vector<std::pair<QString, std::vector<AllanPoint>>> allan;
        for (const Channel& c : channels_)
            allan.emplace_back(c.name, c.allan);
        Allan->ShowPoints(allan, sampleRate_, unitText(hex_));
        // Computed with the rest on the worker thread: drawn now.
        showSpectrum();
        return;
    }
    std::vector<std::pair<QString, const std::vector<double>*>> allan;
    for (const Channel& c : channels_)
        allan.emplace_back(c.name, &c.values);
    Allan->Show(allan, sampleRate_, unitText(hex_));
    if (Tabs->currentIndex() == kSpectrumTab)
        showSpectrum();
}

void NoiseAnalysisWindow::scheduleRefresh()
{
    // The main window finishes its own end of block (status line, graph and
    // their repaint) first; the analysis follows from the event loop.
    if (refreshQueued_)
        return;
    refreshQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshQueued_ = false;
        Refresh();
    });
}

void NoiseAnalysisWindow::Refresh()
{
    if (owner_->Measuring) {
        // The block is being overwritten: the last analysis stays.
        if (channels_.empty())
            Summary->setText(QStringLiteral("測定中です。ブロックが終わると表示します。"));
        return;
    }
    // A block replaces a file span's analysis, running or shown.
    stopJob();
    span_ = false;
    const int count = std::clamp(int(owner_->RecvCount), 0, kSampleCapacity);
    const int mode = owner_->ChannelMode;
    hex_ = owner_->MeasuredHex;
    sampleRate_ = SampleRateFromText(owner_->MeasuredRate);
    channels_.clear();
    spectrumReady_ = false;
    if (count > 0) {
        for (int ch = 0; ch < 2; ++ch) {
            if (!(mode == ch || mode == 2))
                continue;
            Channel c;
            c.name = ch == 0 ? QStringLiteral("CH0") : QStringLiteral("CH1");
            int invalid = 0;
            c.values = ChannelValues(owner_->Samples, ch, count, hex_, &invalid);
            c.stats = ChannelStats(c.values, invalid, hex_);
            c.histogram = ComputeHistogram(c.values, hex_, c.stats.mean, c.stats.rms);
            channels_.push_back(std::move(c));
        }
    }

    if (channels_.empty()) {
        Summary->setText(QStringLiteral("ブロックがありません。測定が終わると表示します。"));
    } else {
        QString text = channelNames() + QStringLiteral(" / ") + QString::number(count) + QStringLiteral(" 個 / ")
                       + rateAndFormat(owner_->MeasuredRate);
        if (owner_->RecvCount < owner_->SampleCount)
            text += QStringLiteral(" / 途中で止まったブロック");
        for (const Channel& c : channels_)
            if (c.stats.invalid > 0)  // left out of every figure
                text += QStringLiteral(" / ") + c.name + QStringLiteral(" 不正値 ") + QString::number(c.stats.invalid);
        Summary->setText(text);
    }
    showChannels();
    emit Updated();
}

QString NoiseAnalysisWindow::StatsText() const
{
    std::vector<std::pair<QString, NoiseStats>> rows;
    for (const Channel& c : channels_)
        rows.emplace_back(c.name, c.stats);
    return NoiseStatsTable(rows, hex_);
}

void NoiseAnalysisWindow::showStats()
{
    // The same titles and cells as the copied table.
    QStringList titles = NoiseStatsTable({}, hex_).section(u'\n', 0, 0).split(u'\t');
    titles.removeFirst();  // "CH": the row titles carry the channel
    Table->clear();
    Table->setColumnCount(int(titles.size()));
    Table->setHorizontalHeaderLabels(titles);
    Table->setRowCount(int(channels_.size()));
    QStringList rowNames;
    for (int r = 0; r < int(channels_.size()); ++r) {
        rowNames << channels_[size_t(r)].name;
        const QStringList cells = NoiseStatsCells(channels_[size_t(r)].stats, hex_);
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            Table->setItem(r, col, item);
        }
    }
    Table->setVerticalHeaderLabels(rowNames);
    Table->setVisible(!channels_.empty());
}

void NoiseAnalysisWindow::showHistograms()
{
    while (histogramPlots_.size() < channels_.size()) {
        HistogramPlot p;
        auto* chart = new QChart;
        chart->legend()->setAlignment(Qt::AlignTop);
        auto* area = new QAreaSeries;
        p.bars = new QLineSeries(area);
        area->setUpperSeries(p.bars);
        area->setName(QStringLiteral("度数"));
        area->setPen(Qt::NoPen);  // no outline flecking the bars
        p.normal = new QLineSeries(chart);
        p.normal->setName(QStringLiteral("正規分布"));
        p.normal->setPen(QPen(Qt::black, 1.5));
        p.x = new QValueAxis(chart);
        p.y = new QValueAxis(chart);
        p.y->setTitleText(QStringLiteral("個数"));
        p.y->setLabelFormat(QStringLiteral("%.0f"));
        chart->addAxis(p.x, Qt::AlignBottom);
        chart->addAxis(p.y, Qt::AlignLeft);
        for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(area), static_cast<QAbstractSeries*>(p.normal)}) {
            chart->addSeries(s);
            s->attachAxis(p.x);
            s->attachAxis(p.y);
        }
        p.view = new QChartView(chart, histogramPage_);
        p.view->setMinimumHeight(kMinChartHeight);
        histogramLayout_->addWidget(p.view);
        histogramPlots_.push_back(p);
    }
    for (size_t i = 0; i < histogramPlots_.size(); ++i) {
        HistogramPlot& p = histogramPlots_[i];
        p.view->setVisible(i < channels_.size());
        if (i >= channels_.size())
            continue;
        const Channel& c = channels_[i];
        const Histogram& h = c.histogram;
        // The value axis spans the bars (the normal curve is drawn over them
        // only). Millivolt data below 1 mV is drawn in µV, below 1 µV in nV.
        const double from = h.bins.empty() ? 0 : h.bins.front().lower;
        const double to = h.bins.empty() ? 1 : h.bins.back().lower + h.binWidth;
        const double largest = std::max(std::fabs(from), std::fabs(to));
        double scale = 1;
        QString unit = unitText(hex_);
        if (!hex_ && largest < 1e-3) {
            scale = 1e6;
            unit = QStringLiteral("nV");
        } else if (!hex_ && largest < 1) {
            scale = 1e3;
            unit = QStringLiteral("µV");
        }
        QList<QPointF> bars, normal;
        bars.reserve(qsizetype(h.bins.size() * 2 + 2));
        double top = 1;
        for (const HistogramBin& b : h.bins) {
            if (bars.isEmpty())
                bars << QPointF(b.lower * scale, 0);
            bars << QPointF(b.lower * scale, b.count) << QPointF((b.lower + h.binWidth) * scale, b.count);
            top = std::max(top, double(b.count));
        }
        if (!h.bins.empty())
            bars << QPointF((h.bins.back().lower + h.binWidth) * scale, 0);
        for (const NormalPoint& n : h.normal) {
            normal << QPointF(n.x * scale, n.count);
            top = std::max(top, n.count);
        }
        p.bars->replace(bars);
        p.normal->replace(normal);
        roundTicks(p.x, from * scale, to * scale, hex_);
        p.x->setTitleText(c.name + QStringLiteral(" [") + unit + u']');
        roundTicks(p.y, 0, top * 1.05, true);
        p.view->setAccessibleName(c.name + QStringLiteral(" のヒストグラム"));
    }
}

void NoiseAnalysisWindow::showSpectrum()
{
    spectrumReady_ = true;
    QStringList lines;
    double low = 0, high = 0;
    bool any = false;
    // Series 0 draws CH0 (blue), series 1 CH1 (red), as in the main graph.
    for (QLineSeries* series : spectrumSeries_) {
        series->clear();
        series->setVisible(false);
    }
    for (Channel& c : channels_) {
        if (!span_)
            c.spectrum = ComputeSpectrum(c.values, sampleRate_, hex_);
        const Spectrum& sp = c.spectrum;
        QList<QPointF> points;
        points.reserve(qsizetype(sp.density.size()));
        // Bin 0 holds what is left of the removed mean: not drawn.
        for (size_t k = 1; k < sp.density.size(); ++k) {
            const double d = sp.density[k];
            if (d < -300)
                continue;
            points << QPointF(sp.frequency[k], d);
            low = any ? std::min(low, d) : d;
            high = any ? std::max(high, d) : d;
            any = true;
        }
        QLineSeries* series = spectrumSeries_[c.name == QLatin1String("CH0") ? 0 : 1];
        series->replace(points);
        series->setVisible(true);

        if (sp.density.empty()) {
            lines << c.name + QStringLiteral(": サンプルが少ないためスペクトルはありません");
            continue;
        }
        const QStringList cells = SpectrumCells(sp, hex_, sampleRate_ > 0);
        const QString floorLine = c.name + QStringLiteral(": ノイズフロア ") + cells[0]
                            + (hex_ ? QStringLiteral(" dBFS/√Hz") : QStringLiteral(" dB re 1 mV/√Hz"))
                            + QStringLiteral(", RBW ") + cells[1] + (sampleRate_ > 0 ? QStringLiteral(" Hz") : QString())
                            + QStringLiteral(", セグメント長 ") + cells[2] + QStringLiteral(", 平均回数 ") + cells[3];
        lines << floorLine;
        lines << c.name + QStringLiteral(" の最大のピーク: ") + cells[4];
        if (sp.sine.present)
            lines << c.name + QStringLiteral(" 正弦波: SNR ") + cells[5] + QStringLiteral(" dB, THD ") + cells[6]
                         + QStringLiteral(" dB, SINAD ") + cells[7] + QStringLiteral(" dB, SFDR ") + cells[8]
                         + QStringLiteral(" dB, ENOB ") + cells[9] + QStringLiteral(" bit");
    }
    Peaks->setText(channels_.empty() ? (span_ ? QString() : QStringLiteral("ブロックがありません。"))
                                     : lines.join(u'\n'));

    // With no spectrum to draw the message stands alone, without empty axes.
    spectrumView_->setVisible(any);
    const double nyquist = sampleRate_ > 0 ? sampleRate_ / 2 : 0.5;
    roundTicks(spectrumX_, 0, nyquist, false);
    spectrumX_->setTitleText(sampleRate_ > 0 ? QStringLiteral("周波数 [Hz]")
                                             : QStringLiteral("周波数 [サンプル周波数比]"));
    if (any)
        roundTicks(spectrumY_, std::floor(low / 10) * 10, std::ceil(high / 10) * 10, false);
    spectrumY_->setTitleText(hex_ ? QStringLiteral("dBFS/√Hz") : QStringLiteral("dB re 1 mV/√Hz"));
}
