#include "measure/PictureBox.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <climits>

QColor ColorFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

namespace {

int toPixel(int twips)
{
    // Floor division, also for points left of or above the surface.
    const int p = PictureBox::kTwipsPerPixel;
    return twips >= 0 ? twips / p : -((-twips + p - 1) / p);
}

// A run with at most this many lines per pixel column is painted line by
// line; above it the run is reduced to one vertical stroke per column.
constexpr int kDirectLinesPerColumn = 2;
// Runs that stretch over more columns than this are painted directly (no
// table of that size is built for lines far outside the surface).
constexpr int kMaxColumns = 1 << 16;

struct Column {
    int first = 0, last = 0, lo = INT_MAX, hi = INT_MIN;
    bool used = false;
    void add(int y)
    {
        if (!used) {
            first = y;
            used = true;
        }
        last = y;
        lo = std::min(lo, y);
        hi = std::max(hi, y);
    }
};

} // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

QSize PictureBox::sizeHint() const
{
    return QSize(kDesignWidth / kTwipsPerPixel, kDesignHeight / kTwipsPerPixel);
}

void PictureBox::Cls()
{
    lines_.clear();
    lines_.shrink_to_fit();
    runs_.clear();
    changed();
    emit cleared();
}

// A layer that filters this surface's events must stop before the QWidget
// part of the surface goes: its destructor still sends events (hide, leave),
// and by then this object is no longer a PictureBox.
PictureBox::~PictureBox()
{
    if (auto* filter = dynamic_cast<QObject*>(layer_))
        removeEventFilter(filter);
}

void PictureBox::SetLayer(PictureLayer* layer)
{
    layer_ = layer;
    update();
}

void PictureBox::Line(int x1, int y1, int x2, int y2, quint32 color)
{
    lines_.push_back({x1, y1, x2, y2, color & 0xFFFFFFu});
    changed();
}

void PictureBox::AddLines(const std::vector<RecordedLine>& lines)
{
    lines_.reserve(lines_.size() + lines.size());
    for (const RecordedLine& l : lines)
        lines_.push_back({l.x1, l.y1, l.x2, l.y2, l.color & 0xFFFFFFu});
    changed();
}

void PictureBox::AddLines(std::vector<RecordedLine>&& lines)
{
    if (!lines_.empty()) {
        AddLines(static_cast<const std::vector<RecordedLine>&>(lines));
        return;
    }
    lines_ = std::move(lines);
    for (RecordedLine& l : lines_)
        l.color &= 0xFFFFFFu;
    changed();
}

void PictureBox::changed()
{
    // Only mark: the reduced picture is rebuilt once, at the next repaint,
    // however many lines were added meanwhile; update() itself coalesces.
    if (!dirty_) {
        dirty_ = true;
        update();
    }
}

const std::vector<PictureBox::Run>& PictureBox::PaintRuns()
{
    if (dirty_)
        rebuild();
    return runs_;
}

void PictureBox::rebuild()
{
    dirty_ = false;
    runs_.clear();
    size_t begin = 0;
    while (begin < lines_.size()) {
        size_t end = begin + 1;
        while (end < lines_.size() && lines_[end].color == lines_[begin].color)
            ++end;

        Run run;
        run.color = ColorFromBgr(lines_[begin].color);
        int minX = INT_MAX, maxX = INT_MIN;
        for (size_t k = begin; k < end; ++k) {
            const RecordedLine& l = lines_[k];
            minX = std::min({minX, toPixel(l.x1), toPixel(l.x2)});
            maxX = std::max({maxX, toPixel(l.x1), toPixel(l.x2)});
        }
        const qint64 columns = qint64(maxX) - minX + 1;
        const size_t count = end - begin;
        if (columns > kMaxColumns || qint64(count) <= columns * kDirectLinesPerColumn) {
            run.pixelLines.reserve(count);
            for (size_t k = begin; k < end; ++k) {
                const RecordedLine& l = lines_[k];
                run.pixelLines.emplace_back(toPixel(l.x1), toPixel(l.y1), toPixel(l.x2),
                                            toPixel(l.y2));
            }
        } else {
            std::vector<Column> cols(static_cast<size_t>(columns));
            for (size_t k = begin; k < end; ++k) {
                const RecordedLine& l = lines_[k];
                const int px1 = toPixel(l.x1), px2 = toPixel(l.x2);
                const int py1 = toPixel(l.y1), py2 = toPixel(l.y2);
                cols[size_t(px1 - minX)].add(py1);
                // Columns crossed between the two ends get the line's height there.
                const int step = px2 >= px1 ? 1 : -1;
                for (int c = px1 + step; px1 != px2 && c != px2; c += step) {
                    const double t = double(c - px1) / double(px2 - px1);
                    cols[size_t(c - minX)].add(int(py1 + t * (py2 - py1)));
                }
                cols[size_t(px2 - minX)].add(py2);
            }
            int prev = INT_MIN, prevLast = 0;
            for (int c = 0; c < int(columns); ++c) {
                const Column& col = cols[size_t(c)];
                if (!col.used)
                    continue;
                const int x = minX + c;
                if (prev != INT_MIN)
                    run.pixelLines.emplace_back(prev, prevLast, x, col.first);
                run.pixelLines.emplace_back(x, col.lo, x, col.hi);
                prev = x;
                prevLast = col.last;
            }
        }
        runs_.push_back(std::move(run));
        begin = end;
    }
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    if (layer_ && layer_->PaintInstead(p)) {
        layer_->PaintOver(p);
        return;
    }
    p.fillRect(event->rect(), Qt::white);
    int painted = 0;
    for (const Run& run : PaintRuns()) {
        p.setPen(QPen(run.color, 0));
        p.drawLines(run.pixelLines.data(), int(run.pixelLines.size()));
        painted += int(run.pixelLines.size());
    }
    paintedLines_ = painted;
    if (layer_)
        layer_->PaintOver(p);
}
