// Test helpers around the board simulator (sim/), for every test that needs
// a board at the far end of a real serial port.
//
//   SimFixture sim;                         // XDG_CONFIG_HOME -> a temporary folder
//   QVERIFY2(sim.start(vexlo::sim::Model::Tamrix, 4), qPrintable(sim.error));
//   // the host now finds the board as "COM4"; sim.board->commands() shows
//   // what it received, sim.board->setFaults(...) changes its behaviour.
//
// The fixture stops the board (removing the link) and then restores
// XDG_CONFIG_HOME when it goes out of scope. Streams default to
// RateMode::Flood so tests do not wait for slow data rates; pass PtyOptions
// to choose.
#pragma once

#include "sim/PtyBoard.h"
#include "support/TestPty.h"

#include <memory>

class QSerialPort;

struct SimFixture {
    ComConfigDir cfg;                               // first built, last gone
    std::unique_ptr<vexlo::sim::PtyBoard> board;    // set by start()
    QString error;                                  // why start() failed

    bool start(vexlo::sim::Model model, int com = 4,
               vexlo::sim::RateMode mode = vexlo::sim::RateMode::Flood);
    bool start(const vexlo::sim::PtyOptions &options);
    QString linkPath() const;  // where the COM link of the board's number lives

private:
    int m_com = 0;
};

// Host-side helpers on a QSerialPort (8N1, no flow control).
bool openSimPort(QSerialPort &port, const QString &path, int baud);
// Reads whatever arrives within ms milliseconds.
QByteArray readFor(QSerialPort &port, int ms);
// Reads until `count` bytes have arrived or ms milliseconds have passed.
QByteArray readBytes(QSerialPort &port, int count, int ms);
// Writes cmd + "\r" and reads until a "\r" arrives or ms milliseconds pass.
QByteArray transact(QSerialPort &port, const QByteArray &cmd, int ms = 1000);
