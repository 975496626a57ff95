#pragma once
// One piece of work on a thread of its own for a window: reading a long file,
// analysing a span of it. The window stays responsive; its result is handed
// back on the window's thread. Starting another job, Stop() or destroying the
// owner cancels the running one: the work sees the flag at its next check,
// the thread is joined, and its `done` never runs (a result already on its
// way is dropped), so a late result cannot overwrite a newer one.

#include <QObject>
#include <QtGlobal>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class BackgroundJob {
public:
    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    ~BackgroundJob() { Stop(); }

    // Stops a running job, then runs `work` on a new thread; when it returns,
    // `done` runs on `context`'s thread (not at all if `context` is gone).
    // `work` reads the cancel flag to stop early; what it writes the caller
    // reads in `done`, after the thread has been joined.
    void Start(QObject* context, std::function<void(const std::atomic<bool>& cancel)> work,
               std::function<void()> done);
    // Cancels and joins the running job, if any; its `done` never runs.
    void Stop();
    bool Running() const { return thread_.joinable(); }

private:
    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    quint64 id_ = 0;
};
