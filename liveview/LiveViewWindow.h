#pragma once
// "リアルタイム表示": a tool window of Form1 that shows a stream while it is
// received: a strip chart per channel with time and value axes, the visible
// span to choose, a pause that freezes the view (then zoomed and panned like
// the main graph), and per channel the last value and the statistics of the
// visible span as text. It keeps its own bounded history (stream/History) fed
// by the main window's measurement and changes nothing in the main window.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "graphview/ViewMath.h"
#include "stream/History.h"

class BackgroundJob;
class Form1;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class Recorder;
class QTimer;
class LiveChart;

class LiveViewWindow : public QWidget {
    Q_OBJECT
public:
    explicit LiveViewWindow(Form1* owner);
    ~LiveViewWindow() override;

    // The spans of the span list, in seconds; 0 is the whole stream.
    static const std::vector<double>& Spans();

    // The stream as the window keeps it.
    const History& Stream() const { return history_; }
    History& Stream() { return history_; }
    // Shows the stream's newest state now, texts included (records arriving
    // are shown at the screen's pace, the texts a few times a second).
    void Refresh();

    // The visible span in record indices.
    AxisRange View() const { return view_; }
    bool Paused() const;
    // Paused only: factor > 1 zooms in about `anchor` (0 = left edge, 1 =
    // right edge); Pan moves by a part of the visible width.
    void ZoomTime(double factor, double anchor);
    void PanTime(double part);

    // The readout of record `index` as the chart shows it beside the
    // pointer: "#3  0.3 秒  CH0 4  CH1 64". A record older than the raw values
    // the history keeps reads as the extremes of its bucket ("CH0 0 – 3").
    // Empty outside the stream.
    QString ReadoutText(qint64 index) const;

    // The value axis of channel `field`'s band: fitted to what is visible
    // (an empty range) until zoomed. factor > 1 zooms in about `anchor` (0 =
    // bottom, 1 = top of the band), within the fitted range; zoomed out to
    // all of it the band fits itself again. Pan moves a zoomed band by a
    // part of its height. ResetValues fits every band again.
    AxisRange ValueView(int field) const;
    void ZoomValues(int field, double factor, double anchor);
    void PanValues(int field, double part);
    void ResetValues();

    // One line per channel: what the statistics labels read.
    QStringList StatsLines() const;

    // A step of 1, 2 or 5 times a power of ten that cuts `span` into about
    // `ticks` parts.
    static double NiceStep(double span, int ticks);

    // Controls, public so that tests can read and drive them.
    QLabel* Summary = nullptr;         // the stream's state, or that there is none
    QComboBox* SpanList = nullptr;     // "10 秒" .. "全体"
    QPushButton* PauseButton = nullptr;  // "一時停止" (checkable)
    LiveChart* Chart = nullptr;
    std::vector<QLabel*> StatsLabels;  // one per channel
    QPushButton* CloseButton = nullptr;
    // Recording: 「記録開始」 / 「記録停止」, the time column, the optional
    // limits (0 = none) and what the recording has done so far.
    QPushButton* RecordButton = nullptr;
    QCheckBox* TimeColumn = nullptr;
    QSpinBox* LimitMinutes = nullptr;
    QSpinBox* LimitRecords = nullptr;
    QLabel* RecordStatus = nullptr;
    Recorder* Recording() const { return recorder_; }
    // 「記録開始」: the save dialog, the overwrite question, then the start;
    // 「記録停止」 while a recording runs.
    void RecordClicked();
    // 「ファイルを開く...」: the open dialog, then OpenFile; a refusal is shown.
    QPushButton* OpenButton = nullptr;
    void OpenClicked();
    // A data file into the history: all of it, paused, the view over the
    // whole file, the header and what the reading found above the chart.
    // The header is read at once: false, with `error` set, while a
    // measurement runs or when the file is refused (nothing changes then).
    // The rows are read on a worker thread while the window shows how far it
    // got and stays usable; the history is replaced when all are read, then
    // FileOpened is emitted (a failed read shows its message and keeps the
    // history). Another file, a measurement or closing the window cancel it.
    bool OpenFile(const QString& path, QString* error);
    bool Loading() const { return load_ != nullptr; }
    // The opened file, empty while the view shows a stream.
    QString FilePath() const { return filePath_; }

