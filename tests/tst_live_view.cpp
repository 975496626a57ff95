// The stream history (envelopes, statistics, gaps, memory) and the live view
// window fed by the main window's measurement.

#include <QtTest>
#include <QtWidgets>
#include <cmath>

#include "analysis/NoiseAnalysisWindow.h"
#include "liveview/LiveViewWindow.h"
#include "liveview/Recorder.h"
#include "measure/PictureBox.h"
#include "measure/SampleBlock.h"
#include "stream/History.h"
#include "support/BoardBench.h"

namespace {

StreamInfo info(int channelMode, bool hex, double rate)
{
    StreamInfo i;
    i.header.channelMode = channelMode;
    i.header.hex = hex;
    i.samplesPerSecond = rate;
    return i;
}

// One record a row, texts as given (a missing text is empty).
void feed(History& h, const QStringList& ch0, const QStringList& ch1, qint64 firstIndex)
{
    SampleBlock rows;
    const int n = int(std::max(ch0.size(), ch1.size()));
    for (int i = 0; i < n; ++i)
        rows.Set(i, {ch0.value(i), ch1.value(i)});
    h.Append(rows, n, firstIndex);
}

} // namespace

class TestLiveView : public QObject {
    Q_OBJECT
private slots:
    void historyStats_data();
    void historyStats();
    void historyLevels();
    void historyGaps();
    void historyMemory();
    void windowNoStream();
    void windowFollowsAndPauses();
    void mainWindowUnchanged();
    void recorderEnds_data();
    void recorderEnds();
    void openFile_data();
    void openFile();
    void fileSpanAnalysis();
};

void TestLiveView::historyStats_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QStringList>("ch0");
    QTest::addColumn<QStringList>("ch1");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QList<double>>("expect");  // count, last, min, max, mean, rms, malformed

    // Catches: a malformed field decoded as 0 and counted into min and mean.
    QTest::newRow("hex, one malformed") << 0 << true
        << QStringList{"000003", "000004", "00X000", "000005"} << QStringList{} << 0
        << QList<double>{3, 5, 3, 5, 4, std::sqrt(50.0 / 3), 1};
    // Catches: the second field of a two-channel record read from the first.
    QTest::newRow("mV, channel 1") << 2 << false
        << QStringList{"+0001.000", "+0002.000"} << QStringList{"-0003.000", "+0004.000"} << 1
        << QList<double>{2, 4, -3, 4, 0.5, std::sqrt(12.5), 0};
    // Catches: a record whose other channel is malformed dropped for both.
    QTest::newRow("mV, other channel bad") << 2 << false
        << QStringList{"+0001.000", "x"} << QStringList{"+0002.000", "+0006.000"} << 1
        << QList<double>{2, 6, 2, 6, 4, std::sqrt(20.0), 1};
    // Catches: texts beside the plain digits path (blanks, exponents, a
    // signed zero) counted as malformed or read differently from the full rule.
    QTest::newRow("mV, blanks and exponents") << 0 << false
        << QStringList{" 1.5 ", "+5E-4", "-0.000", "2.5"} << QStringList{} << 0
        << QList<double>{4, 2.5, 0, 2.5, 4.0005 / 4, std::sqrt(8.50000025 / 4), 0};
    // Catches: a number beyond a double kept as infinity (the chart's value
    // axis then has no end).
    QTest::newRow("mV, beyond a double") << 0 << false
        << QStringList{"1e400", "-1e400", "2.0"} << QStringList{} << 0
        << QList<double>{1, 2, 2, 2, 2, 2, 2};
    // Catches: a short hexadecimal field taken as a number.
    QTest::newRow("hex, short field") << 1 << true
        << QStringList{} << QStringList{"00000A", "0A"} << 1
        << QList<double>{1, 10, 10, 10, 10, 10, 1};
}

