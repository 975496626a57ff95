// The window itself: controls and start-up state of the three programs, the
// control states and model choice, the editable lists, centring, quitting and
// the transaction guard on clicks.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/Twips.h"
#include "app/VbComboBox.h"
#include "measure/PictureBox.h"
#include "support/FakeCommPort.h"

Q_DECLARE_METATYPE(const BuildProfile*)

namespace {

class NoDialogs : public Dialogs {
public:
    void Message(QWidget*, const QString&, const QString& text) override { shown << text; }
    bool AskYesNo(QWidget*, const QString&, const QString& text) override
    {
        shown << text;
        return false;
    }
    QString GetSaveFileName(QWidget*, const SaveDialogRequest&) override { return {}; }
    QStringList shown;
};

struct Bench {
    explicit Bench(const BuildProfile& profile)
    {
        port = new FakeCommPort;
        w = std::make_unique<Form1>(profile, port, &dialogs);
    }
    NoDialogs dialogs;
    FakeCommPort* port = nullptr; // owned by the window
    std::unique_ptr<Form1> w;
};

QStringList Entries(const VbComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->ListCount(); ++i)
        out << c->List(i);
    return out;
}

QList<QPushButton*> CommandButtons(const Form1& w)
{
    return {w.Command6, w.Command7, w.Command8, w.Command29, w.Command1, w.SendB2};
}

const QStringList kFullRates = {"5sps",   "10sps",  "20sps",  "50sps",  "60sps",  "100sps",
                                "200sps", "400sps", "800sps", "960sps", "1200sps"};

void AddProfileRows()
{
    QTest::newRow("Vexlo_Demo") << &kVexloDemoProfile;
    QTest::newRow("Vexlo") << &kVexloProfile;
    QTest::newRow("Tamrix") << &kTamrixProfile;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void startupState_data();
    void startupState();
    void controlsAndTexts_data();
    void controlsAndTexts();
    void geometry_data();
    void geometry();
    void modelChoiceAndControlStates();
    void vexloModelOptionsRefillList();
    void buildsWithoutControlStates_data();
    void buildsWithoutControlStates();
    void typedTextSelectsNoEntry_data();
    void typedTextSelectsNoEntry();
    void centredPosition_data();
    void centredPosition();
    void windowIsCentred();
    void quitRunsQuitSteps_data();
    void quitRunsQuitSteps();
    void clicksIgnoredDuringTransaction();
    void quitEndsWaitingTransaction();
    void realPortByDefault();
};

// ---------------------------------------------------------------------------

void TestWindow::startupState_data()
{
    QTest::addColumn<const BuildProfile*>("profile");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("model");          // -1 none exists, 0 none selected, 1 Tamrix
    QTest::addColumn<bool>("buttonsEnabled");
    QTest::addColumn<QStringList>("rates");  // Combo1 entries (never selected)

    QTest::newRow("Vexlo_Demo") << &kVexloDemoProfile << "Vexlo ?? Demo" << 0 << false
                                << QStringList();
    QTest::newRow("Vexlo") << &kVexloProfile << "Tamrix Demo" << 1 << true << kFullRates;
    QTest::newRow("Tamrix") << &kTamrixProfile << "Tamrix Demo" << -1 << true << kFullRates;
}

