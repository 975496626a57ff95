// The real window and serial port against the board simulator on a
// pseudo-terminal: the connection check of both models in the three programs
// (good, a wrong model), the rate and gain buttons, reads that time out, and
// the close. (Failures A and B: tst_faults; C and D: tst_board_check.)

#include <QtTest>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <ctime>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "serial/CommPort.h"
#include "support/FakeDialogs.h"
#include "support/ProfileSuite.h"
#include "support/SimFixture.h"

using vexlo::sim::BoardState;
using vexlo::sim::Faults;
using vexlo::sim::Model;

Q_DECLARE_METATYPE(Model)
Q_DECLARE_METATYPE(BoardState)

namespace {
// CPU time of the calling (window) thread, in seconds.
double ThreadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}
} // namespace

class TestBoardE2E : public QObject {
    Q_OBJECT
private slots:
    void check_data()
    {
        QTest::addColumn<const BuildProfile*>("profile");
        QTest::addColumn<Model>("model");      // the board
        QTest::addColumn<bool>("tamrix");      // the window's model choice
        QTest::addColumn<BoardState>("board");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("label");
        const BoardState on4{true, 4, 2, 3};
        const auto T = Model::Tamrix, S = Model::Selvor;
        const BuildProfile* demo = &kVexloDemoProfile;
        QTest::newRow("Demo Tamrix") << demo << T << true << BoardState{true, 4, 3, 10}
                                     << "Vexlo : BUF ON, Sinc4" << "BUF ON / Sinc4";
        QTest::newRow("Demo Selvor") << demo << S << false << BoardState{false, 4, 0, 6}
                                     << "Vexlo : BUF OFF, Sinc4" << "BUF OFF / Sinc4";
        QTest::newRow("Vexlo Selvor") << &kVexloProfile << S << false << BoardState{false, 3, 5, 6}
                                      << "Vexlo : BUF OFF, Sinc3" << "BUF OFF / Sinc3";
        QTest::newRow("Tamrix") << &kTamrixProfile << T << true << BoardState{true, 3, 1, 8}
                                << "Tamrix : BUF ON, Sinc3" << "BUF ON / Sinc3";
        // A Selvor board listens at 38400 baud only: failure A.
        QTest::newRow("wrong model") << demo << S << true << on4
                                     << "Vexloが応答しませんでした" << "Label1";
    }

    // Catches: a wrong line speed for a model, a reply misread over the real
    // port, a set or read that does not reach the board or the list, a wait
    // that spins, a close that sends more than one CR.
    void check()
    {
        QFETCH(const BuildProfile*, profile);
        QFETCH(Model, model);
        QFETCH(bool, tamrix);
        QFETCH(BoardState, board);
        QFETCH(QString, status);
        QFETCH(QString, label);
        SimFixture sim;
        QVERIFY2(sim.start({model, 4, vexlo::sim::RateMode::Flood, 1, board, {}}), qPrintable(sim.error));
        FakeDialogs dialogs;
        Form1 w(*profile, nullptr, &dialogs);
        if (w.Option_CM)
            (tamrix ? w.Option_CM : w.Option_RS)->click();
        w.Button1_Click();

        const QString settings = tamrix ? QStringLiteral("115200,N,8,1") : QStringLiteral("38400,N,8,1");
        QCOMPARE((QStringList{w.ComStatus->text(), w.Status->text(), w.Label1->text(), w.Button1->text()}),
                 (QStringList{settings, status, label, "閉じる"}));
        QVERIFY(w.MSComm1->PortOpen());
        if ((model == Model::Tamrix) != tamrix) {
            QVERIFY(sim.board->commands().isEmpty() && sim.board->ignoredBytes() > 0);
            return;
        }
        QCOMPARE(sim.board->commands(), (QList<QByteArray>{"", "?", "S?", "G?", "F?"}));
        QVERIFY(w.Combo3->ListIndex() == board.gainCode && w.GainIndex == board.gainCode);
        QVERIFY(w.Combo1->ListCount() == (tamrix ? 11 : 7) && w.Combo1->ListIndex() == board.rateCode);
        QVERIFY(BoardButtonsAre(w, true) && (!w.Option_CM || (!w.Option_CM->isEnabled() && !w.Option_RS->isEnabled())));

        // Set rate and gain on the board, then read them back into lists
        // moved elsewhere meanwhile.
        const int rate = board.rateCode - 1, gain = (board.gainCode + 2) % 6;
        QStringList statuses;
        for (const auto& [list, index, press] : {std::tuple{w.Combo1, rate, &Form1::Command6_Click}, {w.Combo3, gain, &Form1::Command7_Click},
                                                 {w.Combo1, 0, &Form1::Command29_Click}, {w.Combo3, 0, &Form1::Command8_Click}}) {
            list->SetListIndex(index);
            (w.*press)();
            statuses << w.Status->text();
        }
        QCOMPARE(statuses, (QStringList{"データレート設定完了", "ゲイン設定完了", "データレート読出しました", "ゲイン設定読出し"}));
        QVERIFY(sim.board->boardState().rateCode == rate && sim.board->boardState().gainCode == gain);
        QVERIFY(w.Combo1->ListIndex() == rate && w.Combo3->ListIndex() == gain);

        // A silent board: each read ends at its 100 ms time-out, and the wait
        // sleeps (a spinning wait would use about all of its time).
        sim.board->setFaults(Faults{true});
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = ThreadCpu();
        for (int i = 0; i < 3; ++i) {
            w.Status->clear();
            w.Command8_Click();
            QCOMPARE(w.Status->text(), QStringLiteral("ゲイン設定読出しできませんでした"));
        }
        const double cpu = ThreadCpu() - cpu0;
        const qint64 ms = wall.elapsed();
        QVERIFY2(ms >= 3 * 95 && ms < 3 * 2000, qPrintable(QString::number(ms)));
        QVERIFY2(cpu < 0.25 * ms / 1000.0, qPrintable(QStringLiteral("CPU %1 s in %2 ms").arg(cpu).arg(ms)));
        sim.board->setFaults(Faults());

        // Close: exactly one lone carriage return reaches the board.
        sim.board->clearLog();
        w.Button1_Click();
        QVERIFY(sim.board->waitForCommands(1, 2000));
        QTest::qWait(50); // anything else would have arrived by now
        QCOMPARE(sim.board->receivedBytes(), QByteArray("\r"));
        QVERIFY(!w.MSComm1->PortOpen() && w.ComStatus->text() == settings && w.Button1->text() == "接続確認");
    }
};

QTEST_MAIN(TestBoardE2E)
#include "tst_board_e2e.moc"
