// The window itself: start-up state and layout of the three programs, the
// model choice and centring. (Typed text in the lists: tst_board_check; the
// nesting guard and closing during a wait: tst_serial_port.)

#include <QtTest>
#include <QtWidgets>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "measure/PictureBox.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"
#include "support/ProfileSuite.h"

namespace {

struct Bench {
    explicit Bench(const BuildProfile& profile) : w(std::make_unique<Form1>(profile, port, &dialogs))
    {
        w->show();
        (void)QTest::qWaitForWindowExposed(w.get());
    }
    FakeDialogs dialogs;
    FakeCommPort* port = new FakeCommPort; // owned by the window
    std::unique_ptr<Form1> w;
};

QStringList Entries(const VbComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->ListCount(); ++i)
        out << c->List(i);
    return out;
}

const QStringList kFullRates = {"5sps",   "10sps",  "20sps",  "50sps",  "60sps",  "100sps",
                                "200sps", "400sps", "800sps", "960sps", "1200sps"};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void startup_data()
    {
        QTest::addColumn<const BuildProfile*>("profile");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("model"); // -1 no model choice, 0 none selected, 1 Tamrix
        QTest::addColumn<QStringList>("rates");
        QTest::addColumn<QSize>("client");
        QTest::newRow("Vexlo_Demo") << &kVexloDemoProfile << "Vexlo ?? Demo" << 0 << QStringList() << QSize(526, 536);
        QTest::newRow("Vexlo") << &kVexloProfile << "Tamrix Demo" << 1 << kFullRates << QSize(526, 536);
        QTest::newRow("Tamrix") << &kTamrixProfile << "Tamrix Demo" << -1 << kFullRates << QSize(534, 539);
    }

    // Catches: a wrong caption, text, list or start-up state in one of the
    // programs; controls outside their frame or on top of each other.
    void startup()
    {
        QFETCH(const BuildProfile*, profile);
        QFETCH(QString, caption);
        QFETCH(int, model);
        QFETCH(QStringList, rates);
        QFETCH(QSize, client);
        Bench b(*profile);
        Form1& w = *b.w;

        QCOMPARE(w.windowTitle(), caption);
        QList<QPair<QString, QString>> texts = {
            {"Status", "Status"}, {"ComStatus", "Com"}, {"Label1", "Label1"}, {"Label2", "データ個数"},
            {"Label3", "---"}, {"Label4", "---"}, {"Label5", "---"}, {"Text1", "100"}, {"Command6", "設定"},
            {"Command29", "読出し"}, {"Command7", "設定"}, {"Command8", "読出し"}, {"Button1", "接続確認"},
            {"Command1", "データ保存"}, {"SendB2", "測定開始"}, {"QuitB", "終了"}, {"Frame1", "Gain"},
            {"Frame2", "Output Data Rate"}, {"Option1", "バイナリデータ"}, {"Option2", "mVデータ"}};
        if (!profile->tamrixLayout)
            texts += {{"Frame3", "データ形式"}};
        if (profile->hasModelChoice)
            texts += {{"Frame4", "機種選択"}, {profile->optionTamrixName, "Tamrix"}, {profile->optionSelvorName, "Selvor"}};
        for (const auto& [name, text] : texts) {
            auto* c = w.findChild<QWidget*>(name);
            QVERIFY2(c, qPrintable(name));
            QCOMPARE(c->property(qobject_cast<QGroupBox*>(c) ? "title" : "text").toString(), text);
        }

        const QList<std::tuple<VbComboBox*, QStringList, QString, int>> combos = {
            {w.ComboCommPort, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}, "COM4", 3},
            {w.Combo2, {"CH0=Ain0-Ain1", "CH1=Ain2-Ain3", "CH0 + CH1"}, "CH0=Ain0-Ain1", 0},
            {w.Combo3, {"Gain=1", "Gain=8", "Gain=16", "Gain=32", "Gain=64", "Gain=128"}, "Combo3", -1},
            {w.Combo1, rates, "", -1}};
        for (const auto& [combo, entries, text, index] : combos)
            QVERIFY(Entries(combo) == entries && combo->Text() == text && combo->ListIndex() == index);

        QVERIFY(w.Option1->isChecked() && !w.Option2->isChecked());
        QCOMPARE(w.Option_CM != nullptr, model >= 0);
        QCOMPARE(w.TamrixSelected(), model != 0);
        QVERIFY(model < 0 || (w.Option_CM->isChecked() == (model == 1) && !w.Option_RS->isChecked()));
        // Without a model chosen the board buttons are off; otherwise on.
        QVERIFY(w.Button1->isEnabled() == (model != 0) && BoardButtonsAre(w, model != 0));
        QVERIFY(!w.PortOpened && !w.Measuring && w.RecvCount == 0 && !b.port->PortOpen() && b.port->writes.isEmpty());

        // Layout: client size, the graph, and every control inside its
        // container without overlapping a sibling.
        QCOMPARE(w.size(), client);
        QCOMPARE(w.Picture1->geometry(), QRect(64, 72, 425, 229));
        QList<QWidget*> all;
        for (QWidget* c : w.findChildren<QWidget*>())
            if ((c->parentWidget() == &w || qobject_cast<QGroupBox*>(c->parentWidget())) && !c->objectName().isEmpty())
                all << c;
        QVERIFY(all.size() >= 25);
        for (QWidget* c : all) {
            QVERIFY2(c->parentWidget()->rect().contains(c->geometry()), qPrintable(c->objectName()));
            for (QWidget* d : all)
                QVERIFY2(c == d || c->parentWidget() != d->parentWidget() || !c->geometry().intersects(d->geometry()),
                         qPrintable(c->objectName() + " / " + d->objectName()));
        }
        // The format and model options are separate groups.
        if (w.Option_RS)
            w.Option_RS->click();
        w.Option2->click();
        QVERIFY(!w.Option1->isChecked() && (!w.Option_RS || w.Option_RS->isChecked()));
    }

    // Catches: a model option that does not set the caption and the check
    // button, a re-click or a change by program taken as a choice, a refill
    // that selects an entry or loses the operator's pick.
    void modelOptions()
    {
        Bench b(kVexloDemoProfile);
        Form1& w = *b.w;
        // Demo: a model chosen gives a caption with "demo" and the check button, nothing else.
        QTest::mouseClick(w.Option_RS, Qt::LeftButton);
        QVERIFY(w.windowTitle() == "Selvor demo" && w.Button1->isEnabled() && BoardButtonsAre(w, false));
        QTest::mouseClick(w.Option_CM, Qt::LeftButton);
        QVERIFY(w.windowTitle() == "Tamrix demo" && w.TamrixSelected() && w.Combo1->ListCount() == 0);
        // Re-clicking the chosen option, or setting one by program, is no choice.
        w.setWindowTitle(QStringLiteral("unchanged"));
        QTest::mouseClick(w.Option_CM, Qt::LeftButton);
        w.Option_RS->setChecked(true);
        QCOMPARE(w.windowTitle(), QStringLiteral("unchanged"));

        // Vexlo: the options refill the list, selecting nothing; re-clicking
        // the chosen model keeps the operator's pick.
        Bench v(kVexloProfile);
        v.w->Combo1->SetListIndex(3);
        QTest::mouseClick(v.w->Option_CM, Qt::LeftButton);
        QCOMPARE(v.w->Combo1->ListIndex(), 3);
        QTest::mouseClick(v.w->Option_RS, Qt::LeftButton);
        QCOMPARE(Entries(v.w->Combo1), kFullRates.mid(0, 7));
        QVERIFY(v.w->Combo1->ListIndex() == -1 && BoardButtonsAre(*v.w, true) && v.port->writes.isEmpty());
    }

    // Catches: a window placed off the centre of its screen.
    void centred()
    {
        Bench b(kVexloDemoProfile);
        b.w->move(0, 0);
        b.w->FormToCenter();
        const QPoint off = b.w->frameGeometry().center() - b.w->screen()->geometry().center();
        QVERIFY2(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1, qPrintable(QString("%1,%2").arg(off.x()).arg(off.y())));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
