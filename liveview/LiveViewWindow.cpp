#include "liveview/LiveViewWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QSpinBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <cmath>

#include "app/BackgroundJob.h"
#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/NumberReading.h"
#include "analysis/NoiseAnalysisWindow.h"
#include "board/BoardLists.h"
#include "datafile/DataFileReader.h"
#include "graphview/GraphView.h"
#include "liveview/Recorder.h"
#include "measure/Decoding.h"
#include "measure/GraphGeometry.h"
#include "measure/PictureBox.h"

namespace {

// Margins of the plot inside the chart: value labels left, time labels below.
constexpr int kLeft = 78, kRight = 8, kTop = 4, kBottom = 22;
// A paused view is never narrower than this many records.
constexpr double kMinRecords = 8;
// Frames are painted at most this often; the texts change at a readable pace.
constexpr int kFrameMs = 16;
constexpr int kTextMs = 250;

QString number(double v, int decimals)
{
    return QString::number(v, 'f', std::max(decimals, 0));
}

// Decimals a label needs to tell ticks `step` apart.
int decimalsFor(double step)
{
    return step >= 1 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
}

// "01:02:03" for a number of milliseconds.
QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QColor channelColor(int field)
{
    return ColorFromBgr(GraphChannelColor(field + 1));
}

} // namespace

// A data file read on a worker thread into a history of its own, which
// replaces the window's when it is complete.
struct LiveViewWindow::Load : RecordSink {
    QString path;
    DataFileReader reader;
    // The pace of reading says nothing about the stream the file holds: a
    // slow disk must not mark stalls in it, so arrival times are all one.
    History history{[] { return qint64(0); }};
    const std::atomic<bool>* cancel = nullptr;
    std::atomic<qint64> rows{0};
    bool ok = false;

    bool Begin(const StreamInfo& info) override { return history.Begin(info); }
    bool Append(const SampleBlock& block, int count, qint64 firstIndex) override
    {
        if (cancel->load(std::memory_order_relaxed))
            return false;
        history.Append(block, count, firstIndex);
        rows.store(firstIndex + count, std::memory_order_relaxed);
        return true;
    }
    bool Finish(qint64 total) override { return history.Finish(total); }
    QString Error() const override { return {}; }
};

// ---------------------------------------------------------------------------
// Window
// ---------------------------------------------------------------------------

const std::vector<double>& LiveViewWindow::Spans()
{
    static const std::vector<double> spans{10, 60, 600, 3600, 0};
    return spans;
}

