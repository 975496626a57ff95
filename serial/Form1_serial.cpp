// The serial link of the window: opening and closing the port, moving an open
// link to another COM number, and the command transaction with its time-out.

#include "app/Form1.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/VbComboBox.h"
#include "serial/ComName.h"
#include "serial/CommPort.h"
#include "serial/CommandTransaction.h"

namespace {

// Commands and replies are plain ASCII; one byte is one character both ways,
// so nothing the board sends is lost or merged in decoding.
QByteArray toWire(const QString& text)
{
    return text.toLatin1();
}

} // namespace

// ---------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------

void Form1::OpenCommPort()
{
    const auto fail = [this] {
        PortOpened = false;
        Status->setText(QStringLiteral("Setting Error"));
    };

    // 1. A port left open is closed first.
    if (MSComm1->PortOpen()) {
        MSComm1->Close();
        if (MSComm1->PortOpen())
            return fail();
    }

    // 2. The typed text, or the text of the chosen entry.
    const int index = ComboCommPort->ListIndex();
    const QString name = index < 0 ? ComboCommPort->Text() : ComboCommPort->List(index);

    // 3. - 6. "COM" exactly, then a number by the program's reading rule, in
    //    the profile's range (when it has one), rounded halves to even.
    const ComNameReading com = ReadComName(name, Profile().maxComNumber);
    switch (com.fault) {
    case ComNameFault::NotCom:
        Status->setText(QStringLiteral("COM 設定エラー"));
        return;
    case ComNameFault::OutOfRange:
        Status->setText(QString::fromUtf8(Profile().comRangeMessage));
        PortOpened = false;
        return;
    case ComNameFault::NoPort:
        return fail();
    case ComNameFault::None:
        break;
    }
    if (!MSComm1->SetCommPort(com.number))
        return fail();

    // 7. Line settings of the model.
    if (!MSComm1->SetSettings(LineSettingsText(Profile().alwaysTamrixSettings || TamrixSelected())))
        return fail();

    // 8. - 13.
    if (!MSComm1->Open())
        return fail();
    MSComm1->ClearInput();
    MSComm1->SetRThreshold(0);
    MSComm1->SetSThreshold(0);
    PortOpened = true;
    MSComm1->SetHandshakingNone();
}

void Form1::CloseCommPort()
{
    PortOpened = false;
    if (MSComm1->PortOpen())
        MSComm1->Close();
    // A transaction waiting on this port ends now (quit, device lost).
    transaction_->Wake();
}

void Form1::ComboCommPort_Click()
{
    // A closed port only takes the new choice at the next OpenCommPort.
    if (!MSComm1->PortOpen())
        return;
    const int index = ComboCommPort->ListIndex();
    if (index < 0)
        return;
    MSComm1->Close();
    // The settings and PortOpened stay as they are.
    if (MSComm1->SetCommPort(index + 1) && MSComm1->Open())
        return;
    // The new port cannot be opened: the link is down, and the window says so
    // rather than showing a connection that no longer exists.
    linkDown(QStringLiteral("Setting Error"), QStringLiteral("COM Open 失敗 ..."));
}

void Form1::onPortFailed()
{
    linkDown(QStringLiteral("COMポートが切断されました"), QStringLiteral("COM切断"));
}

void Form1::linkDown(const QString& status, const QString& comStatus)
{
    const bool wasMeasuring = Measuring;
    CloseCommPort();
    if (QuitDone)
        return;
    if (wasMeasuring)
        MeasurementPortLost();

    auto show = [this, status, comStatus] {
        if (QuitDone || PortOpened)
            return; // quit, or a new connection was made meanwhile
        Button1->setText(QStringLiteral("接続確認"));
        if (Option_CM)
            Option_CM->setEnabled(true);
        if (Option_RS)
            Option_RS->setEnabled(true);
        if (Profile().hasControlStates) {
            DisableControls();
            Button1->setEnabled(true);
        }
        Status->setText(status);
        ComStatus->setText(comStatus);
    };
    // During a transaction the handler that waits still has to finish (its
    // SendCommand now returns false); the closed-link state is shown after
    // it, so that its own failure texts do not cover the reason.
    if (inTransaction_)
        QTimer::singleShot(0, this, show);
    else
        show();
}

// ---------------------------------------------------------------------------
// Command transaction
// ---------------------------------------------------------------------------

bool Form1::SendCommand(QString command, QString& reply, qint16 timeout)
{
    const QString cmd = command;
    reply.clear();
    // Never nest, never talk to a closed port, nothing after quit.
    if (inTransaction_ || QuitDone || !MSComm1 || !MSComm1->PortOpen())
        return false;

    inTransaction_ = true;
    StartTimeout(timeout);
    // The wait sleeps until bytes arrive, Timer1 ticks or the port goes away,
    // and handles window events meanwhile; quitting ends it.
    transaction_->SetPort(MSComm1);
    const bool ok = transaction_->Send(cmd, reply, [this] { return TimedOut; },
                                       [this] { return QuitDone; });
    StopTimeout();
    inTransaction_ = false;
    return ok;
}

void Form1::StartTimeout(qint16 interval)
{
    // A coarse timer may fire up to 5 % late; the time-out should not.
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->stop();
    TimedOut = false;
    // A negative interval would never tick; it counts as "at once".
    Timer1->setInterval(interval < 0 ? 0 : interval);
    Timer1->start();
}

void Form1::StopTimeout()
{
    Timer1->stop();
    TimedOut = false;
}

void Form1::Timer1_Timer()
{
    Timer1->stop();
    TimedOut = true;
    transaction_->Wake();
}

void Form1::FlushCommPort()
{
    if (!MSComm1 || !MSComm1->PortOpen())
        return;
    MSComm1->Input();
    MSComm1->Output(toWire(Terminator));
}
