// The connection check of a real window (real serial port) against the board
// simulator on a pseudo-terminal: good checks for both models, each failure
// provoked by a simulator fault, a wrong model, and the close.

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

Q_DECLARE_METATYPE(Model)

namespace {

enum Program { Demo, Vexlo, Tamrix };

const BuildProfile& ProfileOf(int program)
{
    switch (program) {
    case Vexlo: return kVexloProfile;
    case Tamrix: return kTamrixProfile;
    default: return kVexloDemoProfile;
    }
}

void ChooseModel(Form1& w, bool tamrix)
{
    if (w.Option_CM && w.Option_RS)
        (tamrix ? w.Option_CM : w.Option_RS)->click();
}

// Switches the simulator to `faults` once it has answered `command`, before
// the window sends its next command. The window writes its next command only
// after the reply it waits for has arrived, so switching when that reply
// reaches the host leaves no race.
void FaultsAfter(Form1& w, SimFixture& sim, const QByteArray& command, const Faults& faults)
{
    QObject::connect(w.MSComm1, &CommPort::BytesArrived, &w, [&sim, command, faults] {
        const QList<QByteArray> seen = sim.board->commands();
        if (!seen.isEmpty() && seen.last() == command)
            sim.board->setFaults(faults);
    });
}

} // namespace

class TestBoardE2E : public QObject {
    Q_OBJECT
private slots:
    void goodCheckAndClose_data();
    void goodCheckAndClose();
    void failure_data();
    void failure();
    void wrongModel();
};

void TestBoardE2E::goodCheckAndClose_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<Model>("model");
    QTest::addColumn<bool>("bufferOn");
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("rateCount");

    QTest::newRow("Demo Tamrix") << int(Demo) << Model::Tamrix << true << 4 << 3 << 10
        << QStringLiteral("115200,N,8,1") << QStringLiteral("Vexlo : BUF ON, Sinc4")
        << QStringLiteral("BUF ON / Sinc4") << 11;
    QTest::newRow("Demo Selvor") << int(Demo) << Model::Selvor << false << 3 << 5 << 6
        << QStringLiteral("38400,N,8,1") << QStringLiteral("Vexlo : BUF OFF, Sinc3")
        << QStringLiteral("BUF OFF / Sinc3") << 7;
    QTest::newRow("Vexlo Selvor") << int(Vexlo) << Model::Selvor << true << 3 << 0 << 2
        << QStringLiteral("38400,N,8,1") << QStringLiteral("Vexlo : BUF ON, Sinc3")
        << QStringLiteral("BUF ON / Sinc3") << 7;
    QTest::newRow("Tamrix") << int(Tamrix) << Model::Tamrix << false << 4 << 1 << 8
        << QStringLiteral("115200,N,8,1") << QStringLiteral("Tamrix : BUF OFF, Sinc4")
        << QStringLiteral("BUF OFF / Sinc4") << 11;
}

void TestBoardE2E::goodCheckAndClose()
{
    QFETCH(int, program);
    QFETCH(Model, model);
    QFETCH(bool, bufferOn);
    QFETCH(int, filter);
    QFETCH(int, gain);
    QFETCH(int, rate);
    QFETCH(QString, settings);
    QFETCH(QString, status);
    QFETCH(QString, label);
    QFETCH(int, rateCount);

    SimFixture sim;
    vexlo::sim::PtyOptions options;
    options.model = model;
    options.com = 4;
    options.rateMode = vexlo::sim::RateMode::Flood;
    options.state = BoardState{bufferOn, filter, gain, rate};
    QVERIFY2(sim.start(options), qPrintable(sim.error));

    FakeDialogs dialogs;
    Form1 w(ProfileOf(program), nullptr, &dialogs);
    ChooseModel(w, model == Model::Tamrix);
    w.Button1_Click();

    QVERIFY(sim.board->waitForCommands(5, 2000));
    QCOMPARE(sim.board->commands(), (QList<QByteArray>{"", "?", "S?", "G?", "F?"}));
    QCOMPARE(w.ComStatus->text(), settings);
    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Label1->text(), label);
    QCOMPARE(w.Combo3->ListIndex(), gain);
    QCOMPARE(int(w.GainIndex), gain);
    QCOMPARE(w.Combo1->ListCount(), rateCount);
    QCOMPARE(w.Combo1->ListIndex(), rate);
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));

    // Read and set through the same link.
    w.Command8_Click();
    QCOMPARE(w.Status->text(), QStringLiteral("ゲイン設定読出し"));
    w.Combo1->SetListIndex(1);
    w.Command6_Click();
    QCOMPARE(w.Status->text(), QStringLiteral("データレート設定完了"));
    QCOMPARE(sim.board->boardState().rateCode, 1);

    // Close: exactly one lone carriage return reaches the board.
    sim.board->clearLog();
    w.Button1_Click();
    QVERIFY(sim.board->waitForCommands(1, 2000));
    QTest::qWait(50); // anything else would have arrived by now
    QCOMPARE(sim.board->receivedBytes(), QByteArray("\r"));
    QCOMPARE(sim.board->commands(), (QList<QByteArray>{""}));
    QVERIFY(!w.MSComm1->PortOpen());
    QCOMPARE(w.ComStatus->text(), settings);
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
}

