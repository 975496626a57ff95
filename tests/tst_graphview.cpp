// Zoom, pan, readout and export on the graph: the view arithmetic against
// hand-worked ranges, and the real window driven by mouse and key events.

#include <QtTest>

#include <QtWidgets>

#include "analysis/NoiseAnalysisWindow.h"
#include "graphview/GraphView.h"
#include "measure/PictureBox.h"
#include "support/BoardBench.h"

namespace {

// A drawn block in Vexlo_Demo: texts per channel (one list empty for one channel).
std::unique_ptr<BoardBench> Drawn(bool hex, int gain, const QStringList& ch0, const QStringList& ch1)
{
    auto b = std::make_unique<BoardBench>(kVexloDemoProfile, true);
    Form1& w = *b->w;
    w.SampleCount = w.RecvCount = int(std::max(ch0.size(), ch1.size()));
    for (int i = 0; i < w.SampleCount; ++i)
        w.Samples.Set(i, {ch0.value(i), ch1.value(i)});
    w.ChannelMode = ch0.isEmpty() ? 1 : ch1.isEmpty() ? 0 : 2;
    w.MeasuredHex = hex;
    w.GainIndex = qint16(gain);
    w.Graph();
    return b;
}

QStringList Labels(const Form1& w) { return {w.Label3->text(), w.Label4->text(), w.Label5->text()}; }

void Send(QWidget* to, QEvent&& e) { QApplication::sendEvent(to, &e); }
void Wheel(QWidget* to, QPointF at, int notches, Qt::KeyboardModifiers mods = {})
{
    Send(to, QWheelEvent(at, to->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton, mods, Qt::NoScrollPhase, false));
}
void Mouse(QWidget* to, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::NoButton)
{
    Send(to, QMouseEvent(type, at, to->mapToGlobal(at), button, button, {}));
}

// `count` values stepping by `step` through 41 levels: codes from 8388600
// (hex), or millivolts from -0.010 in steps of 0.001.
QStringList Codes(int count, int step, bool hex = true)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << (hex ? QString::number(8388600 + (i * step) % 41, 16).toUpper()
                    : QString::asprintf("%+09.3f", (i * step % 41 - 10) / 1000.0));
    return out;
}

} // namespace

Q_DECLARE_METATYPE(AxisRange)

class TstGraphView : public QObject {
    Q_OBJECT
private slots:
    void axisArithmetic_data();
    void axisArithmetic();
    void envelope();
    void zoomThenFullView_data();
    void zoomThenFullView();
    void readout_data();
    void readout();
    void menuAndExport();
};

void TstGraphView::axisArithmetic_data()
{
    QTest::addColumn<AxisRange>("from");
    QTest::addColumn<double>("anchor"); // NaN: pan by `factor`
    QTest::addColumn<double>("factor");
    QTest::addColumn<AxisRange>("to");
    const double pan = qQNaN();
    // Full range 0..100, smallest span 10.
    QTest::newRow("x2 about the middle") << AxisRange{0.0, 100.0} << 0.5 << 2.0 << AxisRange{25.0, 75.0};
    QTest::newRow("x4 about a quarter: 25 stays") << AxisRange{0.0, 100.0} << 0.25 << 4.0 << AxisRange{18.75, 43.75};
    QTest::newRow("in past the limit") << AxisRange{40.0, 60.0} << 0.5 << 100.0 << AxisRange{45.0, 55.0};
    QTest::newRow("out past the edge: kept inside") << AxisRange{85.0, 95.0} << 0.5 << 0.25 << AxisRange{60.0, 100.0};
    QTest::newRow("out past full: exactly full") << AxisRange{20.0, 80.0} << 0.3 << 0.5 << AxisRange{0.0, 100.0};
    QTest::newRow("pan right") << AxisRange{10.0, 20.0} << pan << 5.0 << AxisRange{15.0, 25.0};
    QTest::newRow("pan past the start") << AxisRange{10.0, 20.0} << pan << -50.0 << AxisRange{0.0, 10.0};
    QTest::newRow("pan past the end") << AxisRange{70.0, 90.0} << pan << 50.0 << AxisRange{80.0, 100.0};
    // Catches: a view let out by less than a sample, and repeated zooming that ends a rounding
    // error short of the full view (no longer the full view, its labels not the drawn ones).
    QTest::newRow("pan half a sample past the start") << AxisRange{10.0, 20.0} << pan << -10.5 << AxisRange{0.0, 10.0};
    QTest::newRow("out to a rounding error short of full") << AxisRange{0.0, 100 - 1e-8} << 0.5 << 1.0 << AxisRange{0.0, 100.0};
}

