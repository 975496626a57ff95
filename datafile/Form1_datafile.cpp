// The save button: choose a file, confirm an overwrite, write the block.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "datafile/DataFile.h"
#include "datafile/DataFileWriter.h"

namespace {

const char16_t kSaveFailed[] = u"データファイルを保存出来ませんでした";

// Used only if the window was built without a Dialogs (it normally has one).
Dialogs& fallbackDialogs()
{
    static WidgetDialogs dialogs;
    return dialogs;
}

} // namespace

QString Form1::AppTitle() const
{
    return QString::fromUtf8(profile_.programName);
}

QString Form1::SaveDialogFolder()
{
    const QString own = QCoreApplication::applicationDirPath();
    const QFileInfo info(own);
    if (!own.isEmpty() && info.isDir() && info.isWritable())
        return own;
    return QDir::homePath();
}

Dialogs& Form1::WindowDialogs() const
{
    return dialogs_ ? *dialogs_ : fallbackDialogs();
}

DataFileContent Form1::DataFileHeader(const QString& title) const
{
    DataFileContent content;
    content.title = title;
    content.dateTime = DataFileDateTimeText(QDateTime::currentDateTime());
    content.gainEntry = Combo3->Text();
    content.filterCaption = Label1->text();
    content.rateEntry = Combo1->List(Combo1->ListIndex());
    content.channelEntry = Combo2->List(Combo2->ListIndex());
    content.channelList0 = Combo2->List(0);
    content.channelList1 = Combo2->List(1);
    content.shownChannel = Combo2->Text();
    content.channelMode = ChannelMode;
    content.hex = MeasuredHex;
    return content;
}

void Form1::Command1_Click()
{
    if (Measuring)
        return;
    if (RecvCount <= 0)
        return;
    ShowSaveDialog();
}

void Form1::ShowSaveDialog()
{
    Dialogs& dialogs = dialogs_ ? *dialogs_ : fallbackDialogs();

    SaveDialogRequest request;
    request.title = QStringLiteral("データファイル");
    // One filter entry, shown by its name alone.
    request.filterName = QStringLiteral("(CSVファイル) ");
    request.filterPattern = QStringLiteral("*.csv");
    request.initialFolder = SaveDialogFolder();
    request.fileName = lastSaveName_;

    const QString path = dialogs.GetSaveFileName(this, request);
    if (path.isEmpty()) // Cancel, or nothing chosen
        return;
    lastSaveName_ = path;
    SaveDataFile(path);
}

bool Form1::SaveDataFile(const QString& path)
{
    Dialogs& dialogs = dialogs_ ? *dialogs_ : fallbackDialogs();
    if (path.isEmpty()) {
        dialogs.Message(this, AppTitle(), QString::fromUtf16(kSaveFailed));
        return false;
    }

    if (!MayOverwrite(path))
        return true; // declined: the file stays as it is, and that is fine
    return mSaveDataFile(path, QStringLiteral("データ"));
}

bool Form1::MayOverwrite(const QString& path)
{
    // Only the file's metadata is read: nothing is held open over the question.
    const QFileInfo info(path);
    const bool hasContent = info.exists() && info.size() >= 1;
    if (!hasContent)
        return true;
    const QString question = path + QStringLiteral(" に上書きしますか？");
    return WindowDialogs().AskYesNo(this, AppTitle(), question);
}

bool Form1::mSaveDataFile(const QString& path, const QString& title)
{
    Dialogs& dialogs = dialogs_ ? *dialogs_ : fallbackDialogs();
    // The one fixed text, whatever went wrong.
    auto fail = [&] {
        dialogs.Message(this, AppTitle(), QString::fromUtf16(kSaveFailed));
        return false;
    };

    if (path.isEmpty() || !Combo1 || !Combo2 || !Combo3 || !Label1)
        return fail();
    if (ChannelMode < 0 || ChannelMode > 2)
        return fail();

    // The rows are the samples of this block that actually arrived; their
    // unit is the one they were measured in.
    DataFileContent content = DataFileHeader(title);
    content.samples = &Samples;
    content.rowCount = qBound(0, int(RecvCount), Samples.size());

    // Written beside the target and renamed over it only when complete, so
    // a failure keeps the old file intact.
    if (!WriteDataFileReplacing(path, content))
        return fail();
    return true;
}