void TestWindow::startupState()
{
    QFETCH(const BuildProfile*, profile);
    QFETCH(QString, caption);
    QFETCH(int, model);
    QFETCH(bool, buttonsEnabled);
    QFETCH(QStringList, rates);

    Bench b(*profile);
    Form1& w = *b.w;

    QCOMPARE(w.windowTitle(), caption);
    QCOMPARE(w.Status->text(), QStringLiteral("Status"));
    QCOMPARE(w.ComStatus->text(), QStringLiteral("Com"));
    QCOMPARE(w.Label1->text(), QStringLiteral("Label1"));
    for (QLabel* l : {w.Label3, w.Label4, w.Label5})
        QCOMPARE(l->text(), QStringLiteral("---"));
    QCOMPARE(w.Text1->text(), QStringLiteral("100"));
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    QCOMPARE(w.SendB2->text(), QStringLiteral("測定開始"));

    QCOMPARE(w.ComboCommPort->Text(), QStringLiteral("COM4"));
    QCOMPARE(w.ComboCommPort->ListIndex(), 3);
    QCOMPARE(w.Combo2->Text(), QStringLiteral("CH0=Ain0-Ain1"));
    QCOMPARE(w.Combo2->ListIndex(), 0);
    QCOMPARE(w.Combo3->Text(), QStringLiteral("Combo3"));
    QCOMPARE(w.Combo3->ListIndex(), -1);
    QCOMPARE(Entries(w.Combo1), rates);
    QCOMPARE(w.Combo1->ListIndex(), -1);
    QCOMPARE(w.Combo1->Text(), QString());

    QVERIFY(w.Option1->isChecked());
    QVERIFY(!w.Option2->isChecked());
    if (model < 0) {
        QVERIFY(!w.Option_CM && !w.Option_RS && !w.Frame4);
        QVERIFY(w.TamrixSelected());
    } else {
        QCOMPARE(w.Option_CM->isChecked(), model == 1);
        QVERIFY(!w.Option_RS->isChecked());
        QCOMPARE(w.TamrixSelected(), model == 1);
        QVERIFY(w.Option_CM->isEnabled() && w.Option_RS->isEnabled());
    }

    QCOMPARE(w.Button1->isEnabled(), buttonsEnabled);
    for (QPushButton* button : CommandButtons(w))
        QVERIFY2(button->isEnabled() == buttonsEnabled, qPrintable(button->objectName()));
    for (QWidget* always : std::initializer_list<QWidget*>{
             w.Combo2, w.ComboCommPort, w.Text1, w.Combo3, w.Option1, w.Option2, w.QuitB})
        QVERIFY(always->isEnabled());

    // Link and measurement state; the port stays closed and silent.
    QVERIFY(!w.PortOpened);
    QCOMPARE(w.Terminator, QString(QChar(13)));
    QVERIFY(!w.Measuring);
    QCOMPARE(w.RecvCount, 0);
    QVERIFY(w.RecvBuffer.isEmpty());
    QVERIFY(!w.QuitDone);
    QVERIFY(!b.port->PortOpen());
    QCOMPARE(b.port->openCount, 0);
    QVERIFY(b.port->writes.isEmpty());
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.Timer1->interval(), 1000);
}

// ---------------------------------------------------------------------------

void TestWindow::controlsAndTexts_data()
{
    QTest::addColumn<const BuildProfile*>("profile");
    AddProfileRows();
}

