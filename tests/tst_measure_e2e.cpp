// Whole measurements in the real window over a real serial port against the
// board simulator on a pseudo-terminal: every format and channel choice, a
// stream cut off mid-record and a hang-up mid-stream. The expected status
// line, scale labels and graph lines are worked out here from the sample
// texts that arrived, with arithmetic of the test's own.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "measure/PictureBox.h"
#include "serial/CommPort.h"
#include "support/FakeDialogs.h"
#include "support/SimFixture.h"

using vexlo::sim::BoardState;
using vexlo::sim::Faults;
using vexlo::sim::Model;

namespace {

const QString kStart = QStringLiteral("測定開始");
const QString kStop = QStringLiteral("測定停止");

struct Rig {
    SimFixture sim;
    FakeDialogs dialogs;
    std::unique_ptr<Form1> w;

    // Tamrix board at the fastest data rate and the given gain, a connected
    // Vexlo_Demo window.
    bool up(int gain, const Faults& faults = {})
    {
        vexlo::sim::PtyOptions o;
        o.model = Model::Tamrix;
        o.com = 4;
        o.rateMode = vexlo::sim::RateMode::Flood;
        o.state = BoardState{true, 4, gain, 10};
        o.faults = faults;
        if (!sim.start(o))
            return false;
        w = std::make_unique<Form1>(kVexloDemoProfile, nullptr, &dialogs);
        w->Option_CM->click();
        w->Button1_Click();
        return w->Button1->text() == QStringLiteral("閉じる");
    }

    void start(bool hex, int channel, int count)
    {
        (hex ? w->Option1 : w->Option2)->setChecked(true);
        w->Combo2->SetListIndex(channel);
        w->Text1->setText(QString::number(count));
        w->SendB2_Click();
    }
};

QString Fixed(double v, int decimals)
{
    // The value as it reads with 15 significant digits, then rounded to the
    // given decimals with halves away from zero, by hand on the digits.
    const QString e = QString::number(std::fabs(v), 'e', 14);     // d.dddddddddddddde-xx
    const QString digits = e.left(1) + e.mid(2, 14);               // 15 digits
    const int exp10 = e.mid(e.indexOf(QLatin1Char('e')) + 1).toInt();
    // |v| = 0.digits * 10^(exp10 + 1); keep exp10 + 1 + decimals digits.
    const int keep = exp10 + 1 + decimals;
    qint64 n = 0;
    for (int i = 0; i < keep && i < digits.size(); ++i)
        n = n * 10 + digits[i].digitValue();
    for (int i = digits.size(); i < keep; ++i)
        n *= 10;
    if (keep >= 0 && keep < digits.size() && digits[keep].digitValue() >= 5)
        ++n;
    qint64 scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    QString s = QStringLiteral("%1.%2").arg(n / scale).arg(n % scale, decimals, 10, QLatin1Char('0'));
    if (v < 0 && n != 0)
        s.prepend(QLatin1Char('-'));
    return s;
}

int Decimals(int gain) { return gain == 0 ? 3 : (gain > 2 ? 5 : 4); }

} // namespace

class TstMeasureE2E : public QObject {
    Q_OBJECT
private slots:
    void wholeBlock_data();
    void wholeBlock();
    void streamCutMidRecord();
    void hangUpMidStream();
};

void TstMeasureE2E::wholeBlock_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("gain");
    for (int count : {100, 1000})
        for (bool hex : {true, false})
            for (int mode = 0; mode < 3; ++mode)
                QTest::addRow("%s mode %d, %d", hex ? "hex" : "mV", mode, count)
                    << hex << mode << count << (hex ? 3 : (count == 100 ? 0 : 4) + mode % 2);
}

