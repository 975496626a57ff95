#pragma once
// A window wired to an in-process fake port and a scripted board, for the
// board-configuration unit tests. The board answers each command from a
// table; a command without an entry gets no answer at all.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "app/Form1.h"
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
            if (it != replies.constEnd())
                port->Feed(*it);
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
};
