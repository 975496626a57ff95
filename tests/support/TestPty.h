#pragma once
// A bare pseudo-terminal for serial-port tests that need the far side under
// the test's own control: the line settings the host applied (read back from
// the master), bytes written by hand, and a hang-up (the master closed under
// an open port).
//
//   ComConfigDir cfg;                  // XDG_CONFIG_HOME -> a temporary folder
//   TestPty pty; QVERIFY(pty.open()); QVERIFY(pty.linkAs(cfg, 4));  // COM4

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

struct termios;

// Points XDG_CONFIG_HOME at a temporary folder for its lifetime and restores
// the previous value afterwards.
class ComConfigDir {
public:
    ComConfigDir();
    ~ComConfigDir();
    QString portsFolder() const;   // <tmp>/vexlo/ports (created)
    // Makes COM<com> a link to `target` (which need not exist).
    bool link(int com, const QString& target) const;
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray saved_; // null: the variable was not set
};

class TestPty {
public:
    TestPty() = default;
    ~TestPty();
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    // Opens master and slave. A slave descriptor is kept open so that the
    // host closing its port is not a hang-up for the master.
    bool open();
    bool linkAs(const ComConfigDir& cfg, int com) const { return cfg.link(com, slavePath_); }
    QString slavePath() const { return slavePath_; }

    // The line settings the slave side currently has.
    bool lineSettings(termios* out) const;
    // Baud rate as a number (e.g. 115200), 0 when unknown.
    int baudRate() const;

    bool write(const QByteArray& bytes) const; // a few bytes: one write, all or nothing
    // Everything the host wrote that arrives within `ms` milliseconds.
    QByteArray readFor(int ms) const;

    // The far side goes away: master and kept slave closed.
    void hangUp();

private:
    int master_ = -1;
    int keptSlave_ = -1;
    QString slavePath_;
};
