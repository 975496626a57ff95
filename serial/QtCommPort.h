#pragma once
// The production serial port: CommPort over QSerialPort.
//
// COM numbers are mapped to device names by ResolveComPortName(). The receive
// threshold is emulated: while it is 0, arrived bytes stay in QSerialPort's
// buffer and no receive event is raised; BytesArrived is raised on every
// arrival whatever the threshold. A device that goes away (hang-up of a pty,
// unplugged adapter) closes the port once, from the event loop, and raises
// PortFailed once. Every close (Close(), a lost device, destruction) first
// waits until the bytes written have left the driver.

#include <QString>
#include <QtSerialPort/QSerialPort>
#include <optional>

#include "serial/CommPort.h"

// Line settings as the "baud,parity,data,stop" text describes them.
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Reads a settings text such as "115200,N,8,1": a positive baud rate, parity
// N/E/O/M/S (either case), 5 to 8 data bits and 1, 1.5 or 2 stop bits, with
// blanks around the fields allowed. Empty for anything else.
std::optional<LineSettings> ParseLineSettings(const QString& text);

// Device name of COM<number> (number >= 1). On Windows the system name
// "COM<n>". Elsewhere the target of the link
// ${XDG_CONFIG_HOME:-$HOME/.config}/vexlo/ports/COM<n> when that link exists
// (read from the environment at each call), otherwise /dev/ttyS<n-1>.
// Empty for numbers below 1.
QString ResolveComPortName(int number);

// The folder that holds the COM links (the environment is read at each call).
QString ComPortLinkFolder();

class QtCommPort : public CommPort {
    Q_OBJECT
public:
    explicit QtCommPort(QObject* parent = nullptr);
    ~QtCommPort() override;

    bool PortOpen() const override;
    bool Open() override;
    void Close() override;
    bool SetCommPort(int number) override;
    int CommPortNumber() const override { return number_; }
    bool SetSettings(const QString& settings) override;
    QString Settings() const override { return settings_; }
    void ClearInput() override;
    void SetRThreshold(int threshold) override { rthreshold_ = threshold; }
    int RThreshold() const override { return rthreshold_; }
    void SetSThreshold(int threshold) override { sthreshold_ = threshold; }
    void SetHandshakingNone() override;
    QByteArray Input() override;
    bool Output(const QByteArray& data) override;

    // Device name resolved by the last Open() (for tests and diagnostics).
    QString DeviceName() const { return device_; }
    // A device path to open instead of the COM number's device (the
    // command-line tool's --port); empty: the COM number decides.
    void SetDevicePath(const QString& path) { devicePath_ = path; }

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void failNow();
    // Closes the port once everything written has left the driver.
    void closeDrained();
    bool apply(const LineSettings& s);

    QSerialPort* port_;
    QString device_;
    QString devicePath_;
    int number_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    LineSettings line_;
    int rthreshold_ = 0;
    int sthreshold_ = 0;
    // A device error was seen and the queued close has not run yet.
    bool failPending_ = false;
};