void TestWindow::controlsAndTexts()
{
    QFETCH(const BuildProfile*, profile);
    Bench b(*profile);
    Form1& w = *b.w;
    const bool tamrix = profile->tamrixLayout;

    // Design names, kinds and captions.
    const QList<QPair<const char*, QString>> buttons = {
        {"Command6", "設定"},  {"Command29", "読出し"}, {"Command7", "設定"},
        {"Command8", "読出し"}, {"Button1", "接続確認"}, {"Command1", "データ保存"},
        {"SendB2", "測定開始"}, {"QuitB", "終了"}};
    for (const auto& [name, text] : buttons) {
        auto* button = w.findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY2(button, name);
        QCOMPARE(button->text(), text);
    }
    QCOMPARE(w.Frame2->title(), QStringLiteral("Output Data Rate"));
    QCOMPARE(w.Frame1->title(), QStringLiteral("Gain"));
    QCOMPARE(w.Label2->text(), QStringLiteral("データ個数"));
    QCOMPARE(w.Option1->text(), QStringLiteral("バイナリデータ"));
    QCOMPARE(w.Option2->text(), QStringLiteral("mVデータ"));
    QCOMPARE(w.Command6->parentWidget(), w.Frame2);
    QCOMPARE(w.Command29->parentWidget(), w.Frame2);
    QCOMPARE(w.Combo1->parentWidget(), w.Frame2);
    QCOMPARE(w.Combo3->parentWidget(), w.Frame1);
    QCOMPARE(w.Command7->parentWidget(), w.Frame1);
    QCOMPARE(w.Command8->parentWidget(), w.Frame1);
    QCOMPARE(w.Label1->parentWidget(), tamrix ? static_cast<QWidget*>(w.Frame2) : &w);
    if (tamrix) {
        QVERIFY(!w.Frame3 && !w.findChild<QGroupBox*>("Frame3"));
        QCOMPARE(w.Option1->parentWidget(), &w);
        QCOMPARE(w.Option2->parentWidget(), &w);
    } else {
        QCOMPARE(w.Frame3->title(), QStringLiteral("データ形式"));
        QCOMPARE(w.Option1->parentWidget(), w.Frame3);
    }
    if (profile->hasModelChoice) {
        QCOMPARE(w.Frame4->title(), QStringLiteral("機種選択"));
        QCOMPARE(w.findChild<QRadioButton*>(profile->optionTamrixName), w.Option_CM);
        QCOMPARE(w.findChild<QRadioButton*>(profile->optionSelvorName), w.Option_RS);
        QCOMPARE(w.Option_CM->text(), QStringLiteral("Tamrix"));
        QCOMPARE(w.Option_RS->text(), QStringLiteral("Selvor"));
        QCOMPARE(w.Option_CM->parentWidget(), w.Frame4);
    }
    // Only the names of this program exist.
    const bool renamed = profile->kind == ProgramKind::Vexlo;
    QCOMPARE(w.findChild<QRadioButton*>("Option_CM") != nullptr, profile->hasModelChoice && !renamed);
    QCOMPARE(w.findChild<QRadioButton*>("Option3") != nullptr, renamed);

    // The two option groups are independent: choosing a model keeps the format.
    if (w.Option_RS) {
        w.Option_RS->click();
        QVERIFY(w.Option1->isChecked());
    }
    w.Option2->click();
    QVERIFY(!w.Option1->isChecked());
    if (w.Option_RS)
        QVERIFY(w.Option_RS->isChecked());

    // List entries.
    QCOMPARE(Entries(w.Combo2),
             QStringList({"CH0=Ain0-Ain1", "CH1=Ain2-Ain3", "CH0 + CH1"}));
    QCOMPARE(Entries(w.ComboCommPort),
             QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}));
    QCOMPARE(Entries(w.Combo3),
             QStringList({"Gain=1", "Gain=8", "Gain=16", "Gain=32", "Gain=64", "Gain=128"}));

    // Port state label on light grey; fixed-pitch status line.
    QCOMPARE(w.ComStatus->palette().color(QPalette::Window), QColor(192, 192, 192));
    QVERIFY(w.ComStatus->autoFillBackground());
    QVERIFY(w.Status->font().fixedPitch());
}

// ---------------------------------------------------------------------------

void TestWindow::geometry_data()
{
    QTest::addColumn<const BuildProfile*>("profile");
    QTest::addColumn<QSize>("client");
    QTest::newRow("Vexlo_Demo") << &kVexloDemoProfile << QSize(526, 536);
    QTest::newRow("Vexlo") << &kVexloProfile << QSize(526, 536);
    QTest::newRow("Tamrix") << &kTamrixProfile << QSize(534, 539);
}

