#pragma once
// A window wired to an in-process fake port and a scripted board, for the
// board-configuration unit tests. The board answers each command from a
// table; a command without an entry gets no answer at all.

#include <QHash>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <memory>
#include <random>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"

struct BoardBench {
    // Creates the window for `profile` and, where the program has a model
    // choice, picks the model as the operator would.
    BoardBench(const BuildProfile& profile, bool tamrix)
    {
        port = new FakeCommPort;
        w = std::make_unique<Form1>(profile, port, &dialogs);
        port->onWrite = [this](const QByteArray& data) {
            QByteArray command = data;
            if (command.endsWith('\r'))
                command.chop(1);
            received << command;
            const auto it = replies.constFind(command);
            if (it != replies.constEnd()) {
                port->Feed(*it);
                if (lateLf)
                    port->afterClear = "\n";
            }
        };
        if (w->Option_CM && w->Option_RS)
            (tamrix ? w->Option_CM : w->Option_RS)->click();
        // A board in good order: buffer on, Sinc4, Gain=32, 100sps.
        replies = {{"?", "Vexlo\r"}, {"S?", "S14\r"}, {"G?", "G3\r"}, {"F?", "F5\r"}};
    }

    // Forgets what was written so far.
    void ClearLog()
    {
        received.clear();
        port->writes.clear();
    }

    FakeDialogs dialogs;
    FakeCommPort* port = nullptr;   // owned by the window
    std::unique_ptr<Form1> w;
    QHash<QByteArray, QByteArray> replies;
    QList<QByteArray> received;     // commands written, without the carriage return
    bool lateLf = false;            // each reply's LF arrives after the next ClearInput
};

// A window after a good connection check (Gain=1, 100sps) whose board accepts
// the rate and gain a start re-sends; `before` may change the board or the
// window first. Then the operator starts: hex or mV, channel entry (2 = both),
// count; the log holds only what the start wrote.
inline std::unique_ptr<BoardBench> StartedBench(const BuildProfile& profile, bool hex, int channel,
                                                const QString& count,
                                                const std::function<void(BoardBench&)>& before = {})
{
    auto b = std::make_unique<BoardBench>(profile, true);
    b->replies["G?"] = "G0\r";
    b->replies["F5"] = b->replies["G0"] = "OK\r";
    b->w->Button1_Click();
    if (before)
        before(*b);
    (hex ? b->w->Option1 : b->w->Option2)->setChecked(true);
    b->w->Combo2->SetListIndex(channel);
    b->w->Text1->setText(count);
    b->ClearLog();
    b->w->SendB2_Click();
    return b;
}

// `n` records in the board's shape, random around mid-scale / 0 mV (fixed
// seed); `fields` (optional) gets each record's fields.
inline QByteArray BoardRecords(bool hex, int channel, int n, unsigned seed, QList<QStringList>* fields = nullptr)
{
    std::mt19937 rng(seed);
    QByteArray s;
    for (int i = 0; i < n; ++i) {
        QStringList rec;
        for (int f = 0; f < (channel == 2 ? 2 : 1); ++f)
            rec << (hex ? QString::number(8388000 + rng() % 500, 16).toUpper()
                        : QString::asprintf("%+09.3f", (int(rng() % 4001) - 2000) / 1000.0));
        s += rec.join(QString()).toLatin1() + '\r';
        if (fields)
            *fields << rec;
    }
    return s;
}
