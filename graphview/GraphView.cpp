#include "graphview/GraphView.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <new>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "measure/Decoding.h"
#include "measure/GraphGeometry.h"
#include "measure/SampleBlock.h"

namespace {

const char16_t kImageSaveFailed[] = u"画像ファイルを保存出来ませんでした";

// Zooming in stops when one sample is this many pixels from the next.
constexpr double kMaxPixelsPerSample = 10;
// Up to this many samples per pixel column they are joined by lines; above
// it each column is drawn as one stroke from its lowest to highest value.
constexpr double kDirectSamplesPerColumn = 2;
// From this many pixels per sample on, each sample is marked with a dot.
constexpr double kMarkPixelsPerSample = 6;

// Value axis zoom stops at a few units of the last digit the labels show.
// A line limited to the band between y = top and y = bottom (lines outside
// it entirely are dropped), so that a steep zoom never hands the painter
// coordinates far beyond the surface.
bool clipToBand(QLineF& line, double top, double bottom)
{
    const QLineF whole = line;
    const QPointF a = whole.p1(), b = whole.p2();
    if ((a.y() < top && b.y() < top) || (a.y() > bottom && b.y() > bottom))
        return false;
    auto inside = [&](const QPointF& p) {
        const double y = std::clamp(p.y(), top, bottom);
        return y == p.y() ? p : whole.pointAt((y - a.y()) / (b.y() - a.y()));
    };
    line = QLineF(inside(a), inside(b));
    return true;
}

// A file that must not be replaced: not an ordinary file, or without write
// permission (refused even where the process could replace it anyway).
bool refusedTarget(const QFileInfo& info)
{
    const QFileDevice::Permissions p = info.permissions();
    const QFileDevice::Permissions anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !info.isFile() || !(p & QFileDevice::WriteUser) || !(p & anyWrite);
}

} // namespace

GraphView::GraphView(Form1* window, Dialogs* dialogs)
    : QObject(window), window_(window), box_(window->Picture1), dialogs_(dialogs),
      labels_{window->Label3, window->Label4, window->Label5}
{
    box_->setFocusPolicy(Qt::StrongFocus);
    box_->setMouseTracking(true);
    box_->setAccessibleName(QStringLiteral("波形グラフ"));
    box_->installEventFilter(this);
    box_->SetLayer(this);
    connect(box_, &PictureBox::cleared, this, &GraphView::clear);
}

GraphView::~GraphView()
{
    if (box_)
        box_->SetLayer(nullptr);
}

void GraphView::SetBlock(const SampleBlock* samples, int count, int channelMode, bool hex,
                         int gainIndex, const GraphScale& scale)
{
    clear();
    if (!samples || count <= 0 || channelMode < 0 || channelMode > 2
        || !std::isfinite(scale.top) || !std::isfinite(scale.bottom))
        return;
    samples_ = samples;
    count_ = std::min(count, kSampleCapacity);
    channelMode_ = channelMode;
    hex_ = hex;
    gainIndex_ = gainIndex;
    fullTexts_[0] = scale.topText;
    fullTexts_[1] = scale.midText;
    fullTexts_[2] = scale.bottomText;
    view_ = fullView_ = {0, double(count_ - 1)};
    values_ = fullValues_ = {scale.bottom, scale.top};
    if (pointerInside_)
        pointAt(pointer_);
}

void GraphView::clear()
{
    // Back to the full view first, so the labels show the drawn scale again.
    if (samples_ && !IsFullView())
        ResetView();
    samples_ = nullptr;
    count_ = 0;
    channels_.clear();
    view_ = fullView_ = values_ = fullValues_ = {};
    cursor_ = -1;
    dragging_ = false;
    box_->setAccessibleDescription(QString());
    box_->update();
}

double GraphView::width() const { return box_->width(); }
double GraphView::height() const { return box_->height(); }

void GraphView::ZoomTime(double factor, double x)
{
    if (!samples_)
        return;
    view_ = ZoomAxis(view_, fullView_, x / width(), factor, width() / kMaxPixelsPerSample);
    viewChanged();
}

