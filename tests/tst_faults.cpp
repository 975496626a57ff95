// The fault matrix: every fault the program promises to survive, provoked
// against the board simulator over a real pseudo-terminal, with the real
// window and the real serial port (message boxes are recorded, not shown).
//
// Each row names a fault and what the operator must see. After the fault the
// common checker asks three things of every row: the window is still alive
// (no crash, no hang: every step here is bounded), the texts are the promised
// ones, and nothing measured is lost - a block that was complete before the
// fault can still be saved, a file saved earlier survives a failed save, and
// (unless the program has quit) the link recovers far enough to measure and
// save a new block.

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "serial/CommPort.h"
#include "support/FakeDialogs.h"
#include "support/SimFixture.h"

using vexlo::sim::BoardState;
using vexlo::sim::Faults;
using vexlo::sim::Model;

namespace {

const QString kConnected = QStringLiteral("Vexlo : BUF ON, Sinc4");
const QString kNoAnswer = QStringLiteral("Vexloが応答しませんでした");
const QString kReplyError = QStringLiteral("Vexloの応答エラーです");
const QString kGainReadError = QStringLiteral("ゲイン設定読出しできませんでした");
const QString kRateError = QStringLiteral("Vexlo 応答エラー");
const QString kLinkLost = QStringLiteral("COMポートが切断されました");
const QString kOpenFailed = QStringLiteral("COM Open 失敗 ...");
const QString kSaveFailed = QStringLiteral("データファイルを保存出来ませんでした");
const QString kStopped = QStringLiteral("測定停止しました");
const QString kFinished = QStringLiteral("測定終了... ");
const QString kStartCaption = QStringLiteral("測定開始");
const QString kStopCaption = QStringLiteral("測定停止");

enum Fault {
    Silent, Late, Garbage, BareCr, SplitReply, OutOfRangeCodes, NgStart, GarbageRecords,
    CutMidRecord, HangUpIdle, HangUpTransaction, HangUpStream, PortBusy, PortMissing,
    PortDenied, PortNotTty, TypedPortName, TypedCount, TypedChannel, StopRace,
    QuitTransaction, QuitMeasuring, SaveReadOnly, SaveFullDevice, SaveVanishedFolder,
};

// Lines of a saved data file: 8 header lines and one row per sample.
int RowsIn(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return int(f.readAll().count("\r\n")) - 8;
}

// A second process that holds a serial port open, as another program would.
// The test binary runs itself with VEXLO_HOLD_PORT set (see main below).
struct PortHolder {
    QProcess proc;
    bool hold(const QString& device)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VEXLO_HOLD_PORT"), device);
        proc.setProcessEnvironment(env);
        proc.start(QCoreApplication::applicationFilePath(), {});
        return proc.waitForStarted(5000) && proc.waitForReadyRead(5000)
               && proc.readLine().startsWith("HELD");
    }
    ~PortHolder()
    {
        proc.closeWriteChannel(); // the holder ends when its input closes
        if (!proc.waitForFinished(5000))
            proc.kill();
    }
};

int HoldPort(const QByteArray& device)
{
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(device));
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("FAILED %s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("HELD\n");
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}

struct Rig {
    QTemporaryDir files;
    SimFixture sim;
    FakeDialogs dialogs;
    std::unique_ptr<Form1> w;
    int saved = 0;

    bool startBoard(const Faults& faults = {})
    {
        vexlo::sim::PtyOptions o;
        o.model = Model::Tamrix;
        o.com = 4;
        o.rateMode = vexlo::sim::RateMode::Flood;
        o.state = BoardState{true, 4, 0, 10};
        o.faults = faults;
        return sim.start(o);
    }
    void window()
    {
        w = std::make_unique<Form1>(kVexloDemoProfile, nullptr, &dialogs);
        w->Option_CM->click();
    }
    // A healthy connection check (set-up and recovery, not the fault under
    // test). Replies have 100 ms; on a machine starved by other jobs one may
    // miss that, so the check is tried up to three times.
    bool connect()
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (w->Button1->text() == QStringLiteral("閉じる"))
                w->Button1_Click(); // a failed check leaves the port open: close first
            w->ComboCommPort->SetListIndex(3);
            w->Button1_Click();
            if (w->Status->text() == kConnected)
                return true;
            QTest::qWait(200); // late replies of the failed try are out of the way
        }
        return false;
    }
    void start(int count, bool hex = true, int channel = 0)
    {
        (hex ? w->Option1 : w->Option2)->setChecked(true);
        w->Combo2->SetListIndex(channel);
        w->Text1->setText(QString::number(count));
        w->SendB2_Click();
    }
    bool measure(int count)
    {
        start(count);
        return QTest::qWaitFor([&] { return !w->Measuring; }, 20000) && w->RecvCount == count
               && w->Status->text().startsWith(kFinished);
    }
    QString path(const QString& name) const { return files.filePath(name); }
    // Saves the block through the save button and returns the rows written.
    int save()
    {
        dialogs.savePath = path(QStringLiteral("block%1.csv").arg(++saved));
        w->Command1_Click();
        return RowsIn(dialogs.savePath);
    }
};