void TestWindow::geometry()
{
    QFETCH(const BuildProfile*, profile);
    QFETCH(QSize, client);
    Bench b(*profile);
    Form1& w = *b.w;

    QCOMPARE(w.size(), client);
    // 960,1080 6375 x 3435 twips; the scale labels level with the top, middle
    // and bottom of the graph, ending just before it.
    QCOMPARE(w.Picture1->geometry(), QRect(64, 72, 425, 229));
    QCOMPARE(w.Label3->geometry(), QRect(2, 72, 60, 15));
    QCOMPARE(w.Label4->geometry(), QRect(2, 180, 60, 15));
    QCOMPARE(w.Label5->geometry(), QRect(2, 288, 60, 15));
    QVERIFY(w.Label3->geometry().right() < w.Picture1->geometry().left());

    // Every control lies inside its container, and no two controls of one
    // container overlap.
    QList<QWidget*> all;
    for (QWidget* c : w.findChildren<QWidget*>()) {
        const bool control = c->parentWidget() == &w || qobject_cast<QGroupBox*>(c->parentWidget());
        if (control && !c->objectName().isEmpty() && !c->isWindow())
            all << c;
    }
    QVERIFY(all.size() >= 25);
    for (QWidget* c : all) {
        QVERIFY2(c->parentWidget()->rect().contains(c->geometry()), qPrintable(c->objectName()));
        for (QWidget* d : all) {
            if (c != d && c->parentWidget() == d->parentWidget())
                QVERIFY2(!c->geometry().intersects(d->geometry()),
                         qPrintable(c->objectName() + " / " + d->objectName()));
        }
    }
}

// ---------------------------------------------------------------------------

void TestWindow::modelChoiceAndControlStates()
{
    Bench b(kVexloDemoProfile);
    Form1& w = *b.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto commandsEnabled = [&w](bool on) {
        for (QPushButton* button : CommandButtons(w))
            if (button->isEnabled() != on)
                return false;
        return true;
    };

    // After start-up: no model, the connection button cannot be clicked.
    QVERIFY(!w.Button1->isEnabled());
    QVERIFY(commandsEnabled(false));

    // Model chosen (Selvor, then Tamrix): caption with lower-case "demo",
    // connection button usable, nothing else switched, no list, nothing sent.
    QTest::mouseClick(w.Option_RS, Qt::LeftButton);
    QVERIFY(w.Option_RS->isChecked());
    QCOMPARE(w.windowTitle(), QStringLiteral("Selvor demo"));
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(commandsEnabled(false));
    QCOMPARE(w.Combo1->ListCount(), 0);
    QVERIFY(!w.TamrixSelected());

    QTest::mouseClick(w.Option_CM, Qt::LeftButton);
    QVERIFY(w.Option_CM->isChecked() && !w.Option_RS->isChecked());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tamrix demo"));
    QVERIFY(w.TamrixSelected());
    QCOMPARE(w.Combo1->ListCount(), 0);
    QVERIFY(b.port->writes.isEmpty());
    QCOMPARE(b.port->openCount, 0);

    // Clicking the option already chosen chooses nothing; setting an option by
    // program raises no click either.
    w.setWindowTitle(QStringLiteral("unchanged"));
    QTest::mouseClick(w.Option_CM, Qt::LeftButton);
    QCOMPARE(w.windowTitle(), QStringLiteral("unchanged"));
    w.Option_RS->setChecked(true);
    QCOMPARE(w.windowTitle(), QStringLiteral("unchanged"));
    w.Option_CM->click();
    QCOMPARE(w.windowTitle(), QStringLiteral("Tamrix demo"));

    // Connected: every board button on, the Tamrix list with its first entry.
    w.EnableControls();
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(commandsEnabled(true));
    QCOMPARE(Entries(w.Combo1), kFullRates);
    QCOMPARE(w.Combo1->ListIndex(), 0);
    QCOMPARE(w.Combo1->Text(), QStringLiteral("5sps"));

    // Closed again: all off and the list emptied although a model is chosen.
    w.DisableControls();
    QVERIFY(!w.Button1->isEnabled());
    QVERIFY(commandsEnabled(false));
    QCOMPARE(w.Combo1->ListCount(), 0);
    QCOMPARE(w.Combo1->Text(), QString());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tamrix demo"));

    // Selvor: the seven-entry list.
    QTest::mouseClick(w.Option_RS, Qt::LeftButton);
    w.EnableControls();
    QCOMPARE(Entries(w.Combo1), kFullRates.mid(0, 7));
    QCOMPARE(w.Combo1->ListIndex(), 0);

    // Disabled options (link open) cannot be changed by the operator.
    w.Option_CM->setEnabled(false);
    w.Option_RS->setEnabled(false);
    QTest::mouseClick(w.Option_CM, Qt::LeftButton);
    QVERIFY(w.Option_RS->isChecked());
    QCOMPARE(w.windowTitle(), QStringLiteral("Selvor demo"));
}

