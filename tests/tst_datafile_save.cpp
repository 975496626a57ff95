// The save button on the window: refusals, the dialog, the overwrite
// question, the bytes on disk, the real dialog and message boxes, and
// failures that must leave an earlier file exactly as it was (a read-only
// file, a full disk and a folder that vanishes while the dialog is
// open are rows of tst_faults).

#include <QtTest>
#include <QtWidgets>
#include <memory>
#include <sys/stat.h>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"
#include "support/ProfileSuite.h"

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
}

// A Vexlo window (its gain and rate lists are filled at start-up) with the
// selections and label a finished measurement leaves.
struct Window {
    FakeDialogs dialogs;
    std::unique_ptr<Form1> w;

    // `real`: the program's own dialogs and message boxes, not the script.
    explicit Window(bool real = false) : w(new Form1(kVexloProfile, new FakeCommPort, real ? nullptr : &dialogs))
    {
        w->Combo3->SetListIndex(2); // Gain=16
        w->Combo1->SetListIndex(1); // 10sps
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
        for (int i = 0; i < count; ++i)
            w->Samples.Set(i, {hex ? QString::number(0x0A1B2C + i, 16).toUpper().rightJustified(6, u'0')
                                   : QString::asprintf("%9.4f", (-1234 + 10000 * i) / 10000.0),
                               hex ? QString::number(0x7FFF10 - i, 16).toUpper()
                                   : QString::asprintf("%9.4f", 14995 * (i + 1) / 10000.0)});
    }
};

// The file with line 2, the time of saving (between `before` and now),
// replaced by "<date>"; unchanged when line 2 is not that time.
QByteArray withoutDate(const QByteArray& bytes, const QDateTime& before)
{
    const qsizetype a = bytes.indexOf("\r\n") + 2, b = bytes.indexOf("\r\n", a);
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(bytes.mid(a, b - a)), QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    const bool now = t.isValid() && t >= before.addSecs(-1) && t <= QDateTime::currentDateTime();
    return now ? bytes.left(a) + "<date>" + bytes.mid(b) : bytes;
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

// Answers the modal windows as they open, one step per window (a window that
// comes back after another counts again). Steps close their window with a
// queued call, so that a box it opens in turn finds the event loop running.
// A window left open for 10 s is rejected and the script fails.
struct Modals : QObject {
    explicit Modals(QList<std::function<void(QWidget*)>> list) : steps(std::move(list))
    {
        clock.start();
        timer.callOnTimeout(this, [this] {
            QWidget* m = QApplication::activeModalWidget();
            // A window counts once it stayed active over a tick: a dialog whose
            // own question just closed is active for a moment before it closes too.
            if (m != seen) {
                seen = m;
                return;
            }
            if (m && m != last && !steps.isEmpty())
                steps.takeFirst()(last = m);
            else if (m && clock.elapsed() > 10000 && (failed = true))
                QMetaObject::invokeMethod(m, "reject", Qt::QueuedConnection);
        });
        timer.start(10);
    }
    bool done() const { return steps.isEmpty() && !failed; }
    QList<std::function<void(QWidget*)>> steps;
    QPointer<QWidget> last, seen;
    QTimer timer;
    QElapsedTimer clock;
    bool failed = false;
};

// The file dialog's name typed, then Save.
void SaveAs(QWidget* m, const QString& name)
{
    m->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
    QMetaObject::invokeMethod(m, "accept", Qt::QueuedConnection);
}

// A message box's text; `press` clicks one of its buttons.
QString Box(QWidget* m, QMessageBox::StandardButton press)
{
    auto* box = qobject_cast<QMessageBox*>(m);
    QMetaObject::invokeMethod(box->button(press), "click", Qt::QueuedConnection);
    return box->text();
}

enum Failure { MidWrite, LastBytes, Pipe };

} // namespace

class TestDataFileSave : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }

private slots:
    void init() { QVERIFY((dir_ = std::make_unique<QTemporaryDir>())->isValid()); }


    // Catches: a save offered while measuring or with nothing received; the
    // filter shown with its pattern or another name; a ".csv" added to a name
    // without one; a missing folder accepted; a write after Cancel; the last
    // name not offered again; an existing file replaced without both
    // questions (No keeps it, Yes is the program's default) or an empty one
    // asked about; a failure box with more than OK.
    void realDialogs()
    {
        Window win(true);
        win.measure(0, true, 3);
        win.w->show();
        for (const auto& [measuring, received] : {std::pair{true, 3}, {false, 0}, {false, -1}}) {
            win.w->Measuring = measuring;
            win.w->RecvCount = received;
            Modals none({[](QWidget* m) { QMetaObject::invokeMethod(m, "reject", Qt::QueuedConnection); }});
            QTest::mouseClick(win.w->Command1, Qt::LeftButton);
            QVERIFY(!none.done());
        }
        win.w->Measuring = false;
        win.w->RecvCount = 3;
        QStringList seen;
        const QString data = path("data");
        Modals first({[&](QWidget* m) {
                          auto* d = qobject_cast<QFileDialog*>(m);
                          seen << d->windowTitle() << d->findChild<QComboBox*>("fileTypeCombo")->currentText()
                               << d->directory().path();
                          SaveAs(m, path("missing/x.csv"));
                      },
                      [&](QWidget* m) { seen << Box(m, QMessageBox::Ok); }, // the dialog comes back
                      [&](QWidget* m) { SaveAs(m, data); }});
        QTest::mouseClick(win.w->Command1, Qt::LeftButton);
        QVERIFY(first.done());
        QCOMPARE(seen, (QStringList{"データファイル", "(CSVファイル) ", QCoreApplication::applicationDirPath(),
                                    path("missing") + "\nフォルダが見つかりません。"}));
        QCOMPARE(readFile(data).count("\r\n"), 11);
        QVERIFY(!QFile::exists(data + ".csv"));

        // Cancel, then the same name offered again; the dialog asks about an
        // existing file, then the program about one with content.
        Modals cancel({[&](QWidget* m) { QMetaObject::invokeMethod(m, "reject", Qt::QueuedConnection); }});
        writeFile(data, "");
        QTest::mouseClick(win.w->Command1, Qt::LeftButton);
        QVERIFY(cancel.done() && readFile(data).isEmpty());
        for (const auto& [old, key] : {std::pair{"", Qt::Key_Return}, {"x", Qt::Key_Escape}, {"x", Qt::Key_Return}}) {
            writeFile(data, old);
            bool yesIsDefault = false;
            seen.clear();
            Modals again({[&](QWidget* m) {
                              seen << m->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
                              SaveAs(m, data);
                          },
                          [&](QWidget* m) { Box(m, QMessageBox::Yes); },
                          [&, key = key](QWidget* m) {
                              auto* box = qobject_cast<QMessageBox*>(m);
                              seen << box->text();
                              yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
                              QTest::keyClick(box, key);
                          }});
            QTest::mouseClick(win.w->Command1, Qt::LeftButton);
            QCOMPARE(again.done(), *old != 0); // an empty file is not asked about
            QCOMPARE(seen, (*old ? QStringList{"data", data + " に上書きしますか？"} : QStringList{"data"}));
            QVERIFY(!*old || yesIsDefault);
            QVERIFY(key == Qt::Key_Escape ? readFile(data) == old : readFile(data).count("\r\n") == 11);
        }

        // A failed save: the message, with OK alone.
        QList<QAbstractButton*> buttons;
        Modals failed({[&](QWidget* m) {
            buttons = qobject_cast<QMessageBox*>(m)->buttons();
            seen = {m->windowTitle(), Box(m, QMessageBox::Ok)};
        }});
        QVERIFY(!win.w->SaveDataFile(path("missing/y.csv")));
        QVERIFY(failed.done());
        QCOMPARE(seen, (QStringList{"Vexlo", "データファイルを保存出来ませんでした"}));
        QCOMPARE(buttons.size(), 1);
    }

    void byteExact_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<int>("shownChannel"); // Combo2's selection at save time
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("CH0 hex") << 0 << true << 0
            << header("CH0=Ain0-Ain1", 3) + "CH0=Ain0-Ain1 [hex]\r\n0A1B2C\r\n0A1B2D\r\n0A1B2E\r\n";
        QTest::newRow("both mV") << 2 << false << 2
            << header("CH0 + CH1", 3) + "CH0=Ain0-Ain1 [mV],CH1=Ain2-Ain3 [mV]\r\n"
                   "-0.123,1.500\r\n0.877,2.999\r\n1.877,4.499\r\n";
        // CH1 measured, channel list switched to both afterwards: the shown entry
        // heads a column of CH1 texts.
        QTest::newRow("CH1 under CH0 + CH1") << 1 << true << 2
            << header("CH0 + CH1", 3) + "CH0 + CH1 [hex]\r\n7FFF10\r\n7FFF0F\r\n7FFF0E\r\n";
    }

    // Catches: a header field from the wrong control, the format or channel of
    // the option shown now instead of the block's, samples past the count
    // received, a wrong column head, cell or line end.
    void byteExact()
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
        QVERIFY(win.w->SaveDataFile(path("block.csv")) && win.dialogs.shown.isEmpty());
        QCOMPARE(withoutDate(readFile(path("block.csv")), before), expected);
    }

    void failures_data()
    {
        QTest::addColumn<int>("failure");
        // A size limit, as on a full disk: a block larger than QFileDevice's
        // buffer fails while written; a small one only when the buffer's last
        // bytes go out, which a commit alone would not notice.
        QTest::newRow("size limit mid-write") << int(MidWrite);
        QTest::newRow("size limit on the last buffered bytes") << int(LastBytes);
        // A replace-by-rename would swap a pipe (or a device) for a plain
        // file: refused, it stays what it is.
        QTest::newRow("a named pipe") << int(Pipe);
    }

    // Catches: a failed save not reported, a failure noticed only at the commit
    // missed, a pipe replaced by a plain file, a temporary left behind.
    void failures()
    {
        QFETCH(int, failure);
        Window win;
        const int rows = failure == MidWrite ? 2000 : 100; // about 30 KiB, 1.8 KiB
        win.measure(2, false, rows);
        const QString file = path(failure == Pipe ? "pipe" : "old.csv");
        const QByteArray old("an earlier block\r\n");
        if (failure == Pipe)
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0666), 0);
        else
            writeFile(file, old);
        const auto listing = [this] { return QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot); };
        const QStringList before = listing();

        const rlim_t limit = failure == MidWrite ? 4096 : failure == LastBytes ? 1024 : RLIM_INFINITY;
        QVERIFY(!WithFileSizeLimit(limit, [&] { return win.w->SaveDataFile(file); }));
        QCOMPARE(win.dialogs.texts(FakeDialogs::Shown::Message), QStringList{"データファイルを保存出来ませんでした"});
        QCOMPARE(listing(), before);
        if (failure == Pipe) {
            QVERIFY(!QFileInfo(file).isFile());
            return;
        }
        QCOMPARE(readFile(file), old);
        QVERIFY(win.w->SaveDataFile(file)); // the same save succeeds once there is room
        QCOMPARE(readFile(file).count("\r\n"), rows + 8);
    }
};

QTEST_MAIN(TestDataFileSave)
#include "tst_datafile_save.moc"