bool IsStartCommand(const QByteArray& c)
{
    return c.size() == 6 && (c[0] == 'A' || c[0] == 'M') && c[1] != 'X';
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void fault_data();
    void fault();
};

void TestFaults::fault_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("input");    // typed text, where the row types one
    QTest::addColumn<QString>("status");   // Status afterwards ("*" at the end: a prefix)
    QTest::addColumn<QString>("message");  // the one message box, "" for none

    const QString none;
    QTest::newRow("board silent") << int(Silent) << none << kNoAnswer << none;
    QTest::newRow("board late") << int(Late) << none << kNoAnswer << none;
    QTest::newRow("garbage replies") << int(Garbage) << none << kReplyError << none;
    QTest::newRow("bare CR replies") << int(BareCr) << none << kNoAnswer << none;
    QTest::newRow("reply split per character") << int(SplitReply) << none << kConnected << none;
    QTest::newRow("out-of-range codes") << int(OutOfRangeCodes) << none << kReplyError << none;
    QTest::newRow("NG to the start") << int(NgStart) << none << QStringLiteral("測定開始エラー... ")
                                     << none;
    QTest::newRow("garbage samples") << int(GarbageRecords) << none << kFinished + "*" << none;
    QTest::newRow("stream cut mid-record") << int(CutMidRecord) << none << kStopped << none;
    QTest::newRow("hang-up while idle") << int(HangUpIdle) << none << kLinkLost << none;
    QTest::newRow("hang-up in a transaction") << int(HangUpTransaction) << none << kLinkLost << none;
    QTest::newRow("hang-up mid-stream") << int(HangUpStream) << none << kLinkLost << none;
    QTest::newRow("port busy") << int(PortBusy) << none << QStringLiteral("Setting Error") << none;
    QTest::newRow("port missing") << int(PortMissing) << none << QStringLiteral("Setting Error") << none;
    QTest::newRow("permission denied") << int(PortDenied) << none << QStringLiteral("Setting Error")
                                       << none;
    QTest::newRow("port not a tty") << int(PortNotTty) << none << QStringLiteral("Setting Error")
                                    << none;
    QTest::newRow("port COM17") << int(TypedPortName) << "COM17" << QStringLiteral("COM番号は1から16です")
                                << none;
    QTest::newRow("port COM1e300") << int(TypedPortName) << "COM1e300"
                                   << QStringLiteral("COM番号は1から16です") << none;
    QTest::newRow("port COM0") << int(TypedPortName) << "COM0" << QStringLiteral("Setting Error") << none;
    QTest::newRow("port COM-4") << int(TypedPortName) << "COM-4" << QStringLiteral("Setting Error") << none;
    QTest::newRow("port com4") << int(TypedPortName) << "com4" << QStringLiteral("COM 設定エラー") << none;
    QTest::newRow("port empty") << int(TypedPortName) << "" << QStringLiteral("COM 設定エラー") << none;
    QTest::newRow("port 'COM 4' (blanks ignored)") << int(TypedPortName) << "COM 4" << kConnected << none;
    const QString badCount = QStringLiteral("データ個数が正しくありません");
    for (const char* text : {"-1", "65536", "65535.5", "", "1e9", "&H10000", "1e400"})
        QTest::addRow("count '%s'", text) << int(TypedCount) << QString::fromLatin1(text) << badCount
                                          << none;
    QTest::newRow("typed channel") << int(TypedChannel) << "CH0+CH1"
                                   << QStringLiteral("チャンネルが正しくありません") << none;
    QTest::newRow("stop races the last record") << int(StopRace) << none << none << none;
    QTest::newRow("quit in a transaction") << int(QuitTransaction) << none << none << none;
    QTest::newRow("quit while measuring") << int(QuitMeasuring) << none << none << none;
    const QString finished = kFinished + "*"; // the block's own status line stays
    QTest::newRow("save to a read-only file") << int(SaveReadOnly) << none << finished << kSaveFailed;
    QTest::newRow("save to a full device") << int(SaveFullDevice) << none << finished << kSaveFailed;
    QTest::newRow("save to a vanished folder") << int(SaveVanishedFolder) << none << finished
                                               << kSaveFailed;
}

