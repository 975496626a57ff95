// The save button: choose a file, confirm an overwrite, write the block.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSaveFile>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "datafile/DataFile.h"

namespace {

const char16_t kSaveFailed[] = u"データファイルを保存出来ませんでした";

// Used only if the window was built without a Dialogs (it normally has one).
Dialogs& fallbackDialogs()
{
    static WidgetDialogs dialogs;
    return dialogs;
}

// A read-only target is refused even where the process could write it anyway
// (root ignores permissions, and an atomic replace never needs write access to
// the old file): the file must be writable for us and carry a write bit.
bool isReadOnly(const QFileInfo& info)
{
    const QFileDevice::Permissions p = info.permissions();
    const QFileDevice::Permissions anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !(p & QFileDevice::WriteUser) || !(p & anyWrite);
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

    // Only the file's metadata is read: nothing is held open over the question.
    const QFileInfo info(path);
    const bool hasContent = info.exists() && info.size() >= 1;
    if (hasContent) {
        const QString question = path + QStringLiteral(" に上書きしますか？");
        if (!dialogs.AskYesNo(this, AppTitle(), question))
            return true; // declined: the file stays as it is, and that is fine
    }
    return mSaveDataFile(path, QStringLiteral("データ"));
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

    // The target must be an ordinary file we may write. A device such as
    // /dev/full or a pipe would be replaced by a plain file, not written to.
    const QFileInfo target(path);
    if (target.exists() && (!target.isFile() || isReadOnly(target)))
        return fail();

    // The rows are the samples of this block that actually arrived; their
    // unit is the one they were measured in.
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
    content.samples = &Samples;
    content.rowCount = qBound(0, int(RecvCount), Samples.size());

    // Written to a temporary file beside the target and renamed over it only
    // when everything was written, so a failure keeps the old file intact.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    const bool written = EncodeDataFile(content, [&file](const QByteArray& bytes) {
        return file.write(bytes) == bytes.size();
    });
    if (!written) {
        file.cancelWriting(); // the temporary file goes, the old file stays
        return fail();
    }
    // The last bytes still sit in QFileDevice's buffer. commit() would write
    // them while closing but does not notice when that write fails (a full
    // disk, a size limit) and renames the short file over the old one, so
    // they are written and checked here first.
    if (!file.flush()) {
        file.cancelWriting();
        return fail();
    }
    if (!file.commit())
        return fail();
    return true;
}