void TestWindow::vexloModelOptionsRefillList()
{
    Bench b(kVexloProfile);
    Form1& w = *b.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QTest::mouseClick(w.Option_RS, Qt::LeftButton);
    QCOMPARE(w.windowTitle(), QStringLiteral("Selvor demo"));
    QCOMPARE(Entries(w.Combo1), kFullRates.mid(0, 7));
    QCOMPARE(w.Combo1->ListIndex(), -1);

    // Re-clicking the chosen model keeps the rate the operator picked.
    w.Combo1->SetListIndex(3);
    QTest::mouseClick(w.Option_RS, Qt::LeftButton);
    QCOMPARE(w.Combo1->ListIndex(), 3);

    QTest::mouseClick(w.Option_CM, Qt::LeftButton);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tamrix demo"));
    QCOMPARE(Entries(w.Combo1), kFullRates);
    QCOMPARE(w.Combo1->ListIndex(), -1);
    for (QPushButton* button : CommandButtons(w))
        QVERIFY(button->isEnabled());
    QVERIFY(b.port->writes.isEmpty());
}

void TestWindow::buildsWithoutControlStates_data()
{
    QTest::addColumn<const BuildProfile*>("profile");
    QTest::newRow("Vexlo") << &kVexloProfile;
    QTest::newRow("Tamrix") << &kTamrixProfile;
}

void TestWindow::buildsWithoutControlStates()
{
    // These programs have no control states: nothing switches the buttons or
    // empties the list, even if asked to.
    QFETCH(const BuildProfile*, profile);
    Bench b(*profile);
    Form1& w = *b.w;
    w.Combo1->SetListIndex(5);
    w.DisableControls();
    QVERIFY(w.Button1->isEnabled());
    for (QPushButton* button : CommandButtons(w))
        QVERIFY(button->isEnabled());
    QCOMPARE(w.Combo1->ListCount(), 11);
    w.EnableControls();
    QCOMPARE(w.Combo1->ListIndex(), 5);

    // The rate lists select nothing after filling; Tamrix has only the full one.
    w.FillRateListFull();
    QCOMPARE(Entries(w.Combo1), kFullRates);
    QCOMPARE(w.Combo1->ListIndex(), -1);
    w.FillRateListShort();
    QCOMPARE(w.Combo1->ListCount(), profile->hasShortRateList ? 7 : 11);
    QCOMPARE(w.Combo1->ListIndex(), -1);
}

// ---------------------------------------------------------------------------

void TestWindow::typedTextSelectsNoEntry_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("typed");
    QTest::newRow("Combo1") << "Combo1" << "10sps";
    QTest::newRow("Combo2") << "Combo2" << "CH1=Ain2-Ain3";
    QTest::newRow("Combo3") << "Combo3" << "Gain=8";
    QTest::newRow("ComboCommPort") << "ComboCommPort" << "COM12";
}

