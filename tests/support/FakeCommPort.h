#pragma once
// In-process stand-in for the serial port, for unit tests only. It records
// what the window writes and lets a test inject received bytes, immediately
// or from a reply script run on every write. As with QSerialPort, queued
// bytes first reach the driver and reach the program only when the event
// loop runs; Input() reads only what the program has, ClearInput() drops both.

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
    bool Open() override { return !open_ && !failOpen && (open_ = true); }
    void Close() override { open_ = false; driver_.clear(); }
    bool SetCommPort(int number) override { return number >= 1 && (number_ = number, true); }
    int CommPortNumber() const override { return number_; }
    bool SetSettings(const QString& settings) override { settings_ = settings; return true; }
    QString Settings() const override { return settings_; }
    void ClearInput() override;
    void SetRThreshold(int t) override { rthreshold_ = t; }
    int RThreshold() const override { return rthreshold_; }
    void SetSThreshold(int) override {}
    void SetHandshakingNone() override {}
    QByteArray Input() override { return std::exchange(input_, QByteArray()); }
    bool Output(const QByteArray& data) override;

    // --- Test control ------------------------------------------------------
    // Bytes arrive: they reach the program's buffer and raise the events a
    // real port would (BytesArrived always, OnComm while the threshold is
    // above 0). With `queued` they wait in the driver until the event loop
    // runs, together with any others that reached the driver meanwhile.
    void Feed(const QByteArray& bytes, bool queued = true);
    // Called with each write; may Feed() a reply.
    std::function<void(const QByteArray&)> onWrite;

    // Bytes still on the wire (a CR LF board's LF a moment late): they reach
    // the driver just after the next ClearInput(), in front of any reply.
    QByteArray afterClear;
    bool failOpen = false;       // Open() fails (busy / missing device)
    QList<QByteArray> writes;    // every Output(), in order

private:
    bool open_ = false;
    int number_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    int rthreshold_ = 0;
    QByteArray input_;
    QByteArray driver_; // arrived, not yet handed to the program
};
