#pragma once
// Shared by the window tests: the profile as a table column, the state of
// the board buttons, and a disk that fills up.

#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <functional>
#include <sys/resource.h>

#include "app/Form1.h"

Q_DECLARE_METATYPE(const BuildProfile*)

// True when every board button is in the state `on`.
inline bool BoardButtonsAre(const Form1& w, bool on)
{
    const QList<QPushButton*> buttons = {w.Command6, w.Command7, w.Command8, w.Command29, w.Command1, w.SendB2};
    return std::all_of(buttons.begin(), buttons.end(), [on](QPushButton* b) { return b->isEnabled() == on; });
}

// Runs `run` with the process's file-size limit at `bytes`: writes beyond it
// fail (EFBIG, the signal ignored) as on a full disk. Restores both after.
inline bool WithFileSizeLimit(rlim_t bytes, const std::function<bool()>& run)
{
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const struct rlimit small = {bytes, saved.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const bool limited = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    const bool result = run();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    return result || !limited; // a limit not set must not pass for a failed save
}