LiveViewWindow::LiveViewWindow(Form1* owner) : QWidget(owner, Qt::Tool), owner_(owner)
{
    setObjectName(QStringLiteral("LiveView"));
    setWindowTitle(QStringLiteral("リアルタイム表示"));
    setAttribute(Qt::WA_DeleteOnClose);

    Summary = new QLabel(this);
    Summary->setObjectName(QStringLiteral("liveSummary"));
    Summary->setAccessibleName(QStringLiteral("ストリームの状態"));
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Summary->setFocusPolicy(Qt::StrongFocus);

    SpanList = new QComboBox(this);
    SpanList->setObjectName(QStringLiteral("liveSpan"));
    SpanList->addItems({QStringLiteral("10 秒"), QStringLiteral("1 分"), QStringLiteral("10 分"),
                        QStringLiteral("1 時間"), QStringLiteral("全体")});
    SpanList->setAccessibleName(QStringLiteral("表示範囲"));
    auto* spanLabel = new QLabel(QStringLiteral("表示範囲(&V):"), this);
    spanLabel->setBuddy(SpanList);

    PauseButton = new QPushButton(QStringLiteral("一時停止(&P)"), this);
    PauseButton->setObjectName(QStringLiteral("livePause"));
    PauseButton->setAccessibleName(QStringLiteral("一時停止"));
    PauseButton->setCheckable(true);

    CloseButton = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    OpenButton = new QPushButton(QStringLiteral("ファイルを開く(&O)..."), this);
    OpenButton->setObjectName(QStringLiteral("liveOpen"));
    AnalyzeButton = new QPushButton(QStringLiteral("範囲をノイズ解析(&A)"), this);
    AnalyzeButton->setObjectName(QStringLiteral("liveAnalyze"));
    AnalyzeButton->setToolTip(QStringLiteral(
        "開いたファイルの選択範囲 (Shift を押しながらドラッグ)、選択がなければ表示範囲をノイズ解析します"));

    Chart = new LiveChart(this);

    statsBox_ = new QWidget(this);
    new QVBoxLayout(statsBox_);
    statsBox_->layout()->setContentsMargins(0, 0, 0, 0);

    RecordButton = new QPushButton(QStringLiteral("記録開始(&R)"), this);
    RecordButton->setObjectName(QStringLiteral("liveRecord"));
    TimeColumn = new QCheckBox(QStringLiteral("時刻の列を付ける(&T)"), this);
    TimeColumn->setObjectName(QStringLiteral("liveTimeColumn"));
    LimitMinutes = new QSpinBox(this);
    LimitMinutes->setObjectName(QStringLiteral("liveLimitMinutes"));
    LimitMinutes->setRange(0, 1000000);
    LimitMinutes->setSpecialValueText(QStringLiteral("なし"));
    LimitMinutes->setSuffix(QStringLiteral(" 分"));
    LimitMinutes->setAccessibleName(QStringLiteral("記録時間の上限"));
    auto* minutesLabel = new QLabel(QStringLiteral("時間の上限(&M):"), this);
    minutesLabel->setBuddy(LimitMinutes);
    LimitRecords = new QSpinBox(this);
    LimitRecords->setObjectName(QStringLiteral("liveLimitRecords"));
    LimitRecords->setRange(0, 2000000000);
    LimitRecords->setSpecialValueText(QStringLiteral("なし"));
    LimitRecords->setSuffix(QStringLiteral(" 件"));
    LimitRecords->setAccessibleName(QStringLiteral("記録件数の上限"));
    auto* recordsLabel = new QLabel(QStringLiteral("件数の上限(&N):"), this);
    recordsLabel->setBuddy(LimitRecords);
    RecordStatus = new QLabel(this);
    RecordStatus->setObjectName(QStringLiteral("liveRecordStatus"));
    RecordStatus->setAccessibleName(QStringLiteral("記録の状態"));
    RecordStatus->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    RecordStatus->setFocusPolicy(Qt::StrongFocus);
    auto* recordRow = new QHBoxLayout;
    recordRow->addWidget(RecordButton);
    recordRow->addWidget(TimeColumn);
    recordRow->addWidget(minutesLabel);
    recordRow->addWidget(LimitMinutes);
    recordRow->addWidget(recordsLabel);
    recordRow->addWidget(LimitRecords);
    recordRow->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(spanLabel);
    top->addWidget(SpanList);
    top->addWidget(PauseButton);
    top->addStretch(1);
    top->addWidget(OpenButton);
    top->addWidget(AnalyzeButton);
    top->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Summary);
    layout->addWidget(Chart, 1);
    layout->addWidget(statsBox_);
    layout->addLayout(recordRow);
    layout->addWidget(RecordStatus);
    resize(820, 560);

    loadJob_ = std::make_unique<BackgroundJob>();
    loadClock_ = new QTimer(this);
    loadClock_->setInterval(200);
    connect(loadClock_, &QTimer::timeout, this, &LiveViewWindow::showState);
    frame_ = new QTimer(this);
    frame_->setSingleShot(true);
    frame_->setInterval(kFrameMs);
    connect(frame_, &QTimer::timeout, this, [this] { frame(false); });

    connect(SpanList, &QComboBox::currentIndexChanged, this, [this] {
        if (Paused()) {
            // The frozen view keeps its right edge and takes the new width.
            const double rate = history_.Info().samplesPerSecond > 0
                                    ? history_.Info().samplesPerSecond : 1;
            const double span = Spans()[size_t(SpanList->currentIndex())] * rate;
            const AxisRange full{0, std::max(1.0, double(history_.Count() - 1))};
            view_ = span > 0 ? PanAxis({view_.hi - span, view_.hi}, full, 0) : full;
        }
        Refresh();
    });
    connect(PauseButton, &QPushButton::toggled, this, [this] { Refresh(); });
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
    connect(OpenButton, &QPushButton::clicked, this, &LiveViewWindow::OpenClicked);
    connect(AnalyzeButton, &QPushButton::clicked, this, &LiveViewWindow::AnalyzeClicked);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this), &QShortcut::activated, this,
            &LiveViewWindow::OpenClicked);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);

    recorder_ = new Recorder(owner_, &history_, this);
    connect(recorder_, &Recorder::progressed, this, [this] {
        showRecording();
        schedule();
    });
    connect(recorder_, &Recorder::ended, this, [this] { showRecording(); });
    connect(RecordButton, &QPushButton::clicked, this, &LiveViewWindow::RecordClicked);
    connect(owner_, &Form1::MeasurementStarted, this, &LiveViewWindow::begin);
    connect(owner_, &Form1::RecordsStored, this, &LiveViewWindow::records);
    connect(owner_, &Form1::MeasurementEnded, this, &LiveViewWindow::ended);
    if (owner_->Measuring) {
        // Opened during a measurement: it shows the records from now on, at
        // their own indices.
        begin();
        if (owner_->RecvCount > 0)
            records(0, owner_->RecvCount);
    }
    showRecording();
    Refresh();
}

