#include "app/Form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/Dialogs.h"
#include "app/Twips.h"
#include "app/VbComboBox.h"
#include "board/BoardLists.h"
#include "board/Protocol.h"
#include "graphview/GraphView.h"
#include "measure/PictureBox.h"
#include "serial/CommPort.h"
#include "serial/CommandTransaction.h"
#include "serial/QtCommPort.h"

namespace {

// "ＭＳ Ｐゴシック" 9.75 pt, with the Japanese fonts found on other systems
// standing in when it is not installed.
QFont ProportionalGothicFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("IPAexGothic"), QStringLiteral("VL PGothic"),
                      QStringLiteral("VL Gothic")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    return font;
}

// Fixed-pitch "ＭＳ ゴシック" 9.75 pt for the status line.
QFont FixedGothicFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                      QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("IPAGothic"),
                      QStringLiteral("VL Gothic"), QStringLiteral("monospace")});
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    return font;
}

void Place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(TwipsRect(left, top, width, height));
}

// Swallows the operator's mouse and keyboard input on a control while a
// command transaction waits for its reply, so that an ignored click does not
// even change the control (a model option or the port list would otherwise
// show a choice that no handler has acted upon).
class InputGuard : public QObject {
public:
    InputGuard(QObject* parent, std::function<bool()> blocked)
        : QObject(parent), blocked_(std::move(blocked)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
            if (blocked_())
                return true;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool()> blocked_;
};

// Scale labels, in twips: from the left margin to just before the graph.
constexpr int kScaleLabelLeft = 30;
constexpr int kScaleLabelWidth = 900;
constexpr int kScaleLabelHeight = 225;

} // namespace

Form1::Form1(const BuildProfile& profile, CommPort* port, Dialogs* dialogs, QWidget* parent)
    : QWidget(parent), profile_(profile), dialogs_(dialogs),
      transaction_(std::make_unique<CommandTransaction>())
{
    Samples.resize(kSampleCapacity);
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<WidgetDialogs>();
        dialogs_ = ownDialogs_.get();
    }

    buildControls();

    if (port) {
        port->setParent(this);
        MSComm1 = port;
    } else {
        MSComm1 = new QtCommPort(this);
    }
    MSComm1->setObjectName(QStringLiteral("MSComm1"));

    wireHandlers();

    // The graph takes focus for its keys; it comes after every other control.
    PictureView = new GraphView(this, dialogs_);
    QWidget::setTabOrder(Command1, Picture1);

    Form_Load();
}

Form1::~Form1() = default;

// ---------------------------------------------------------------------------
// The controls
// ---------------------------------------------------------------------------