void TestLiveView::historyStats()
{
    QFETCH(int, mode);
    QFETCH(bool, hex);
    QFETCH(QStringList, ch0);
    QFETCH(QStringList, ch1);
    QFETCH(int, channel);
    QFETCH(QList<double>, expect);
    History h([] { return qint64(0); });
    h.Begin(info(mode, hex, 10));
    feed(h, ch0, ch1, 0);
    const SpanStats s = h.Stats(channel, 0, 1e9);
    QCOMPARE(double(s.count), expect[0]);
    QCOMPARE(s.last, expect[1]);
    QCOMPARE(s.min, expect[2]);
    QCOMPARE(s.max, expect[3]);
    QCOMPARE(s.mean, expect[4]);
    QCOMPARE(s.rms, expect[5]);
    QCOMPARE(double(h.Malformed()), expect[6]);
}

void TestLiveView::historyLevels()
{
    // 8 steps of 65536 records (values 0..7), then 5 records of 100: the
    // oldest records have left the raw ring, so the levels answer.
    History h([] { return qint64(0); });
    h.Begin(info(0, true, 1200));
    std::vector<double> v;
    for (int i = 0; i < 8 * 65536; ++i)
        v.push_back(i / 65536);
    for (int i = 0; i < 5; ++i)
        v.push_back(100);
    h.AppendValues(v.data(), qint64(v.size()));
    QCOMPARE(h.Count(), qint64(524293));

    // Catches: buckets put into the wrong column, or first/last of a column
    // taken from the wrong end.
    const std::vector<ColumnEnvelope> env = h.Envelope(0, {0, 524287}, 4);
    for (int c = 0; c < 4; ++c) {
        QVERIFY(env[size_t(c)].used);
        QCOMPARE(env[size_t(c)].lo, 2.0 * c);
        QCOMPARE(env[size_t(c)].hi, 2.0 * c + 1);
        QCOMPARE(env[size_t(c)].first, 2.0 * c);
        QCOMPARE(env[size_t(c)].last, 2.0 * c + 1);
    }
    // Catches: the newest records (still in the finer levels' unfinished
    // buckets) missing from a span answered by a coarse level.
    const SpanStats s = h.Stats(0, 0, 524292);
    QCOMPARE(s.count, qint64(524293));
    QCOMPARE(s.last, 100.0);
    QCOMPARE(s.max, 100.0);
    QCOMPARE(s.min, 0.0);
    QCOMPARE(s.mean, (65536.0 * 28 + 500) / 524293);
    QCOMPARE(s.rms, std::sqrt((65536.0 * 140 + 50000) / 524293));
    // Catches: the raw ring read at the wrong slot after it wrapped.
    const std::vector<ColumnEnvelope> tail = h.Envelope(0, {524286, 524290}, 4);
    QCOMPARE(tail[0].hi, 7.0);
    QCOMPARE(tail[2].lo, 100.0);
}

void TestLiveView::historyGaps()
{
    qint64 now = 0;
    History h([&now] { return now; });
    h.Begin(info(0, true, 10));  // a stall is more than 3 * 100 ms + 1 s
    const QStringList two{"000001", "000002"};
    feed(h, two, {}, 0);
    now = 1300;
    feed(h, two, {}, 2);
    now = 2601;
    feed(h, two, {}, 4);
    now = 3000;
    feed(h, two, {}, 6);
    // Catches: a chunk exactly at the limit marked, or a late one not.
    QCOMPARE(h.Gaps(), qint64(1));
    QCOMPARE(h.GapsIn(0, 100), std::vector<qint64>{4});
    // Catches: a chunk sent twice counted twice.
    feed(h, two, {}, 6);
    QCOMPARE(h.Count(), qint64(8));
}

void TestLiveView::historyMemory()
{
    // 2^23 records of two channels; kept whole they would take 128 MiB.
    History h([] { return qint64(0); });
    h.Begin(info(2, true, 1200));
    std::vector<double> chunk(2 * 65536);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = double(i % 977);
    for (int k = 0; k < 128; ++k)
        h.AppendValues(chunk.data(), 65536);
    // Catches: a level or the raw part that grows with the length of the run.
    QVERIFY2(h.MemoryBytes() < 8u << 20, qPrintable(QString::number(h.MemoryBytes())));
    const SpanStats s = h.Stats(1, 0, 1e12);
    QCOMPARE(s.count, qint64(1) << 23);
    QCOMPARE(s.max, 976.0);
}

