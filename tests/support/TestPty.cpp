#include "support/TestPty.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <utility>
#include <unistd.h>

ComConfigDir::ComConfigDir()
{
    saved_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME") ? qgetenv("XDG_CONFIG_HOME") : QByteArray();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
    QDir().mkpath(portsFolder());
}

ComConfigDir::~ComConfigDir()
{
    saved_.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved_);
}

QString ComConfigDir::portsFolder() const
{
    return dir_.path() + QStringLiteral("/vexlo/ports");
}

bool ComConfigDir::link(int com, const QString& target) const
{
    const QString name = portsFolder() + QStringLiteral("/COM%1").arg(com);
    QFile::remove(name);
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(name).constData()) == 0;
}

TestPty::~TestPty() { hangUp(); }

bool TestPty::open()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    const char* name = master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 ? ::ptsname(master_) : nullptr;
    if (!name || (keptSlave_ = ::open(name, O_RDWR | O_NOCTTY)) < 0)
        return false;
    slavePath_ = QString::fromLocal8Bit(name);
    // Raw on both sides: no echo, no line editing, CR passes unchanged.
    termios t{};
    ::tcgetattr(keptSlave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(keptSlave_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool TestPty::lineSettings(termios* out) const
{
    // On Linux the master reports the slave's settings.
    return master_ >= 0 && ::tcgetattr(master_, out) == 0;
}

int TestPty::baudRate() const
{
    termios t{};
    if (!lineSettings(&t))
        return 0;
    for (const auto& [code, rate] : {std::pair{speed_t(B9600), 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}})
        if (::cfgetospeed(&t) == code)
            return rate;
    return 0;
}

bool TestPty::write(const QByteArray& bytes) const
{
    // A few bytes at a time: far below what the pty holds, so one write.
    return ::write(master_, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
}

QByteArray TestPty::readFor(int ms) const
{
    QByteArray out;
    char buf[4096];
    QElapsedTimer t;
    t.start();
    for (qint64 left = ms; left > 0; left = ms - t.elapsed()) {
        pollfd p{master_, POLLIN, 0};
        for (ssize_t n = ::poll(&p, 1, int(left)) > 0 ? 1 : 0; n > 0;)
            if ((n = ::read(master_, buf, sizeof buf)) > 0)
                out.append(buf, n);
    }
    return out;
}

void TestPty::hangUp()
{
    if (master_ >= 0)
        ::close(master_);
    if (keptSlave_ >= 0)
        ::close(keptSlave_);
    master_ = keptSlave_ = -1;
}
