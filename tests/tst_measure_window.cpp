// Start, stop and reception of a measurement in the real window, against a
// scripted board on the in-process fake port.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <random>

#include "app/VbComboBox.h"
#include "measure/PictureBox.h"
#include "support/BoardBench.h"

namespace {

const QString kStart = QStringLiteral("測定開始");
const QString kStop = QStringLiteral("測定停止");

// A window after a good connection check; the board accepts every rate and
// gain command and reports Gain=1 so millivolt texts have three decimals.
std::unique_ptr<BoardBench> Connected(const BuildProfile& profile)
{
    auto b = std::make_unique<BoardBench>(profile, true);
    b->replies[QByteArrayLiteral("G?")] = QByteArrayLiteral("G0\r");
    for (const char* rate : {"F0", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "FA", "FF"})
        b->replies[rate] = QByteArrayLiteral("OK\r");
    for (const char* gain : {"G0", "G1", "G2", "G3", "G4", "G5", "GFFFF"})
        b->replies[gain] = QByteArrayLiteral("OK\r");
    b->w->Button1_Click();
    b->ClearLog();
    return b;
}

void Settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Starts a measurement with the given format, channel entry and count text.
void Start(BoardBench& b, bool hex, int channel, const QString& count)
{
    (hex ? b.w->Option1 : b.w->Option2)->setChecked(true);
    b.w->Combo2->SetListIndex(channel);
    b.w->Text1->setText(count);
    b.ClearLog();
    b.w->SendB2_Click();
}

struct Block {
    QList<qint64> ch0, ch1;  // codes, or millivolts in thousandths
    QByteArray bytes;        // the stream
};

QByteArray HexField(qint64 code)
{
    return QByteArray::number(code, 16).toUpper().rightJustified(6, '0');
}

QByteArray MvField(qint64 thousandths)
{
    const qint64 a = std::llabs(thousandths);
    QByteArray s = QByteArray::number(a / 1000).rightJustified(4, '0') + '.'
        + QByteArray::number(a % 1000).rightJustified(3, '0');
    return (thousandths < 0 ? "-" : "+") + s;
}

Block MakeBlock(bool hex, int mode, int count, unsigned seed)
{
    std::mt19937 rng(seed);
    Block blk;
    for (int i = 0; i < count; ++i) {
        const qint64 a = hex ? 8388000 + qint64(rng() % 500) : qint64(rng() % 4001) - 2000;
        const qint64 c = hex ? 8388100 + qint64(rng() % 300) : qint64(rng() % 2001) - 1000;
        QByteArray rec;
        if (mode == 0 || mode == 2) {
            blk.ch0 << a;
            rec += hex ? HexField(a) : MvField(a);
        }
        if (mode == 1 || mode == 2) {
            blk.ch1 << c;
            rec += hex ? HexField(c) : MvField(c);
        }
        blk.bytes += rec + '\r';
    }
    return blk;
}

QString Span(const QList<qint64>& v, bool hex)
{
    const qint64 pp = *std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end());
    if (hex)
        return QString::number(pp);
    return QStringLiteral("%1.%2").arg(pp / 1000).arg(pp % 1000, 3, 10, QLatin1Char('0'));
}

QString ExpectedEnd(const Block& blk, bool hex, int mode)
{
    QString s = QStringLiteral("測定終了... ") + (hex ? "[digit pp] " : "[mV pp] ");
    if (mode == 0)
        return s + "CH0=" + Span(blk.ch0, hex);
    if (mode == 1)
        return s + "CH1=" + Span(blk.ch1, hex);
    return s + "CH0=" + Span(blk.ch0, hex) + ", CH1=" + Span(blk.ch1, hex);
}

} // namespace

class TstMeasureWindow : public QObject {
    Q_OBJECT
private slots:
    void startCommand_data();
    void startCommand();
    void countRefused_data();
    void countRefused();
    void setCommandRefused_data();
    void setCommandRefused();
    void typedChannelRefused();
    void portNotOpen();
    void chunking_data();
    void chunking();
    void progressAndFormatSwitch();
    void countOne();
    void progressShowsNewestRecord();
    void refusalNG();
    void stopByOperator_data();
    void stopByOperator();
    void countZeroFillsBlockThenStops();
    void portLostMidStream();
};

