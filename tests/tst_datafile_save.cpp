// The save button end to end on the window: refusals, the dialog's settings,
// the overwrite question, the bytes on disk, and failures that must leave an
// earlier file exactly as it was.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
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
const QByteArray kData = QByteArray::fromHex("8366815b835e");                      // データ
const QByteArray kFilter = QByteArray::fromHex("83748342838b835e") + " : ";      // フィルタ :
const QByteArray kRate = QByteArray::fromHex("8366815b835e838c815b8367") + " : "; // データレート :
const QByteArray kChannel = QByteArray::fromHex("91aa92e882628267") + " : ";     // 測定ＣＨ :
const QByteArray kCount = QByteArray::fromHex("8366815b835e8cc29094") + " : ";   // データ個数 :

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

void fill(VbComboBox* combo, const QStringList& entries, int selected)
{
    combo->Clear();
    for (const QString& e : entries)
        combo->AddItem(e);
    combo->SetListIndex(selected);
}

// A board millivolt text, 9 characters, from ten-thousandths of a millivolt.
QString millivolts(int tenThousandths)
{
    const int a = qAbs(tenThousandths);
    const QString text = QStringLiteral("%1%2.%3")
                             .arg(tenThousandths < 0 ? QStringLiteral("-") : QString())
                             .arg(a / 10000)
                             .arg(a % 10000, 4, 10, QChar(u'0'));
    return text.rightJustified(9, u' ');
}

// A window with the lists and label as a finished measurement leaves them.
struct Window {
    FakeDialogs dialogs;
    std::unique_ptr<Form1> w;

    explicit Window(const BuildProfile& profile = kVexloDemoProfile)
        : w(new Form1(profile, new FakeCommPort, &dialogs))
    {
        fill(w->Combo3, {"Gain=1", "Gain=8", "Gain=16", "Gain=32", "Gain=64", "Gain=128"}, 2);
        fill(w->Combo1, {"5sps", "10sps", "15sps", "25sps"}, 1);
        fill(w->Combo2, {"CH0=Ain0-Ain1", "CH1=Ain2-Ain3", "CH0 + CH1"}, 0);
        w->Label1->setText(QStringLiteral("BUF ON / Sinc4"));
        w->Measuring = false;
    }

    // A block of `count` samples measured in `mode`, hex or mV.
    void measure(int mode, bool hex, int count)
    {
        w->ChannelMode = qint16(mode);
        w->MeasuredHex = hex;
        w->SampleCount = count;
        w->RecvCount = count;
        w->Combo2->SetListIndex(mode);
        for (int i = 0; i < count; ++i) {
            if (hex) {
                w->Samples.SetCh0(i, QStringLiteral("%1").arg(0x0A1B2C + i, 6, 16, QChar(u'0')).toUpper());
                w->Samples.SetCh1(i, QStringLiteral("%1").arg(0x7FFF10 - i, 6, 16, QChar(u'0')).toUpper());
            } else {
                w->Samples.SetCh0(i, millivolts(-1234 + 10000 * i));
                w->Samples.SetCh1(i, millivolts(14995 * (i + 1)));
            }
        }
    }

    // Saves through the button with the dialog answering `path`.
    void save(const QString& path)
    {
        dialogs.savePath = path;
        w->Command1_Click();
    }
};

// Checks line 2 (the time of saving, between `before` and now) and returns
// the file with that line replaced by "<date>".
QByteArray withoutDate(const QByteArray& bytes, const QDateTime& before)
{
    const qsizetype a = bytes.indexOf("\r\n");
    const qsizetype b = bytes.indexOf("\r\n", a + 2);
    if (a < 0 || b < 0)
        return bytes;
    const QString date = QString::fromLatin1(bytes.mid(a + 2, b - a - 2));
    const QDateTime when = QDateTime::fromString(date, QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    if (!when.isValid() || when < before.addSecs(-1) || when > QDateTime::currentDateTime().addSecs(1))
        return bytes;
    return bytes.left(a + 2) + "<date>" + bytes.mid(b);
}

QByteArray header(const QByteArray& channelEntry, int count)
{
    return kData + "\r\n<date>\r\nGain=16\r\n" + kFilter + "BUF ON / Sinc4\r\n" + kRate + "10sps\r\n"
           + kChannel + channelEntry + "\r\n" + kCount + " " + QByteArray::number(count) + "\r\n";
}

bool isRoot()
{
    return ::geteuid() == 0;
}

} // namespace

class TestDataFileSave : public QObject {
    Q_OBJECT
private slots:
    void init();
    void refusals_data();
    void refusals();
    void dialogSettingsAndRememberedName();
    void byteExact_data();
    void byteExact();
    void hundredSamplesGive108Lines();
    void noisySampleWrittenWithQuestionMarks();
    void overwrite_data();
    void overwrite();
    void nameWithoutExtension();
    void folderDisappears();
    void readOnlyTarget_data();
    void readOnlyTarget();
    void failedWriteKeepsOldFile();
    void nonRegularTargets();
    void captionIsProgramName();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }
};