void GraphView::ZoomValues(double factor, double y)
{
    if (!samples_)
        return;
    values_ = ZoomAxis(values_, fullValues_, 1 - y / height(), factor,
                       MinValueSpan(hex_, gainIndex_));
    viewChanged();
}

void GraphView::Pan(double dx, double dy)
{
    if (!samples_)
        return;
    view_ = PanAxis(view_, fullView_, -dx * view_.span() / width());
    values_ = PanAxis(values_, fullValues_, dy * values_.span() / height());
    viewChanged();
}

void GraphView::ResetView()
{
    view_ = fullView_;
    values_ = fullValues_;
    viewChanged();
}

QString GraphView::RangeText() const
{
    if (!samples_ || IsFullView())
        return QString();
    const int first = std::max(0, int(std::ceil(view_.lo - 1e-9)));
    const int last = std::min(count_ - 1, int(std::floor(view_.hi + 1e-9)));
    return QStringLiteral("#%1-#%2 / %3").arg(first).arg(last).arg(count_);
}

void GraphView::viewChanged()
{
    if (samples_) {
        if (values_ == fullValues_) {
            for (int k = 0; k < 3; ++k)
                labels_[k]->setText(fullTexts_[k]);
        } else {
            const double shown[3] = {values_.hi, (values_.hi + values_.lo) / 2, values_.lo};
            for (int k = 0; k < 3; ++k)
                labels_[k]->setText(hex_ ? IntegerText(shown[k])
                                         : MillivoltText(shown[k], gainIndex_));
        }
    }
    if (pointerInside_ && !dragging_)
        pointAt(pointer_);
    box_->setAccessibleDescription(RangeText());
    box_->update();
}

void GraphView::pointAt(const QPointF& pos)
{
    pointer_ = pos;
    if (!samples_)
        return;
    cursor_ = SampleAtPixel(view_, pos.x(), width(), count_);
    box_->update();
}

void GraphView::moveCursor(int step)
{
    if (!samples_)
        return;
    if (cursor_ < 0)
        cursor_ = SampleAtPixel(view_, width() / 2, width(), count_);
    else
        cursor_ = std::clamp(cursor_ + step, 0, count_ - 1);
    // Keep the cursor in sight: pan by whole samples when it leaves the view.
    if (cursor_ < view_.lo)
        view_ = PanAxis(view_, fullView_, cursor_ - view_.lo);
    else if (cursor_ > view_.hi)
        view_ = PanAxis(view_, fullView_, cursor_ - view_.hi);
    pointerInside_ = false;
    viewChanged();
}

bool GraphView::ensureValues() const
{
    if (!samples_)
        return false;
    if (!channels_.empty())
        return true;
    try {
        if (channelMode_ == 0 || channelMode_ == 2)
            channels_.push_back({0, GraphChannelColor(1), {}});
        if (channelMode_ == 1 || channelMode_ == 2)
            channels_.push_back({1, GraphChannelColor(2), {}});
        for (Channel& c : channels_) {
            c.values.resize(size_t(count_));
            for (int i = 0; i < count_; ++i)
                c.values[size_t(i)] = DecodeField(*samples_, i, c.field, hex_);
        }
    } catch (const std::bad_alloc&) {
        // Without memory for the values the zoomed picture and the readout
        // stay empty; the drawn graph is unaffected.
        channels_.clear();
        return false;
    }
    return true;
}

QStringList GraphView::readoutLines() const
{
    QStringList lines;
    if (!samples_ || cursor_ < 0 || cursor_ >= count_)
        return lines;
    lines << QStringLiteral("#%1").arg(cursor_);
    for (const Channel& c : channels_) {
        const double v = c.values[size_t(cursor_)];
        const QString number =
            hex_ ? IntegerText(v) : MillivoltText(v, gainIndex_) + QStringLiteral(" mV");
        lines << QStringLiteral("CH%1 %2 (%3)").arg(c.field).arg(number,
                                                             samples_->Field(cursor_, c.field));
    }
    return lines;
}