void LiveViewWindow::closeEvent(QCloseEvent* event)
{
    cancelLoad();
    // The recording belongs to the window: closing it ends the recording.
    recorder_->Stop();
    QWidget::closeEvent(event);
}

void LiveViewWindow::RecordClicked()
{
    if (recorder_->Active()) {
        recorder_->Stop();
        return;
    }
    if (owner_->Measuring || owner_->InTransaction())
        return;
    SaveDialogRequest request;
    request.title = QStringLiteral("記録ファイル");
    request.filterName = QStringLiteral("(CSVファイル) ");
    request.filterPattern = QStringLiteral("*.csv");
    request.initialFolder = Form1::SaveDialogFolder();
    request.fileName = lastRecordName_;
    const QString path = owner_->WindowDialogs().GetSaveFileName(this, request);
    if (path.isEmpty() || !owner_->MayOverwrite(path))
        return;
    lastRecordName_ = path;
    Recorder::Limit limit;
    limit.ms = qint64(LimitMinutes->value()) * 60000;
    limit.records = LimitRecords->value();
    recorder_->Start(path, TimeColumn->isChecked(), limit);
    showRecording();
}

void LiveViewWindow::showRecording()
{
    const bool active = recorder_->Active();
    RecordButton->setText(active ? QStringLiteral("記録停止(&R)") : QStringLiteral("記録開始(&R)"));
    RecordButton->setEnabled(active || !owner_->Measuring);
    TimeColumn->setEnabled(!active);
    LimitMinutes->setEnabled(!active);
    LimitRecords->setEnabled(!active);
    if (recorder_->Path().isEmpty()) {
        RecordStatus->setText(QStringLiteral("記録していません"));
        return;
    }
    QString text = active ? QStringLiteral("記録中") : QStringLiteral("記録終了");
    text += QStringLiteral("  経過 %1  %2 件  不正 %3 件  %4 バイト")
                .arg(clockText(recorder_->ElapsedMs()))
                .arg(recorder_->Records())
                .arg(history_.Malformed())
                .arg(recorder_->FileBytes());
    if (active && recorder_->LeftMs() >= 0)
        text += QStringLiteral("  残り %1").arg(clockText(recorder_->LeftMs()));
    if (active && recorder_->Limits().records > 0)
        text += QStringLiteral("  残り %1 件").arg(recorder_->Limits().records - recorder_->Records());
    text += QStringLiteral("  ") + QFileInfo(recorder_->Path()).fileName();
    RecordStatus->setText(text);
}

LiveViewWindow::~LiveViewWindow()
{
    cancelLoad();
}

void LiveViewWindow::begin()
{
    cancelLoad();
    StreamInfo info;
    info.header.channelMode = owner_->ChannelMode;
    info.header.hex = owner_->MeasuredHex;
    info.samplesPerSecond = ReadNumber(owner_->MeasuredRate);
    info.started = QDateTime::currentDateTime();
    history_.Begin(info);
    fileText_.clear();
    filePath_.clear();
    fileGain_ = -1;
    selection_ = {0, 0};
    valueView_.clear();
    showRecording();
    view_ = {0, 1};
    rebuildStatsLabels();
    Refresh();
}

void LiveViewWindow::OpenClicked()
{
    const QString path = owner_->WindowDialogs().GetOpenFileName(
        this, QStringLiteral("ファイルを開く"),
        {QStringLiteral("データファイル (*.csv *.CSV)"), QStringLiteral("すべてのファイル (*)")});
    if (path.isEmpty())
        return;
    QString error;
    if (!OpenFile(path, &error))
        owner_->WindowDialogs().Message(this, owner_->AppTitle(), error);
}

bool LiveViewWindow::OpenFile(const QString& path, QString* error)
{
    if (owner_->Measuring || recorder_->Active()) {
        *error = QStringLiteral("測定中はファイルを開けません");
        return false;
    }
    auto load = std::make_unique<Load>();
    if (!load->reader.Open(path)) {
        *error = load->reader.Error();
        return false;
    }
    cancelLoad();
    load->path = path;
    Load* l = load.get();
    load_ = std::move(load);
    // The whole file in one pass; the history keeps it in bounded memory.
    loadJob_->Start(
        this,
        [l](const std::atomic<bool>& cancel) {
            l->cancel = &cancel;
            l->ok = l->reader.ReadRows(*l);
        },
        [this] { loaded(); });
    showState();
    return true;
}

void LiveViewWindow::cancelLoad()
{
    if (!load_)
        return;
    loadJob_->Stop();
    load_.reset();
    showState();
}

