#pragma once
// What the window benchmarks share: connecting the window to the simulated
// board and timing one block measured in it.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "bench/StreamBench.h"
#include "app/Form1.h"
#include "app/VbComboBox.h"

namespace bench {

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when unreadable.
inline long procStatusKiB(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLong();
    return -1;
}

struct WindowRun {
    double wall = 0;  // start command written .. block complete
    double cpu = 0;   // main thread CPU over the same span
    bool ok = false;
};

// One block in the window: connect, start an M2 measurement of `records`,
// wait until the block is complete.
inline WindowRun runWindow(Form1& w, int records)
{
    WindowRun r;
    w.Option2->setChecked(true);
    w.Combo2->SetListIndex(2);
    w.Text1->setText(QString::number(records));
    QElapsedTimer t;
    double cpu0 = 0;
    // The start handler sends rate and gain first; the clock starts when
    // the start command has been written (the handler's last step).
    w.SendB2_Click();
    t.start();
    cpu0 = ThreadCpuSeconds();
    if (!w.Measuring)
        return r;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!w.Measuring)
            loop.quit();
    });
    // Status gets the end line when the block is complete; stop the clock there.
    double wall = -1, cpu = 0;
    auto c = QObject::connect(w.Status, &QLineEdit::textChanged, &loop, [&](const QString& s) {
        if (wall < 0 && s.startsWith(QStringLiteral("測定終了"))) {
            wall = t.nsecsElapsed() * 1e-9;
            cpu = ThreadCpuSeconds() - cpu0;
            loop.quit();
        }
    });
    poll.start(50);
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
    r.ok = wall > 0 && w.RecvCount == records;
    r.wall = wall;
    r.cpu = cpu;
    return r;
}

inline WindowRun toWindowRun(const ReaderRun& r)
{
    return {r.wall, r.cpu, r.ok};
}

inline bool connectWindow(Form1& w)
{
    w.Option_CM->click();
    w.Button1_Click();
    return w.Button1->text() == QStringLiteral("閉じる");
}

} // namespace bench
