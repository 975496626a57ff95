#include "support/SimFixture.h"

using namespace vexlo::sim;

bool SimFixture::start(Model model, int com, RateMode mode)
{
    PtyOptions o;
    o.model = model;
    o.com = com;
    o.rateMode = mode;
    return start(o);
}

bool SimFixture::start(const PtyOptions &options)
{
    board = std::make_unique<PtyBoard>(options);
    error.clear();
    return board->start(&error);
}