void LiveViewWindow::loaded()
{
    std::unique_ptr<Load> done = std::move(load_);
    const QString& path = done->path;
    if (!done->ok) {
        showState();
        owner_->WindowDialogs().Message(this, owner_->AppTitle(), path + QStringLiteral(": ") + done->reader.Error());
        return;
    }
    history_ = std::move(done->history);
    const DataFileHeader& h = done->reader.Header();
    fileText_ = QFileInfo(path).fileName() + QStringLiteral("  ")
                + QStringList{h.content.dateTime, h.content.gainEntry, h.content.filterCaption,
                              h.content.rateEntry, h.content.channelEntry,
                              QStringLiteral("データ個数 %1").arg(h.declaredCount)}
                      .join(QStringLiteral(" / "));
    const QStringList findings = done->reader.Report().Describe();
    if (!findings.isEmpty())
        fileText_ += u'\n' + findings.join(u'\n');
    filePath_ = path;
    // Millivolts are shown with the decimals of the file's gain.
    fileGain_ = int(GainListEntries().indexOf(h.content.gainEntry));
    selection_ = {0, 0};
    valueView_.clear();
    Chart->SetCursor(-1);
    rebuildStatsLabels();
    PauseButton->setChecked(true);
    view_ = {0, std::max(1.0, double(history_.Count() - 1))};
    Refresh();
    emit FileOpened();
}

void LiveViewWindow::Select(AxisRange span)
{
    const double last = std::max(0.0, double(history_.Count() - 1));
    selection_ = {std::clamp(std::min(span.lo, span.hi), 0.0, last), std::clamp(std::max(span.lo, span.hi), 0.0, last)};
    Refresh();
}

std::pair<qint64, qint64> LiveViewWindow::ChosenRecords() const
{
    const AxisRange r = selection_.hi > selection_.lo ? selection_ : view_;
    // The records whose positions lie within the span.
    const qint64 first = std::max<qint64>(0, qint64(std::ceil(r.lo)));
    const qint64 end = std::min<qint64>(history_.Count(), qint64(std::floor(r.hi)) + 1);
    return {first, std::max(first, end)};
}

void LiveViewWindow::AnalyzeClicked()
{
    if (filePath_.isEmpty())
        return;
    const auto [first, end] = ChosenRecords();
    owner_->ShowNoiseAnalysis();
    owner_->NoiseAnalysis()->AnalyzeFileSpan(filePath_, first, end);
}

void LiveViewWindow::records(int first, int count)
{
    history_.AppendRows(owner_->Samples, first, count, first);
    schedule();
}

void LiveViewWindow::ended()
{
    history_.Finish(history_.Count());
    showRecording();
    Refresh();
}

void LiveViewWindow::schedule()
{
    if (!frame_->isActive())
        frame_->start();
}

bool LiveViewWindow::Paused() const
{
    return PauseButton->isChecked();
}

void LiveViewWindow::follow()
{
    const double rate = history_.Info().samplesPerSecond > 0 ? history_.Info().samplesPerSecond : 1;
    const double newest = double(std::max<qint64>(history_.Count() - 1, 0));
    const double span = Spans()[size_t(std::max(SpanList->currentIndex(), 0))] * rate;
    if (span <= 0)
        view_ = {0, std::max(newest, 1.0)};
    else if (newest < span)
        view_ = {0, span};
    else
        view_ = {newest - span, newest};
}

void LiveViewWindow::Refresh()
{
    frame(true);
}

void LiveViewWindow::frame(bool texts)
{
    frame_->stop();
    if (!Paused())
        follow();
    Chart->update();
    // While records arrive the texts change at a readable pace.
    if (texts || !textClock_.isValid() || textClock_.elapsed() >= kTextMs) {
        textClock_.start();
        showState();
    }
}

void LiveViewWindow::ZoomTime(double factor, double anchor)
{
    if (!Paused())
        return;
    const AxisRange full{0, std::max(1.0, double(history_.Count() - 1))};
    view_ = ZoomAxis(view_, full, anchor, factor, kMinRecords);
    Refresh();
}

void LiveViewWindow::PanTime(double part)
{
    if (!Paused())
        return;
    const AxisRange full{0, std::max(1.0, double(history_.Count() - 1))};
    view_ = PanAxis(view_, full, part * view_.span());
    Refresh();
}

void LiveViewWindow::rebuildStatsLabels()
{
    for (QLabel* l : StatsLabels)
        delete l;
    StatsLabels.clear();
    for (int field : history_.Channels()) {
        auto* l = new QLabel(statsBox_);
        l->setObjectName(QStringLiteral("liveStatsCH%1").arg(field));
        l->setAccessibleName(QStringLiteral("CH%1 の統計").arg(field));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        l->setFocusPolicy(Qt::StrongFocus);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, channelColor(field));
        l->setPalette(p);
        statsBox_->layout()->addWidget(l);
        StatsLabels.push_back(l);
    }
}