void TestBoardE2E::failure_data()
{
    QTest::addColumn<Model>("model");
    QTest::addColumn<QByteArray>("after");   // "" = faults from the start
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("label");

    const QString a = QStringLiteral("Vexloが応答しませんでした");
    const QString good = QStringLiteral("BUF ON / Sinc4");
    Faults silent;
    silent.silent = true;
    Faults late;
    late.lateMs = 250;
    Faults bare;
    bare.bareCr = true;
    Faults bad;
    bad.badCodes = true;
    Faults split;
    split.split = true;
    split.splitGapMs = 60;
    for (Model m : {Model::Tamrix, Model::Selvor}) {
        const QByteArray n = m == Model::Tamrix ? "Tamrix " : "Selvor ";
        QTest::newRow(n + "A silent") << m << QByteArray() << silent << a << QString();
        QTest::newRow(n + "A late reply") << m << QByteArray() << late << a << QString();
        QTest::newRow(n + "A bare CR") << m << QByteArray() << bare << a << QString();
        QTest::newRow(n + "A silent from S?") << m << QByteArray("?") << silent << a << QString();
        QTest::newRow(n + "B bad S?") << m << QByteArray() << bad
            << QStringLiteral("Vexloの応答エラーです") << QStringLiteral("???");
        QTest::newRow(n + "C bad gain code") << m << QByteArray("S?") << bad
            << QStringLiteral("ゲイン設定読出しできませんでした") << good;
        QTest::newRow(n + "C G? silent") << m << QByteArray("S?") << silent
            << QStringLiteral("ゲイン設定読出しできませんでした") << good;
        QTest::newRow(n + "D bad rate code") << m << QByteArray("G?") << bad
            << QStringLiteral("Vexlo 応答エラー") << good;
        // Two characters with a 60 ms gap and a CR take longer than 100 ms.
        QTest::newRow(n + "D reply too slow") << m << QByteArray("G?") << split
            << QStringLiteral("Vexlo 応答エラー") << good;
    }
}

void TestBoardE2E::failure()
{
    QFETCH(Model, model);
    QFETCH(QByteArray, after);
    QFETCH(Faults, faults);
    QFETCH(QString, status);
    QFETCH(QString, label);

    SimFixture sim;
    vexlo::sim::PtyOptions options;
    options.model = model;
    options.com = 4;
    options.rateMode = vexlo::sim::RateMode::Flood;
    options.state = BoardState{true, 4, 2, 3};
    if (after.isEmpty())
        options.faults = faults;
    QVERIFY2(sim.start(options), qPrintable(sim.error));

    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    ChooseModel(w, model == Model::Tamrix);
    const QString labelBefore = w.Label1->text();
    if (!after.isEmpty())
        FaultsAfter(w, sim, after, faults);
    w.Button1_Click();

    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Label1->text(), label.isNull() ? labelBefore : label);
    QVERIFY(w.MSComm1->PortOpen());
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(!w.Command6->isEnabled());
    QCOMPARE(w.Combo1->ListCount(), 0);

    // Closing still works and tells the board with one lone carriage return.
    sim.board->setFaults(Faults());
    sim.board->clearLog();
    w.Button1_Click();
    QVERIFY(sim.board->waitForCommands(1, 2000));
    QCOMPARE(sim.board->commands().first(), QByteArray(""));
    QVERIFY(!w.MSComm1->PortOpen());
}

// A Selvor board listens at 38400 baud; a window that opens the port for
// Tamrix (115200) gets no answer.
void TestBoardE2E::wrongModel()
{
    SimFixture sim;
    QVERIFY2(sim.start(Model::Selvor, 4), qPrintable(sim.error));

    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    ChooseModel(w, true);
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
