// The save button on the window: refusals, the dialog, the overwrite
// question, the bytes on disk, and failures that must leave an earlier file
// exactly as it was.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"

namespace {

const QString kFailed = QStringLiteral("データファイルを保存出来ませんでした");

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A window with the lists and label as a finished measurement leaves them.
struct Window {
    FakeDialogs dialogs;
    std::unique_ptr<Form1> w{new Form1(kVexloDemoProfile, new FakeCommPort, &dialogs)};

    Window()
    {
        const QStringList gains = {"Gain=1", "Gain=8", "Gain=16"}, rates = {"5sps", "10sps"},
                          channels = {"CH0=Ain0-Ain1", "CH1=Ain2-Ain3", "CH0 + CH1"};
        for (auto [combo, list, index] : {std::tuple{w->Combo3, gains, 2}, {w->Combo1, rates, 1}, {w->Combo2, channels, 0}}) {
            combo->Clear();
            for (const QString& e : list)
                combo->AddItem(e);
            combo->SetListIndex(index);
        }
        w->Label1->setText(QStringLiteral("BUF ON / Sinc4"));
    }

    // A block of `count` samples measured in `mode`, hex or mV (board texts
    // in ten-thousandths of a millivolt).
    void measure(int mode, bool hex, int count)
    {
        w->ChannelMode = qint16(mode);
        w->MeasuredHex = hex;
        w->SampleCount = w->RecvCount = count;
        w->Combo2->SetListIndex(mode);
        for (int i = 0; i < count; ++i) {
            w->Samples.Set(i, {hex ? QString::number(0x0A1B2C + i, 16).toUpper().rightJustified(6, u'0')
                                   : QString::asprintf("%9.4f", (-1234 + 10000 * i) / 10000.0),
                               hex ? QString::number(0x7FFF10 - i, 16).toUpper()
                                   : QString::asprintf("%9.4f", 14995 * (i + 1) / 10000.0)});
        }
    }
};

// Checks line 2 (the time of saving, between `before` and now) and returns
// the file with that line replaced by "<date>".
QByteArray withoutDate(const QByteArray& bytes, const QDateTime& before)
{
    const qsizetype a = bytes.indexOf("\r\n"), b = bytes.indexOf("\r\n", a + 2);
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(bytes.mid(a + 2, b - a - 2)),
                                                 QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    if (a < 0 || b < 0 || !when.isValid() || when < before.addSecs(-1) || when > QDateTime::currentDateTime().addSecs(1))
        return bytes;
    return bytes.left(a + 2) + "<date>" + bytes.mid(b);
}

// The seven header lines, Shift-JIS written out by hand.
QByteArray header(const QByteArray& channelEntry, int count)
{
    return QByteArray::fromHex("8366815b835e") + "\r\n<date>\r\nGain=16\r\n"          // データ
           + QByteArray::fromHex("83748342838b835e") + " : BUF ON / Sinc4\r\n"         // フィルタ
           + QByteArray::fromHex("8366815b835e838c815b8367") + " : 10sps\r\n"          // データレート
           + QByteArray::fromHex("91aa92e882628267") + " : " + channelEntry + "\r\n"   // 測定ＣＨ
           + QByteArray::fromHex("8366815b835e8cc29094") + " :  " + QByteArray::number(count) + "\r\n";   // データ個数
}

enum Failure { VanishedFolder, ReadOnly, ReadOnlyEmpty, SizeLimit, Folder, Pipe, DevFull };

} // namespace

class TestDataFileSave : public QObject {
    Q_OBJECT
private slots:
    void init();
    void refusals();
    void dialogCancelAndRememberedName();
    void byteExact_data();
    void byteExact();
    void hundredSamplesGive108Lines();
    void overwrite();
    void failures_data();
    void failures();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }
};

void TestDataFileSave::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestDataFileSave::refusals()
{
    // While measuring and with nothing received the button does nothing.
    for (auto [measuring, received] : {std::pair{true, 10}, {false, 0}, {false, -1}}) {
        Window win;
        win.measure(0, true, 10);
        win.w->Measuring = measuring;
        win.w->RecvCount = received;
        win.dialogs.savePath = path("x.csv");
        win.w->Command1_Click();
        QVERIFY(win.dialogs.shown.isEmpty());
        QVERIFY(!QFile::exists(path("x.csv")));
    }
}

