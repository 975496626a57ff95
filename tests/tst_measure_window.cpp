// Start, stop and reception of a measurement in the real window, against a
// scripted board on the in-process fake port.

#include <QtTest>

#include <QtWidgets>

#include "measure/PictureBox.h"
#include "support/BoardBench.h"

namespace {

const QString kStop = QStringLiteral("測定停止");

// Not measuring, in every way the operator or the port can tell.
bool Idle(const BoardBench& b)
{
    return !b.w->Measuring && b.w->SendB2->text() == QStringLiteral("測定開始") && b.port->RThreshold() == 0;
}

} // namespace

class TstMeasureWindow : public QObject {
    Q_OBJECT
private slots:
    void startCommand();
    void setCommandRefused();
    void chunking_data();
    void chunking();
    void refusalNG();
    void stopByOperator();
    void countZeroFillsBlockThenStops();
};

// Catches a count misread (blanks, halves to even, no "&H"), a start command
// or set-up sent wrongly, and the status line cleared where Tamrix keeps it.
void TstMeasureWindow::startCommand()
{
    const struct { bool hex; int channel; const char* count; QByteArray command; } cases[] = {
        {true, 0, "100", "A00064"}, {false, 2, "1000", "M203E8"}, {true, 1, "65535", "A1FFFF"},
        {true, 0, "12.5", "A0000C"}, {true, 0, "13.5", "A0000E"}, {true, 0, " 1 0\t0", "A00064"},
        {true, 0, "abc", "A00000"}, {true, 0, "&H64", "A00000"}}; // only the COM number reads "&H"
    for (const auto& c : cases)
        for (const BuildProfile* p : {&kVexloDemoProfile, &kTamrixProfile}) {
            auto b = StartedBench(*p, c.hex, c.channel, c.count, [](BoardBench& b) { b.w->Status->setText("old"); });
            QCOMPARE(b->received, (QList<QByteArray>{"F5", "G0", c.command}));
            QCOMPARE(b->port->writes.last(), c.command + '\r');
            QVERIFY(b->w->Measuring && b->w->SendB2->text() == kStop && b->port->RThreshold() == 1);
            QCOMPARE(b->w->Status->text(), p == &kTamrixProfile ? QStringLiteral("old") : QString());
        }
}

// Catches a start after a refused or unanswered rate or gain, or one that
// wipes the earlier graph.
void TstMeasureWindow::setCommandRefused()
{
    const QString rate = QStringLiteral("データレート設定できませんでした");
    const struct { const char* command; const char* reply; QString status; int writes; } cases[] = {
        {"F5", "NG\r", rate, 1}, {"F5", nullptr, rate, 1}, {"G0", "O\r", QStringLiteral("ゲイン設定できませんでした"), 2}};
    for (const auto& c : cases) {
        auto b = StartedBench(kVexloDemoProfile, true, 0, "100", [&c](BoardBench& b) {
            b.w->Picture1->Line(1, 2, 3, 4, 0);
            if (c.reply)
                b.replies[c.command] = c.reply;
            else
                b.replies.remove(c.command);
        });
        QCOMPARE(b->w->Status->text(), c.status);
        QCOMPARE(int(b->received.size()), c.writes);
        QCOMPARE(int(b->w->Picture1->Lines().size()), 1);
        QVERIFY(Idle(*b));
    }
}

void TstMeasureWindow::chunking_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("tamrix");
    for (bool tamrix : {false, true})
        for (bool hex : {true, false})
            for (int mode = 0; mode < 3; ++mode)
                QTest::addRow("%s %s mode %d", tamrix ? "Tamrix" : "Demo", hex ? "hex" : "mV", mode)
                    << hex << mode << tamrix;
}

// Catches records lost, split or misread when bytes arrive in any pieces,
// a stale progress line, a block reread in the format switched to later, and
// (random pieces) the gain reply's late LF taken as the stream's first byte.
void TstMeasureWindow::chunking()
{
    QFETCH(bool, hex);
    QFETCH(int, mode);
    QFETCH(bool, tamrix);
    const int n = 60;
    QList<QStringList> fields;
    const QByteArray stream = BoardRecords(hex, mode, n, unsigned(mode * 10 + hex), &fields) + "000";
    QString status;
    for (int way = 0; way < 3; ++way) {
        auto b = StartedBench(tamrix ? kTamrixProfile : kVexloDemoProfile, hex, mode, QString::number(n),
                              [way](BoardBench& b) { b.lateLf = way == 2; });
        std::mt19937 rng(9);
        for (qsizetype pos = 0; pos < stream.size();) {
            const qsizetype len = way == 0 ? stream.size() : way == 1 ? 1 : 1 + qsizetype(rng() % 50);
            b->port->Feed(stream.mid(pos, len));
            pos += len;
            if (way == 1 && pos == 12 * (stream.size() - 3) / n + 5) {
                QTRY_COMPARE_WITH_TIMEOUT(b->w->Status->text(), "12/" + fields[11].join(", "), 2000);
                // The operator switches the format: the block is still read
                // the way it was measured.
                (hex ? b->w->Option2 : b->w->Option1)->setChecked(true);
            }
        }
        QTest::qWait(20);
        QCOMPARE(b->w->RecvCount, n);
        QVERIFY(Idle(*b));
        if (way == 0)
            status = b->w->Status->text();
        QCOMPARE(b->w->Status->text(), status);
        QVERIFY(status.startsWith(QStringLiteral("測定終了... ") + (hex ? "[digit pp] " : "[mV pp] ")));
        QCOMPARE(int(b->w->Picture1->Lines().size()), (mode == 2 ? 2 : 1) * (n - 1));
        for (int i = 0; i < n; ++i)
            QCOMPARE((QStringList{b->w->Samples[i].Ch0, b->w->Samples[i].Ch1}).mid(mode == 1, mode == 2 ? 2 : 1), fields[i]);
        if (way == 0) // characters past the last record stay unread
            QVERIFY(b->w->RecvBuffer.endsWith(QStringLiteral("000")));
    }
}