QString GraphView::ReadoutText() const
{
    ensureValues();
    return readoutLines().join(QStringLiteral("  "));
}

// ---------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------

void AppendEnvelopeLines(std::vector<QLineF>& lines, const std::vector<ColumnEnvelope>& env,
                         AxisRange values, double height, const QPointF* before,
                         const QPointF* after)
{
    // The line from the point left of the view, each column's stroke joined
    // to the next, and on to the point right of it.
    const double top = -2, bottom = height + 2;
    auto yOf = [&](double v) { return std::clamp(PixelOfValue(values, v, height), top, bottom); };
    QPointF prev = before ? *before : QPointF();
    bool havePrev = before != nullptr;
    for (size_t x = 0; x < env.size(); ++x) {
        const ColumnEnvelope& col = env[x];
        if (!col.used)
            continue;
        const double cx = double(x) + 0.5;
        if (havePrev) {
            QLineF l(prev, QPointF(cx, PixelOfValue(values, col.first, height)));
            if (clipToBand(l, top, bottom))
                lines.push_back(l);
        }
        lines.emplace_back(cx, yOf(col.hi), cx, yOf(col.lo));
        prev = QPointF(cx, PixelOfValue(values, col.last, height));
        havePrev = true;
    }
    if (havePrev && after) {
        QLineF l(prev, *after);
        if (clipToBand(l, top, bottom))
            lines.push_back(l);
    }
}

bool GraphView::PaintInstead(QPainter& p)
{
    if (!samples_ || IsFullView() || !ensureValues())
        return false;
    const double W = width(), H = height();
    const int columns = box_->width();
    p.save();
    p.fillRect(box_->rect(), Qt::white);
    const double perColumn = view_.span() / W;
    const double top = -2, bottom = H + 2;
    std::vector<QLineF> lines;
    for (const Channel& c : channels_) {
        lines.clear();
        const double* v = c.values.data();
        const int first = std::max(0, int(std::floor(view_.lo)));
        const int last = std::min(count_ - 1, int(std::ceil(view_.hi)));
        auto point = [&](int i) {
            return QPointF(PixelOfSample(view_, i, W), PixelOfValue(values_, v[i], H));
        };
        if (perColumn <= kDirectSamplesPerColumn) {
            for (int i = first; i < last; ++i) {
                QLineF l(point(i), point(i + 1));
                if (clipToBand(l, top, bottom))
                    lines.push_back(l);
            }
        } else {
            const std::vector<ColumnEnvelope> env = EnvelopeColumns(v, count_, view_, columns);
            const QPointF before = point(first), after = point(last);
            AppendEnvelopeLines(lines, env, values_, H, first < view_.lo ? &before : nullptr,
                                last > view_.hi ? &after : nullptr);
        }
        const QColor color = ColorFromBgr(c.color);
        p.setPen(QPen(color, 0));
        p.drawLines(lines.data(), int(lines.size()));
        if (W / view_.span() >= kMarkPixelsPerSample) {
            p.setBrush(color);
            for (int i = first; i <= last; ++i) {
                const QPointF at = point(i);
                if (at.y() >= top && at.y() <= bottom)
                    p.drawRect(QRectF(at.x() - 1.5, at.y() - 1.5, 3, 3));
            }
            p.setBrush(Qt::NoBrush);
        }
    }
    p.restore();
    return true;
}

