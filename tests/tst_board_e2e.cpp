// The connection check of a real window (real serial port) against the board
// simulator on a pseudo-terminal: good checks for both models, failures C and
// D provoked by simulator faults (A and B: tst_faults), a wrong model, and the
// close.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "serial/CommPort.h"
#include "support/FakeDialogs.h"
#include "support/SimFixture.h"

using vexlo::sim::BoardState;
using vexlo::sim::Faults;
using vexlo::sim::Model;

Q_DECLARE_METATYPE(const BuildProfile*)
Q_DECLARE_METATYPE(Model)
Q_DECLARE_METATYPE(BoardState)

class TestBoardE2E : public QObject {
    Q_OBJECT
private slots:
    void checkAndClose_data();
    void checkAndClose();
    void wrongModel();
};

void TestBoardE2E::checkAndClose_data()
{
    QTest::addColumn<const BuildProfile*>("profile");
    QTest::addColumn<Model>("model");
    QTest::addColumn<BoardState>("board");
    QTest::addColumn<QByteArray>("after"); // "": a good check; else out-of-range codes once
                                           // this command is answered
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("label");

    const BoardState on4{true, 4, 2, 3};
    QTest::newRow("Demo Tamrix") << &kVexloDemoProfile << Model::Tamrix << BoardState{true, 4, 3, 10}
        << QByteArray() << "Vexlo : BUF ON, Sinc4" << "BUF ON / Sinc4";
    QTest::newRow("Vexlo Selvor") << &kVexloProfile << Model::Selvor << BoardState{false, 3, 5, 6}
        << QByteArray() << "Vexlo : BUF OFF, Sinc3" << "BUF OFF / Sinc3";
    QTest::newRow("Tamrix") << &kTamrixProfile << Model::Tamrix << BoardState{true, 3, 1, 8}
        << QByteArray() << "Tamrix : BUF ON, Sinc3" << "BUF ON / Sinc3";
    QTest::newRow("C bad gain code") << &kVexloDemoProfile << Model::Selvor << on4 << QByteArray("S?")
        << "ゲイン設定読出しできませんでした" << "BUF ON / Sinc4";
    QTest::newRow("D bad rate code") << &kVexloDemoProfile << Model::Tamrix << on4 << QByteArray("G?")
        << "Vexlo 応答エラー" << "BUF ON / Sinc4";
}

void TestBoardE2E::checkAndClose()
{
    QFETCH(const BuildProfile*, profile);
    QFETCH(Model, model);
    QFETCH(BoardState, board);
    QFETCH(QByteArray, after);
    QFETCH(QString, status);
    QFETCH(QString, label);

    SimFixture sim;
    vexlo::sim::PtyOptions options;
    options.model = model;
    options.com = 4;
    options.rateMode = vexlo::sim::RateMode::Flood;
    options.state = board;
    QVERIFY2(sim.start(options), qPrintable(sim.error));
    FakeDialogs dialogs;
    Form1 w(*profile, nullptr, &dialogs);
    const bool tamrix = model == Model::Tamrix;
    if (w.Option_CM)
        (tamrix ? w.Option_CM : w.Option_RS)->click();
    // The window sends its next command only once the reply it waits for has
    // arrived, so switching on that reply's arrival leaves no race.
    QObject::connect(w.MSComm1, &CommPort::BytesArrived, &w, [&] {
        const QList<QByteArray> seen = sim.board->commands();
        if (!after.isEmpty() && !seen.isEmpty() && seen.last() == after) {
            Faults bad;
            bad.badCodes = true;
            sim.board->setFaults(bad);
        }
    });
    w.Button1_Click();

    const QString settings = tamrix ? QStringLiteral("115200,N,8,1") : QStringLiteral("38400,N,8,1");
    QCOMPARE(w.ComStatus->text(), settings);
    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Label1->text(), label);
    QVERIFY(w.MSComm1->PortOpen());
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
    QVERIFY(w.Button1->isEnabled());
    if (!after.isEmpty()) {
        QVERIFY(!w.Command6->isEnabled());
        QCOMPARE(w.Combo1->ListCount(), 0);
        sim.board->setFaults(Faults());
    } else {
        QCOMPARE(sim.board->commands(), (QList<QByteArray>{"", "?", "S?", "G?", "F?"}));
        QCOMPARE(w.Combo3->ListIndex(), board.gainCode);
        QCOMPARE(int(w.GainIndex), board.gainCode);
        QCOMPARE(w.Combo1->ListCount(), tamrix ? 11 : 7);
        QCOMPARE(w.Combo1->ListIndex(), board.rateCode);
        QVERIFY(w.Command6->isEnabled() && w.SendB2->isEnabled());
        if (w.Option_CM)
            QVERIFY(!w.Option_CM->isEnabled() && !w.Option_RS->isEnabled());
    }

    // Close: exactly one lone carriage return reaches the board.
    sim.board->clearLog();
    w.Button1_Click();
    QVERIFY(sim.board->waitForCommands(1, 2000));
    QTest::qWait(50); // anything else would have arrived by now
    QCOMPARE(sim.board->receivedBytes(), QByteArray("\r"));
    QVERIFY(!w.MSComm1->PortOpen());
    QCOMPARE(w.ComStatus->text(), settings);
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
}

// A Selvor board listens at 38400 baud; a window that opens the port for
// Tamrix (115200) gets no answer: failure A.
void TestBoardE2E::wrongModel()
{
    SimFixture sim;
    QVERIFY2(sim.start(Model::Selvor, 4), qPrintable(sim.error));
    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    w.Option_CM->click();
    w.Button1_Click();

    QCOMPARE(w.ComStatus->text(), QStringLiteral("115200,N,8,1"));
    QCOMPARE(w.Status->text(), QStringLiteral("Vexloが応答しませんでした"));
    QVERIFY(w.MSComm1->PortOpen());
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
    QVERIFY(sim.board->commands().isEmpty());
    QVERIFY(sim.board->ignoredBytes() > 0);
}

QTEST_MAIN(TestBoardE2E)
#include "tst_board_e2e.moc"