// Catches a refusal missed when split in two or behind a late LF (Vexlo_Demo,
// Vexlo) and one acted on by Tamrix, which keeps measuring and says nothing.
void TstMeasureWindow::refusalNG()
{
    for (const BuildProfile* p : {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile}) {
        auto b = StartedBench(*p, true, 0, "100", [](BoardBench& b) {
            b.w->Status->setText("before");
            b.lateLf = true; // the gain reply's LF comes in front of the refusal
        });
        b->port->Feed("N");
        b->port->Feed("G\r");
        QTest::qWait(20);
        const bool tamrix = p == &kTamrixProfile;
        QCOMPARE(b->w->Status->text(), tamrix ? QStringLiteral("before") : QStringLiteral("測定開始エラー... "));
        QVERIFY(tamrix ? b->w->Measuring && b->w->SendB2->text() == kStop && b->port->RThreshold() == 1 : Idle(*b));
        QVERIFY(b->w->RecvCount == 0 && b->w->Label3->text() == QStringLiteral("---"));
        QVERIFY(b->w->Picture1->Lines().empty());
    }
}

// Catches records stored after the operator's stop (while more are queued,
// the other format option showing), the wrong stop command, and the wrong
// last line (Tamrix keeps the progress line, Vexlo_Demo reports the stop).
void TstMeasureWindow::stopByOperator()
{
    for (bool tamrix : {false, true}) {
        const bool hex = !tamrix;
        QList<QStringList> fields;
        const QByteArray stream = BoardRecords(hex, 0, 30, 4, &fields);
        const int length = int(stream.size() / 30);
        auto b = StartedBench(tamrix ? kTamrixProfile : kVexloDemoProfile, hex, 0, "100");
        for (int i = 0; i < 15; ++i)
            b->port->Feed(stream.mid(i * length, length));
        QTest::qWait(20);
        (hex ? b->w->Option2 : b->w->Option1)->setChecked(true);
        b->port->Feed(stream.mid(15 * length, 7 * length + 3)); // arrives during the stop
        b->ClearLog();
        b->w->SendB2_Click();
        QCOMPARE(b->port->writes.first(), hex ? QByteArray("AX\r") : QByteArray("MX\r"));
        QVERIFY(Idle(*b));
        QTest::qWait(80);
        QVERIFY(b->w->RecvCount == 15 && b->w->Label3->text() == QStringLiteral("---")); // nothing more stored
        QCOMPARE(b->w->Status->text(), tamrix ? "15/" + fields[14].join(", ") : QStringLiteral("測定停止しました"));
        QVERIFY(tamrix || b->w->RecvBuffer.isEmpty());
    }
}

// Catches a count-0 stream that overruns the 65535-record block or is not
// stopped and finished as a full block once it is in.
void TstMeasureWindow::countZeroFillsBlockThenStops()
{
    auto b = StartedBench(kVexloDemoProfile, true, 0, "0");
    QCOMPARE(b->port->writes.last(), QByteArray("A00000\r"));
    QByteArray chunk;
    for (int i = 0; i < 1000; ++i)
        chunk += QByteArray::number(0x800000 + i % 50, 16).toUpper() + '\r';
    b->ClearLog();
    for (int k = 0; k < 66; ++k)
        b->port->Feed(chunk);
    QTest::qWait(20);
    QVERIFY(Idle(*b));
    QVERIFY(b->w->RecvCount == 65535 && b->w->SampleCount == 65535);
    QCOMPARE(b->port->writes, QList<QByteArray>{QByteArray("AX\r")});
    QCOMPARE(b->w->Status->text(), QStringLiteral("測定終了... [digit pp] CH0=49"));
    QCOMPARE(int(b->w->Picture1->Lines().size()), 65534);
    QCOMPARE(b->w->Samples[65534].Ch0, QStringLiteral("800022")); // 65534 % 50 = 34
}

QTEST_MAIN(TstMeasureWindow)
#include "tst_measure_window.moc"