// Catches: a shortcut that opens nothing or a second window, a chart or
// statistics made up without a stream, a closed window still pointed to.
void TestLiveView::windowNoStream()
{
    BoardBench b(kVexloDemoProfile, true);
    b.w->show();
    QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
    QTest::keyClick(b.w.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    LiveViewWindow* v = b.w->LiveView();
    QVERIFY(v && v->isVisible());
    QCOMPARE(v->windowTitle(), QStringLiteral("リアルタイム表示"));
    QCOMPARE(v->Summary->text(), QStringLiteral("表示するストリームはありません"));
    QVERIFY(v->StatsLabels.empty());
    b.w->ShowLiveView();
    QCOMPARE(b.w->findChildren<LiveViewWindow*>().size(), 1);
    v->CloseButton->click();
    QTRY_VERIFY(!b.w->LiveView());
}

// Catches: records of the block not reaching the view (or at the wrong
// index), statistics of the wrong channel or span, a paused view that still
// moves, and an end of measurement the view does not notice.
void TestLiveView::windowFollowsAndPauses()
{
    auto b = StartedBench(kVexloDemoProfile, true, 2, QStringLiteral("6"));
    b->w->ShowLiveView();
    LiveViewWindow* v = b->w->LiveView();
    v->SpanList->setCurrentIndex(4);  // the whole stream
    b->port->Feed("000001000010\r000002000020\r000003000030\r");
    QTRY_COMPARE(v->Stream().Count(), qint64(3));
    v->Refresh();
    QCOMPARE(v->StatsLines(), (QStringList{
        QStringLiteral("CH0  最新 3  最小 1  最大 3  平均 2.00  RMS 2.16  (3 件)"),
        QStringLiteral("CH1  最新 48  最小 16  最大 48  平均 32.00  RMS 34.56  (3 件)")}));
    QCOMPARE(v->StatsLabels[1]->text(), v->StatsLines()[1]);
    QVERIFY(v->Summary->text().startsWith(QStringLiteral("受信中  3 件")));

    v->PauseButton->click();
    b->port->Feed("000004000040\r000005000050\r");
    QTRY_COMPARE(v->Stream().Count(), qint64(5));
    v->Refresh();
    QCOMPARE(v->View(), (AxisRange{0, 2}));
    QVERIFY(v->StatsLines()[0].endsWith(QStringLiteral("(3 件)")));
    v->PauseButton->click();
    QCOMPARE(v->View(), (AxisRange{0, 4}));

    b->port->Feed("000006000060\r");
    QTRY_VERIFY(!v->Stream().Running());
    QVERIFY(v->Summary->text().startsWith(QStringLiteral("終了  6 件")));
    QCOMPARE(v->StatsLines()[1],
             QStringLiteral("CH1  最新 96  最小 16  最大 96  平均 56.00  RMS 62.31  (6 件)"));
}

// Catches: the open view changing the main window's status line, graph or
// block (the same block measured with and without it).
void TestLiveView::mainWindowUnchanged()
{
    const QByteArray records = BoardRecords(false, 2, 300, 7u);
    QString status[2];
    std::vector<RecordedLine> lines[2];
    for (int open = 0; open < 2; ++open) {
        auto b = StartedBench(kVexloDemoProfile, false, 2, QStringLiteral("300"));
        if (open)
            b->w->ShowLiveView();
        b->port->Feed(records);
        QTRY_VERIFY(!b->w->Measuring);
        status[open] = b->w->Status->text();
        lines[open] = b->w->Picture1->Lines();
        QCOMPARE(b->w->Samples.Ch1(299).toLatin1(), records.mid(299 * 19 + 9, 9));
    }
    QCOMPARE(status[1], status[0]);
    QVERIFY(lines[1] == lines[0] && !lines[0].empty());
}

void TestLiveView::recorderEnds_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("limit");  // records; 0 = none
    QTest::addColumn<int>("rows");   // expected in the file

    // Catches: records past the block's 65535 lost, or the file's count line
    // not brought up to the rows when the recording is stopped from its window.
    QTest::newRow("記録停止") << "button" << 0 << 70000;
    // Catches: the main window's stop leaving the file unfinished.
    QTest::newRow("測定停止") << "main" << 0 << 70000;
    // Catches: a lost port ending the measurement but not the file.
    QTest::newRow("lost port") << "port" << 0 << 70000;
    // Catches: a limit overshot by the records of the same read.
    QTest::newRow("limit") << "limit" << 65600 << 65600;
}