void TestWindow::typedTextSelectsNoEntry()
{
    QFETCH(QString, combo);
    QFETCH(QString, typed);
    Bench b(kVexloProfile);
    Form1& w = *b.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* box = w.findChild<VbComboBox*>(combo);
    QVERIFY(box);
    QSignalSpy clicks(box, &VbComboBox::Click);

    box->SetListIndex(0);
    QCOMPARE(box->ListIndex(), 0);
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), typed);
    // Typed text selects no entry, even when it spells one, and is no click.
    QCOMPARE(box->Text(), typed);
    QCOMPARE(box->ListIndex(), -1);
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QCOMPARE(box->ListIndex(), -1);
    QCOMPARE(box->Text(), typed);
    QCOMPARE(clicks.count(), 0);
    QVERIFY(b.port->writes.isEmpty());

    // Choosing from the list again selects the entry (the combo box sets the
    // entry, then reports the activation).
    box->setCurrentIndex(1);
    emit box->activated(1);
    QCOMPARE(box->ListIndex(), 1);
    QCOMPARE(clicks.count(), 1);
}

// ---------------------------------------------------------------------------

void TestWindow::centredPosition_data()
{
    QTest::addColumn<QSizeF>("screen");
    QTest::addColumn<QSizeF>("window");
    QTest::addColumn<QPointF>("expected");
    QTest::addColumn<QPoint>("pixels");

    QTest::newRow("fits") << QSizeF(28800, 16200) << QSizeF(7890, 8040) << QPointF(10455, 4080)
                          << QPoint(697, 272);
    QTest::newRow("half twips kept") << QSizeF(9601, 8041) << QSizeF(7890, 8040)
                                     << QPointF(855.5, 0.5) << QPoint(57, 0);
    QTest::newRow("small screen") << QSizeF(9600, 7200) << QSizeF(11000, 9000)
                                  << QPointF(-700, -900) << QPoint(-47, -60);
    QTest::newRow("much smaller") << QSizeF(4800, 3600) << QSizeF(8130, 8535)
                                  << QPointF(-1665, -2467.5) << QPoint(-111, -165);
    // Single precision: 16777217 is not a float; it reads as 16777216.
    QTest::newRow("single precision") << QSizeF(16777217, 100) << QSizeF(1, 100)
                                      << QPointF(8388607.5, 0) << QPoint(559241, 0);
}

void TestWindow::centredPosition()
{
    QFETCH(QSizeF, screen);
    QFETCH(QSizeF, window);
    QFETCH(QPointF, expected);
    QFETCH(QPoint, pixels);
    const QPointF pos = CenteredPosition(screen, window);
    QCOMPARE(pos, expected);
    QCOMPARE(TwipsToPixels(pos), pixels);
}

void TestWindow::windowIsCentred()
{
    Bench b(kVexloDemoProfile);
    Form1& w = *b.w;
    QScreen* screen = w.screen();
    QVERIFY(screen);
    w.move(0, 0);
    w.FormToCenter();
    const QPoint windowCentre = w.frameGeometry().center();
    const QPoint screenCentre = screen->geometry().center();
    QVERIFY2(qAbs(windowCentre.x() - screenCentre.x()) <= 1 &&
                 qAbs(windowCentre.y() - screenCentre.y()) <= 1,
             qPrintable(QStringLiteral("window centre %1,%2 screen centre %3,%4")
                            .arg(windowCentre.x()).arg(windowCentre.y())
                            .arg(screenCentre.x()).arg(screenCentre.y())));
}

// ---------------------------------------------------------------------------

void TestWindow::quitRunsQuitSteps_data()
{
    QTest::addColumn<const BuildProfile*>("profile");
    QTest::addColumn<bool>("viaCloseEvent");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<bool>("measuring");
    QTest::newRow("button, port closed") << &kVexloDemoProfile << false << false << false;
    QTest::newRow("button, port open") << &kVexloDemoProfile << false << true << false;
    QTest::newRow("button, measuring") << &kVexloDemoProfile << false << true << true;
    QTest::newRow("close, port open") << &kVexloDemoProfile << true << true << false;
    QTest::newRow("close, measuring") << &kVexloDemoProfile << true << true << true;
    QTest::newRow("Vexlo button") << &kVexloProfile << false << true << false;
    QTest::newRow("Tamrix close") << &kTamrixProfile << true << true << true;
}