void TstMeasureWindow::startCommand_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("recordLength");
    QTest::newRow("hex CH0 100") << true << 0 << "100" << QByteArray("A00064\r") << 7;
    QTest::newRow("mV both 1000") << false << 2 << "1000" << QByteArray("M203E8\r") << 19;
    QTest::newRow("hex CH1 max") << true << 1 << "65535" << QByteArray("A1FFFF\r") << 7;
    QTest::newRow("hex both") << true << 2 << "7" << QByteArray("A20007\r") << 13;
    QTest::newRow("mV CH0") << false << 0 << "10" << QByteArray("M0000A\r") << 10;
    QTest::newRow("mV CH1") << false << 1 << "10" << QByteArray("M1000A\r") << 10;
    QTest::newRow("half to even down") << true << 0 << "12.5" << QByteArray("A0000C\r") << 7;
    QTest::newRow("half to even up") << true << 0 << "13.5" << QByteArray("A0000E\r") << 7;
    QTest::newRow("blanks ignored") << true << 0 << " 1 0\t0" << QByteArray("A00064\r") << 7;
    QTest::newRow("letters read 0") << true << 0 << "abc" << QByteArray("A00000\r") << 7;
}

void TstMeasureWindow::startCommand()
{
    QFETCH(bool, hex);
    QFETCH(int, channel);
    QFETCH(QString, count);
    QFETCH(QByteArray, command);
    QFETCH(int, recordLength);
    auto b = Connected(kVexloDemoProfile);
    b->w->Status->setText(QStringLiteral("old"));
    Start(*b, hex, channel, count);
    QCOMPARE(b->received, (QList<QByteArray>{"F5", "G0", command.chopped(1)}));
    QCOMPARE(b->port->writes.last(), command);
    QCOMPARE(b->w->SendB2->text(), kStop);
    QVERIFY(b->w->Measuring);
    QCOMPARE(b->port->RThreshold(), 1);
    QCOMPARE(int(b->w->RecordLength), recordLength);
    QCOMPARE(int(b->w->FieldWidth), hex ? 6 : 9);
    QCOMPARE(int(b->w->ChannelMode), channel);
    QCOMPARE(b->w->Status->text(), QString());

    // Tamrix leaves Status as it was.
    auto t = Connected(kTamrixProfile);
    t->w->Status->setText(QStringLiteral("old"));
    Start(*t, hex, channel, count);
    QCOMPARE(t->port->writes.last(), command);
    QCOMPARE(t->w->Status->text(), QStringLiteral("old"));
}

void TstMeasureWindow::countRefused_data()
{
    QTest::addColumn<QString>("count");
    QTest::newRow("empty") << "";
    QTest::newRow("65536") << "65536";
    QTest::newRow("-1") << "-1";
    QTest::newRow("65535.4") << "65535.4";
    QTest::newRow("huge exponent") << "1e999";
}

void TstMeasureWindow::countRefused()
{
    QFETCH(QString, count);
    auto b = Connected(kVexloDemoProfile);
    Start(*b, true, 0, count);
    QCOMPARE(b->w->Status->text(), QStringLiteral("データ個数が正しくありません"));
    QCOMPARE(b->received, (QList<QByteArray>{"F5", "G0"}));  // rate and gain were sent
    QCOMPARE(b->w->SendB2->text(), kStart);
    QVERIFY(!b->w->Measuring);
    QCOMPARE(b->port->RThreshold(), 0);
}

void TstMeasureWindow::setCommandRefused_data()
{
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("writes");
    const QString rate = QStringLiteral("データレート設定できませんでした");
    const QString gain = QStringLiteral("ゲイン設定できませんでした");
    QTest::newRow("rate NG") << QByteArray("F5") << QByteArray("NG\r") << rate << 1;
    QTest::newRow("rate lower ok") << QByteArray("F5") << QByteArray("ok\r") << rate << 1;
    QTest::newRow("rate silent") << QByteArray("F5") << QByteArray() << rate << 1;
    QTest::newRow("gain NG") << QByteArray("G0") << QByteArray("NG\r") << gain << 2;
    QTest::newRow("gain O only") << QByteArray("G0") << QByteArray("O\r") << gain << 2;
}