void TestLiveView::recorderEnds()
{
    QFETCH(QString, end);
    QFETCH(int, limit);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rec.csv"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    }
    auto b = std::make_unique<BoardBench>(kVexloDemoProfile, true);
    b->replies["G?"] = "G0\r";
    b->replies["F5"] = b->replies["G0"] = "OK\r";
    b->w->Button1_Click();
    b->w->Option1->setChecked(true);
    b->dialogs.savePath = path;
    b->w->ShowLiveView();
    LiveViewWindow* v = b->w->LiveView();
    v->LimitRecords->setValue(limit);
    b->ClearLog();
    v->RecordButton->click();
    QVERIFY(v->Recording()->Active());
    QCOMPARE(b->received.last(), QByteArray("A00000"));  // count 0: until stopped
    QCOMPARE(b->w->SendB2->text(), QStringLiteral("測定停止"));
    // The earlier file stays until the stream has begun.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old"));
    file.close();

    QByteArray expected;
    for (int i = 0; i < 70000; ++i) {
        const QByteArray text = QByteArray::number(0x100000 + i, 16).toUpper();
        b->port->Feed(text + '\r');
        if (i < rows)
            expected += text + "\r\n";
    }
    QTRY_COMPARE(v->Recording()->Records(), qint64(rows));
    if (end == u"button")
        v->RecordButton->click();
    else if (end == u"main")
        b->w->SendB2_Click();
    else if (end == u"port")
        emit b->port->PortFailed();
    QTRY_VERIFY(!v->Recording()->Active());
    QVERIFY(!b->w->Measuring && !b->w->Recording);
    QCOMPARE(b->dialogs.texts(FakeDialogs::Shown::Message), QStringList());

    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QList<QByteArray> lines = bytes.left(2000).split('\n');
    const QByteArray countLine = lines.value(6);  // "データ個数 :  70000", padded
    QCOMPARE(countLine.mid(countLine.lastIndexOf(':') + 1).trimmed().toLongLong(), qint64(rows));
    qsizetype body = 0;  // past the seven header lines and the column header
    for (int k = 0; k < 8; ++k)
        body = bytes.indexOf("\r\n", body) + 2;
    QVERIFY(bytes.mid(body) == expected);
    QCOMPARE(v->Stream().Count(), qint64(rows));
}

void TestLiveView::openFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("stats");   // what the statistics labels read; empty: refused
    QTest::addColumn<QString>("message");     // the box shown, "" for none
    // The header's labels in Shift-JIS (worked out from the code table).
    const QByteArray header = QByteArray::fromHex("8366815b835e") + "\r\n2022/05/10 13:45:12\r\nGain=1\r\n"
                              + QByteArray::fromHex("83748342838b835e203a20") + "BUF ON / Sinc4\r\n"
                              + QByteArray::fromHex("8366815b835e838c815b8367203a20") + "10sps\r\n"
                              + QByteArray::fromHex("91aa92e882628267203a20") + "CH0 + CH1\r\n"
                              + QByteArray::fromHex("8366815b835e8cc29094203a20") + " 3\r\n";
    // Catches rows not reaching the history, a view that does not cover the
    // whole file, or one that is not paused.
    QTest::newRow("two channels") << header + "CH0=Ain0-Ain1 [hex],CH1=Ain2-Ain3 [hex]\r\n"
                                              "000001,000010\r\n000002,000020\r\n000003,000030\r\n"
                                  << QStringList{QStringLiteral("CH0  最新 3  最小 1  最大 3  平均 2.00  RMS 2.16  (3 件)"),
                                                 QStringLiteral("CH1  最新 48  最小 16  最大 48  平均 32.00  RMS 34.56  (3 件)")}
                                  << "";
    // Catches a file of another kind read into the view, or refused silently.
    QTest::newRow("another kind") << QByteArray("a,b\r\n1,2\r\n3,4\r\n5,6\r\n7,8\r\n") << QStringList{}
                                  << "@: not a data file (line 4 does not begin with \"フィルタ :\")";
}