void TestWindow::quitRunsQuitSteps()
{
    QFETCH(const BuildProfile*, profile);
    QFETCH(bool, viaCloseEvent);
    QFETCH(bool, portOpen);
    QFETCH(bool, measuring);
    Bench b(*profile);
    Form1& w = *b.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (portOpen) {
        QVERIFY(b.port->Open());
        w.PortOpened = true;
    }
    if (measuring) {
        w.Measuring = true;
        b.port->SetRThreshold(1);
    }
    const int opens = b.port->openCount;

    if (viaCloseEvent)
        QVERIFY(w.close());
    else
        QTest::mouseClick(w.QuitB, Qt::LeftButton);

    QVERIFY(w.QuitDone);
    QVERIFY(!w.isVisible());
    QVERIFY(!w.PortOpened);
    QVERIFY(!b.port->PortOpen());
    QCOMPARE(b.port->openCount, opens);
    // Nothing goes to the board on the way out, not even a stop.
    QVERIFY(b.port->writes.isEmpty());
}

// The port change, model options and board buttons are ignored while a command
// waits for its reply; quitting is not.
void TestWindow::clicksIgnoredDuringTransaction()
{
    Bench b(kVexloDemoProfile);
    Form1& w = *b.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.Option_CM, Qt::LeftButton);
    w.EnableControls();
    QVERIFY(b.port->Open());
    w.PortOpened = true;

    bool sawTransaction = false;
    QTimer::singleShot(20, &w, [&] {
        sawTransaction = w.InTransaction();
        QTest::mouseClick(w.Option_RS, Qt::LeftButton);
        for (QPushButton* button :
             {w.Button1, w.Command6, w.Command7, w.Command8, w.Command29, w.Command1, w.SendB2})
            QTest::mouseClick(button, Qt::LeftButton);
        // A port entry chosen from the list (popup already open) is ignored too.
        w.ComboCommPort->SetListIndex(1);
        emit w.ComboCommPort->activated(1);
    });
    QString reply;
    QVERIFY(!w.SendCommand(QStringLiteral("?"), reply, 100)); // no answer: time-out
    QVERIFY(sawTransaction);

    QVERIFY(w.Option_CM->isChecked());
    QVERIFY(!w.Option_RS->isChecked());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tamrix demo"));
    QCOMPARE(b.port->writes, QList<QByteArray>{"?\r"});
    QCOMPARE(b.port->openCount, 1);
    QVERIFY(b.port->PortOpen());
    QVERIFY(!w.Measuring);

    // Afterwards the options work again.
    QTest::mouseClick(w.Option_RS, Qt::LeftButton);
    QCOMPARE(w.windowTitle(), QStringLiteral("Selvor demo"));
}

void TestWindow::quitEndsWaitingTransaction()
{
    Bench b(kVexloDemoProfile);
    Form1& w = *b.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(b.port->Open());
    w.PortOpened = true;
    // Long time-out: the quit must end the wait, not the timer.
    QTimer::singleShot(20, &w, [&w] { QTest::mouseClick(w.QuitB, Qt::LeftButton); });
    QSignalSpy ticks(w.Timer1, &QTimer::timeout);
    QString reply;
    QVERIFY(!w.SendCommand(QStringLiteral("G?"), reply, 30000));
    QCOMPARE(ticks.count(), 0);
    QVERIFY(reply.isEmpty());
    QVERIFY(w.QuitDone);
    QVERIFY(!b.port->PortOpen());
    QVERIFY(!w.isVisible());
}

void TestWindow::realPortByDefault()
{
    // Without a port given, the window makes the real one, closed, on the
    // default settings; start-up opens nothing.
    NoDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    QVERIFY(w.MSComm1);
    QCOMPARE(w.MSComm1->parent(), &w);
    QVERIFY(!w.MSComm1->PortOpen());
    QCOMPARE(w.ComboCommPort->Text(), QStringLiteral("COM4"));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