void TstMeasureWindow::setCommandRefused()
{
    QFETCH(QByteArray, refused);
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);
    QFETCH(int, writes);
    auto b = Connected(kVexloDemoProfile);
    // A graph from an earlier block stays untouched by a failed start.
    b->w->Picture1->Line(1, 2, 3, 4, 0);
    if (reply.isEmpty())
        b->replies.remove(refused);
    else
        b->replies[refused] = reply;
    Start(*b, true, 0, QStringLiteral("100"));
    QCOMPARE(b->w->Status->text(), status);
    QCOMPARE(int(b->received.size()), writes);
    QCOMPARE(int(b->w->Picture1->Lines().size()), 1);
    QCOMPARE(b->w->SendB2->text(), kStart);
    QCOMPARE(b->port->RThreshold(), 0);
}

void TstMeasureWindow::typedChannelRefused()
{
    auto b = Connected(kVexloDemoProfile);
    b->w->Combo2->SetText(QStringLiteral("CH9"));
    QCOMPARE(b->w->Combo2->ListIndex(), -1);
    b->ClearLog();
    b->w->Text1->setText(QStringLiteral("100"));
    b->w->SendB2_Click();
    QCOMPARE(b->w->Status->text(), QStringLiteral("チャンネルが正しくありません"));
    QVERIFY(b->port->writes.isEmpty());
    QVERIFY(!b->w->Measuring);
    QCOMPARE(b->w->SendB2->text(), kStart);
    // Bytes arriving anyway are never cut with a zero record length.
    b->port->Feed(QByteArray(50, '0'));
    Settle();
    QCOMPARE(b->w->RecvCount, 0);
}

void TstMeasureWindow::portNotOpen()
{
    for (const BuildProfile* p : {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile}) {
        BoardBench b(*p, true);
        b.w->SendB2->setText(kStop);
        b.w->SendB2_Click();
        QCOMPARE(b.w->Status->text(), QStringLiteral("COM not open..."));
        QVERIFY(b.port->writes.isEmpty());
        QCOMPARE(b.w->SendB2->text(), kStop);
    }
}

void TstMeasureWindow::chunking_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("program");
    for (int program = 0; program < 2; ++program)
        for (bool hex : {true, false})
            for (int mode = 0; mode < 3; ++mode)
                QTest::addRow("%s %s mode %d", program ? "Tamrix" : "Demo", hex ? "hex" : "mV", mode)
                    << hex << mode << program;
}

// All at once, one character at a time and in random pieces give the same
// block, count and final line.
void TstMeasureWindow::chunking()
{
    QFETCH(bool, hex);
    QFETCH(int, mode);
    QFETCH(int, program);
    const BuildProfile& profile = program ? kTamrixProfile : kVexloDemoProfile;
    const int n = 60;
    const Block blk = MakeBlock(hex, mode, n, unsigned(mode * 10 + hex));
    const QByteArray stream = blk.bytes + "000"; // a few characters too many

    std::vector<std::unique_ptr<BoardBench>> benches;
    for (int way = 0; way < 3; ++way) {
        auto b = Connected(profile);
        Start(*b, hex, mode, QString::number(n));
        if (way == 0) {
            b->port->Feed(stream);
        } else if (way == 1) {
            for (char c : stream)
                b->port->Feed(QByteArray(1, c));
        } else {
            std::mt19937 rng(9);
            for (qsizetype pos = 0; pos < stream.size();) {
                const qsizetype len = 1 + qsizetype(rng() % 50);
                b->port->Feed(stream.mid(pos, len));
                pos += len;
            }
        }
        Settle();
        QCOMPARE(b->w->RecvCount, n);
        QVERIFY(!b->w->Measuring);
        QCOMPARE(b->w->SendB2->text(), kStart);
        QCOMPARE(b->port->RThreshold(), 0);
        QCOMPARE(b->w->Status->text(), ExpectedEnd(blk, hex, mode));
        QCOMPARE(int(b->w->Picture1->Lines().size()), (mode == 2 ? 2 : 1) * (n - 1));
        benches.push_back(std::move(b));
    }
    for (int way = 1; way < 3; ++way)
        for (int i = 0; i < n; ++i) {
            QCOMPARE(benches[size_t(way)]->w->Samples[i].Ch0, benches[0]->w->Samples[i].Ch0);
            QCOMPARE(benches[size_t(way)]->w->Samples[i].Ch1, benches[0]->w->Samples[i].Ch1);
        }
    const QString field = QString::fromLatin1(hex ? HexField(mode == 1 ? blk.ch1[5] : blk.ch0[5])
                                                  : MvField(mode == 1 ? blk.ch1[5] : blk.ch0[5]));
    QCOMPARE(mode == 1 ? benches[0]->w->Samples[5].Ch1 : benches[0]->w->Samples[5].Ch0, field);
    // Characters past the last record stay unread.
    QVERIFY(benches[0]->w->RecvBuffer.endsWith(QStringLiteral("000")));
}

