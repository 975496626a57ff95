// Measurement handlers of the window: start and stop (SendB2), the receive
// event, decoding and extremes of the block, the peak-to-peak text and the
// graph. The arithmetic lives in Decoding, Reception and GraphGeometry; these
// handlers move state between the window, the port and those functions.

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <new>

#include "app/Form1.h"
#include "app/NumberReading.h"
#include "app/VbComboBox.h"
#include "board/Protocol.h"
#include "graphview/GraphView.h"
#include "measure/Decoding.h"
#include "measure/GraphGeometry.h"
#include "measure/PictureBox.h"
#include "measure/Reception.h"
#include "serial/CommPort.h"
#include "serial/CommandTransaction.h"

namespace {

QString captionStart() { return QStringLiteral("測定開始"); }
QString captionStop() { return QStringLiteral("測定停止"); }

} // namespace

void Form1::SendB2_Click()
{
    if (!MSComm1 || !MSComm1->PortOpen()) {
        Status->setText(QStringLiteral("COM not open..."));
        return;
    }
    if (SendB2->text() == captionStop()) {
        stopMeasurement();
        return;
    }

    // ---- start -------------------------------------------------------------
    if (Profile().clearStatusAtStart)
        Status->setText(QString());
    ReplyString.clear();

    // A typed channel text selects no entry: there is no channel to ask the
    // board for and no record layout to cut the stream by. Refused before
    // anything is sent.
    if (Combo2->ListIndex() < 0) {
        Status->setText(QStringLiteral("チャンネルが正しくありません"));
        return;
    }

    CmdString = RateCommand(Combo1->ListIndex());
    if (!SendCommand(CmdString, ReplyString, kReplyTimeoutMs) || !IsAccepted(ReplyString)) {
        Status->setText(QStringLiteral("データレート設定できませんでした"));
        return;
    }

    GainIndex = qint16(Combo3->ListIndex());
    CmdString = GainCommand(GainIndex);
    ReplyString.clear();
    if (!SendCommand(CmdString, ReplyString, kReplyTimeoutMs) || !IsAccepted(ReplyString)) {
        Status->setText(QStringLiteral("ゲイン設定できませんでした"));
        return;
    }

    const QString countText = Recording ? QStringLiteral("0") : Text1->text();
    const double value = ReadNumber(countText);
    const std::optional<int> count = RoundHalfEven(value);
    if (countText.isEmpty() || !(value >= 0 && value <= 65535) || !count) {
        Status->setText(QStringLiteral("データ個数が正しくありません"));
        return;
    }
    SampleCount = *count;

    const int channel = Combo2->ListIndex();
    MeasuredHex = Option1 && Option1->isChecked();
    MeasuredRate = Combo1->List(Combo1->ListIndex());
    CmdString = StartCommand(MeasuredHex, channel, SampleCount);
    const RecordLayout layout = MakeRecordLayout(channel, MeasuredHex);
    FieldWidth = qint16(layout.fieldWidth);
    ChannelMode = qint16(layout.channelMode);
    RecordLength = qint16(layout.recordLength);

    if (Picture1)
        Picture1->Cls();
    dropProgress();
    RecvCount = 0;
    Measuring = true;
    RecvBuffer.clear();
    RecvBuffer.squeeze();

    MSComm1->ClearInput();
    MSComm1->Input();
    MSComm1->SetRThreshold(1);
    MSComm1->Output((CmdString + Terminator).toLatin1());
    SendB2->setText(captionStop());
    emit MeasurementStarted();
}

void Form1::stopMeasurement()
{
    // The last progress line is shown before anything else happens.
    flushProgress();
    Measuring = false;
    MSComm1->SetRThreshold(0);
    // The stop command of the format the board is streaming in.
    MSComm1->Output((StopCommand(MeasuredHex) + Terminator).toLatin1());
    if (Profile().stopMessage) {
        // Receive events already queued run now and only collect their
        // characters (Measuring is false). Clicks wait until the stop is done.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        MSComm1->ClearInput();
        MSComm1->Input();
        RecvBuffer.clear();
        SendB2->setText(captionStart());
        Status->setText(QStringLiteral("測定停止しました"));
    } else {
        // Tamrix: discard at once, keep the progress text.
        MSComm1->ClearInput();
        MSComm1->Input();
        SendB2->setText(captionStart());
    }
    emit MeasurementEnded();
    if (RecvCount > 0)
        emit BlockCompleted();
}

