#pragma once
// SIGINT, SIGTERM and SIGHUP as an event of the program's event loop: the handler
// only writes the signal number into a pipe; a socket notifier reads it on
// the main thread, records it and emits `raised`. Nothing else runs inside
// the signal handler.

#include <QObject>

class QSocketNotifier;

class SignalWatch : public QObject {
    Q_OBJECT
public:
    explicit SignalWatch(QObject* parent = nullptr);
    ~SignalWatch() override;

    // The first signal received (0: none yet).
    int Signal() const { return signal_; }
    bool Raised() const { return signal_ != 0; }

signals:
    void raised(int signal);

private:
    void onReadable();
    QSocketNotifier* notifier_ = nullptr;
    int signal_ = 0;
};