void TstMeasureWindow::progressAndFormatSwitch()
{
    auto b = Connected(kVexloDemoProfile);
    const Block blk = MakeBlock(true, 2, 20, 1);
    Start(*b, true, 2, QStringLiteral("20"));
    b->port->Feed(blk.bytes.left(12 * 13 + 5));
    Settle();
    QCOMPARE(b->w->RecvCount, 12);
    QCOMPARE(b->w->Status->text(), QStringLiteral("12/%1, %2")
                                       .arg(QString::fromLatin1(HexField(blk.ch0[11])),
                                            QString::fromLatin1(HexField(blk.ch1[11]))));
    // The operator switches the format while the block arrives: the block
    // is still read as the codes it was measured with.
    b->w->Option2->setChecked(true);
    b->port->Feed(blk.bytes.mid(12 * 13 + 5));
    Settle();
    QCOMPARE(b->w->Status->text(), ExpectedEnd(blk, true, 2));
    QVERIFY(b->w->Label3->text() != QStringLiteral("---"));
    QVERIFY(!b->w->Label3->text().contains(QLatin1Char('.')));
}

// Many receive events in quick succession: the line ends on the newest
// record, whether the operator waits or stops at once (Tamrix keeps it).
void TstMeasureWindow::progressShowsNewestRecord()
{
    for (bool stopAtOnce : {false, true}) {
        auto b = Connected(kTamrixProfile);
        const Block blk = MakeBlock(true, 0, 100, 2);
        Start(*b, true, 0, QStringLiteral("100"));
        for (int i = 0; i < 30; ++i)
            b->port->Feed(blk.bytes.mid(i * 7, 7));
        Settle();
        const QString newest = QStringLiteral("30/") + QString::fromLatin1(HexField(blk.ch0[29]));
        if (stopAtOnce)
            b->w->SendB2_Click();
        else
            QTRY_COMPARE_WITH_TIMEOUT(b->w->Status->text(), newest, 1000);
        QCOMPARE(b->w->Status->text(), newest);
        QTest::qWait(80);
        QCOMPARE(b->w->Status->text(), newest);
    }
}

void TstMeasureWindow::countOne()
{
    auto b = Connected(kVexloDemoProfile);
    Start(*b, false, 1, QStringLiteral("1"));
    QStringList shown;
    connect(b->w->Status, &QLineEdit::textChanged, [&](const QString& t) { shown << t; });
    b->port->Feed("-0001.234\r");
    Settle();
    QCOMPARE(shown, QStringList{QStringLiteral("測定終了... [mV pp] CH1=0.000")});
    QCOMPARE(b->w->Label4->text(), QStringLiteral("-1.234"));
    QVERIFY(b->w->Picture1->Lines().empty());
}

void TstMeasureWindow::refusalNG()
{
    // Vexlo_Demo and Vexlo recognise the refusal, even split in two.
    for (const BuildProfile* p : {&kVexloDemoProfile, &kVexloProfile}) {
        auto b = Connected(*p);
        Start(*b, true, 0, QStringLiteral("100"));
        b->port->Feed("N");
        b->port->Feed("G\r");
        Settle();
        QCOMPARE(b->w->Status->text(), QStringLiteral("測定開始エラー... "));
        QCOMPARE(b->w->SendB2->text(), kStart);
        QVERIFY(!b->w->Measuring);
        QCOMPARE(b->w->RecvCount, 0);
        QCOMPARE(b->port->RThreshold(), 0);
        QCOMPARE(b->w->Label3->text(), QStringLiteral("---"));
        QVERIFY(b->w->Picture1->Lines().empty());
    }
    // Tamrix keeps measuring with no message.
    auto t = Connected(kTamrixProfile);
    t->w->Status->setText(QStringLiteral("before"));
    Start(*t, true, 0, QStringLiteral("100"));
    t->port->Feed("NG\r");
    Settle();
    QVERIFY(t->w->Measuring);
    QCOMPARE(t->w->SendB2->text(), kStop);
    QCOMPARE(t->w->Status->text(), QStringLiteral("before"));
}