void TestLiveView::openFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, stats);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath("f.csv");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    f.close();
    BoardBench b(kVexloDemoProfile, true);
    b.w->show();
    QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
    b.dialogs.openPath = path;
    QTest::keyClick(b.w.get(), Qt::Key_O, Qt::ControlModifier);
    LiveViewWindow* v = b.w->LiveView();
    QVERIFY(v);
    QTRY_VERIFY(!v->Loading());
    QCOMPARE(b.dialogs.texts(FakeDialogs::Shown::OpenDialog),
             QStringList{QStringLiteral("データファイル (*.csv *.CSV);;すべてのファイル (*)")});
    QCOMPARE(b.dialogs.texts(FakeDialogs::Shown::Message),
             message.isEmpty() ? QStringList{} : QStringList{QString(message).replace(u'@', path)});
    if (stats.isEmpty()) {
        QCOMPARE(v->Summary->text(), QStringLiteral("表示するストリームはありません"));
        return;
    }
    QCOMPARE(v->StatsLines(), stats);
    QVERIFY(v->Paused());
    QCOMPARE(v->View(), (AxisRange{0, 2}));
    QVERIFY2(v->Summary->text().startsWith(QStringLiteral(
                 "f.csv  2022/05/10 13:45:12 / Gain=1 / BUF ON / Sinc4 / 10sps / CH0 + CH1 / データ個数 3\n終了  3 件")),
             qPrintable(v->Summary->text()));
}