void GraphView::PaintOver(QPainter& p)
{
    if (!samples_)
        return;
    p.save();
    const QFontMetrics fm(box_->font());
    const QString range = RangeText();
    if (!range.isEmpty()) {
        const QRect r = fm.boundingRect(range).adjusted(-3, -1, 3, 1);
        const QRect at(QPoint(2, 2), r.size());
        p.fillRect(at, QColor(255, 255, 255, 220));
        p.setPen(QColor(64, 64, 64));
        p.drawText(at, Qt::AlignCenter, range);
    }
    if (!exporting_ && box_->hasFocus()) {
        p.setPen(QPen(Qt::darkGray, 0, Qt::DotLine));
        p.drawRect(QRectF(0.5, 0.5, width() - 1, height() - 1));
    }
    if (!exporting_ && cursor_ >= 0) {
        ensureValues();
        const double x = std::floor(PixelOfSample(view_, cursor_, width())) + 0.5;
        // The mouse's readout stands beside the pointer, the keyboard's at
        // the top of the cursor line.
        const QPointF anchor = pointerInside_ ? pointer_ : QPointF(x, 0);
        p.setPen(QPen(QColor(96, 96, 96), 0, Qt::DashLine));
        p.drawLine(QPointF(x, 0), QPointF(x, height()));
        const QStringList lines = readoutLines();
        int w = 0;
        for (const QString& l : lines)
            w = std::max(w, fm.horizontalAdvance(l));
        QRect box(0, 0, w + 8, fm.height() * int(lines.size()) + 4);
        // Beside the pointer, on whichever side leaves it inside the picture.
        int left = int(anchor.x()) + 12, top = int(anchor.y()) + 12;
        if (left + box.width() > box_->width())
            left = int(anchor.x()) - 12 - box.width();
        if (top + box.height() > box_->height())
            top = int(anchor.y()) - 12 - box.height();
        box.moveTo(std::max(0, left), std::max(0, top));
        p.fillRect(box, QColor(255, 255, 240, 235));
        p.setPen(QColor(128, 128, 128));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(Qt::black);
        for (int k = 0; k < lines.size(); ++k)
            p.drawText(QPoint(box.left() + 4, box.top() + 2 + fm.ascent() + k * fm.height()),
                       lines[k]);
    }
    p.restore();
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

bool GraphView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != box_)
        return false;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* e = static_cast<QWheelEvent*>(event);
        if (!samples_)
            return false;
        const double steps = e->angleDelta().y() / 120.0;
        if (steps == 0)
            return false;
        const double factor = std::pow(kZoomStep, steps);
        if (e->modifiers() & Qt::ControlModifier)
            ZoomValues(factor, e->position().y());
        else
            ZoomTime(factor, e->position().x());
        e->accept();
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton || !samples_)
            return false;
        dragging_ = true;
        dragStart_ = e->position();
        dragView_ = view_;
        dragValues_ = values_;
        box_->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        pointerInside_ = true;
        if (dragging_) {
            view_ = dragView_;
            values_ = dragValues_;
            const QPointF d = e->position() - dragStart_;
            Pan(d.x(), d.y());
        }
        pointAt(e->position());
        return false;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton || !dragging_)
            return false;
        dragging_ = false;
        box_->unsetCursor();
        return true;
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton || !samples_)
            return false;
        ResetView();
        return true;
    case QEvent::Leave:
        pointerInside_ = false;
        cursor_ = -1;
        box_->update();
        return false;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        box_->update();
        return false;
    case QEvent::ContextMenu: {
        auto* e = static_cast<QContextMenuEvent*>(event);
        QPoint at = e->globalPos();
        if (e->reason() == QContextMenuEvent::Keyboard)
            at = box_->mapToGlobal(box_->rect().center());
        ShowContextMenu(at);
        return true;
    }
    case QEvent::KeyPress:
        return keyPress(static_cast<QKeyEvent*>(event));
    default:
        return false;
    }
}