int LiveViewWindow::gainIndex() const
{
    return fileGain_ >= 0 ? fileGain_ : owner_->GainIndex;
}

AxisRange LiveViewWindow::ValueView(int field) const
{
    const auto it = valueView_.find(field);
    return it == valueView_.end() ? AxisRange{} : it->second;
}

void LiveViewWindow::ZoomValues(int field, double factor, double anchor)
{
    const auto fitted = fittedValues_.find(field);
    if (fitted == fittedValues_.end())
        return;  // nothing drawn in that band yet
    const AxisRange full = fitted->second;
    const AxisRange now = ValueView(field).span() > 0 ? ValueView(field) : full;
    const int gain = gainIndex();
    const AxisRange next = ZoomAxis(now, full, anchor, factor, MinValueSpan(history_.Info().header.hex, gain));
    if (next == full)
        valueView_.erase(field);
    else
        valueView_[field] = next;
    Chart->update();
}

void LiveViewWindow::PanValues(int field, double part)
{
    const auto fitted = fittedValues_.find(field);
    const AxisRange now = ValueView(field);
    if (fitted == fittedValues_.end() || !(now.span() > 0))
        return;
    valueView_[field] = PanAxis(now, fitted->second, part * now.span());
    Chart->update();
}

void LiveViewWindow::ResetValues()
{
    valueView_.clear();
    Chart->update();
}

QString LiveViewWindow::ReadoutText(qint64 index) const
{
    if (!history_.HasStream() || index < 0 || index >= history_.Count())
        return {};
    const bool hex = history_.Info().header.hex;
    const int gain = gainIndex();
    auto text = [&](double v) { return hex ? number(v, 0) : MillivoltText(v, gain); };
    QStringList parts{QStringLiteral("#%1").arg(index)};
    const double rate = history_.Info().samplesPerSecond;
    if (rate > 0)  // as many decimals as one period needs
        parts << number(double(index) / rate, int(std::ceil(std::log10(rate) - 1e-9))) + QStringLiteral(" 秒");
    for (int field : history_.Channels()) {
        const SpanStats s = history_.Stats(field, double(index), double(index));
        QString value = s.count == 0   ? QStringLiteral("---")
                        : s.count == 1 ? text(s.last)
                                       : text(s.min) + QStringLiteral(" – ") + text(s.max);
        if (!hex && s.count > 0)
            value += QStringLiteral(" mV");
        parts << QStringLiteral("CH%1 %2").arg(field).arg(value);
    }
    return parts.join(QStringLiteral("  "));
}

QStringList LiveViewWindow::StatsLines() const
{
    QStringList lines;
    const bool hex = history_.Info().header.hex;
    const int gain = gainIndex();
    for (int field : history_.Channels()) {
        const SpanStats s = history_.Stats(field, view_.lo, view_.hi);
        QString line = QStringLiteral("CH%1").arg(field);
        if (s.count == 0) {
            lines << line + QStringLiteral("  値なし");
            continue;
        }
        auto text = [&](double v, int extra) {
            return hex ? number(v, extra) : MillivoltText(v, gain) + QStringLiteral(" mV");
        };
        line += QStringLiteral("  最新 %1  最小 %2  最大 %3  平均 %4  RMS %5  (%6 件)")
                    .arg(text(s.last, 0), text(s.min, 0), text(s.max, 0), text(s.mean, 2),
                         text(s.rms, 2))
                    .arg(s.count);
        lines << line;
    }
    return lines;
}

void LiveViewWindow::showState()
{
    AnalyzeButton->setEnabled(!filePath_.isEmpty() && !load_);
    if (load_) {
        // Until the file is read the window shows what it showed before.
        const qint64 rows = load_->rows.load(std::memory_order_relaxed);
        const qint64 declared = load_->reader.Header().declaredCount;
        QString text = QStringLiteral("読み込み中: %1  %2 件").arg(QFileInfo(load_->path).fileName()).arg(rows);
        if (declared > 0)
            text += QStringLiteral(" / %1 件").arg(declared);
        Summary->setText(text);
        loadClock_->start();
        return;
    }
    loadClock_->stop();
    if (!history_.HasStream()) {
        Summary->setText(QStringLiteral("表示するストリームはありません"));
        return;
    }
    const double rate = history_.Info().samplesPerSecond;
    QString text = history_.Running() ? QStringLiteral("受信中") : QStringLiteral("終了");
    text += QStringLiteral("  %1 件").arg(history_.Count());
    if (rate > 0)
        text += QStringLiteral(" (%1 秒)").arg(number(double(history_.Count()) / rate, 1));
    text += QStringLiteral("  不正 %1 件  途切れ %2 回").arg(history_.Malformed()).arg(history_.Gaps());
    if (Paused())
        text += QStringLiteral("  一時停止中");
    if (!fileText_.isEmpty())
        text = fileText_ + u'\n' + text;
    Summary->setText(text);
    const QStringList lines = StatsLines();
    for (size_t k = 0; k < StatsLabels.size() && int(k) < lines.size(); ++k)
        StatsLabels[k]->setText(lines[int(k)]);
}