void TestDataFileSave::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestDataFileSave::refusals_data()
{
    QTest::addColumn<bool>("measuring");
    QTest::addColumn<int>("received");
    QTest::newRow("measuring") << true << 10;
    QTest::newRow("nothing received") << false << 0;
    QTest::newRow("negative count") << false << -1;
}

void TestDataFileSave::refusals()
{
    QFETCH(bool, measuring);
    QFETCH(int, received);
    Window win;
    win.measure(0, true, 10);
    win.w->Measuring = measuring;
    win.w->RecvCount = received;
    win.save(path("x.csv"));
    QVERIFY(win.dialogs.shown.isEmpty());
    QVERIFY(!QFile::exists(path("x.csv")));
}

void TestDataFileSave::dialogSettingsAndRememberedName()
{
    Window win;
    win.measure(0, true, 3);

    win.save(QString()); // Cancel
    QCOMPARE(win.dialogs.shown.size(), 1);
    const SaveDialogRequest& first = win.dialogs.requests.at(0);
    QCOMPARE(first.title, QStringLiteral("データファイル"));
    QCOMPARE(first.filterName, QStringLiteral("(CSVファイル) "));
    QCOMPARE(first.filterPattern, QStringLiteral("*.csv"));
    QCOMPARE(first.fileName, QString());
    const QString own = QCoreApplication::applicationDirPath();
    QCOMPARE(first.initialFolder, QFileInfo(own).isWritable() ? own : QDir::homePath());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList());

    const QString chosen = path("first.csv");
    win.save(chosen);
    QVERIFY(QFile::exists(chosen));
    win.save(QString()); // Cancel again: the name stays
    win.save(QString());
    QCOMPARE(win.dialogs.requests.size(), 4);
    QCOMPARE(win.dialogs.requests.at(2).fileName, chosen);
    QCOMPARE(win.dialogs.requests.at(3).fileName, chosen);
    QCOMPARE(win.dialogs.count(FakeDialogs::Shown::Message), 0);
    QCOMPARE(win.dialogs.count(FakeDialogs::Shown::Question), 0);
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
    // An earlier, longer block of the other channel(s) is still in the block.
    win.measure(2, !hex, 6);
    win.measure(mode, hex, 5);
    win.w->RecvCount = 3; // stopped early: only three samples arrived
    win.w->Combo2->SetListIndex(shownChannel);
    // The option showing now is the other format; the block's own decides.
    if (win.w->Option1 && win.w->Option2)
        (hex ? win.w->Option2 : win.w->Option1)->setChecked(true);

    const QString file = path("block.csv");
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(win.w->SaveDataFile(file));
    QCOMPARE(withoutDate(readFile(file), before), expected);
    QVERIFY(win.dialogs.shown.isEmpty());
}

void TestDataFileSave::hundredSamplesGive108Lines()
{
    Window win;
    win.measure(2, false, 100);
    const QString file = path("h.csv");
    win.save(file);
    const QByteArray bytes = readFile(file);
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.startsWith(kData + "\r\n"));
    QCOMPARE(bytes.count("\r\n"), 108);
    QCOMPARE(bytes.count('\n'), 108);
    QVERIFY(bytes.endsWith("98.877,149.950\r\n"));
    QVERIFY(bytes.contains("\r\n" + kCount + " 100\r\n"));
}

void TestDataFileSave::noisySampleWrittenWithQuestionMarks()
{
    Window win;
    win.measure(2, true, 2);
    // Bytes of a disturbed line as the receiver stores them (one character a byte).
    win.w->Samples.SetCh0(1, QString::fromLatin1("0A\x8e\xfe\r\n"));
    win.w->Samples.SetCh1(1, QString::fromLatin1("\xa5" "1,2"));
    const QString file = path("noise.csv");
    QVERIFY(win.w->SaveDataFile(file));
    const QByteArray bytes = readFile(file);
    QVERIFY2(bytes.endsWith("\r\n0A1B2C,7FFF10\r\n0A????,?1?2\r\n"), bytes.right(40).constData());
    QCOMPARE(bytes.count("\r\n"), 10);
}

void TestDataFileSave::overwrite_data()
{
    QTest::addColumn<QByteArray>("old");      // "<none>": no file
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("written");
    QTest::newRow("content, No") << QByteArray("old data\r\n") << false << true << false;
    QTest::newRow("content, Yes") << QByteArray("old data\r\n") << true << true << true;
    QTest::newRow("one byte, No") << QByteArray("x") << false << true << false;
    QTest::newRow("empty file") << QByteArray() << false << false << true;
    QTest::newRow("new file") << QByteArray("<none>") << false << false << true;
}

