#pragma once
// The window's serial component as the rest of the program sees it: exactly
// the operations the handlers use, so unit tests can stand a fake in for the
// real port. The production implementation (QtCommPort) wraps QSerialPort.

#include <QByteArray>
#include <QObject>
#include <QString>

class CommPort : public QObject {
    Q_OBJECT
public:
    enum Event { ComEvReceive = 2 };

    using QObject::QObject;
    ~CommPort() override = default;

    virtual bool PortOpen() const = 0;
    // Opens the port with the COM number and settings given before. False
    // when the port cannot be opened (does not exist, busy, refused number).
    virtual bool Open() = 0;
    // Closes the port once every byte written has left the driver, so the
    // last command before closing goes out at the port's own settings.
    virtual void Close() = 0;
    // False when the number is one the serial layer refuses (0 or below).
    virtual bool SetCommPort(int number) = 0;
    virtual int CommPortNumber() const = 0;
    // "115200,N,8,1" style text. False when it cannot be applied.
    virtual bool SetSettings(const QString& settings) = 0;
    virtual QString Settings() const = 0;
    // Empties the receive buffer and throws away what the driver holds and
    // has not handed over yet; bytes arriving afterwards are kept.
    virtual void ClearInput() = 0;
    // 0 = no receive events; 1 = a receive event whenever characters arrived.
    virtual void SetRThreshold(int threshold) = 0;
    virtual int RThreshold() const = 0;
    virtual void SetSThreshold(int threshold) = 0;
    virtual void SetHandshakingNone() = 0;
    // Every byte received and not yet read, removed from the buffer.
    virtual QByteArray Input() = 0;
    // Writes the bytes; false when the port is not open or the write fails.
    virtual bool Output(const QByteArray& data) = 0;

signals:
    // The receive event (code ComEvReceive), raised only while RThreshold() > 0.
    void OnComm(int event);
    // Bytes arrived, whatever the threshold (wakes a waiting transaction).
    void BytesArrived();
    // The device failed (hang-up, removed adapter); the port has closed itself.
    void PortFailed();
};

// The real serial port of this platform (a QtCommPort), owned by `parent`.
CommPort* CreateDefaultCommPort(QObject* parent);