namespace {

// A data file of rows `rows` after the header of the openFile rows, with the
// gain line and the columns' unit as given.
QString writeDataFile(const QTemporaryDir& dir, const QByteArray& gain, const QByteArray& unit,
                      const QByteArray& rows, int count)
{
    const QByteArray bytes = QByteArray::fromHex("8366815b835e") + "\r\n2022/05/10 13:45:12\r\n" + gain + "\r\n"
                             + QByteArray::fromHex("83748342838b835e203a20") + "BUF ON / Sinc4\r\n"
                             + QByteArray::fromHex("8366815b835e838c815b8367203a20") + "10sps\r\n"
                             + QByteArray::fromHex("91aa92e882628267203a20") + "CH0 + CH1\r\n"
                             + QByteArray::fromHex("8366815b835e8cc29094203a20") + QByteArray::number(count) + "\r\n"
                             + "CH0=Ain0-Ain1 [" + unit + "],CH1=Ain2-Ain3 [" + unit + "]\r\n" + rows;
    const QString path = dir.filePath(QStringLiteral("span%1.csv").arg(count));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

} // namespace

// Catches: a file read while another was still being read mixing their
// rows or landing late, a chosen span handed on with the wrong records (off by one at
// either end, the selection ignored, or the visible span not used without
// one), a span longer than a block cut to 65535 values, a cancelled or
// replaced analysis whose late result still lands, a window closed while its
// worker runs (std::terminate on a joinable thread), millivolts of an
// opened file shown with the main window's gain instead of the file's, and a
// readout of the wrong record or one that makes up a single value where the
// history keeps only a bucket's extremes, and a value zoom or pan that leaves
// the fitted range, goes below the graph's least span, or never gives the
// band back to fitting.
void TestLiveView::fileSpanAnalysis()
{
    QTemporaryDir dir;
    // CH0 = 1 .. 6, CH1 = 16 .. 96.
    const QString small = writeDataFile(dir, "Gain=1", "hex",
                                        "000001,000010\r\n000002,000020\r\n000003,000030\r\n"
                                        "000004,000040\r\n000005,000050\r\n000006,000060\r\n", 6);
    // 140000 rows cycling 0, 1, 2, 3 (CH0) and 3, 2, 1, 0 (CH1): more than a
    // block and more than the history keeps as single values.
    QByteArray many;
    for (int i = 0; i < 140000; ++i)
        many += "00000" + QByteArray::number(i % 4) + ",00000" + QByteArray::number(3 - i % 4) + "\r\n";
    const QString large = writeDataFile(dir, "Gain=1", "hex", many, 140000);
    // Gain=32 gives millivolts five decimals.
    const QString millivolts = writeDataFile(dir, "Gain=32", "mV", "1.00001,-2.00002\r\n1.00003,-2.00004\r\n", 2);
    QVERIFY(!small.isEmpty() && !large.isEmpty() && !millivolts.isEmpty());

    BoardBench b(kVexloDemoProfile, true);
    b.w->ShowLiveView();
    LiveViewWindow* v = b.w->LiveView();
    QString error;
    QVERIFY(!v->AnalyzeButton->isEnabled());
    QSignalSpy opened(v, &LiveViewWindow::FileOpened);
    // A file opened while another is read replaces it: the first one's
    // rows never land.
    QVERIFY2(v->OpenFile(large, &error), qPrintable(error));
    QVERIFY(v->Loading());
    QVERIFY2(v->OpenFile(small, &error), qPrintable(error));
    QTRY_VERIFY(!v->Loading());
    QCoreApplication::processEvents();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(v->Stream().Count(), qint64(6));
    QVERIFY(v->AnalyzeButton->isEnabled());
    QCOMPARE(v->ReadoutText(3), QStringLiteral("#3  0.3 秒  CH0 4  CH1 64"));
    v->Chart->setFocus();
    QTest::keyClick(v->Chart, Qt::Key_Right, Qt::ShiftModifier);  // the middle of 0 .. 5
    QTest::keyClick(v->Chart, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(v->Chart->Cursor(), qint64(4));
    // Values: CH0 1 .. 6 fit 0 .. 6 (ticks of 2), CH1 16 .. 96 fit 0 .. 100.
    v->show();
    v->Chart->repaint();
    QCOMPARE(v->ValueView(0), AxisRange{});
    QTest::keyClick(v->Chart, Qt::Key_Plus, Qt::ControlModifier);  // 1.25 about the middle
    QCOMPARE(v->ValueView(1), (AxisRange{10, 90}));
    QTest::keyClick(v->Chart, Qt::Key_Home);
    QVERIFY(v->ValueView(0) == AxisRange{} && v->ValueView(1) == AxisRange{});
    v->ZoomValues(1, 2, 0.5);
    QCOMPARE(v->ValueView(1), (AxisRange{25, 75}));
    v->PanValues(1, 1);  // up by its height, stopping at the top of the fitted range
    QCOMPARE(v->ValueView(1), (AxisRange{50, 100}));
    v->ZoomValues(1, 0.25, 0.5);  // out past all of it: fitted again
    QCOMPARE(v->ValueView(1), AxisRange{});
    v->ZoomValues(0, 2, 0.5);  // 6 / 2 = 3 codes is below the graph's least span, 4
    QCOMPARE(v->ValueView(0), (AxisRange{1, 5}));

    // Positions 1.4 .. 4.2 hold records 2, 3 and 4.
    v->Select({4.2, 1.4});
    QCOMPARE(v->ChosenRecords(), (std::pair<qint64, qint64>{2, 5}));
    v->AnalyzeClicked();
    NoiseAnalysisWindow* n = b.w->NoiseAnalysis();
    QVERIFY(n && n->isVisible());
    QSignalSpy updated(n, &NoiseAnalysisWindow::Updated);
    QTRY_COMPARE(updated.size(), 1);
    QCOMPARE(n->Summary->text(), QStringLiteral(
        "span6.csv / 記録 2 – 4 (3 個) / CH0, CH1 / 10sps / バイナリデータ [digit]"));
    QCOMPARE(n->Channels().size(), size_t(2));
    const NoiseStats& s0 = n->Channels()[0].stats;
    QCOMPARE(s0.count, 3);
    QCOMPARE(s0.mean, 4.0);
    QCOMPARE(s0.peakToPeak, 2.0);
    QCOMPARE(s0.rms, 1.0);
    QCOMPARE(n->Channels()[1].stats.mean, 64.0);  // 0x30, 0x40, 0x50
    QCOMPARE(n->Channels()[1].stats.rms, 16.0);

    // Without a selection the visible span: all six records.
    v->Select({0, 0});
    QCOMPARE(v->ChosenRecords(), (std::pair<qint64, qint64>{0, 6}));
    v->AnalyzeClicked();
    QTRY_COMPARE(updated.size(), 2);
    QCOMPARE(n->Channels()[0].stats.mean, 3.5);

    // Longer than a block: every one of the 140000 values, not 65535.
    QVERIFY2(v->OpenFile(large, &error), qPrintable(error));
    QTRY_VERIFY(!v->Loading());
    QCOMPARE(v->ReadoutText(0), QStringLiteral("#0  0.0 秒  CH0 0 – 3  CH1 0 – 3"));
    QCOMPARE(v->ReadoutText(139999), QStringLiteral("#139999  13999.9 秒  CH0 3  CH1 0"));
    v->AnalyzeClicked();
    QTRY_COMPARE(updated.size(), 3);
    QVERIFY(n->Summary->text().startsWith(QStringLiteral("span140000.csv / 記録 0 – 139999 (140000 個)")));
    const NoiseAnalysisWindow::Channel& c = n->Channels()[0];
    QCOMPARE(c.stats.count, 140000);
    QCOMPARE(c.stats.mean, 1.5);
    QCOMPARE(c.stats.peakToPeak, 3.0);
    // Sample variance: 1.25 × 140000 / 139999.
    QVERIFY(std::fabs(c.stats.rms - std::sqrt(1.25 * 140000 / 139999)) < 1e-12);
    QCOMPARE(c.histogram.bins.size(), size_t(4));
    for (const HistogramBin& bin : c.histogram.bins)
        QCOMPARE(bin.count, 35000);
    QVERIFY(!c.allan.empty());

    // Cancelled, or replaced by a block, before its result could land: the
    // result never shows.
    v->AnalyzeClicked();
    n->CancelSpan();
    QCOMPARE(n->Summary->text(), QStringLiteral("解析を中止しました。"));
    QVERIFY(n->Channels().empty() && !n->Busy());
    v->AnalyzeClicked();
    n->Refresh();
    QVERIFY(!n->Busy());
    // Both workers were joined, so their results, if any, are queued by now.
    QCoreApplication::processEvents();
    QCOMPARE(updated.size(), 4);  // the block's refresh alone
    QVERIFY(!n->Summary->text().contains(QStringLiteral("span140000")));
    // Closed while its worker runs, and the live view while it reads a file.
    v->AnalyzeClicked();
    n->close();
    QTRY_VERIFY(!b.w->NoiseAnalysis());
    QVERIFY2(v->OpenFile(large, &error), qPrintable(error));
    v->close();
    QTRY_VERIFY(!b.w->LiveView());
    b.w->ShowLiveView();
    v = b.w->LiveView();

    QVERIFY2(v->OpenFile(millivolts, &error), qPrintable(error));
    QTRY_VERIFY(!v->Loading());
    QCOMPARE(v->StatsLines()[0],
             QStringLiteral("CH0  最新 1.00003 mV  最小 1.00001 mV  最大 1.00003 mV  平均 1.00002 mV  RMS 1.00002 mV  (2 件)"));
    QCOMPARE(v->ReadoutText(1), QStringLiteral("#1  0.1 秒  CH0 1.00003 mV  CH1 -2.00004 mV"));
}

QTEST_MAIN(TestLiveView)
#include "tst_live_view.moc"
