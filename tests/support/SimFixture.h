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

struct SimFixture {
    ComConfigDir cfg;                               // first built, last gone
    std::unique_ptr<vexlo::sim::PtyBoard> board;    // set by start()
    QString error;                                  // why start() failed

    bool start(vexlo::sim::Model model, int com = 4,
               vexlo::sim::RateMode mode = vexlo::sim::RateMode::Flood);
    bool start(const vexlo::sim::PtyOptions &options);
};