void TestDataFileSave::dialogCancelAndRememberedName()
{
    Window win;
    win.measure(0, true, 3);
    win.w->Command1_Click();   // Cancel
    const SaveDialogRequest& first = win.dialogs.requests.at(0);
    QCOMPARE(first.title, QStringLiteral("データファイル"));
    QCOMPARE(first.filterName, QStringLiteral("(CSVファイル) "));
    QCOMPARE(first.filterPattern, QStringLiteral("*.csv"));
    QCOMPARE(first.fileName, QString());
    const QString own = QCoreApplication::applicationDirPath();
    QCOMPARE(first.initialFolder, QFileInfo(own).isWritable() ? own : QDir::homePath());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList());

    win.dialogs.savePath = path("first.csv");
    win.w->Command1_Click();
    QVERIFY(QFile::exists(path("first.csv")));
    win.dialogs.savePath.clear();
    win.w->Command1_Click();   // Cancel again: the name stays offered
    win.w->Command1_Click();
    QCOMPARE(win.dialogs.requests.at(2).fileName, path("first.csv"));
    QCOMPARE(win.dialogs.requests.at(3).fileName, path("first.csv"));
    QCOMPARE(win.dialogs.shown.size(), 4);   // dialogs only: no message, no question
}

void TestDataFileSave::byteExact_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("shownChannel"); // Combo2's selection at save time
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("CH0 hex") << 0 << true << 0
        << header("CH0=Ain0-Ain1", 3) + "CH0=Ain0-Ain1 [hex]\r\n0A1B2C\r\n0A1B2D\r\n0A1B2E\r\n";
    QTest::newRow("CH1 hex") << 1 << true << 1
        << header("CH1=Ain2-Ain3", 3) + "CH1=Ain2-Ain3 [hex]\r\n7FFF10\r\n7FFF0F\r\n7FFF0E\r\n";
    QTest::newRow("both hex") << 2 << true << 2
        << header("CH0 + CH1", 3) + "CH0=Ain0-Ain1 [hex],CH1=Ain2-Ain3 [hex]\r\n"
               "0A1B2C,7FFF10\r\n0A1B2D,7FFF0F\r\n0A1B2E,7FFF0E\r\n";
    QTest::newRow("CH0 mV") << 0 << false << 0
        << header("CH0=Ain0-Ain1", 3) + "CH0=Ain0-Ain1 [mV]\r\n-0.123\r\n0.877\r\n1.877\r\n";
    QTest::newRow("CH1 mV") << 1 << false << 1
        << header("CH1=Ain2-Ain3", 3) + "CH1=Ain2-Ain3 [mV]\r\n1.500\r\n2.999\r\n4.499\r\n";
    QTest::newRow("both mV") << 2 << false << 2
        << header("CH0 + CH1", 3) + "CH0=Ain0-Ain1 [mV],CH1=Ain2-Ain3 [mV]\r\n"
               "-0.123,1.500\r\n0.877,2.999\r\n1.877,4.499\r\n";
    // CH1 measured, channel list switched to both afterwards: the shown entry
    // heads a column of CH1 texts.
    QTest::newRow("CH1 under CH0 + CH1") << 1 << true << 2
        << header("CH0 + CH1", 3) + "CH0 + CH1 [hex]\r\n7FFF10\r\n7FFF0F\r\n7FFF0E\r\n";
}

void TestDataFileSave::byteExact()
{
    QFETCH(int, mode);
    QFETCH(bool, hex);
    QFETCH(int, shownChannel);
    QFETCH(QByteArray, expected);
    Window win;
    // An earlier, longer block of the other format is still in the block;
    // this one stopped after three samples.
    win.measure(2, !hex, 6);
    win.measure(mode, hex, 5);
    win.w->RecvCount = 3;
    win.w->Combo2->SetListIndex(shownChannel);
    // The option showing now is the other format; the block's own decides.
    (hex ? win.w->Option2 : win.w->Option1)->setChecked(true);
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(win.w->SaveDataFile(path("block.csv")));
    QCOMPARE(withoutDate(readFile(path("block.csv")), before), expected);
    QVERIFY(win.dialogs.shown.isEmpty());
}

void TestDataFileSave::hundredSamplesGive108Lines()
{
    Window win;
    win.measure(2, false, 100);
    win.dialogs.savePath = path("h.csv");
    win.w->Command1_Click();
    const QByteArray bytes = readFile(path("h.csv"));
    QVERIFY(bytes.startsWith(QByteArray::fromHex("8366815b835e") + "\r\n"));   // no byte-order mark
    QCOMPARE(bytes.count("\r\n"), 108);
    QCOMPARE(bytes.count('\n'), 108);
    QCOMPARE(bytes.count('\r'), 108);
    QVERIFY(bytes.endsWith("\r\n97.877,148.451\r\n98.877,149.950\r\n"));
}

