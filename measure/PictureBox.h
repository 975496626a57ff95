#pragma once
// Picture1: the window's drawing surface. It works in twips, the unit of the
// graph arithmetic (origin top-left, y downwards), keeps every line drawn
// since the last Cls() so that tests can read the exact geometry, and paints
// them scaled to pixels (15 twips per pixel) on a white background.
//
// A graph of a full block is 131070 lines on a surface about 425 pixels wide.
// Painting them one by one on every repaint would stall the window, so the
// recorded lines are reduced once after they change (per pixel column, the
// lowest and highest point of each run of same-coloured lines) and every
// repaint draws only that reduced picture. Line() only schedules one repaint.

#include <QLine>
#include <QWidget>
#include <vector>

class QMenu;
class QPainter;

struct RecordedLine {
    int x1, y1, x2, y2;   // twips
    quint32 color;        // 24-bit, blue in the high byte, red in the low byte
    bool operator==(const RecordedLine& o) const
    {
        return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2 && color == o.color;
    }
};

// Something that shows more than the recorded lines (the zoomable view of
// graphview/): it may paint instead of them and over them.
class PictureLayer {
public:
    virtual ~PictureLayer() = default;
    // Paints the whole surface; false leaves it to the recorded lines.
    virtual bool PaintInstead(QPainter& painter) = 0;
    // Paints over whatever the surface shows.
    virtual void PaintOver(QPainter& painter) = 0;
};

class PictureBox : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kDesignWidth = 6375;   // twips
    static constexpr int kDesignHeight = 3435;  // twips

    explicit PictureBox(QWidget* parent = nullptr);
    ~PictureBox() override;

    // Clears the surface.
    void Cls();
    // A straight line between two points in twips, in a 24-bit colour.
    void Line(int x1, int y1, int x2, int y2, quint32 color);
    // Many lines at once (same result as calling Line() for each).
    void AddLines(const std::vector<RecordedLine>& lines);
    void AddLines(std::vector<RecordedLine>&& lines);
    // Width and height of the drawing area in twips, as designed.
    int ScaleWidth() const { return kDesignWidth; }
    int ScaleHeight() const { return kDesignHeight; }

    // Lines drawn since the last Cls(), in drawing order.
    const std::vector<RecordedLine>& Lines() const { return lines_; }
    // How many reduced pixel lines the last repaint drew (for checks that the
    // painted picture stays small).
    int PaintedLineCount() const { return paintedLines_; }
    // The reduced picture in pixels, built on demand (exposed for tests).
    struct Run {
        QColor color;
        std::vector<QLine> pixelLines;
    };
    const std::vector<Run>& PaintRuns();

    QSize sizeHint() const override;

    // The layer painted with the recorded lines (null: none). Not owned.
    void SetLayer(PictureLayer* layer);

signals:
    // Cls() has cleared the surface.
    void cleared();
    // The graph's context menu is built and about to be shown; a receiver
    // may add its own entries to `menu`.
    void contextMenuAboutToShow(QMenu* menu);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changed();
    void rebuild();

    std::vector<RecordedLine> lines_;
    std::vector<Run> runs_;
    PictureLayer* layer_ = nullptr;
    bool dirty_ = false;
    int paintedLines_ = 0;
};

// 24-bit colour with blue in the high byte -> QColor.
QColor ColorFromBgr(quint32 bgr);