bool GraphView::keyPress(QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods & Qt::ControlModifier, shift = mods & Qt::ShiftModifier;
    if (e->key() == Qt::Key_Menu || (e->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        ShowContextMenu(box_->mapToGlobal(box_->rect().center()));
        return true;
    }
    if (e->matches(QKeySequence::Copy)) {
        CopyImage();
        return true;
    }
    if (!samples_)
        return false;
    // Keyboard zoom is about the cursor when there is one, else the middle.
    const double x = cursor_ >= 0 ? PixelOfSample(view_, cursor_, width()) : width() / 2;
    const double y = height() / 2;
    switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Minus: {
        const double factor = e->key() == Qt::Key_Minus ? 1 / kZoomStep : kZoomStep;
        if (ctrl)
            ZoomValues(factor, y);
        else
            ZoomTime(factor, x);
        return true;
    }
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int dir = e->key() == Qt::Key_Left ? -1 : 1;
        if (shift)
            moveCursor(dir);
        else
            Pan(-dir * kKeyPanPart * width(), 0);
        return true;
    }
    case Qt::Key_Up:
    case Qt::Key_Down:
        Pan(0, (e->key() == Qt::Key_Up ? 1 : -1) * kKeyPanPart * height());
        return true;
    case Qt::Key_Home:
        ResetView();
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Context menu and export
// ---------------------------------------------------------------------------

QMenu* GraphView::ShowContextMenu(const QPoint& globalPos)
{
    if (menu_ && menu_->isVisible())
        return menu_;
    // No dialog may open while a command waits for its reply (the buttons
    // that could open one are locked then too).
    if (window_->InTransaction())
        return nullptr;
    auto* menu = new QMenu(box_);
    menu->setObjectName(QStringLiteral("GraphMenu"));
    menu->setAccessibleName(QStringLiteral("グラフのメニュー"));
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    QAction* copy = menu->addAction(QStringLiteral("画像をクリップボードにコピー(&C)"), this,
                                    &GraphView::CopyImage);
    copy->setObjectName(QStringLiteral("copyImage"));
    QAction* save = menu->addAction(QStringLiteral("PNGファイルに保存(&S)..."), this,
                                    &GraphView::ShowSaveImageDialog);
    save->setObjectName(QStringLiteral("saveImage"));
    QAction* full = menu->addAction(QStringLiteral("全体表示に戻す(&H)"), this,
                                    &GraphView::ResetView);
    full->setObjectName(QStringLiteral("fullView"));
    full->setEnabled(samples_ && !IsFullView());
    emit box_->contextMenuAboutToShow(menu);
    menu_ = menu;
    menu->popup(globalPos);
    return menu;
}

QMenu* GraphView::Menu() const
{
    return menu_;
}

QImage GraphView::Image()
{
    QRect area = box_->geometry();
    for (QLabel* l : labels_)
        area = area.united(l->geometry());
    exporting_ = true;
    const QImage image = window_->grab(area).toImage();
    exporting_ = false;
    return image;
}

void GraphView::CopyImage()
{
    QGuiApplication::clipboard()->setImage(Image());
}

void GraphView::ShowSaveImageDialog()
{
    SaveDialogRequest request;
    request.title = QStringLiteral("画像ファイル");
    request.filterName = QStringLiteral("(PNGファイル) ");
    request.filterPattern = QStringLiteral("*.png");
    request.initialFolder = Form1::SaveDialogFolder();
    request.fileName = lastImageName_;
    const QString path = dialogs_->GetSaveFileName(window_, request);
    if (path.isEmpty())
        return;
    lastImageName_ = path;
    SaveImage(path);
}

bool GraphView::SaveImage(const QString& path)
{
    const QString title = window_->AppTitle();
    auto fail = [&] {
        dialogs_->Message(window_, title, QString::fromUtf16(kImageSaveFailed));
        return false;
    };
    if (path.isEmpty())
        return fail();
    const QFileInfo target(path);
    if (target.exists() && target.size() >= 1
        && !dialogs_->AskYesNo(window_, title, path + QStringLiteral(" に上書きしますか？")))
        return true; // declined: the file stays as it is
    if (target.exists() && refusedTarget(target))
        return fail();

    const QImage image = Image();
    // Written beside the target and renamed over it only when complete; the
    // last bytes are flushed and checked before the rename (commit() alone
    // would not notice them failing).
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    if (image.isNull() || !image.save(&file, "PNG") || !file.flush()) {
        file.cancelWriting();
        return fail();
    }
    if (!file.commit())
        return fail();
    return true;
}
