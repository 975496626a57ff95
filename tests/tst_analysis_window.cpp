// The noise analysis window on the real Form1 with a scripted board: it says
// when there is no block, follows each block as it completes or stops, shows
// the same peak-to-peak value as the status line, and survives tiny blocks.

#include <QtTest>

#include <QtWidgets>
#include <random>

#include "analysis/NoiseAnalysisWindow.h"
#include "app/VbComboBox.h"
#include "support/BoardBench.h"

namespace {

// A connected window (Gain=1, 100sps) that starts a measurement of `count`
// samples on channel entry `channel` (2 = both) in hex or millivolts.
std::unique_ptr<BoardBench> Start(bool hex, int channel, int count)
{
    auto b = std::make_unique<BoardBench>(kVexloDemoProfile, true);
    b->replies["G?"] = "G0\r";
    b->replies["F5"] = b->replies["G0"] = "OK\r";
    b->w->Button1_Click();
    (hex ? b->w->Option1 : b->w->Option2)->setChecked(true);
    b->w->Combo2->SetListIndex(channel);
    b->w->Text1->setText(QString::number(count));
    b->w->SendB2_Click();
    return b;
}

// `n` records in the board's shape, random values around mid-scale / 0 mV.
QByteArray Records(bool hex, int channel, int n, unsigned seed)
{
    std::mt19937 rng(seed);
    QByteArray s;
    for (int i = 0; i < n; ++i) {
        for (int f = 0; f < (channel == 2 ? 2 : 1); ++f)
            s += hex ? QByteArray::number(8388000 + int(rng() % 500), 16).toUpper()
                     : QString::asprintf("%+09.3f", (int(rng() % 4001) - 2000) / 1000.0).toLatin1();
        s += '\r';
    }
    return s;
}

bool Clean(const QString& text)
{
    return !text.contains(u"nan", Qt::CaseInsensitive) && !text.contains(u"inf", Qt::CaseInsensitive);
}

} // namespace

class TstAnalysisWindow : public QObject {
    Q_OBJECT
private slots:
    void noBlock();
    void follows_data();
    void follows();
};

void TstAnalysisWindow::noBlock()
{
    BoardBench b(kVexloDemoProfile, true);
    b.w->show();
    QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
    QTest::keyClick(b.w.get(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    NoiseAnalysisWindow* a = b.w->NoiseAnalysis();
    QVERIFY(a && a->isVisible());
    QCOMPARE(a->windowTitle(), QStringLiteral("ノイズ解析"));
    QVERIFY(a->Summary->text().startsWith(QStringLiteral("ブロックがありません")));
    QCOMPARE(a->StatsText().count(u'\n'), 1);  // header only
    b.w->ShowNoiseAnalysis();
    QCOMPARE(b.w->findChildren<NoiseAnalysisWindow*>().size(), 1);
    // Closing it leaves the main window as it was.
    const QString status = b.w->Status->text();
    a->CloseButton->click();
    QTRY_VERIFY(!b.w->NoiseAnalysis());
    QCOMPARE(b.w->Status->text(), status);
}

void TstAnalysisWindow::follows_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("received");  // < count: the operator stops early

    QTest::newRow("hex CH0 1000") << true << 0 << 1000 << 1000;
    QTest::newRow("hex both 300") << true << 2 << 300 << 300;
    QTest::newRow("mV CH1 500") << false << 1 << 500 << 500;
    QTest::newRow("mV both 2") << false << 2 << 2 << 2;
    QTest::newRow("hex CH0 1") << true << 0 << 1 << 1;
    QTest::newRow("hex both stopped at 40") << true << 2 << 100 << 40;
    QTest::newRow("mV CH0 stopped at 1") << false << 0 << 100 << 1;
}

void TstAnalysisWindow::follows()
{
    QFETCH(bool, hex);
    QFETCH(int, channel);
    QFETCH(int, count);
    QFETCH(int, received);

    auto b = Start(hex, channel, count);
    b->w->ShowNoiseAnalysis();
    NoiseAnalysisWindow* a = b->w->NoiseAnalysis();
    QVERIFY(a->Summary->text().startsWith(QStringLiteral("測定中です")));

    b->port->Feed(Records(hex, channel, received, unsigned(count + received)));
    if (received < count) {
        QTRY_COMPARE(b->w->RecvCount, received);
        b->w->SendB2_Click();  // stop
    }
    QTRY_VERIFY(!a->Channels().empty());
    QCOMPARE(a->Channels().front().stats.count, received);
    QCOMPARE(a->Summary->text().contains(QStringLiteral("途中で止まった")), received < count);
    const QStringList names = channel == 2 ? QStringList{"CH0", "CH1"}
                                           : QStringList{channel == 0 ? "CH0" : "CH1"};
    QCOMPARE(a->Table->rowCount(), int(names.size()));

    // Peak-to-peak (column 4): the status line's value for a completed block.
    for (int r = 0; r < int(names.size()); ++r) {
        QCOMPARE(a->Table->verticalHeaderItem(r)->text(), names[r]);
        const QString cell = a->Table->item(r, 4)->text();
        const QString status = b->w->Status->text().section(names[r] + u'=', 1).section(u',', 0, 0);
        if (received == count && hex)
            QCOMPARE(cell, status);
        else if (received == count)  // the status line rounds to the gain's 3 decimals
            QVERIFY2(std::fabs(cell.toDouble() - status.toDouble()) <= 0.0005, qPrintable(cell + " " + status));
    }
    a->Tabs->setCurrentIndex(1);
    QVERIFY(a->SpectrumReady());
    QVERIFY(Clean(a->Peaks->text()) && Clean(a->StatsText()) && Clean(a->Summary->text()));
    QCOMPARE(a->Peaks->text().contains(QStringLiteral("スペクトルはありません")), received < kMinSpectrumSamples);
    if (received >= kMinSpectrumSamples)  // the rate sent with the start: "100sps"
        QCOMPARE(a->Channels().front().spectrum.frequency.back(), 50.0);

    // A second block replaces the first.
    b->w->Text1->setText(QStringLiteral("20"));
    b->w->SendB2_Click();
    b->port->Feed(Records(hex, channel, 20, 7));
    QTRY_COMPARE(a->Channels().front().stats.count, 20);
    QVERIFY(a->SpectrumReady());  // the spectrum tab is showing: computed at once
    QCOMPARE(a->StatsText().count(u'\n'), int(names.size()) + 1);
}

QTEST_MAIN(TstAnalysisWindow)
#include "tst_analysis_window.moc"