void TestDataFileSave::overwrite()
{
    // An existing file with content is only replaced after Yes; declining
    // counts as done. An empty or new file is written without a question.
    const struct { const char* old; bool yes, asked, written; } cases[] = {
        {"old data\r\n", false, true, false}, {"old data\r\n", true, true, true}, {"x", false, true, false},
        {"", false, false, true}, {nullptr, false, false, true}};
    for (const auto& c : cases) {
        const QString file = path("o.csv");
        QFile::remove(file);
        if (c.old)
            writeFile(file, c.old);
        Window win;
        win.measure(0, true, 4);
        win.dialogs.answerYes = c.yes;
        QVERIFY(win.w->SaveDataFile(file));
        QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Question),
                 c.asked ? QStringList{file + QStringLiteral(" に上書きしますか？")} : QStringList());
        QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Message), QStringList());
        if (c.asked)
            QCOMPARE(win.dialogs.shown.first().caption, QStringLiteral("Vexlo_Demo"));
        if (c.written)
            QVERIFY(readFile(file).endsWith("[hex]\r\n0A1B2C\r\n0A1B2D\r\n0A1B2E\r\n0A1B2F\r\n"));
        else
            QCOMPARE(readFile(file), QByteArray(c.old));
    }
}

void TestDataFileSave::failures_data()
{
    QTest::addColumn<int>("failure");
    QTest::newRow("folder vanished") << int(VanishedFolder);
    QTest::newRow("read-only file") << int(ReadOnly);
    QTest::newRow("read-only empty file") << int(ReadOnlyEmpty);
    QTest::newRow("file size limit mid-write") << int(SizeLimit);
    QTest::newRow("a folder") << int(Folder);
    QTest::newRow("a named pipe") << int(Pipe);
    // A replace-by-rename would swap the device for a plain file (root may
    // write in /dev): refused, it stays a device.
    QTest::newRow("/dev/full") << int(DevFull);
}

// A save that cannot be completed reports the failure, returns false and
// leaves what was there as it was, with no file of its own left behind.
void TestDataFileSave::failures()
{
    QFETCH(int, failure);
    Window win;
    win.measure(2, false, failure == SizeLimit ? 2000 : 3);   // 2000 rows: about 30 KiB
    win.dialogs.answerYes = true;
    QString file = path("old.csv");
    QByteArray old = failure == ReadOnlyEmpty ? QByteArray() : QByteArray("an earlier block\r\n");
    struct stat st {};
    switch (failure) {
    case VanishedFolder:
        file = path("gone/d.csv");
        QVERIFY(QDir().mkdir(path("gone")) && QDir().rmdir(path("gone")));
        break;
    case ReadOnly: case ReadOnlyEmpty:
        writeFile(file, old);
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        break;
    case SizeLimit:
        writeFile(file, old);
        break;
    case Folder:
        QVERIFY(QDir().mkdir(file = path("folder")));
        break;
    case Pipe:
        QCOMPARE(::mkfifo(QFile::encodeName(file = path("pipe")).constData(), 0666), 0);
        break;
    case DevFull:
        file = QStringLiteral("/dev/full");
        if (::stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode) || !QFileInfo(file).isWritable())
            QSKIP("/dev/full is not available here");
        break;
    }
    const QStringList before = QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const QFileInfo target(file);
    const auto kind = target.isDir() ? 'd' : target.isFile() ? 'f' : 'o';
    const QFileDevice::Permissions perms = target.permissions();

    // Files may grow to 4 KiB only: the write fails part way, as on a full disk.
    struct rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = failure == SizeLimit ? 4096 : saved.rlim_cur;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = win.w->SaveDataFile(file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Message), QStringList{kFailed});
    QCOMPARE(win.dialogs.shown.last().caption, QStringLiteral("Vexlo_Demo"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), before);
    QFileInfo after(file);
    QCOMPARE(after.isDir() ? 'd' : after.isFile() ? 'f' : 'o', kind);
    if (kind == 'f') {
        QCOMPARE(readFile(file), old);
        QCOMPARE(after.permissions(), perms);
    }
    if (failure == SizeLimit) {   // the same save succeeds once there is room again
        QVERIFY(win.w->SaveDataFile(file));
        QCOMPARE(readFile(file).count("\r\n"), 2008);
    }
}

QTEST_MAIN(TestDataFileSave)
#include "tst_datafile_save.moc"