// Catches a zoom that drifts its anchor or passes the smallest span, and a
// zoom or pan that leaves the full range.
void TstGraphView::axisArithmetic()
{
    QFETCH(AxisRange, from);
    QFETCH(double, anchor);
    QFETCH(double, factor);
    QFETCH(AxisRange, to);
    const AxisRange r = qIsNaN(anchor) ? PanAxis(from, {0, 100}, factor) : ZoomAxis(from, {0, 100}, anchor, factor, 10);
    QCOMPARE((QList<double>{r.lo, r.hi}), (QList<double>{to.lo, to.hi}));
}

// Catches a reduction that loses a column's extremes or its first and last
// values. Six samples in two columns of 2.5 samples: 0..2 fall into the first, 3..5
// into the second (5 sits on the right edge and stays in the last column).
void TstGraphView::envelope()
{
    const double v[] = {0, 5, -3, 2, 7, 1};
    const std::vector<ColumnEnvelope> c = EnvelopeColumns(v, 6, {0, 5}, 2);
    QCOMPARE(int(c.size()), 2);
    QCOMPARE((QList<double>{c[0].first, c[0].last, c[0].lo, c[0].hi}), (QList<double>{0, -3, -3, 5}));
    QCOMPARE((QList<double>{c[1].first, c[1].last, c[1].lo, c[1].hi}), (QList<double>{2, 1, 1, 7}));
    // Zoomed to samples 1.5..3.5: only 2 and 3 are inside, one per column.
    const std::vector<ColumnEnvelope> z = EnvelopeColumns(v, 6, {1.5, 3.5}, 2);
    QVERIFY(z[0].used && z[1].used && z[0].hi == -3 && z[1].lo == 2);
}

void TstGraphView::zoomThenFullView_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("gain");
    QTest::addColumn<QStringList>("ch0");
    QTest::addColumn<QStringList>("ch1");
    QTest::addColumn<QStringList>("labels");       // as drawn: 10 codes / 0.010 mV beyond the range each side
    QTest::addColumn<QStringList>("zoomedLabels"); // after one Ctrl+wheel notch in the middle
    QTest::addColumn<int>("reset");                 // 0 Home, 1 double click, 2 wheel out, 3 menu
    const QStringList codes = Codes(1000, 7), none, mv0 = Codes(1000, 7, false), mv1 = Codes(1000, 3, false);
    // Values span 60 codes (0.080 mV); one notch leaves 48 (0.064) about the middle.
    const QStringList hexAll{"8388650", "8388620", "8388590"}, hexZoomed{"8388644", "8388620", "8388596"};
    QTest::newRow("hex CH0") << true << 0 << codes << none << hexAll << hexZoomed << 0;
    QTest::newRow("hex CH0+CH1") << true << 0 << codes << Codes(1000, 3) << hexAll << hexZoomed << 1;
    QTest::newRow("mV CH1 Gain=1") << false << 0 << none << mv1 << QStringList{"0.050", "0.010", "-0.030"}
                                   << QStringList{"0.042", "0.010", "-0.022"} << 2;
    QTest::newRow("mV CH0+CH1 Gain=64") << false << 4 << mv0 << mv1 << QStringList{"0.05000", "0.01000", "-0.03000"}
                                        << QStringList{"0.04200", "0.01000", "-0.02200"} << 3;
}

