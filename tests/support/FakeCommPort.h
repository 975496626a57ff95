#pragma once
// In-process stand-in for the serial port, for unit tests only. It records
// what the window writes and lets a test inject received bytes, immediately
// or from a reply script run on every write.

#include <QByteArray>
#include <QList>
#include <functional>
#include <utility>

#include "serial/CommPort.h"

class FakeCommPort : public CommPort {
    Q_OBJECT
public:
    using CommPort::CommPort;

    // --- CommPort -----------------------------------------------------------
    bool PortOpen() const override { return open_; }
    bool Open() override { return !open_ && !failOpen && (++openCount, open_ = true); }
    void Close() override { open_ = false; }
    bool SetCommPort(int number) override { return number >= 1 && (number_ = number, true); }
    int CommPortNumber() const override { return number_; }
    bool SetSettings(const QString& settings) override { settings_ = settings; return true; }
    QString Settings() const override { return settings_; }
    void ClearInput() override { input_.clear(); }
    void SetRThreshold(int t) override { rthreshold_ = t; }
    int RThreshold() const override { return rthreshold_; }
    void SetSThreshold(int) override {}
    void SetHandshakingNone() override {}
    QByteArray Input() override { return std::exchange(input_, QByteArray()); }
    bool Output(const QByteArray& data) override;

    // --- Test control ------------------------------------------------------
    // Appends bytes to the receive buffer and raises the events a real port
    // would (BytesArrived always, OnComm while the threshold is above 0).
    // With `queued` the bytes arrive from the event loop, as from a device.
    void Feed(const QByteArray& bytes, bool queued = true);
    // Called with each write; may Feed() a reply.
    std::function<void(const QByteArray&)> onWrite;

    bool failOpen = false;       // Open() fails (busy / missing device)
    QList<QByteArray> writes;    // every Output(), in order
    int openCount = 0;

private:
    bool open_ = false;
    int number_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    int rthreshold_ = 0;
    QByteArray input_;
};