void TestDataFileSave::overwrite()
{
    QFETCH(QByteArray, old);
    QFETCH(bool, answerYes);
    QFETCH(bool, asked);
    QFETCH(bool, written);

    const QString file = path("o.csv");
    if (old != "<none>")
        writeFile(file, old);
    Window win;
    win.measure(0, true, 4);
    win.dialogs.answerYes = answerYes;

    QVERIFY(win.w->SaveDataFile(file)); // declining counts as done
    QCOMPARE(win.dialogs.count(FakeDialogs::Shown::Question), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(win.dialogs.shown.first().text, file + QStringLiteral(" に上書きしますか？"));
        QCOMPARE(win.dialogs.shown.first().caption, QStringLiteral("Vexlo_Demo"));
    }
    QCOMPARE(win.dialogs.count(FakeDialogs::Shown::Message), 0);
    const QByteArray now = readFile(file);
    if (written)
        QVERIFY(now.endsWith("[hex]\r\n0A1B2C\r\n0A1B2D\r\n0A1B2E\r\n0A1B2F\r\n"));
    else
        QCOMPARE(now, old);
}

void TestDataFileSave::nameWithoutExtension()
{
    Window win;
    win.measure(0, true, 1);
    win.save(path("data"));
    QVERIFY(QFileInfo(path("data")).isFile());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"data"});
}

void TestDataFileSave::folderDisappears()
{
    Window win;
    win.measure(0, true, 5);
    const QString folder = path("gone");
    QVERIFY(QDir().mkdir(folder));
    // The folder exists while the dialog is open and is removed before the write.
    win.dialogs.onSaveDialog = [&](const SaveDialogRequest&) {
        QDir(folder).removeRecursively();
        return folder + QStringLiteral("/d.csv");
    };
    win.w->Command1_Click();
    QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Message), QStringList{kFailed});
    QCOMPARE(win.dialogs.shown.last().caption, QStringLiteral("Vexlo_Demo"));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(!win.w->SaveDataFile(folder + QStringLiteral("/d.csv")));
}

void TestDataFileSave::readOnlyTarget_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::newRow("with content") << QByteArray("keep me\r\n");
    QTest::newRow("empty") << QByteArray();
}

void TestDataFileSave::readOnlyTarget()
{
    QFETCH(QByteArray, old);
    const QString file = path("ro.csv");
    writeFile(file, old);
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const QFileDevice::Permissions perms = QFileInfo(file).permissions();

    Window win;
    win.measure(0, true, 3);
    win.dialogs.answerYes = true;
    QVERIFY(!win.w->SaveDataFile(file));
    QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Message), QStringList{kFailed});
    QCOMPARE(readFile(file), old);
    QCOMPARE(QFileInfo(file).permissions(), perms);
    if (isRoot()) {
        // Root could have written it; the refusal is the program's own.
        QFile probe(file);
        QVERIFY(probe.open(QIODevice::ReadWrite));
    }
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ro.csv"});
}

void TestDataFileSave::failedWriteKeepsOldFile()
{
    const QString file = path("old.csv");
    const QByteArray old("an earlier block\r\n");
    writeFile(file, old);

    Window win;
    win.measure(2, false, 2000); // about 30 KiB
    win.dialogs.answerYes = true;

    // Files may grow to 4 KiB only: the write fails part way, as on a full
    // disk. (A real full device cannot be the target: see nonRegularTargets.)
    struct rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = win.w->SaveDataFile(file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Message), QStringList{kFailed});
    QCOMPARE(readFile(file), old);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.csv"});

    // The same save succeeds once the disk has room again.
    QVERIFY(win.w->SaveDataFile(file));
    QCOMPARE(readFile(file).count("\r\n"), 2008);
}

void TestDataFileSave::nonRegularTargets()
{
    Window win;
    win.measure(0, true, 3);

    // A folder, and a named pipe: refused, left as they are.
    const QString folder = path("folder");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(!win.w->SaveDataFile(folder));
    QVERIFY(QFileInfo(folder).isDir());

    const QString fifo = path("pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    QVERIFY(!win.w->mSaveDataFile(fifo, QStringLiteral("データ")));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(fifo).constData(), &st), 0);
    QVERIFY(S_ISFIFO(st.st_mode));
    QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Message), (QStringList{kFailed, kFailed}));

    // /dev/full: a replace-by-rename would swap the device for a plain file
    // (root may write in /dev); it must be refused and stay a device.
    const QString full = QStringLiteral("/dev/full");
    if (::stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode) || !QFileInfo(full).isWritable())
        QSKIP("/dev/full is not available here");
    QVERIFY(!win.w->mSaveDataFile(full, QStringLiteral("データ")));
    QCOMPARE(::stat("/dev/full", &st), 0);
    QVERIFY(S_ISCHR(st.st_mode));
    QCOMPARE(win.dialogs.count(FakeDialogs::Shown::Message), 3);
}

void TestDataFileSave::captionIsProgramName()
{
    Window win(kTamrixProfile);
    win.measure(0, true, 2);
    const QString file = path("t.csv");
    writeFile(file, "x");
    win.dialogs.answerYes = false;
    QVERIFY(win.w->SaveDataFile(file));
    QVERIFY(!win.w->SaveDataFile(QString()));
    QCOMPARE(win.dialogs.shown.size(), 2);
    QCOMPARE(win.dialogs.shown.at(0).caption, QStringLiteral("Tamrix"));
    QCOMPARE(win.dialogs.shown.at(1).caption, QStringLiteral("Tamrix"));
}

QTEST_MAIN(TestDataFileSave)
#include "tst_datafile_save.moc"