void TstMeasureWindow::stopByOperator_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("program");
    QTest::newRow("demo hex") << true << 0;
    QTest::newRow("demo mV") << false << 0;
    QTest::newRow("tamrix hex") << true << 1;
    QTest::newRow("tamrix mV") << false << 1;
}

void TstMeasureWindow::stopByOperator()
{
    QFETCH(bool, hex);
    QFETCH(int, program);
    auto b = Connected(program ? kTamrixProfile : kVexloDemoProfile);
    const Block blk = MakeBlock(hex, 0, 30, 4);
    Start(*b, hex, 0, QStringLiteral("100"));
    b->port->Feed(blk.bytes.left(blk.bytes.size() / 2));
    Settle();
    const qint32 received = b->w->RecvCount;
    QVERIFY(received > 0);
    const QString progress = b->w->Status->text();
    // The option shown now is not the one the block is measured with.
    (hex ? b->w->Option2 : b->w->Option1)->setChecked(true);
    b->port->Feed(blk.bytes.mid(blk.bytes.size() / 2)); // queued, arrives during the stop
    b->ClearLog();
    b->w->SendB2_Click();
    QCOMPARE(b->port->writes.first(), hex ? QByteArray("AX\r") : QByteArray("MX\r"));
    QCOMPARE(b->w->SendB2->text(), kStart);
    QVERIFY(!b->w->Measuring);
    QCOMPARE(b->port->RThreshold(), 0);
    Settle();
    QCOMPARE(b->w->RecvCount, received);   // nothing more was stored
    QCOMPARE(b->w->Label3->text(), QStringLiteral("---"));
    if (program == 0) {
        QCOMPARE(b->w->Status->text(), QStringLiteral("測定停止しました"));
        QVERIFY(b->w->RecvBuffer.isEmpty());
    } else {
        QCOMPARE(b->w->Status->text(), progress);
    }
}

void TstMeasureWindow::countZeroFillsBlockThenStops()
{
    // A count of 0 makes the board stream until stopped. The block holds
    // 65535 records: once they are in, the program stops the board and the
    // full block becomes the result.
    auto b = Connected(kVexloDemoProfile);
    Start(*b, true, 0, QStringLiteral("0"));
    QCOMPARE(b->port->writes.last(), QByteArray("A00000\r"));
    QByteArray chunk;
    for (int i = 0; i < 1000; ++i)
        chunk += HexField(0x800000 + i % 50) + '\r';
    b->ClearLog();
    for (int k = 0; k < 66; ++k)
        b->port->Feed(chunk);
    Settle();
    QVERIFY(!b->w->Measuring);
    QCOMPARE(b->w->RecvCount, 65535);
    QCOMPARE(b->w->SampleCount, 65535);
    QCOMPARE(b->port->writes, QList<QByteArray>{QByteArray("AX\r")});
    QCOMPARE(b->w->Status->text(), QStringLiteral("測定終了... [digit pp] CH0=49"));
    QCOMPARE(b->w->SendB2->text(), kStart);
    QCOMPARE(int(b->w->Picture1->Lines().size()), 65534);
    QCOMPARE(b->w->Samples[65534].Ch0, QStringLiteral("800022"));  // 65534 % 50 = 34
}

void TstMeasureWindow::portLostMidStream()
{
    auto b = Connected(kVexloDemoProfile);
    const Block blk = MakeBlock(false, 2, 40, 8);
    Start(*b, false, 2, QStringLiteral("40"));
    b->port->Feed(blk.bytes.left(19 * 15));
    Settle();
    QCOMPARE(b->w->RecvCount, 15);
    b->port->HangUp();
    Settle();
    QVERIFY(!b->w->Measuring);
    QCOMPARE(b->w->SendB2->text(), kStart);
    QCOMPARE(b->w->RecvCount, 15);
    QCOMPARE(b->w->Samples[14].Ch1, QString::fromLatin1(MvField(blk.ch1[14])));
    QVERIFY(!b->w->Status->text().isEmpty());
    QVERIFY(!b->w->Status->text().startsWith(QStringLiteral("15/")));
    // The window stays usable: a start now only reports the closed port.
    b->w->SendB2_Click();
    QCOMPARE(b->w->Status->text(), QStringLiteral("COM not open..."));
}

QTEST_MAIN(TstMeasureWindow)
#include "tst_measure_window.moc"
