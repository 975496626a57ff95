#pragma once
// The zoomable view of the graph in Picture1. At rest it adds nothing to the
// picture: Picture1 paints the lines Form1::Graph recorded and the scale
// labels keep the texts Graph wrote. Zoomed or panned, it paints the visible
// samples of the block itself (a min/max envelope per pixel column, or the
// samples joined by lines once they are far enough apart) and writes the
// visible top, middle and bottom values into Label3-Label5. It also shows
// the value under the pointer, and copies or saves the graph as a picture.
//
// Mouse: wheel zooms the time axis around the pointer, Ctrl + wheel the value
// axis; dragging with the left button pans; a double click shows the whole
// block again. Keys (graph focused): + / - zoom (with Ctrl: values), arrows
// pan, Shift + Left / Right move the readout one sample, Home whole block,
// Ctrl+C copy, menu key or Shift+F10 the context menu.

#include <QImage>
#include <QLineF>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <vector>

#include "graphview/ViewMath.h"
#include "measure/PictureBox.h"

class Dialogs;
class Form1;
class QLabel;
class QMenu;
class SampleBlock;
struct GraphScale;

// Appends the lines of one trace drawn from its envelope per pixel column
// (column x centred at x + 0.5): each used column is one stroke from its
// highest to its lowest value, joined from the previous column's last value
// to its first. `before` / `after` (null for none) are the points outside the
// view that the first and last column are joined to. Values become pixels in
// `values` over `height`; nothing reaches more than 2 pixels beyond it.
void AppendEnvelopeLines(std::vector<QLineF>& lines, const std::vector<ColumnEnvelope>& env,
                         AxisRange values, double height, const QPointF* before,
                         const QPointF* after);

class GraphView : public QObject, public PictureLayer {
    Q_OBJECT
public:
    // Watches window->Picture1 and writes window->Label3..Label5; message
    // boxes and the save dialog go through `dialogs`.
    GraphView(Form1* window, Dialogs* dialogs);
    ~GraphView() override;

    // Graph has drawn a block: `count` samples of `samples` (which must stay
    // unchanged until the surface is cleared), drawn against `scale`. The
    // labels now show the full view's texts.
    void SetBlock(const SampleBlock* samples, int count, int channelMode, bool hex, int gainIndex,
                  const GraphScale& scale);
    bool HasBlock() const { return samples_ != nullptr; }

    // ---- The view ----------------------------------------------------------
    AxisRange TimeRange() const { return view_; }    // sample indices
    AxisRange ValueRange() const { return values_; } // sample values
    bool IsFullView() const { return view_ == fullView_ && values_ == fullValues_; }
    // factor > 1 zooms in; the point at x (or y) pixels stays where it is.
    void ZoomTime(double factor, double x);
    void ZoomValues(double factor, double y);
    // Moves the picture by dx, dy pixels (as a drag of that size would).
    void Pan(double dx, double dy);
    void ResetView();
    // "#first-#last / count" while zoomed, "" at rest.
    QString RangeText() const;

    // ---- Readout -----------------------------------------------------------
    // The sample under the cursor (-1: none) and its readout text, e.g.
    // "#1234  CH0 1.287 mV (+0001.287)".
    int CursorSample() const { return cursor_; }
    QString ReadoutText() const;

    // ---- Export ------------------------------------------------------------
    // The graph with its three scale labels, as the window shows it (at the
    // screen's pixel ratio), without the cursor.
    QImage Image();
    void CopyImage();
    // The save dialog, then SaveImage.
    void ShowSaveImageDialog();
    // Asks before overwriting a file with content; writes the PNG through a
    // temporary file so a failure leaves an earlier file as it was. False
    // (after a message) when it could not be written.
    bool SaveImage(const QString& path);
    // Builds the context menu and pops it up at `globalPos` (not while a
    // command transaction waits for its reply: null then).
    QMenu* ShowContextMenu(const QPoint& globalPos);
    // The context menu while it is shown (null otherwise).
    QMenu* Menu() const;

    // PictureLayer
    bool PaintInstead(QPainter& painter) override;
    void PaintOver(QPainter& painter) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clear();
    void viewChanged();
    void pointAt(const QPointF& pos);
    void moveCursor(int step);
    bool keyPress(QKeyEvent* event);
    // Decodes the drawn channels once per block; false when there is no
    // block or no memory for the values.
    bool ensureValues() const;
    QStringList readoutLines() const;
    double width() const;
    double height() const;

    Form1* window_;
    QPointer<PictureBox> box_;  // destroyed before this view, as a sibling created earlier
    Dialogs* dialogs_;
    QLabel* labels_[3];

    const SampleBlock* samples_ = nullptr;
    int count_ = 0;
    int channelMode_ = 0;
    bool hex_ = true;
    int gainIndex_ = 0;
    QString fullTexts_[3];
    struct Channel {
        int field;
        quint32 color;
        std::vector<double> values;
    };
    mutable std::vector<Channel> channels_;  // decoded on first use

    AxisRange fullView_, view_, fullValues_, values_;
    int cursor_ = -1;
    QPointF pointer_;
    bool pointerInside_ = false;
    bool dragging_ = false;
    QPointF dragStart_;
    AxisRange dragView_, dragValues_;
    bool exporting_ = false;
    QPointer<QMenu> menu_;
    QString lastImageName_;
};