void TstMeasureE2E::wholeBlock()
{
    QFETCH(bool, hex);
    QFETCH(int, mode);
    QFETCH(int, count);
    QFETCH(int, gain);
    Rig r;
    QVERIFY2(r.up(gain), qPrintable(r.sim.error + r.w->Status->text()));
    QCOMPARE(r.w->Combo3->ListIndex(), gain);
    r.start(hex, mode, count);
    QCOMPARE(r.w->SendB2->text(), kStop);
    QTRY_VERIFY_WITH_TIMEOUT(!r.w->Measuring, 20000);
    QCOMPARE(r.w->RecvCount, count);
    QCOMPARE(r.w->SendB2->text(), kStart);

    // Every field arrived in the board's shape; decode them here.
    const QRegularExpression shape(hex ? QStringLiteral("^[0-9A-F]{6}$")
                                       : QStringLiteral("^[+-][0-9.]{8}$"));
    QList<QList<double>> values;
    QList<int> colors;
    for (int ch : {0, 1}) {
        if (!(mode == ch || mode == 2))
            continue;
        QList<double> v;
        for (int i = 0; i < count; ++i) {
            const QString t = ch == 0 ? r.w->Samples[i].Ch0 : r.w->Samples[i].Ch1;
            QVERIFY2(shape.match(t).hasMatch(), qPrintable(t));
            bool ok = false;
            v << (hex ? double(t.toLongLong(&ok, 16)) : t.toDouble(&ok));
            QVERIFY(ok);
        }
        values << v;
        colors << (ch == 0 ? 0xFF0000 : 0x0000FF);
    }

    // Status: span of each channel.
    QStringList spans;
    double top0 = -1e300, bottom0 = 1e300;
    for (const QList<double>& v : values) {
        const double hi = *std::max_element(v.begin(), v.end());
        const double lo = *std::min_element(v.begin(), v.end());
        top0 = std::max(top0, hi);
        bottom0 = std::min(bottom0, lo);
        spans << (hex ? QString::number(qint64(hi - lo)) : Fixed(hi - lo, Decimals(gain)));
    }
    QString expected = QStringLiteral("測定終了... ") + (hex ? "[digit pp] " : "[mV pp] ");
    if (mode == 2)
        expected += "CH0=" + spans[0] + ", CH1=" + spans[1];
    else
        expected += QStringLiteral("CH%1=").arg(mode) + spans[0];
    QCOMPARE(r.w->Status->text(), expected);

    // Scale.
    double top, bottom, mid;
    if (hex) {
        const qint64 t0 = qint64(top0), b0 = qint64(bottom0), range = t0 - b0;
        const qint64 m = (t0 + b0 + 1) / 2;             // halves up (all positive)
        const qint64 t = range > 6 ? t0 + (range + 2) / 4 : t0 + 2;
        top = double(t);
        mid = double(m);
        bottom = double(t - 2 * (t - m));
        QCOMPARE(r.w->Label3->text(), QString::number(t));
        QCOMPARE(r.w->Label4->text(), QString::number(m));
        QCOMPARE(r.w->Label5->text(), QString::number(t - 2 * (t - m)));
    } else {
        const double h = (top0 - bottom0) / 2;
        top = top0 + h;
        bottom = bottom0 - h;
        mid = (top0 + bottom0) / 2;
        QCOMPARE(r.w->Label3->text(), Fixed(top, Decimals(gain)));
        QCOMPARE(r.w->Label4->text(), Fixed(mid, Decimals(gain)));
        QCOMPARE(r.w->Label5->text(), Fixed(bottom, Decimals(gain)));
    }

    // Lines: one polyline per channel across the full width.
    const auto& lines = r.w->Picture1->Lines();
    QCOMPARE(int(lines.size()), int(values.size()) * (count - 1));
    const double H = 3435;
    auto yOf = [&](double v) {
        if (top == bottom)
            return 1718;
        return int(std::nearbyint(H - (v - bottom) * H / (top - bottom)));
    };
    size_t k = 0;
    for (int c = 0; c < values.size(); ++c) {
        for (int i = 0; i + 1 < count; ++i, ++k) {
            const RecordedLine& l = lines[k];
            QCOMPARE(int(l.color), colors[c]);
            QCOMPARE(l.y1, yOf(values[c][i]));
            QCOMPARE(l.y2, yOf(values[c][i + 1]));
            QVERIFY(std::abs(l.x1 - 6375.0 * i / (count - 1)) <= 0.5 + 1e-3);
            QCOMPARE(l.x2 - l.x1 >= 6375 / (count - 1), true);
        }
        QCOMPARE(lines[k - 1].x2, 6375);
    }
}

void TstMeasureE2E::streamCutMidRecord()
{
    Faults f;
    f.cutAfterRecords = 40;
    Rig r;
    QVERIFY2(r.up(0, f), qPrintable(r.sim.error));
    r.start(false, 2, 100);
    QTRY_COMPARE_WITH_TIMEOUT(r.w->RecvCount, 40, 10000);
    QTest::qWait(200);
    // The half record is held back; the measurement waits for the operator.
    QCOMPARE(r.w->RecvCount, 40);
    QVERIFY(r.w->Measuring);
    QCOMPARE(r.w->SendB2->text(), kStop);
    QVERIFY(r.w->Status->text().startsWith(QStringLiteral("40/")));
    QCOMPARE(r.w->RecvBuffer.size(), 19 / 2);
    r.sim.board->clearLog();
    r.w->SendB2_Click();
    QVERIFY(r.sim.board->waitForCommands(1, 2000));
    QCOMPARE(r.sim.board->commands().first(), QByteArray("MX"));
    QCOMPARE(r.w->Status->text(), QStringLiteral("測定停止しました"));
    QCOMPARE(r.w->RecvCount, 40);
    QCOMPARE(r.w->Label3->text(), QStringLiteral("---"));
    // The link still works: another block completes.
    r.sim.board->setFaults({});
    r.start(true, 0, 100);
    QTRY_VERIFY_WITH_TIMEOUT(!r.w->Measuring, 10000);
    QVERIFY(r.w->Status->text().startsWith(QStringLiteral("測定終了... [digit pp] CH0=")));
}

void TstMeasureE2E::hangUpMidStream()
{
    Faults f;
    f.hangupAfterRecords = 300;
    Rig r;
    QVERIFY2(r.up(0, f), qPrintable(r.sim.error));
    r.start(true, 2, 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!r.w->Measuring, 10000);
    QVERIFY(r.w->RecvCount <= 300);
    QCOMPARE(r.w->SendB2->text(), kStart);
    QVERIFY(!r.w->MSComm1->PortOpen());
    QVERIFY(!r.w->Status->text().startsWith(QStringLiteral("測定終了")));
    if (r.w->RecvCount > 0)
        QVERIFY(!r.w->Samples[r.w->RecvCount - 1].Ch1.isEmpty());
    // Usable: a start now reports the closed port, nothing hangs.
    r.w->SendB2_Click();
    QCOMPARE(r.w->Status->text(), QStringLiteral("COM not open..."));
}

QTEST_MAIN(TstMeasureE2E)
#include "tst_measure_e2e.moc"
