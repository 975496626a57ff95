// The noise analysis window on the real Form1 with a scripted board: it says
// when there is no block, follows each block as it completes or stops, shows
// the same peak-to-peak value as the status line, and survives tiny blocks.

#include <QtTest>

#include <QtWidgets>

#include "analysis/AllanPage.h"
#include "analysis/NoiseAnalysisWindow.h"
#include "support/BoardBench.h"

namespace {

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

// Catches a shortcut that opens nothing or a second window, a table or text
// made up without a block, and a closed window the main window still points to.
void TstAnalysisWindow::noBlock()
{
    BoardBench b(kVexloDemoProfile, true);
    b.w->show();
    QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
    QTest::keyClick(b.w.get(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    NoiseAnalysisWindow* a = b.w->NoiseAnalysis();
    QVERIFY(a && a->isVisible() && a->windowTitle() == QStringLiteral("ノイズ解析"));
    QVERIFY(a->Summary->text().startsWith(QStringLiteral("ブロックがありません")) && a->StatsText().count(u'\n') == 1);
    b.w->ShowNoiseAnalysis();
    QCOMPARE(b.w->findChildren<NoiseAnalysisWindow*>().size(), 1);
    a->CloseButton->click(); // closed and forgotten: no dangling window left
    QTRY_VERIFY(!b.w->NoiseAnalysis());
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

// Catches a window that does not follow a completed, stopped or replaced
// block, figures that disagree with the status line's peak-to-peak value,
// and NaN or a spectrum or Allan deviation made up from one or two samples.
void TstAnalysisWindow::follows()
{
    QFETCH(bool, hex);
    QFETCH(int, channel);
    QFETCH(int, count);
    QFETCH(int, received);

    auto b = StartedBench(kVexloDemoProfile, hex, channel, QString::number(count));
    b->w->ShowNoiseAnalysis();
    NoiseAnalysisWindow* a = b->w->NoiseAnalysis();
    QVERIFY(a->Summary->text().startsWith(QStringLiteral("測定中です")));

    b->port->Feed(BoardRecords(hex, channel, received, unsigned(count + received)));
    if (received < count) {
        QTRY_COMPARE(b->w->RecvCount, received);
        b->w->SendB2_Click();  // stop
    }
    QTRY_VERIFY(!a->Channels().empty());
    QCOMPARE(a->Channels().front().stats.count, received);
    QCOMPARE(a->Summary->text().contains(QStringLiteral("途中で止まった")), received < count);
    const QStringList names = QStringList{"CH0", "CH1"}.mid(channel == 1, channel == 2 ? 2 : 1);
    QCOMPARE(a->Table->rowCount(), int(names.size()));

    // Peak-to-peak (column 4): the status line's value for a completed block.
    for (int r = 0; r < int(names.size()); ++r) {
        QCOMPARE(a->Table->verticalHeaderItem(r)->text(), names[r]);
        const QString cell = a->Table->item(r, 4)->text();
        const QString status = b->w->Status->text().section(names[r] + u'=', 1).section(u',', 0, 0);
        if (received == count && hex)
            QCOMPARE(cell, status);
        else if (received == count) { // the status line rounds to the gain's 3 decimals; the cell has a unit
            const QString unit = cell.section(u' ', 1);
            const double mv = cell.section(u' ', 0, 0).toDouble() * (unit == u"mV" ? 1 : unit == u"µV" ? 1e-3 : 1e-6);
            QVERIFY2(std::fabs(mv - status.toDouble()) <= 0.0005, qPrintable(cell + " " + status));
        }
    }
    a->Tabs->setCurrentIndex(1);
    QVERIFY(a->SpectrumReady());
    QVERIFY(Clean(a->Peaks->text()) && Clean(a->StatsText()) && Clean(a->Summary->text()));
    QCOMPARE(a->Peaks->text().contains(QStringLiteral("スペクトルはありません")), received < kMinSpectrumSamples);
    if (received >= kMinSpectrumSamples)  // the rate sent with the start: "100sps"
        QCOMPARE(a->Channels().front().spectrum.frequency.back(), 50.0);
    // The Allan tab (computed when shown): tau from one period of 100 sps,
    // each channel's minimum named; nothing made up from fewer than 10 readings.
    QVERIFY(a->Allan->Points().empty());
    a->Tabs->setCurrentIndex(2);
    QCOMPARE(a->Allan->Points().size(), size_t(names.size()));
    QCOMPARE(a->Allan->Points().front().empty(), received < 10);
    if (received >= 10)
        QCOMPARE(a->Allan->Points().front().front().tau, 0.01);
    QCOMPARE(a->Allan->Minimum->text().count(QStringLiteral("最小")), received >= 10 ? int(names.size()) : 0);
    a->Tabs->setCurrentIndex(1);

    // A second block replaces the first.
    b->w->Text1->setText(QStringLiteral("20"));
    b->w->SendB2_Click();
    b->port->Feed(BoardRecords(hex, channel, 20, 7));
    QTRY_COMPARE(a->Channels().front().stats.count, 20);
    QVERIFY(a->SpectrumReady());  // the spectrum tab is showing: computed at once
    QCOMPARE(a->StatsText().count(u'\n'), int(names.size()) + 1);
}

QTEST_MAIN(TstAnalysisWindow)
#include "tst_analysis_window.moc"