// Catches a zoom that moves the point under the pointer or passes its
// limits, labels that do not follow the visible values, and a way back to the
// full view (Home, double click, wheel, menu) that is not exactly the graph
// drawn: its labels, its recorded lines and its pixels.
void TstGraphView::zoomThenFullView()
{
    QFETCH(bool, hex);
    QFETCH(int, gain);
    QFETCH(QStringList, ch0);
    QFETCH(QStringList, ch1);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, zoomedLabels);
    QFETCH(int, reset);
    auto b = Drawn(hex, gain, ch0, ch1);
    Form1& w = *b->w;
    PictureBox* box = w.Picture1;
    GraphView& v = *w.PictureView;
    QCOMPARE(Labels(w), labels);
    const std::vector<RecordedLine> drawn = box->Lines();
    const QImage rest = box->grab().toImage();

    // The sample under x = 100 of 425 (999 * 100 / 425) stays there.
    const double under = 999.0 * 100 / 425;
    Wheel(box, {100, 50}, 3);
    QCOMPARE(v.TimeRange().lo + 100 * v.TimeRange().span() / 425, under);
    QCOMPARE(v.RangeText(), QStringLiteral("#115-#626 / 1000")); // 511.5 samples from 114.7
    QCOMPARE(Labels(w), labels); // the value axis is still whole
    QTest::keyClick(box, Qt::Key_Plus); // about the middle, no cursor there
    QCOMPARE(v.TimeRange().lo + v.TimeRange().span() / 2, under - (100 - 212.5) * 999 / std::pow(1.25, 3) / 425);
    Wheel(box, {400, 50}, 40);
    QCOMPARE(v.TimeRange().span(), 42.5); // one sample = 10 pixels
    QTest::keyClick(box, Qt::Key_Right);
    const double lo = v.TimeRange().lo;
    Mouse(box, QEvent::MouseButtonPress, {200, 100}, Qt::LeftButton);
    Mouse(box, QEvent::MouseMove, {300, 60});
    Mouse(box, QEvent::MouseButtonRelease, {300, 60}, Qt::LeftButton);
    QCOMPARE((QList<double>{v.TimeRange().lo, v.TimeRange().span()}), (QList<double>{lo - 10, 42.5})); // 100 pixels back
    Wheel(box, {100, 50}, -60);
    QVERIFY(v.IsFullView());
    QCOMPARE(Labels(w), labels);

    Wheel(box, {212.5, 114.5}, 1, Qt::ControlModifier);
    QCOMPARE(Labels(w), zoomedLabels);
    Wheel(box, {50, 10}, 2);
    QTest::keyClick(box, Qt::Key_Up);
    QVERIFY(Labels(w) != zoomedLabels);
    switch (reset) {
    case 0: QTest::keyClick(box, Qt::Key_Home); break;
    case 1: Mouse(box, QEvent::MouseButtonDblClick, {10, 10}, Qt::LeftButton); break;
    case 2: Wheel(box, {10, 10}, -2); Wheel(box, {10, 10}, -1, Qt::ControlModifier); break; // as many notches out as in
    case 3: Send(box, QContextMenuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), box->mapToGlobal(QPoint(5, 5))));
            v.Menu()->findChild<QAction*>("fullView")->trigger(); break;
    }
    QVERIFY(v.IsFullView());
    QCOMPARE(Labels(w), labels);
    QVERIFY(box->Lines() == drawn);
    Send(box, QEvent(QEvent::Leave));
    QCOMPARE(box->grab().toImage(), rest);

    // A new measurement starts from the full view and the drawn labels.
    Wheel(box, {10, 10}, 2, Qt::ControlModifier);
    box->Cls();
    QCOMPARE(Labels(w), labels);
    QVERIFY(!v.HasBlock());
}

void TstGraphView::readout_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<double>("x");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("keys"); // Shift+Right presses after the pointer stopped (< 0: Shift+Left)
    // 100 samples over 425 pixels: sample i at 425 i / 99 (10 at 42.93, 11 at 47.22).
    const QString first = "#0  CH0 -1.000 mV (-0001.000)  CH1 0.000 mV (+0000.000)", last = "#99  CH0 -0.901 mV (-0000.901)  CH1 0.099 mV (+0000.099)";
    QTest::newRow("first") << false << 0.0 << first << 0;
    QTest::newRow("nearer 10") << false << 45.0 << "#10  CH0 -0.990 mV (-0000.990)  CH1 0.010 mV (+0000.010)" << 0;
    QTest::newRow("nearer 11") << false << 45.2 << "#11  CH0 -0.989 mV (-0000.989)  CH1 0.011 mV (+0000.011)" << 0;
    QTest::newRow("last") << false << 424.9 << last << 0;
    QTest::newRow("hex last, past the edge") << true << 430.0 << "#99  CH0 8388699 (80005B)  CH1 8388807 (8000C7)" << 0;
    // Catches: the keyboard cursor stepping past the first or the last sample.
    QTest::newRow("Shift+Left stops at the first") << false << 4.0 << first << -2;
    QTest::newRow("Shift+Right stops at the last") << false << 420.0 << last << 2;
}

