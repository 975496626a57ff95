// Whole measurements in the real window over a real serial port against the
// board simulator on a pseudo-terminal, for every format and channel choice.
// The expected status line, scale labels and graph lines are worked out here
// from the sample texts that arrived, with arithmetic of the test's own.
// (A stream cut mid-record and a hang-up mid-stream are rows of tst_faults.)

#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "measure/PictureBox.h"
#include "support/FakeDialogs.h"
#include "support/SimFixture.h"

class TstMeasureE2E : public QObject {
    Q_OBJECT
private slots:
    void wholeBlock_data();
    void wholeBlock();
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
    // A Tamrix board at the fastest rate and the given gain; a connected
    // Vexlo_Demo window.
    SimFixture sim;
    vexlo::sim::PtyOptions o;
    o.model = vexlo::sim::Model::Tamrix;
    o.com = 4;
    o.rateMode = vexlo::sim::RateMode::Flood;
    o.state = vexlo::sim::BoardState{true, 4, gain, 10};
    QVERIFY2(sim.start(o), qPrintable(sim.error));
    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    w.Option_CM->click();
    w.Button1_Click();
    QCOMPARE(w.Combo3->ListIndex(), gain);
    (hex ? w.Option1 : w.Option2)->setChecked(true);
    w.Combo2->SetListIndex(mode);
    w.Text1->setText(QString::number(count));
    w.SendB2_Click();
    QCOMPARE(w.SendB2->text(), QStringLiteral("測定停止"));
    QTRY_VERIFY_WITH_TIMEOUT(!w.Measuring, 20000);
    QCOMPARE(w.RecvCount, count);
    QCOMPARE(w.SendB2->text(), QStringLiteral("測定開始"));

    // Every field arrived in the board's shape: codes, or millivolts with
    // the gain's decimals, read here as whole units of the last digit.
    const int decimals = gain == 0 ? 3 : (gain > 2 ? 5 : 4);
    const QRegularExpression shape(hex ? QStringLiteral("^[0-9A-F]{6}$")
                                       : QStringLiteral("^[+-][0-9]{%1}\\.[0-9]{%2}$").arg(7 - decimals).arg(decimals));
    const double scale = std::pow(10.0, hex ? 0 : decimals);
    QList<QList<qint64>> units;
    QStringList spans;
    qint64 t0 = LLONG_MIN, b0 = LLONG_MAX;
    for (int ch : {0, 1}) {
        if (mode != ch && mode != 2)
            continue;
        units.append(QList<qint64>());
        for (int i = 0; i < count; ++i) {
            const QString t = ch == 0 ? w.Samples[i].Ch0 : w.Samples[i].Ch1;
            QVERIFY2(shape.match(t).hasMatch(), qPrintable(t));
            units.last() << (hex ? t.toLongLong(nullptr, 16) : QString(t).remove(QLatin1Char('.')).toLongLong());
        }
        const qint64 hi = *std::max_element(units.last().begin(), units.last().end());
        const qint64 lo = *std::min_element(units.last().begin(), units.last().end());
        t0 = std::max(t0, hi);
        b0 = std::min(b0, lo);
        spans << QStringLiteral("CH%1=%2").arg(ch).arg(double(hi - lo) / scale, 0, 'f', hex ? 0 : decimals);
    }
    QCOMPARE(w.Status->text(), QStringLiteral("測定終了... ") + (hex ? "[digit pp] " : "[mV pp] ") + spans.join(", "));

    // Scale: codes get a margin of a quarter of the range (at least 2) above
    // the top and the same distance below the middle; millivolts half the
    // range on either side.
    double top, bottom;
    if (hex) {
        const qint64 t = t0 - b0 > 6 ? t0 + (t0 - b0 + 2) / 4 : t0 + 2, m = (t0 + b0 + 1) / 2;
        QCOMPARE((QStringList{w.Label3->text(), w.Label4->text(), w.Label5->text()}),
                 (QStringList{QString::number(t), QString::number(m), QString::number(2 * m - t)}));
        top = double(t);
        bottom = double(2 * m - t);
    } else {
        const double h = (t0 / scale - b0 / scale) / 2;
        top = t0 / scale + h;
        bottom = b0 / scale - h;
        // Each label is its value with the gain's decimals (the rounding of
        // halves is a case of tst_measure_logic).
        const double mid = (t0 / scale + b0 / scale) / 2;
        const QRegularExpression fixed(QStringLiteral("^-?[0-9]+\\.[0-9]{%1}$").arg(decimals));
        for (const auto& [label, value] : {std::pair{w.Label3, top}, {w.Label4, mid}, {w.Label5, bottom}})
            QVERIFY2(fixed.match(label->text()).hasMatch() && std::abs(label->text().toDouble() - value) <= 0.50001 / scale,
                     qPrintable(label->text() + " " + QString::number(value, 'g', 17)));
    }

    // Lines: one polyline per channel across the full width, CH0 blue
    // (FF0000) then CH1 red (0000FF).
    const auto& lines = w.Picture1->Lines();
    QCOMPARE(int(lines.size()), int(units.size()) * (count - 1));
    auto y = [&](qint64 v) {
        return top == bottom ? 1718 : int(std::nearbyint(3435 - (v / scale - bottom) * 3435 / (top - bottom)));
    };
    size_t k = 0;
    for (int c = 0; c < units.size(); ++c) {
        for (int i = 0; i + 1 < count; ++i, ++k) {
            const RecordedLine& l = lines[k];
            QCOMPARE(l.color, (mode == 1 || c == 1) ? 0x0000FFu : 0xFF0000u);
            QCOMPARE(l.y1, y(units[c][i]));
            QCOMPARE(l.y2, y(units[c][i + 1]));
            QVERIFY(std::abs(l.x1 - 6375.0 * i / (count - 1)) <= 0.5 + 1e-3);
            QVERIFY(std::abs(l.x2 - 6375.0 * (i + 1) / (count - 1)) <= 0.5 + 1e-3);
        }
        QCOMPARE(lines[k - 1].x2, 6375);
    }
}

QTEST_MAIN(TstMeasureE2E)
#include "tst_measure_e2e.moc"
