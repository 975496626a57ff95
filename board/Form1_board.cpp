// Board configuration handlers of Form1: the connection check and close
// (Button1), the data-rate read and set (Command29, Command6) and the gain
// set and read (Command7, Command8). The command texts and reply rules come
// from board/Protocol.h; the transaction itself is serial/'s SendCommand.

#include "app/Form1.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/VbComboBox.h"
#include "board/ConnectionCheck.h"
#include "board/Protocol.h"
#include "serial/CommPort.h"

namespace {

const QString kCloseCaption = QStringLiteral("閉じる");
const QString kConnectCaption = QStringLiteral("接続確認");

// One command transaction through CmdString / ReplyString.
bool Transact(Form1& w, const QString& command)
{
    w.ReplyString = QString();
    w.CmdString = command;
    return w.SendCommand(w.CmdString, w.ReplyString, kReplyTimeoutMs);
}

// The Tamrix build has no model options; both pointers are null there.
void SetModelOptionsEnabled(Form1& w, bool enabled)
{
    if (w.Option_CM)
        w.Option_CM->setEnabled(enabled);
    if (w.Option_RS)
        w.Option_RS->setEnabled(enabled);
}

// Switches the board buttons off but leaves the connection button usable
// (only in builds with control states).
void ClosingEnding(Form1& w)
{
    if (!w.Profile().hasControlStates)
        return;
    w.DisableControls();
    w.Button1->setEnabled(true);
}

// After failure A to D the port stays open and Button1 keeps "閉じる"; what
// else is switched depends on the build.
void CheckFailed(Form1& w)
{
    SetModelOptionsEnabled(w, w.Profile().enableModelOptionsOnCheckFailure);
    ClosingEnding(w);
}

bool PortIsOpen(const Form1& w)
{
    return w.MSComm1 && w.MSComm1->PortOpen();
}

QString BoardName(const Form1& w)
{
    return QString::fromUtf8(w.Profile().boardName);
}

} // namespace

void Form1::Button1_Click()
{
    const QString board = BoardName(*this);

    if (Button1->text() == kCloseCaption) {
        // Close. Status and ComStatus keep their texts.
        FlushCommPort();
        CloseCommPort();
        Button1->setText(kConnectCaption);
        SetModelOptionsEnabled(*this, true);
        ClosingEnding(*this);
        return;
    }

    // 1. Open the port unless a failed check left it open.
    if (!PortOpened) {
        OpenCommPort();
        if (!PortOpened) {
            CloseCommPort();
            ComStatus->setText(QStringLiteral("COM Open 失敗 ..."));
            if (Profile().clearStatusOnOpenFailure)
                Status->setText(QString());
            SetModelOptionsEnabled(*this, true);
            ClosingEnding(*this);
            return;
        }
        FlushCommPort();
        ComStatus->setText(MSComm1 ? MSComm1->Settings() : QString());
        Status->setText(QStringLiteral("COM Ready..."));
        Button1->setText(kCloseCaption);
        SetModelOptionsEnabled(*this, false);
        if (Profile().hasControlStates)
            EnableControls();
    }

    // 2. - 5. Presence, buffer and filter, gain, data rate; what is read is
    //    shown at once, so a later failure keeps it.
    ConnectionCheckSteps steps;
    steps.transact = [this](const QString& command, QString& reply) {
        const bool ok = Transact(*this, command);
        reply = ReplyString;
        return ok;
    };
    steps.statusRead = [this](const StatusSummary& summary) {
        Status->setText(summary.status);
        Label1->setText(summary.label);
    };
    steps.gainRead = [this](int code) {
        GainIndex = static_cast<qint16>(code);
        Combo3->SetListIndex(code);
    };
    // The model's list is filled only once the code is known to have an
    // entry, so that a failed check leaves Combo1 as it was.
    const bool refill = Profile().hasModelChoice;
    const bool tamrix = TamrixSelected();
    const int entries = refill ? (tamrix ? kTamrixRateCount : kSelvorRateCount)
                               : Combo1->ListCount();
    steps.rateRead = [this, refill, tamrix](int code) {
        if (refill) {
            if (tamrix)
                FillRateListFull();
            else
                FillRateListShort();
        }
        if (code >= Combo1->ListCount())
            return false;
        Combo1->SetListIndex(code);
        return true;
    };

    const CheckFailure failure = RunConnectionCheck(steps, board, entries);
    if (failure == CheckFailure::None)
        return;
    if (failure == CheckFailure::StatusReply)
        Label1->setText(QStringLiteral("???"));
    Status->setText(CheckFailureText(failure, board));
    CheckFailed(*this);
}

void Form1::Command29_Click()
{
    if (!PortIsOpen(*this)) {
        Status->setText(QStringLiteral("COM not open..."));
        return;
    }
    // A read during a measurement would discard the incoming samples and
    // disarm the receive event, leaving the measurement stuck; like the
    // other board buttons it does nothing then.
    if (Measuring)
        return;

    const QString error = RateErrorText(BoardName(*this));
    if (!Transact(*this, RateQueryCommand())) {
        Status->setText(error);
        return;
    }
    const std::optional<int> code = CodeDigit(ReplyString);
    if (!code) {
        Status->setText(error);
        return;
    }
    ReplyString = ReplyString.mid(1, 1);
    if (*code >= Combo1->ListCount()) {
        Status->setText(error);
        return;
    }
    Combo1->SetListIndex(*code);
    Status->setText(QStringLiteral("データレート読出しました"));
}

void Form1::Command6_Click()
{
    if (!PortIsOpen(*this)) {
        Status->setText(QStringLiteral("COM not open..."));
        return;
    }
    if (Measuring)
        return;

    const bool ok = Transact(*this, RateCommand(Combo1->ListIndex()));
    Status->setText(ok && IsAccepted(ReplyString) ? QStringLiteral("データレート設定完了")
                                                  : QStringLiteral("データレート設定できませんでした"));
}

void Form1::Command7_Click()
{
    if (!PortIsOpen(*this)) {
        Status->setText(QStringLiteral("comm not open..."));
        return;
    }
    if (Measuring)
        return;

    // Kept also when the board refuses: it is the gain the operator chose.
    GainIndex = static_cast<qint16>(Combo3->ListIndex());
    const bool ok = Transact(*this, GainCommand(GainIndex));
    Status->setText(ok && IsAccepted(ReplyString) ? QStringLiteral("ゲイン設定完了")
                                                  : QStringLiteral("ゲイン設定できませんでした"));
}

void Form1::Command8_Click()
{
    if (!PortIsOpen(*this)) {
        Status->setText(QStringLiteral("comm not open..."));
        return;
    }
    if (Measuring)
        return;

    if (!Transact(*this, GainQueryCommand())) {
        Status->setText(QStringLiteral("ゲイン設定読出しできませんでした"));
        return;
    }
    const std::optional<int> code = CodeDigit(ReplyString);
    if (!code) {
        Status->setText(QStringLiteral("ゲイン設定読出しできませんでした"));
        return;
    }
    Status->setText(QStringLiteral("ゲイン設定読出し"));
    if (*code > kMaxGainCode) {
        Status->setText(QStringLiteral("ゲイン設定読出しエラーです"));
        return;
    }
    GainIndex = static_cast<qint16>(*code);
    Combo3->SetListIndex(*code);
}