    // A span chosen with Shift and a drag over the paused chart, in record
    // indices; empty (lo == hi) when none is chosen.
    AxisRange Selection() const { return selection_; }
    void Select(AxisRange span);
    // The records the button below hands on: those of the selection, else
    // those of the visible span, as first .. end - 1.
    std::pair<qint64, qint64> ChosenRecords() const;
    // 「範囲をノイズ解析」: the chosen records of the opened file to the
    // noise analysis window.
    QPushButton* AnalyzeButton = nullptr;
    void AnalyzeClicked();

signals:
    // An opened file's rows are all in the history and shown.
    void FileOpened();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Load;
    void cancelLoad();
    void loaded();
    int gainIndex() const;  // the opened file's gain, else the main window's
    void showRecording();
    void begin();
    void records(int first, int count);
    void ended();
    void schedule();
    void frame(bool texts);
    void follow();
    void showState();
    void rebuildStatsLabels();

    Form1* owner_;
    History history_;
    AxisRange view_{0, 1};
    QTimer* frame_ = nullptr;
    QTimer* loadClock_ = nullptr;  // the reading's progress, shown while a file is read
    QElapsedTimer textClock_;
    QWidget* statsBox_ = nullptr;
    Recorder* recorder_ = nullptr;
    QString lastRecordName_;
    QString fileText_;  // header of an opened file; empty for a stream
    QString filePath_;  // the opened file; empty for a stream
    int fileGain_ = -1; // the opened file's gain (millivolt decimals); -1: the main window's
    AxisRange selection_{0, 0};
    // Per channel: the zoomed value range, and the fitted one last drawn.
    std::map<int, AxisRange> valueView_;
    std::map<int, AxisRange> fittedValues_;
    std::unique_ptr<Load> load_;  // a file being read
    std::unique_ptr<BackgroundJob> loadJob_;  // reads it
    friend class LiveChart;
};

// The strip chart: one band per channel over a shared time axis.
class LiveChart : public QWidget {
    Q_OBJECT
public:
    explicit LiveChart(LiveViewWindow* window);
    // The value axis a band fits to the values it shows: round ticks, the
    // unit, and the factor the values are multiplied by for the labels.
    struct ValueAxis {
        AxisRange range;
        double step = 1;
        QString unit;
        double scale = 1;
    };
    // `exact`: the range as given (a zoomed band), not widened to round ticks.
    static ValueAxis FitValues(double lo, double hi, bool hex, bool exact = false);
    int Columns() const;
    // The record under the readout cursor (-1: none). The pointer moves it,
    // as do Shift + Left / Right one record at a time.
    qint64 Cursor() const { return cursor_; }
    void SetCursor(qint64 index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    double recordAt(double x) const;  // record index under a point's x
    // Band k of `bands`: where it starts and how tall it is, and within it
    // the part the values are drawn in (half a line of room above and below,
    // so the labels of two bands never meet).
    struct Band {
        double top = 0, height = 0;
        double pad = 0, inner = 1;
    };
    Band band(size_t k, size_t bands) const;
    // The band under a point's y: its channel (-1: none) and the point's
    // place in it (0 = bottom, 1 = top).
    int bandAt(double y, double* anchor) const;
    LiveViewWindow* window_;
    double dragX_ = 0;
    bool selecting_ = false;
    qint64 cursor_ = -1;
    int dragBand_ = -1;    // channel whose values a drag pans
    double dragY_ = 0;
    double selectFrom_ = 0;  // record index where a Shift drag began
};