void TestFaults::fault()
{
    QFETCH(int, fault);
    QFETCH(QString, input);
    QFETCH(QString, status);
    QFETCH(QString, message);

    Rig r;
    QVERIFY(r.files.isValid());
    QVERIFY2(r.startBoard(), qPrintable(r.sim.error));
    r.window();
    Form1& w = *r.w;
    vexlo::sim::PtyBoard* board = r.sim.board.get();

    // Most rows start from a connected window holding a complete block, so
    // that "nothing lost" can be checked: that block must still save.
    // blockRows: the rows a save must write after the fault (0: not checked).
    const bool portRow = fault >= PortBusy && fault <= TypedPortName;
    int blockRows = 0;
    if (!portRow) {
        QVERIFY(r.connect());
        QVERIFY(r.measure(100));
        blockRows = 100;
    }
    Faults f;
    bool recover = true;       // the link must work again afterwards
    bool restartBoard = false; // the board went away and has to come back first
    QString earlierFile;       // a file that a failed save must leave alone ...
    QByteArray earlierBytes;   // ... with this content

    switch (fault) {
    case Silent: f.silent = true; break;
    case Late: f.lateMs = 250; break;
    case Garbage: f.garbage = true; break;
    case BareCr: f.bareCr = true; break;
    case SplitReply: f.split = true; f.splitGapMs = 1; break;
    case OutOfRangeCodes: f.badCodes = true; break;
    default: break;
    }

    switch (fault) {
    case Silent: case Late: case Garbage: case BareCr: case SplitReply: case OutOfRangeCodes:
        // The connection check meets the fault; the port stays open for
        // another try and nothing is measured meanwhile.
        w.Button1_Click(); // close
        board->setFaults(f);
        w.Button1_Click(); // check again
        QVERIFY(w.MSComm1->PortOpen());
        if (fault != SplitReply)
            QVERIFY(!w.Command6->isEnabled());
        break;
    case NgStart:
        f.refuseStart = true;
        board->setFaults(f);
        r.start(100);
        QTRY_VERIFY(!w.Measuring);
        QCOMPARE(w.SendB2->text(), kStartCaption);
        blockRows = 0; // the start was sent: the old block was given up on purpose
        break;
    case GarbageRecords:
        f.garbageRecords = true;
        board->setFaults(f);
        QVERIFY(r.measure(100)); // the records keep their length: the block completes
        break;
    case CutMidRecord:
        f.cutAfterRecords = 40;
        board->setFaults(f);
        r.start(100, false, 2);
        QTRY_COMPARE(w.RecvCount, 40);
        QTest::qWait(100);
        QVERIFY(w.Measuring); // the half record is held back; the operator stops
        r.w->SendB2_Click();
        QCOMPARE(w.RecvCount, 40);
        blockRows = 40; // the whole records that arrived
        break;
    case HangUpIdle:
        board->hangUp();
        QTRY_VERIFY(!w.MSComm1->PortOpen());
        restartBoard = true;
        break;
    case HangUpTransaction:
        f.silent = true;
        board->setFaults(f);
        QTimer::singleShot(30, &w, [board] { board->hangUp(); });
        w.Command8_Click(); // reads the gain; the line dies while it waits
        QVERIFY(!w.InTransaction());
        QVERIFY(!w.MSComm1->PortOpen());
        restartBoard = true;
        break;
    case HangUpStream:
        f.hangupAfterRecords = 300;
        board->setFaults(f);
        r.start(1000, true, 2);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Measuring, 10000);
        QVERIFY(w.RecvCount > 0 && w.RecvCount <= 300);
        blockRows = w.RecvCount; // what arrived is kept and saved
        QCOMPARE(w.SendB2->text(), kStartCaption);
        restartBoard = true;
        break;
    case PortBusy: {
        // QSerialPort takes a lock file (LCK..<device>) beside the exclusive
        // open of the tty. Root passes the tty's exclusive flag, so the lock
        // file is what keeps a second program away here.
        PortHolder holder;
        QVERIFY2(holder.hold(board->slavePath()), "the other process could not open the port");
        w.Button1_Click();
        QCOMPARE(w.ComStatus->text(), kOpenFailed);
        QVERIFY(!w.MSComm1->PortOpen());
        QVERIFY(board->commands().isEmpty());
        break; // the holder closes the port here
    }
    case PortMissing: case PortDenied: case PortNotTty: {
        // COM5 is a link to a device that cannot be used as a port.
        QString target;
        if (fault == PortMissing) {
            target = r.path(QStringLiteral("no-such-dir/ttyVEXLO"));
        } else if (fault == PortNotTty) {
            target = r.path(QStringLiteral("plain-file"));
            QFile plain(target);
            QVERIFY(plain.open(QIODevice::WriteOnly));
        } else if (::geteuid() != 0) {
            // A device the user may not open.
            target = r.path(QStringLiteral("locked-tty"));
            QFile locked(target);
            QVERIFY(locked.open(QIODevice::WriteOnly));
            QVERIFY(locked.setPermissions({}));
        } else {
            // Root opens any file whatever its mode; a folder still refuses a
            // read-write open (EISDIR), the closest failure root meets.
            target = r.path(QStringLiteral("a-folder"));
            QVERIFY(QDir().mkpath(target));
        }
        QVERIFY(QFile::link(target, vexlo::sim::PtyBoard::portsFolder() + QStringLiteral("/COM5")));
        w.ComboCommPort->SetListIndex(4);
        w.Button1_Click();
        QCOMPARE(w.ComStatus->text(), kOpenFailed);
        QVERIFY(!w.MSComm1->PortOpen());
        break;
    }
    case TypedPortName:
        w.ComboCommPort->SetText(input);
        QCOMPARE(w.ComboCommPort->ListIndex(), -1);
        w.Button1_Click();
        QCOMPARE(w.MSComm1->PortOpen(), status == kConnected);
        if (status != kConnected)
            QCOMPARE(w.ComStatus->text(), kOpenFailed);
        break;
    case TypedCount:
    case TypedChannel:
        board->clearLog();
        if (fault == TypedCount) {
            w.Combo2->SetListIndex(0);
            w.Text1->setText(input);
        } else {
            w.Combo2->SetText(input);
            w.Text1->setText(QStringLiteral("100"));
        }
        w.SendB2_Click();
        QVERIFY(!w.Measuring);
        QCOMPARE(w.SendB2->text(), kStartCaption);
        QTest::qWait(50);
        for (const QByteArray& c : board->commands())
            QVERIFY2(!IsStartCommand(c), c.constData());
        if (fault == TypedChannel)
            QVERIFY(board->commands().isEmpty());
        w.Combo2->SetListIndex(0);
        break;
    case StopRace: {
        // The stream arrives a byte at a time; the operator's stop lands
        // while the last record is still coming in. Either the block
        // completes or the stop wins, and nothing of that stream leaks into
        // the next block.
        f.split = true;
        f.splitGapMs = 1;
        board->setFaults(f);
        bool clicked = false;
        const auto c = QObject::connect(w.MSComm1, &CommPort::BytesArrived, &w, [&] {
            if (!clicked && w.Measuring && w.RecvCount >= 19) {
                clicked = true;
                QTimer::singleShot(0, &w, [&] {
                    if (w.SendB2->text() == kStopCaption)
                        w.SendB2_Click();
                });
            }
        });
        r.start(20);
        // (On a busy machine the last two records may come in one piece:
        // then the block completes before the stop can be clicked.)
        QTRY_VERIFY_WITH_TIMEOUT(!w.Measuring, 10000);
        QTest::qWait(50);
        QObject::disconnect(c);
        QVERIFY(w.RecvCount == 19 || w.RecvCount == 20);
        QVERIFY(w.Status->text() == kStopped || w.Status->text().startsWith(kFinished));
        status = w.Status->text();
        blockRows = w.RecvCount;
        break;
    }
    case QuitTransaction:
        f.silent = true;
        board->setFaults(f);
        board->clearLog();
        QTimer::singleShot(30, &w, [&w] { w.QuitB_Click(); });
        w.Command29_Click(); // reads the data rate; quit while it waits
        QVERIFY(w.QuitDone);
        QVERIFY(!w.InTransaction());
        QVERIFY(!w.MSComm1->PortOpen());
        QTest::qWait(50);
        QCOMPARE(board->commands(), QList<QByteArray>{"F?"}); // nothing after the quit
        status = w.Status->text();
        recover = false;
        blockRows = 0;
        break;
    case QuitMeasuring: {
        r.start(0); // streams until stopped
        QTRY_VERIFY(w.RecvCount > 50);
        board->clearLog();
        w.QuitB_Click();
        QVERIFY(w.QuitDone);
        QVERIFY(!w.MSComm1->PortOpen());
        const qint32 n = w.RecvCount;
        QTest::qWait(100);
        QCOMPARE(w.RecvCount, n); // no receive event after the quit
        QVERIFY(board->commands().isEmpty());
        status = w.Status->text();
        recover = false;
        blockRows = 0;
        break;
    }
    case SaveReadOnly: case SaveFullDevice: case SaveVanishedFolder: {
        QVERIFY(r.measure(1000));
        blockRows = 1000;
        if (fault == SaveVanishedFolder) {
            QVERIFY(QDir().mkpath(r.path(QStringLiteral("gone"))));
            earlierFile = r.path(QStringLiteral("gone/data.csv"));
            r.dialogs.onSaveDialog = [&](const SaveDialogRequest&) {
                QDir(r.path(QStringLiteral("gone"))).removeRecursively();
                return earlierFile;
            };
            w.Command1_Click();
            r.dialogs.onSaveDialog = nullptr;
            QVERIFY(!QFile::exists(earlierFile));
            earlierFile.clear();
            break;
        }
        earlierFile = r.path(QStringLiteral("earlier.csv"));
        {
            QFile e(earlierFile);
            QVERIFY(e.open(QIODevice::WriteOnly));
            e.write("earlier\r\n");
        }
        earlierBytes = "earlier\r\n";
        if (fault == SaveReadOnly) {
            QVERIFY(QFile::setPermissions(earlierFile, QFile::ReadOwner | QFile::ReadGroup));
            QVERIFY(!w.SaveDataFile(earlierFile));
        } else {
            // Room for the header only: the write fails part way, as on a
            // full disk (a device such as /dev/full is refused up front).
            struct rlimit saved {};
            QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = saved;
            small.rlim_cur = 2048;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
            const bool ok = w.SaveDataFile(earlierFile);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            QVERIFY(!ok);
        }
        break;
    }
    }

    // ---- The outcome promised ------------------------------------------
    if (status.endsWith(u'*'))
        QVERIFY2(w.Status->text().startsWith(status.chopped(1)), qPrintable(w.Status->text()));
    else if (fault == HangUpIdle || fault == HangUpTransaction || fault == HangUpStream)
        QTRY_COMPARE(w.Status->text(), status); // shown once the waiting handler is done
    else
        QCOMPARE(w.Status->text(), status);
    if (status == kLinkLost) {
        QCOMPARE(w.ComStatus->text(), QStringLiteral("COM切断"));
        QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
        QCOMPARE(w.SendB2->text(), kStartCaption);
    }
    const QStringList messages = r.dialogs.texts(FakeDialogs::Shown::Message);
    QCOMPARE(messages, message.isEmpty() ? QStringList() : QStringList{message});
    if (!earlierFile.isEmpty()) {
        QFile e(earlierFile);
        QVERIFY(e.open(QIODevice::ReadOnly));
        QCOMPARE(e.readAll(), earlierBytes);
        QVERIFY(QDir(r.path({})).entryList({QStringLiteral("*.csv.*"), QStringLiteral(".*.csv*")},
                                           QDir::Files | QDir::Hidden).isEmpty()); // no temporary left
    }

    // ---- Nothing lost: the block measured before the fault still saves ----
    r.dialogs.clear();
    if (blockRows > 0) {
        QVERIFY(!w.Measuring);
        QCOMPARE(r.save(), blockRows);
    }
    if (!recover)
        return;

    // ---- The link recovers --------------------------------------------
    if (fault == Late)
        QTest::qWait(300); // the late replies are out of the way before the next check
    if (restartBoard) {
        QVERIFY2(r.startBoard(), qPrintable(r.sim.error));
    } else {
        r.sim.board->setFaults({});
    }
    QVERIFY2(r.connect(), qPrintable(w.Status->text()));
    QVERIFY(r.measure(50));
    QCOMPARE(r.save(), 50);
    QVERIFY(r.dialogs.texts(FakeDialogs::Shown::Message).isEmpty());
}

int main(int argc, char** argv)
{
    // The "other program" of the port-busy row.
    if (qEnvironmentVariableIsSet("VEXLO_HOLD_PORT")) {
        QCoreApplication app(argc, argv);
        return HoldPort(qgetenv("VEXLO_HOLD_PORT"));
    }
    QApplication app(argc, argv);
    TestFaults t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_faults.moc"