// Catches a readout that names a neighbour of the nearest sample, a wrong
// value or text of a channel, or one left standing after the pointer leaves.
void TstGraphView::readout()
{
    QFETCH(bool, hex);
    QFETCH(double, x);
    QFETCH(QString, text);
    QFETCH(int, keys);
    QStringList ch0, ch1;
    for (int i = 0; i < 100; ++i) {
        ch0 << (hex ? QString::number(0x7FFFF8 + i, 16).toUpper() : QString::asprintf("%+09.3f", -1 + i / 1000.0));
        ch1 << (hex ? QString::number(0x800064 + i, 16).toUpper() : QString::asprintf("%+09.3f", i / 1000.0));
    }
    auto b = Drawn(hex, 0, ch0, ch1);
    Mouse(b->w->Picture1, QEvent::MouseMove, {x, 20});
    for (int k = 0; k < std::abs(keys); ++k)
        QTest::keyClick(b->w->Picture1, keys < 0 ? Qt::Key_Left : Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(b->w->PictureView->ReadoutText(), text);
    Send(b->w->Picture1, QEvent(QEvent::Leave));
    QCOMPARE(b->w->PictureView->CursorSample(), -1);
}

// Catches a menu that opens twice or lacks an entry, an image without its
// labels, a failing save that is silent or harms the earlier file, and the
// graph taking Tab focus before the other controls.
void TstGraphView::menuAndExport()
{
    auto b = Drawn(true, 0, Codes(500, 7), {});
    Form1& w = *b->w;
    PictureBox* box = w.Picture1;
    Send(box, QContextMenuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), box->mapToGlobal(QPoint(5, 5))));
    QTest::keyClick(box, Qt::Key_F10, Qt::ShiftModifier); // the menu is already open: no second one
    QMenu* menu = w.PictureView->Menu();
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << a->text();
    QCOMPARE(texts, (QStringList{"画像をクリップボードにコピー(&C)", "PNGファイルに保存(&S)...", "全体表示に戻す(&H)", "",
                                 "ノイズ解析(&N)...", "リアルタイム表示(&R)...", "ファイルを開く(&O)..."}));
    menu->findChild<QAction*>("liveView")->trigger();
    QVERIFY(w.LiveView());
    menu->findChild<QAction*>("noiseAnalysis")->trigger();
    QVERIFY(w.NoiseAnalysis());

    // Labels from 30 twips to the graph's right edge at 7335, from 1080 down
    // to the bottom label's 4545: 487 x 231 pixels.
    QTemporaryDir dir;
    const QString path = dir.filePath("graph.png");
    b->dialogs.savePath = path;
    menu->findChild<QAction*>("saveImage")->trigger();
    QImage saved(path, "PNG");
    QCOMPARE(saved.size(), QSize(487, 231));
    menu->findChild<QAction*>("copyImage")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(487, 231));

    QFile earlier(path);
    const QByteArray before = (earlier.open(QIODevice::ReadOnly), earlier.readAll());
    earlier.close();
    QVERIFY(earlier.setPermissions(QFile::ReadOwner));
    for (const QString& target : {path, dir.filePath("gone/graph.png")}) {
        b->dialogs.clear();
        QVERIFY(!w.PictureView->SaveImage(target));
        QCOMPARE(b->dialogs.texts(FakeDialogs::Shown::Message), QStringList{"画像ファイルを保存出来ませんでした"});
        QCOMPARE(b->dialogs.texts(FakeDialogs::Shown::Question), target == path ? QStringList{path + " に上書きしますか？"} : QStringList());
    }
    QVERIFY(earlier.open(QIODevice::ReadOnly) && earlier.readAll() == before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"graph.png"});

    // Reached by Tab after every other control, never before them.
    QStringList chain{"Status"};
    for (QWidget* x = w.Status->nextInFocusChain(); x != w.Status; x = x->nextInFocusChain())
        if (x->focusPolicy() & Qt::TabFocus && !x->objectName().isEmpty() && !x->objectName().startsWith("qt_"))
            chain << x->objectName();
    QCOMPARE(chain, (QStringList{"Status", "QuitB", "Button1", "SendB2", "ComboCommPort", "Combo2", "Text1", "Combo1", "Command6", "Command29",
                                 "Combo3", "Command7", "Command8", "Option1", "Option2", "Option_CM", "Option_RS", "Command1", "Picture1"}));
}

QTEST_MAIN(TstGraphView)
#include "tst_graphview.moc"