void Form1::MSComm1_OnComm(int event)
{
    if (event != CommPort::ComEvReceive || !MSComm1)
        return;
    QByteArray in = MSComm1->Input();
    // Line feeds before the first record are the late tail of the gain
    // command's reply, not part of the stream.
    if (Measuring && RecvCount == 0 && RecvBuffer.isEmpty())
        DropLeadingLineFeeds(in);
    // One character per byte, so that records are cut by the bytes the
    // board sent whatever they hold.
    RecvBuffer.append(QLatin1StringView(in));
    if (!Measuring)
        return;

    if (Profile().recogniseNG && RecvCount == 0 && RecvBuffer.startsWith(QLatin1String("NG"))) {
        MSComm1->SetRThreshold(0);
        dropProgress();
        Status->setText(QStringLiteral("測定開始エラー... "));
        SendB2->setText(captionStart());
        Measuring = false;
        emit MeasurementEnded();
        return;
    }
    if (Recording) {
        emit StreamReceived();
        return;
    }

    const RecordLayout layout{ChannelMode, FieldWidth, RecordLength};
    const CutResult cut = CutRecords(RecvBuffer, layout, Samples, RecvCount, SampleCount);
    if (cut.stored > 0)
        emit RecordsStored(RecvCount - cut.stored, cut.stored);
    if (cut.complete) {
        finishBlock();
    } else if (cut.full) {
        // A count of 0 asks the board to stream until stopped, but the block
        // holds 65535 records: stop the board and take the full block as the
        // result, so that it can be viewed and saved like any other.
        Measuring = false;
        MSComm1->SetRThreshold(0);
        MSComm1->Output((StopCommand(MeasuredHex) + Terminator).toLatin1());
        MSComm1->ClearInput();
        MSComm1->Input();
        RecvBuffer.clear();
        SampleCount = RecvCount;
        finishBlock();
    } else if (cut.stored > 0) {
        // The progress line for the last record stored by this event.
        showProgress(ProgressText(Samples, ChannelMode, RecvCount - 1, RecvCount));
    }
}

void Form1::showProgress(const QString& text)
{
    // Redrawing the status line costs far more than cutting a record, and a
    // paced stream raises several hundred events a second. The line shows
    // the newest progress at most every kProgressMs (faster than the eye
    // follows); a newer text waiting for its turn replaces the older one.
    constexpr int kProgressMs = 50;
    pendingProgress_ = text;
    if (!progressClock_.isValid() || progressClock_.elapsed() >= kProgressMs) {
        flushProgress();
        return;
    }
    if (!progressTimer_) {
        progressTimer_ = new QTimer(this);
        progressTimer_->setSingleShot(true);
        connect(progressTimer_, &QTimer::timeout, this, [this] { flushProgress(); });
    }
    if (!progressTimer_->isActive())
        progressTimer_->start(int(kProgressMs - progressClock_.elapsed()));
}

void Form1::flushProgress()
{
    if (progressTimer_)
        progressTimer_->stop();
    if (pendingProgress_.isNull())
        return;
    Status->setText(pendingProgress_);
    pendingProgress_ = QString();
    progressClock_.start();
}

void Form1::dropProgress()
{
    if (progressTimer_)
        progressTimer_->stop();
    pendingProgress_ = QString();
    progressClock_.invalidate();
}

void Form1::finishBlock()
{
    dropProgress();
    Measuring = false;
    MSComm1->SetRThreshold(0);
    const QString text = PeakToPeakText();
    Status->setText(QStringLiteral("測定終了... ") + text);
    SendB2->setText(captionStart());
    Graph();
    emit MeasurementEnded();
    emit BlockCompleted();
}

void Form1::MeasurementPortLost()
{
    // The serial layer has closed the port and shows what happened; the
    // records received so far stay in the block.
    Measuring = false;
    dropProgress();
    if (MSComm1)
        MSComm1->SetRThreshold(0);
    if (SendB2)
        SendB2->setText(captionStart());
    emit MeasurementEnded();
    if (RecvCount > 0)
        emit BlockCompleted();
}

double Form1::DecodeSample(const QString& text) const
{
    return ::DecodeSample(QStringView(text), MeasuredHex);
}

void Form1::FindCh0Max() { Ch0Max = FindChannelMax(Samples, 0, SampleCount, MeasuredHex); }
void Form1::FindCh0Min() { Ch0Min = FindChannelMin(Samples, 0, SampleCount, MeasuredHex); }
void Form1::FindCh1Max() { Ch1Max = FindChannelMax(Samples, 1, SampleCount, MeasuredHex); }
void Form1::FindCh1Min() { Ch1Min = FindChannelMin(Samples, 1, SampleCount, MeasuredHex); }

double Form1::FindGraphMax() const
{
    return FindModeMax(Samples, ChannelMode, SampleCount, MeasuredHex);
}

double Form1::FindGraphMin() const
{
    return FindModeMin(Samples, ChannelMode, SampleCount, MeasuredHex);
}

QString Form1::PeakToPeakText()
{
    if (ChannelMode == 0 || ChannelMode == 2) {
        FindCh0Max();
        FindCh0Min();
    }
    if (ChannelMode == 1 || ChannelMode == 2) {
        FindCh1Max();
        FindCh1Min();
    }
    return ::PeakToPeakText(ChannelMode, MeasuredHex, GainIndex, Ch0Max, Ch0Min, Ch1Max, Ch1Min);
}

quint32 Form1::ChannelColor(int channel)
{
    return GraphChannelColor(channel);
}

void Form1::Graph()
{
    // Any failure ends the drawing silently; what was shown stays.
    if (!Picture1)
        return;
    try {
        Picture1->Cls();
        GraphPlan plan = ComputeGraph(Samples, SampleCount, ChannelMode, MeasuredHex,
                                            GainIndex, Picture1->ScaleWidth(),
                                            Picture1->ScaleHeight());
        if (Label3)
            Label3->setText(plan.scale.topText);
        if (Label4)
            Label4->setText(plan.scale.midText);
        if (Label5)
            Label5->setText(plan.scale.bottomText);
        Picture1->AddLines(std::move(plan.lines));
        // What was drawn can now be zoomed into (a drawing cut short cannot).
        if (PictureView && plan.complete)
            PictureView->SetBlock(&Samples, SampleCount, ChannelMode, MeasuredHex, GainIndex,
                                  plan.scale);
    } catch (const std::bad_alloc&) {
    }
}