double LiveViewWindow::NiceStep(double span, int ticks)
{
    if (!(span > 0) || !std::isfinite(span) || ticks < 1)
        return 1;
    const double raw = span / ticks;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * p >= raw * (1 - 1e-9))
            return m * p;
    return 10 * p;
}

// ---------------------------------------------------------------------------
// Chart
// ---------------------------------------------------------------------------

LiveChart::LiveChart(LiveViewWindow* window) : QWidget(window), window_(window)
{
    setObjectName(QStringLiteral("liveChart"));
    setAccessibleName(QStringLiteral("リアルタイムのグラフ"));
    setAccessibleDescription(QStringLiteral(
        "一時停止中は + と - で拡大縮小、左右の矢印で移動、Home で全体、Shift を押しながらドラッグで範囲を選択。"
        "Ctrl と + / - で値の軸を拡大縮小、Ctrl と上下の矢印で移動。"
        "Shift と左右の矢印で読み取り位置を 1 件ずつ移動"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);  // the readout follows the pointer
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int LiveChart::Columns() const
{
    return std::max(1, width() - kLeft - kRight);
}

LiveChart::ValueAxis LiveChart::FitValues(double lo, double hi, bool hex, bool exact)
{
    ValueAxis a;
    a.unit = hex ? QStringLiteral("コード") : QStringLiteral("mV");
    if (!hex && std::max(std::fabs(lo), std::fabs(hi)) < 1) {
        a.unit = QStringLiteral("µV");
        a.scale = 1000;
    }
    double l = lo * a.scale, h = hi * a.scale;
    const double minStep = hex ? 1 : 1e-3 * a.scale;  // the board's last digit
    a.step = std::max(LiveViewWindow::NiceStep(h - l, 4), minStep);
    if (exact) {
        a.range = {lo, hi};
        return a;
    }
    if (h - l < a.step) {
        const double mid = (l + h) / 2;
        l = mid - a.step;
        h = mid + a.step;
    }
    l = std::floor(l / a.step) * a.step;
    h = std::ceil(h / a.step) * a.step;
    a.range = {l / a.scale, h / a.scale};
    return a;
}

void LiveChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    const History& h = window_->history_;
    const AxisRange view = window_->view_;
    const QRect plot(kLeft, kTop, Columns(), std::max(1, height() - kTop - kBottom));
    const QColor ink = palette().color(QPalette::Text);
    const QFontMetrics fm = p.fontMetrics();
    p.setPen(QPen(palette().color(QPalette::Mid), 0));
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    if (!h.HasStream() || h.Channels().empty()) {
        p.setPen(ink);
        p.drawText(plot, Qt::AlignCenter, QStringLiteral("表示するストリームはありません"));
        return;
    }

    // Time axis: seconds from the start, or record numbers without a rate.
    const double rate = h.Info().samplesPerSecond;
    const double unit = rate > 0 ? rate : 1;
    const double step = LiveViewWindow::NiceStep(view.span() / unit, 6);
    const int decimals = decimalsFor(step);
    p.setPen(ink);
    for (double t = std::ceil(view.lo / unit / step) * step; t * unit <= view.hi; t += step) {
        const double x = plot.left() + PixelOfSample(view, t * unit, plot.width());
        p.setPen(QPen(palette().color(QPalette::Midlight), 0, Qt::DotLine));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(ink);
        p.drawText(QRectF(x - 40, plot.bottom() + 2, 80, kBottom - 2), Qt::AlignHCenter | Qt::AlignTop,
                   number(t, decimals));
    }
    p.drawText(QRect(0, plot.bottom() + 2, kLeft - 16, kBottom - 2), Qt::AlignRight | Qt::AlignTop,
               rate > 0 ? QStringLiteral("秒") : QStringLiteral("サンプル"));

    // Gaps: where the stream stalled, across every band.
    p.setPen(QPen(QColor(160, 160, 160), 0, Qt::DashLine));
    for (qint64 g : h.GapsIn(view.lo, view.hi)) {
        const double x = plot.left() + PixelOfSample(view, double(g), plot.width());
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }

    // The chosen span, shaded under the curves.
    const AxisRange sel = window_->selection_;
    if (sel.hi > sel.lo) {
        const double x0 = std::clamp(PixelOfSample(view, sel.lo, plot.width()), 0.0, double(plot.width()));
        const double x1 = std::clamp(PixelOfSample(view, sel.hi, plot.width()), 0.0, double(plot.width()));
        QColor shade = palette().color(QPalette::Highlight);
        shade.setAlpha(50);
        p.fillRect(QRectF(plot.left() + x0, plot.top(), std::max(1.0, x1 - x0), plot.height()), shade);
    }

    const std::vector<int> fields = h.Channels();
    std::vector<QLineF> lines;
    for (size_t k = 0; k < fields.size(); ++k) {
        const int field = fields[k];
        const Band b = band(k, fields.size());
        const double top = b.top, bandH = b.height, pad = b.pad, inner = b.inner;
        const std::vector<ColumnEnvelope> env = h.Envelope(field, view, plot.width());
        double lo = 0, hi = 0;
        bool any = false;
        for (const ColumnEnvelope& c : env) {
            if (!c.used)
                continue;
            lo = any ? std::min(lo, c.lo) : c.lo;
            hi = any ? std::max(hi, c.hi) : c.hi;
            any = true;
        }
        ValueAxis axis = FitValues(lo, hi, h.Info().header.hex);
        if (any)
            window_->fittedValues_[field] = axis.range;
        const AxisRange zoomed = window_->ValueView(field);
        if (any && zoomed.span() > 0)
            axis = FitValues(zoomed.lo, zoomed.hi, h.Info().header.hex, true);
        p.setPen(channelColor(field));
        p.drawText(QRectF(plot.left() + 6, top + 2, plot.width() - 12, fm.height()), Qt::AlignLeft,
                   any ? QStringLiteral("CH%1 [%2]").arg(field).arg(axis.unit)
                       : QStringLiteral("CH%1").arg(field));
        if (!any)
            continue;
        const int vd = decimalsFor(axis.step);
        p.setPen(ink);
        for (double v = std::ceil(axis.range.lo * axis.scale / axis.step - 1e-9) * axis.step;
             v <= axis.range.hi * axis.scale + axis.step * 1e-9; v += axis.step) {
            const double y = top + pad + PixelOfValue(axis.range, v / axis.scale, inner);
            p.drawLine(QPointF(plot.left() - 4, y), QPointF(plot.left(), y));
            p.drawText(QRectF(0, y - fm.height() / 2.0, kLeft - 6, fm.height()), Qt::AlignRight,
                       number(v, vd));
        }
        lines.clear();
        AppendEnvelopeLines(lines, env, axis.range, inner, nullptr, nullptr);
        p.save();
        p.translate(plot.left(), top + pad);
        p.setClipRect(QRectF(0, -pad, plot.width(), bandH));
        p.setPen(QPen(channelColor(field), 0));
        p.drawLines(lines.data(), int(lines.size()));
        p.restore();
    }
    if (cursor_ >= 0 && cursor_ < h.Count() && cursor_ >= view.lo && cursor_ <= view.hi) {
        // The readout: a line at the record and its values in a box beside it,
        // on whichever side keeps the box inside the plot.
        const double x = plot.left() + PixelOfSample(view, double(cursor_), plot.width());
        p.setPen(QPen(Qt::darkGray, 0));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const QString text = window_->ReadoutText(cursor_);
        QRectF box(0, plot.top() + 2, fm.horizontalAdvance(text) + 8, fm.height() + 4);
        box.moveLeft(x + 6 + box.width() <= plot.right() ? x + 6 : std::max(double(plot.left()), x - 6 - box.width()));
        p.fillRect(box, QColor(255, 255, 240, 235));
        p.setPen(QColor(128, 128, 128));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignCenter, text);
    }
    if (hasFocus()) {
        p.setPen(QPen(Qt::darkGray, 0, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void LiveChart::SetCursor(qint64 index)
{
    const qint64 count = window_->history_.Count();
    cursor_ = count > 0 && index >= 0 ? std::min(index, count - 1) : -1;
    update();
}

void LiveChart::leaveEvent(QEvent* event)
{
    cursor_ = -1;
    update();
    QWidget::leaveEvent(event);
}

LiveChart::Band LiveChart::band(size_t k, size_t bands) const
{
    Band b;
    b.height = double(std::max(1, height() - kTop - kBottom)) / double(std::max<size_t>(bands, 1));
    b.top = kTop + b.height * double(k);
    b.pad = fontMetrics().height() / 2.0 + 1;
    b.inner = std::max(1.0, b.height - 2 * b.pad);
    return b;
}

int LiveChart::bandAt(double y, double* anchor) const
{
    const std::vector<int> fields = window_->history_.Channels();
    const double plotH = std::max(1, height() - kTop - kBottom);
    if (fields.empty() || y < kTop || y >= kTop + plotH)
        return -1;
    const size_t k = std::min(fields.size() - 1, size_t((y - kTop) / (plotH / double(fields.size()))));
    const Band b = band(k, fields.size());
    *anchor = std::clamp(1 - (y - b.top - b.pad) / b.inner, 0.0, 1.0);
    return fields[k];
}

void LiveChart::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0 && (event->modifiers() & Qt::ControlModifier)) {
        // The values of the band under the pointer, about the pointer.
        double anchor = 0.5;
        const int field = bandAt(event->position().y(), &anchor);
        if (field >= 0)
            window_->ZoomValues(field, std::pow(kZoomStep, steps), anchor);
        event->accept();
        return;
    }
    if (steps == 0 || !window_->Paused())
        return;
    const double anchor = std::clamp((event->position().x() - kLeft) / Columns(), 0.0, 1.0);
    window_->ZoomTime(std::pow(kZoomStep, steps), anchor);
    event->accept();
}

void LiveChart::keyPressEvent(QKeyEvent* event)
{
    if ((event->modifiers() & Qt::ShiftModifier)
        && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
        // From the middle of the view when there is no cursor yet.
        const AxisRange view = window_->view_;
        const qint64 from = cursor_ >= 0 ? cursor_ : qint64(std::llround((view.lo + view.hi) / 2));
        SetCursor(cursor_ < 0 ? from : from + (event->key() == Qt::Key_Left ? -1 : 1));
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl with + / -: the values of every band about their middle;
        // with Up / Down: move them.
        const int key = event->key();
        for (int field : window_->history_.Channels()) {
            if (key == Qt::Key_Plus || key == Qt::Key_Minus)
                window_->ZoomValues(field, key == Qt::Key_Plus ? kZoomStep : 1 / kZoomStep, 0.5);
            else if (key == Qt::Key_Up || key == Qt::Key_Down)
                window_->PanValues(field, key == Qt::Key_Up ? kKeyPanPart : -kKeyPanPart);
        }
        if (key == Qt::Key_Plus || key == Qt::Key_Minus || key == Qt::Key_Up || key == Qt::Key_Down)
            return;
    }
    switch (event->key()) {
    case Qt::Key_Plus:
        window_->ZoomTime(kZoomStep, 0.5);
        return;
    case Qt::Key_Minus:
        window_->ZoomTime(1 / kZoomStep, 0.5);
        return;
    case Qt::Key_Left:
        window_->PanTime(-kKeyPanPart);
        return;
    case Qt::Key_Right:
        window_->PanTime(kKeyPanPart);
        return;
    case Qt::Key_Home:
        window_->ResetValues();
        window_->ZoomTime(1e-12, 0.5);  // as wide as it goes: the whole stream
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

double LiveChart::recordAt(double x) const
{
    const AxisRange view = window_->view_;
    return view.lo + (x - kLeft) / Columns() * view.span();
}

void LiveChart::mousePressEvent(QMouseEvent* event)
{
    dragX_ = event->position().x();
    setFocus(Qt::MouseFocusReason);
    // Shift and a drag choose a span; Shift and a click alone clear it.
    dragY_ = event->position().y();
    double anchor = 0;
    dragBand_ = bandAt(dragY_, &anchor);
    selecting_ = (event->modifiers() & Qt::ShiftModifier) && window_->Paused();
    if (selecting_) {
        selectFrom_ = recordAt(dragX_);
        window_->Select({selectFrom_, selectFrom_});
    }
}

void LiveChart::mouseMoveEvent(QMouseEvent* event)
{
    const qint64 count = window_->history_.Count();
    const double at = recordAt(event->position().x());
    cursor_ = count > 0 && event->position().x() >= kLeft ? std::clamp<qint64>(std::llround(at), 0, count - 1) : -1;
    update();
    if (!(event->buttons() & Qt::LeftButton))
        return;
    if (!selecting_ && dragBand_ >= 0 && window_->ValueView(dragBand_).span() > 0) {
        // A zoomed band follows the pointer up and down.
        const double dy = event->position().y() - dragY_;
        dragY_ = event->position().y();
        window_->PanValues(dragBand_, dy / band(0, window_->history_.Channels().size()).inner);
    }
    if (!window_->Paused())
        return;
    if (selecting_) {
        window_->Select({selectFrom_, recordAt(event->position().x())});
        return;
    }
    const double dx = event->position().x() - dragX_;
    dragX_ = event->position().x();
    window_->PanTime(-dx / Columns());
}
