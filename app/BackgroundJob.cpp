#include "app/BackgroundJob.h"

void BackgroundJob::Start(QObject* context, std::function<void(const std::atomic<bool>& cancel)> work,
                          std::function<void()> done)
{
    Stop();
    const quint64 id = ++id_;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, context, id, cancel = cancel_, work = std::move(work),
                           done = std::move(done)]() mutable {
        work(*cancel);
        // Queued to the context's thread; Qt drops it if the context is gone.
        QMetaObject::invokeMethod(context, [this, id, done = std::move(done)] {
            if (id != id_ || !thread_.joinable())
                return;  // stopped or replaced since
            thread_.join();
            done();
        }, Qt::QueuedConnection);
    });
}

void BackgroundJob::Stop()
{
    if (!thread_.joinable())
        return;
    cancel_->store(true);
    thread_.join();
}
