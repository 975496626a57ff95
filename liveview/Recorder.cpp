#include "liveview/Recorder.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/NumberReading.h"
#include "app/VbComboBox.h"
#include "measure/Reception.h"
#include "serial/CommPort.h"
#include "stream/LogWriter.h"

namespace {

const char16_t kSaveFailed[] = u"データファイルを保存出来ませんでした";
constexpr int kClockMs = 250;

} // namespace

Recorder::Recorder(Form1* owner, RecordSink* view, QObject* parent)
    : QObject(parent), owner_(owner), view_(view)
{
    clock_ = new QTimer(this);
    clock_->setInterval(kClockMs);
    connect(clock_, &QTimer::timeout, this, [this] {
        if (limit_.ms > 0 && run_.elapsed() >= limit_.ms)
            Stop();
        emit progressed();
    });
    connect(owner_, &Form1::StreamReceived, this, &Recorder::receive);
    connect(owner_, &Form1::MeasurementEnded, this, &Recorder::finish);
}

// A recording still running (the main window is going away) is finished by
// the log writer's own destructor: every row received is in the file.
Recorder::~Recorder() = default;

bool Recorder::Start(const QString& path, bool timeColumn, Limit limit)
{
    if (Active() || owner_->Measuring)
        return false;
    error_.clear();
    auto file = std::make_unique<LogWriter>(path, timeColumn);
    if (!file->Prepare()) {
        error_ = file->Error();
        owner_->WindowDialogs().Message(owner_, owner_->AppTitle(), QString::fromUtf16(kSaveFailed));
        return false;
    }
    owner_->Recording = true;
    owner_->SendB2_Click();
    if (!owner_->Measuring) {
        owner_->Recording = false;
        return false;  // the status line says why; the target is untouched
    }
    info_ = StreamInfo();
    info_.header = owner_->DataFileHeader(QStringLiteral("データ"));
    info_.samplesPerSecond = ReadNumber(owner_->MeasuredRate);
    info_.started = QDateTime::currentDateTime();
    info_.model = owner_->TamrixSelected() ? QStringLiteral("Tamrix") : QStringLiteral("Selvor");
    info_.port = owner_->ComboCommPort ? owner_->ComboCommPort->Text() : QString();
    file_ = std::move(file);
    path_ = path;
    limit_ = limit;
    total_ = 0;
    failed_ = false;
    run_.start();
    clock_->start();
    emit progressed();
    return true;
}

void Recorder::Stop()
{
    if (Active() && owner_->Measuring && owner_->Recording)
        owner_->SendB2_Click();  // the main window's stop: board, port, captions
}

qint64 Recorder::LeftMs() const
{
    if (limit_.ms <= 0)
        return -1;
    return std::max<qint64>(0, limit_.ms - ElapsedMs());
}

qint64 Recorder::FileBytes() const
{
    return total_ > 0 ? QFileInfo(path_).size() : 0;
}

void Recorder::receive()
{
    if (!Active() || failed_)
        return;
    const RecordLayout layout{owner_->ChannelMode, owner_->FieldWidth, owner_->RecordLength};
    for (;;) {
        qint32 fill = 0;
        const qint32 want = qint32(limit_.records > 0
                                       ? std::min<qint64>(kSampleCapacity, limit_.records - total_)
                                       : kSampleCapacity);
        const CutResult cut = CutRecords(owner_->RecvBuffer, layout, chunk_, fill, want);
        if (fill == 0)
            break;
        // The file replaces the target once the stream has begun.
        if ((total_ == 0 && !file_->Begin(info_)) || !file_->Append(chunk_, fill, total_)) {
            failed_ = true;
            Stop();
            return;
        }
        if (view_)
            view_->Append(chunk_, fill, total_);
        total_ += fill;
        if (limit_.records > 0 && total_ >= limit_.records) {
            Stop();
            break;
        }
        if (!cut.complete)
            break;
    }
    emit progressed();
}

void Recorder::finish()
{
    if (!Active())
        return;
    owner_->Recording = false;
    clock_->stop();
    const bool ok = file_->Finish(total_) && !failed_;
    if (!ok)
        error_ = file_->Error();
    file_.reset();
    if (view_)
        view_->Finish(total_);
    if (!ok)
        owner_->WindowDialogs().Message(owner_, owner_->AppTitle(), QString::fromUtf16(kSaveFailed));
    emit ended(ok);
}