void Form1::buildControls()
{
    const bool tamrix = profile_.tamrixLayout;
    setObjectName(QStringLiteral("Form1"));
    // Every program's window is created with this caption; start-up replaces
    // it where the program has a model choice.
    setWindowTitle(QStringLiteral("Tamrix Demo"));
    setFixedSize(tamrix ? TwipsSize(8010, 8085) : TwipsSize(7890, 8040));

    const QFont gothic = ProportionalGothicFont();
    const int rowWidth = tamrix ? 7770 : 7650;

    auto label = [](QWidget* parent, const char* name, const QString& text) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    auto button = [](QWidget* parent, const char* name, const QString& text) {
        auto* b = new QPushButton(text, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    auto frame = [](QWidget* parent, const char* name, const QString& title) {
        auto* f = new QGroupBox(title, parent);
        f->setObjectName(QString::fromLatin1(name));
        return f;
    };
    auto combo = [&gothic](QWidget* parent, const char* name, const QString& text,
                           const QStringList& entries) {
        auto* c = new VbComboBox(parent);
        c->setObjectName(QString::fromLatin1(name));
        c->setFont(gothic);
        c->SetText(text);
        for (const QString& entry : entries)
            c->AddItem(entry);
        return c;
    };
    auto option = [](QWidget* parent, const char* name, const QString& text) {
        auto* o = new QRadioButton(text, parent);
        o->setObjectName(QString::fromLatin1(name));
        return o;
    };

    // Port state and status line across the top.
    ComStatus = label(this, "ComStatus", QStringLiteral("Com"));
    ComStatus->setFont(gothic);
    ComStatus->setAutoFillBackground(true);
    {
        QPalette pal = ComStatus->palette();
        pal.setColor(QPalette::Window, QColor(192, 192, 192));
        ComStatus->setPalette(pal);
    }
    ComStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Place(ComStatus, 120, 120, rowWidth, 300);

    Status = new QLineEdit(QStringLiteral("Status"), this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setFont(FixedGothicFont());
    Place(Status, 120, 510, rowWidth, 360);

    // The graph and its three scale labels (top, middle, bottom of Picture1).
    Picture1 = new PictureBox(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Place(Picture1, 960, 1080, 6375, 3435);
    // The scale labels stand level with the top, the middle and the bottom of
    // the graph. Their design boxes (270 x 180 twips) hold "---" but cut off
    // scale values such as 8388650 or -0.03000, so each label reaches from
    // the window's left margin to just before the graph, right-aligned, one
    // text line high.
    Label3 = label(this, "Label3", QStringLiteral("---"));
    Label4 = label(this, "Label4", QStringLiteral("---"));
    Label5 = label(this, "Label5", QStringLiteral("---"));
    const int scaleTops[] = {1080, 2700, 4320};
    const QList<QLabel*> scaleLabels = {Label3, Label4, Label5};
    for (int i = 0; i < 3; ++i) {
        Place(scaleLabels[i], kScaleLabelLeft, scaleTops[i], kScaleLabelWidth, kScaleLabelHeight);
        scaleLabels[i]->setAlignment(Qt::AlignRight | Qt::AlignTop);
    }

    // Data rate (left, below the graph).
    Frame2 = frame(this, "Frame2", QStringLiteral("Output Data Rate"));
    Place(Frame2, 120, 4680, 3750, tamrix ? 1380 : 960);
    Combo1 = combo(Frame2, "Combo1", QStringLiteral("---"), {});
    Place(Combo1, 150, 360, 1650, 360);
    Command6 = button(Frame2, "Command6", QStringLiteral("設定"));
    Place(Command6, 1890, 345, 840, 390);
    Command29 = button(Frame2, "Command29", QStringLiteral("読出し"));
    Place(Command29, 2790, 345, 840, 390);

    // Channels, port, sample count and the connection button (right).
    Combo2 = combo(this, "Combo2", QStringLiteral("Combo2"),
                   ChannelListEntries());
    Place(Combo2, 4050, 4770, 1950, 360);
    QStringList ports;
    for (int n = 1; n <= 9; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    ComboCommPort = combo(this, "ComboCommPort", QStringLiteral("ComboCom"), ports);
    // The port list keeps the window's default font.
    ComboCommPort->setFont(font());
    Place(ComboCommPort, 6150, 4770, tamrix ? 1740 : 1620, 360);
    Label2 = label(this, "Label2", QStringLiteral("データ個数"));
    Place(Label2, 4050, 5310, 1050, 300);
    Text1 = new QLineEdit(QStringLiteral("100"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setFont(gothic);
    Place(Text1, 5100, 5250, 1050, 360);
    Button1 = button(this, "Button1", QStringLiteral("接続確認"));
    Place(Button1, 6270, 5220, tamrix ? 1620 : 1500, 420);

    // Board summary: below the data rate, inside its frame in the Tamrix window.
    if (tamrix) {
        Label1 = label(Frame2, "Label1", QStringLiteral("Label1"));
        Place(Label1, 150, 900, 3450, 300);
    } else {
        Label1 = label(this, "Label1", QStringLiteral("Label1"));
        Place(Label1, 120, 5820, 3750, 300);
    }
    Label1->setFont(gothic);

    // Gain (bottom left).
    Frame1 = frame(this, "Frame1", QStringLiteral("Gain"));
    Place(Frame1, 120, 6240, 3750, 960);
    Combo3 = combo(Frame1, "Combo3", QStringLiteral("Combo3"),
                   GainListEntries());
    Place(Combo3, 150, 360, 1650, 360);
    Command7 = button(Frame1, "Command7", QStringLiteral("設定"));
    Place(Command7, 1890, 345, 840, 390);
    Command8 = button(Frame1, "Command8", QStringLiteral("読出し"));
    Place(Command8, 2790, 345, 840, 390);

    // Data format and model choice. Each frame makes its two options one
    // exclusive group; in the Tamrix window the format options stand on the
    // window itself (it has no other option buttons).
    if (tamrix) {
        Option1 = option(this, "Option1", QStringLiteral("バイナリデータ"));
        Place(Option1, 4050, 5820, 1800, 300);
        Option2 = option(this, "Option2", QStringLiteral("mVデータ"));
        Place(Option2, 4050, 6150, 1800, 300);
    } else {
        Frame3 = frame(this, "Frame3", QStringLiteral("データ形式"));
        Place(Frame3, 3990, 6240, 1830, 960);
        Option1 = option(Frame3, "Option1", QStringLiteral("バイナリデータ"));
        Place(Option1, 150, 300, 1560, 300);
        Option2 = option(Frame3, "Option2", QStringLiteral("mVデータ"));
        Place(Option2, 150, 600, 1560, 300);
    }
    if (profile_.hasModelChoice) {
        Frame4 = frame(this, "Frame4", QStringLiteral("機種選択"));
        Place(Frame4, 5940, 6240, 1830, 960);
        Option_CM = option(Frame4, profile_.optionTamrixName, QStringLiteral("Tamrix"));
        Place(Option_CM, 150, 300, 1560, 300);
        Option_RS = option(Frame4, profile_.optionSelvorName, QStringLiteral("Selvor"));
        Place(Option_RS, 150, 600, 1560, 300);
    }

    // The button row at the bottom.
    const int rowTop = tamrix ? 7425 : 7380;
    Command1 = button(this, "Command1", QStringLiteral("データ保存"));
    Place(Command1, 120, rowTop, 1800, 480);
    SendB2 = button(this, "SendB2", QStringLiteral("測定開始"));
    Place(SendB2, tamrix ? 3105 : 3045, rowTop, 1800, 480);
    QuitB = button(this, "QuitB", QStringLiteral("終了"));
    Place(QuitB, tamrix ? 6090 : 5970, rowTop, 1800, 480);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    // Keyboard order: the status line and the main buttons first. Labels take
    // no focus and are left out of the chain.
    QList<QWidget*> order = {Status, QuitB,  Button1,   SendB2,    ComboCommPort, Combo2,
                             Text1,  Combo1, Command6,  Command29, Combo3,        Command7,
                             Command8, Option1, Option2};
    if (Option_CM)
        order << Option_CM << Option_RS;
    order << Command1;
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// ---------------------------------------------------------------------------
// Event wiring
// ---------------------------------------------------------------------------

void Form1::wireHandlers()
{
    // A command transaction never nests: while one waits for its reply, the
    // clicks that could start another one (or change the port or the model
    // under it) are ignored. The quit button always works.
    auto* guard = new InputGuard(this, [this] { return InTransaction(); });
    auto guarded = [this, guard](QAbstractButton* b, void (Form1::*handler)()) {
        b->installEventFilter(guard);
        connect(b, &QAbstractButton::clicked, this, [this, handler] {
            if (!InTransaction())
                (this->*handler)();
        });
    };
    guarded(Button1, &Form1::Button1_Click);
    guarded(Command6, &Form1::Command6_Click);
    guarded(Command7, &Form1::Command7_Click);
    guarded(Command8, &Form1::Command8_Click);
    guarded(Command29, &Form1::Command29_Click);
    guarded(Command1, &Form1::Command1_Click);
    guarded(SendB2, &Form1::SendB2_Click);
    connect(QuitB, &QAbstractButton::clicked, this, [this] { QuitB_Click(); });

    ComboCommPort->installEventFilter(guard);
    connect(ComboCommPort, &VbComboBox::Click, this, [this] {
        if (!InTransaction())
            ComboCommPort_Click();
    });

    // A model option's handler runs when the operator chooses it: the click
    // must have turned it on. Clicking the option that is already selected
    // chooses nothing; setting an option by program raises no click.
    auto modelOption = [this, guard](QRadioButton* option, void (Form1::*handler)()) {
        if (!option)
            return;
        option->installEventFilter(guard);
        auto wasChecked = std::make_shared<bool>(false);
        connect(option, &QAbstractButton::pressed, this,
                [option, wasChecked] { *wasChecked = option->isChecked(); });
        connect(option, &QAbstractButton::clicked, this,
                [this, handler, wasChecked](bool checked) {
                    const bool chosen = checked && !*wasChecked;
                    *wasChecked = checked;
                    if (chosen && !InTransaction())
                        (this->*handler)();
                });
    };
    modelOption(Option_CM, &Form1::Option_CM_Click);
    modelOption(Option_RS, &Form1::Option_RS_Click);

    // Ctrl+Shift+N opens the noise analysis; no control of the window uses it.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), this), &QShortcut::activated,
            this, &Form1::ShowNoiseAnalysis);
    // The graph's menu offers the same window.
    connect(Picture1, &PictureBox::contextMenuAboutToShow, this, [this](QMenu* menu) {
        menu->addSeparator();
        QAction* analysis = menu->addAction(QStringLiteral("ノイズ解析(&N)..."), this,
                                            &Form1::ShowNoiseAnalysis);
        analysis->setObjectName(QStringLiteral("noiseAnalysis"));
        analysis->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
        QAction* live = menu->addAction(QStringLiteral("リアルタイム表示(&R)..."), this,
                                        &Form1::ShowLiveView);
        live->setObjectName(QStringLiteral("liveView"));
        live->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
        QAction* open = menu->addAction(QStringLiteral("ファイルを開く(&O)..."), this, &Form1::OpenDataFile);
        open->setObjectName(QStringLiteral("openDataFile"));
        open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    });
    // Ctrl+O opens a data file in the live view.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this), &QShortcut::activated, this,
            &Form1::OpenDataFile);
    // Ctrl+Shift+R opens the live view.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), this), &QShortcut::activated,
            this, &Form1::ShowLiveView);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    connect(MSComm1, &CommPort::OnComm, this, [this](int event) { MSComm1_OnComm(event); });
    connect(MSComm1, &CommPort::PortFailed, this, [this] { onPortFailed(); });
}

// ---------------------------------------------------------------------------
// Start-up, centring, quit
// ---------------------------------------------------------------------------

void Form1::Form_Load()
{
    // 1. Converter codes as the data format.
    Option1->setChecked(true);
    Option2->setChecked(false);

    if (profile_.hasModelChoice) {
        // 2. The model: none, or Tamrix in the programs that preselect it.
        //    Unchecking an exclusive option needs the exclusivity lifted.
        for (QRadioButton* option : {Option_CM, Option_RS}) {
            option->setAutoExclusive(false);
            option->setChecked(false);
            option->setAutoExclusive(true);
        }
        if (profile_.tamrixSelectedAtStartup)
            Option_CM->setChecked(true);
        // 3. Caption.
        setWindowTitle(QString::fromUtf8(profile_.startupCaption));
        // 4. Board buttons off, or (without control states) the Tamrix rates.
        if (profile_.hasControlStates)
            DisableControls();
        else
            FillRateListFull();
    }

    // 5. No measurement.
    Measuring = false;
    RecvCount = 0;
    RecvBuffer.clear();

    // 6. First channel.
    Combo2->SetListIndex(0);

    // 7. "COM4"; the port change does nothing while the port is closed.
    ComboCommPort->SetListIndex(3);
    ComboCommPort_Click();

    // The single-model program fills its one rate list here.
    if (!profile_.hasModelChoice)
        FillRateListFull();

    // 8. Link state.
    PortOpened = false;
    Terminator = QString(QChar(13));

    // 9.
    SendB2->setText(QStringLiteral("測定開始"));

    // 10.
    FormToCenter();
}

void Form1::FormToCenter()
{
    QScreen* scr = screen();
    if (!scr)
        scr = QGuiApplication::primaryScreen();
    if (!scr)
        return;
    const QRect screenRect = scr->geometry();
    const QPointF topLeft = CenteredPosition(PixelsToTwips(screenRect.size()),
                                             PixelsToTwips(frameGeometry().size()));
    move(screenRect.topLeft() + TwipsToPixels(topLeft));
}

void Form1::QuitB_Click()
{
    // 1. Data files: the writer opens, writes and closes a file within one
    //    save, so no file is ever left open here.
    // 2. The port; nothing is sent to the board, even while measuring.
    CloseCommPort();
    // 3./4. Unload the window and end the program.
    hide();
    QuitDone = true;
    QCoreApplication::quit();
}

void Form1::closeEvent(QCloseEvent* event)
{
    // The window system's close runs the same steps as the quit button, so
    // the port is never left open behind a closed window.
    if (!QuitDone)
        QuitB_Click();
    event->accept();
}

// ---------------------------------------------------------------------------
// Control states and rate lists
// ---------------------------------------------------------------------------

void Form1::setBoardButtonsEnabled(bool enabled)
{
    // Button1 first, then the six command buttons, in this order.
    for (QPushButton* b : {Button1, Command6, Command7, Command8, Command29, Command1, SendB2})
        b->setEnabled(enabled);
}

void Form1::DisableControls()
{
    // Programs without control states never switch the board buttons.
    if (!profile_.hasControlStates)
        return;
    setBoardButtonsEnabled(false);
    Combo1->Clear();
}

void Form1::EnableControls()
{
    if (!profile_.hasControlStates)
        return;
    setBoardButtonsEnabled(true);
    // Two separate tests: with neither model selected the list stays as it is.
    if (Option_CM && Option_CM->isChecked())
        FillRateListFull();
    if (Option_RS && Option_RS->isChecked())
        FillRateListShort();
}

void Form1::FillRateListFull()
{
    Combo1->Clear();
    for (const QString& rate : RateListEntries(kTamrixRateCount))
        Combo1->AddItem(rate);
    if (profile_.rateListSelectsFirst)
        Combo1->SetListIndex(0);
}

void Form1::FillRateListShort()
{
    // The single-model program has only the full list.
    if (!profile_.hasShortRateList)
        return;
    Combo1->Clear();
    // The Selvor list: "5sps" to "200sps".
    for (const QString& rate : RateListEntries(kSelvorRateCount))
        Combo1->AddItem(rate);
    if (profile_.rateListSelectsFirst)
        Combo1->SetListIndex(0);
}

// ---------------------------------------------------------------------------
// Model choice
// ---------------------------------------------------------------------------

void Form1::Option_CM_Click()
{
    if (!Option_CM || !Option_CM->isChecked())
        return;
    setWindowTitle(QStringLiteral("Tamrix demo"));
    if (profile_.optionClickFillsRateList)
        FillRateListFull();
    else
        Button1->setEnabled(true);
}

void Form1::Option_RS_Click()
{
    if (!Option_RS || !Option_RS->isChecked())
        return;
    setWindowTitle(QStringLiteral("Selvor demo"));
    if (profile_.optionClickFillsRateList)
        FillRateListShort();
    else
        Button1->setEnabled(true);
}

bool Form1::TamrixSelected() const
{
    if (!profile_.hasModelChoice)
        return true;
    return Option_CM && Option_CM->isChecked();
}
