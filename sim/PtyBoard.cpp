#include "sim/PtyBoard.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace vexlo::sim {

namespace {

constexpr qint64 kQueueLow = 512; // make stream records while fewer bytes wait to go out
constexpr int kIdlePollMs = 250;  // longest sleep; every change also wakes the thread
constexpr int kLogLimit = 1 << 20; // received bytes kept for inspection

speed_t speedOf(Model model) { return model == Model::Tamrix ? B115200 : B38400; }

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

template<typename D>
int ceilMs(D d)
{
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
    return us <= 0 ? 0 : int(std::min<qint64>((us + 999) / 1000, kIdlePollMs));
}

} // namespace

bool parseRateMode(const QString &text, RateMode *mode)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("paced"))
        *mode = RateMode::Paced;
    else if (t == QLatin1String("flood"))
        *mode = RateMode::Flood;
    else if (t == QLatin1String("line"))
        *mode = RateMode::Line;
    else
        return false;
    return true;
}

PtyBoard::PtyBoard(const PtyOptions &options)
    : m_options(options), m_board(options.model, options.seed)
{
    m_board.setState(options.state);
    m_board.setFaults(options.faults);
}

PtyBoard::~PtyBoard() { stop(); }

QString PtyBoard::portsFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/vexlo/ports");
}

bool PtyBoard::start(QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        closeEverything();
        return false;
    };
    if (m_thread.joinable() || m_running) {
        if (error)
            *error = QStringLiteral("the simulator is already running");
        return false;
    }
    if (m_options.com < 0 || m_options.com > 255)
        return fail(QStringLiteral("COM number %1 is outside 1..255").arg(m_options.com));

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail(systemError(QStringLiteral("cannot open a pseudo-terminal")));
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(systemError(QStringLiteral("cannot unlock the pseudo-terminal")));
    char name[256];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(systemError(QStringLiteral("cannot name the pseudo-terminal")));
    m_slavePath = QFile::decodeName(name);

    // Our own slave descriptor keeps the pty alive while no host has it open:
    // without it, reads on the master fail with EIO once the host closes.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0)
        return fail(systemError(QStringLiteral("cannot open %1").arg(m_slavePath)));
    // Raw 8N1 at the model's own speed. A host that sets another speed gets
    // no answers; and when a host closes the port and its serial library
    // puts these settings back, bytes it wrote just before (the lone CR on
    // closing) still count as sent at the right speed.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0)
        return fail(systemError(QStringLiteral("cannot read the line settings of %1").arg(m_slavePath)));
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, speedOf(m_options.model));
    ::cfsetospeed(&tio, speedOf(m_options.model));
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail(systemError(QStringLiteral("cannot set the line settings of %1").arg(m_slavePath)));

    int wakeFds[2];
    if (::pipe2(wakeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        return fail(systemError(QStringLiteral("cannot create a pipe")));
    m_wakeRead = wakeFds[0];
    m_wakeWrite = wakeFds[1];

    if (m_options.com > 0) {
        const QString folder = portsFolder();
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("cannot create the folder %1").arg(folder));
        const QString link = folder + QStringLiteral("/COM%1").arg(m_options.com);
        const QByteArray linkName = QFile::encodeName(link);
        struct stat st{};
        if (::lstat(linkName.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
            return fail(QStringLiteral("%1 exists and is not a link; it was left alone").arg(link));
        // Make the link under a temporary name and rename it over the old
        // one, so a stale link is replaced in one step.
        const QByteArray tmp = linkName + ".tmp" + QByteArray::number(qint64(::getpid()));
        ::unlink(tmp.constData());
        if (::symlink(name, tmp.constData()) != 0)
            return fail(systemError(QStringLiteral("cannot create the link %1").arg(link)));
        if (::rename(tmp.constData(), linkName.constData()) != 0) {
            const QString why = systemError(QStringLiteral("cannot create the link %1").arg(link));
            ::unlink(tmp.constData());
            return fail(why);
        }
        m_linkPath = link;
    }

    m_stopRequested = false;
    m_hangUpRequested = false;
    m_hungUp = false;
    m_running = true;
    m_thread = std::thread(&PtyBoard::run, this);
    return true;
}

void PtyBoard::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = true;
        wake();
    }
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    closeEverything();
    m_changed.notify_all();
}

void PtyBoard::closeEverything()
{
    for (int *fd : {&m_master, &m_slave, &m_wakeRead, &m_wakeWrite}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    removeLink();
    m_out.clear();
    m_queuedBytes = 0;
    m_running = false;
}

// Removes the link only while it still points at our pty: another simulator
// may have taken the COM name over since.
void PtyBoard::removeLink()
{
    if (m_linkPath.isEmpty())
        return;
    const QByteArray linkName = QFile::encodeName(m_linkPath);
    char target[512];
    const ssize_t n = ::readlink(linkName.constData(), target, sizeof target - 1);
    if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == m_slavePath)
        ::unlink(linkName.constData());
}

void PtyBoard::wake()
{
    if (m_wakeWrite >= 0) {
        const char c = 'w';
        [[maybe_unused]] const ssize_t ignored = ::write(m_wakeWrite, &c, 1);
    }
}

bool PtyBoard::isRunning() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

bool PtyBoard::hungUp() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hungUp;
}

QString PtyBoard::slavePath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slavePath;
}

QString PtyBoard::linkPath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_linkPath;
}

Faults PtyBoard::faults() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_board.faults();
}

void PtyBoard::setFaults(const Faults &faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_board.setFaults(faults);
    wake();
}

void PtyBoard::setDrift(const Drift &drift)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_board.setDrift(drift);
}

void PtyBoard::setRateMode(RateMode mode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_options.rateMode = mode;
    wake();
}

BoardState PtyBoard::boardState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_board.state();
}

void PtyBoard::setBoardState(const BoardState &state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_board.setState(state);
}

void PtyBoard::hangUp()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hangUpRequested = true;
    wake();
}

QByteArray PtyBoard::receivedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

QList<QByteArray> PtyBoard::commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

int PtyBoard::commandCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_commands.size());
}

qint64 PtyBoard::ignoredBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ignored;
}

qint64 PtyBoard::recordsWritten() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_recordsWritten;
}

bool PtyBoard::streaming() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_board.streaming();
}

void PtyBoard::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_commands.clear();
}

bool PtyBoard::waitForCommands(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_commands.size() >= count; });
}

bool PtyBoard::waitForHangUp(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_hungUp; });
}

bool PtyBoard::lineMatchesModel() const
{
    termios tio{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0)
        return false;
    const speed_t want = speedOf(m_options.model);
    const speed_t in = ::cfgetispeed(&tio);
    return ::cfgetospeed(&tio) == want && (in == want || in == B0);
}

bool PtyBoard::shouldHangUp() const
{
    if (m_hangUpRequested)
        return true;
    if (!m_out.empty())
        return false; // what is due goes out first
    const Faults &f = m_board.faults();
    if (f.hangupAfterCommands >= 0 && m_totalCommands >= f.hangupAfterCommands)
        return true;
    return f.hangupAfterRecords >= 0 && (m_board.streaming() || m_board.streamRecords() > 0)
           && m_board.streamRecords() >= f.hangupAfterRecords;
}

// A hang-up throws away what the host has not read yet. The hang-up faults
// therefore wait until the host's input queue has been found empty at three
// checks in a row (10 ms apart), or two seconds at most, so the host gets
// exactly what was sent before the line goes dead.
bool PtyBoard::hostHasReadAll(Clock::time_point now)
{
    if (m_drainChecks == 0)
        m_drainDeadline = now + std::chrono::seconds(2);
    int pending = 0;
    if (::ioctl(m_slave, FIONREAD, &pending) != 0)
        pending = 0;
    m_drainChecks = pending > 0 ? 1 : m_drainChecks + 1;
    return m_drainChecks > 3 || now >= m_drainDeadline;
}

void PtyBoard::readInput(Clock::time_point now)
{
    char buf[4096];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        // Cannot happen while we hold the slave open; if the pty is broken
        // anyway, end like a hang-up instead of polling a dead descriptor.
        m_hangUpRequested = true;
        return;
    }
    if (!lineMatchesModel()) {
        m_ignored += n; // a real board hears only noise at another speed
        m_changed.notify_all();
        return;
    }
    const QByteArray data(buf, int(n));
    m_received += data;
    if (m_received.size() > kLogLimit) // a runaway host must not eat memory
        m_received.remove(0, m_received.size() - kLogLimit / 2);
    QList<QByteArray> cmds;
    const quint64 streamBefore = m_board.streamId();
    const QByteArray reply = m_board.receive(data, &cmds);
    m_commands += cmds;
    if (m_commands.size() > kLogLimit / 64)
        m_commands.remove(0, m_commands.size() - kLogLimit / 128);
    m_totalCommands += int(cmds.size());
    if (m_board.streamId() != streamBefore) {
        // A stop or a new start: records of the old stream that have not
        // begun to leave are dropped, as a board would not have made them.
        for (auto it = m_out.begin(); it != m_out.end();) {
            if (it->record && it->offset == 0) {
                m_queuedBytes -= it->data.size();
                it = m_out.erase(it);
            } else {
                ++it;
            }
        }
        m_streamStart = now;
    }
    if (!reply.isEmpty()) {
        const Faults &f = m_board.faults();
        // The LF and the stray byte leave in writes of their own after the
        // reply (tailGapMs later), so the host may see the CR before them.
        int gapMs = 0;
        const bool late = f.lateOnly.isEmpty()
                          || std::any_of(cmds.cbegin(), cmds.cend(),
                                         [&](const QByteArray &c) { return c.startsWith(f.lateOnly); });
        for (const QByteArray &piece : {reply, QByteArray(f.crLf && reply.endsWith('\r') ? "\n" : ""),
                                        QByteArray(f.lateByte ? "#" : "")}) {
            if (piece.isEmpty())
                continue;
            Chunk c;
            c.data = piece;
            c.notBefore = now + std::chrono::milliseconds(late ? std::max(0, f.lateMs) : 0);
            c.gapMs = gapMs;
            gapMs = std::max(0, f.tailGapMs);
            m_queuedBytes += piece.size();
            m_out.push_back(std::move(c));
        }
    }
    m_changed.notify_all();
}

void PtyBoard::produceRecords(Clock::time_point now)
{
    const Faults &f = m_board.faults();
    while (m_board.streaming() && m_queuedBytes < kQueueLow) {
        if (f.hangupAfterRecords >= 0 && m_board.streamRecords() >= f.hangupAfterRecords)
            return;
        if (m_options.rateMode == RateMode::Paced) {
            const double sps = m_board.recordsPerSecond();
            const auto due = m_streamStart + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>((m_board.streamRecords() + 1) / sps));
            if (now < due)
                return;
        }
        Chunk c;
        c.data = m_board.nextRecord();
        if (c.data.isEmpty())
            return;
        c.record = c.data.size() == m_board.recordLength(); // a cut-off piece is no record
        c.notBefore = now;
        m_queuedBytes += c.data.size();
        m_out.push_back(std::move(c));
    }
}

int PtyBoard::recordWaitMs(Clock::time_point now) const
{
    if (!m_board.streaming() || m_queuedBytes >= kQueueLow)
        return -1;
    const Faults &f = m_board.faults();
    if (f.hangupAfterRecords >= 0 && m_board.streamRecords() >= f.hangupAfterRecords)
        return -1;
    if (m_options.rateMode != RateMode::Paced)
        return 0; // the queue has room: make more records right away
    const double sps = m_board.recordsPerSecond();
    const auto due = m_streamStart + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>((m_board.streamRecords() + 1) / sps));
    return std::max(1, ceilMs(due - now));
}

int PtyBoard::writeOutput(Clock::time_point now, bool *needWritable)
{
    const Faults &f = m_board.faults();
    const bool lineLimited = m_options.rateMode != RateMode::Flood;
    const double bytesPerSecond = baudRate(m_options.model) / 10.0;
    while (!m_out.empty()) {
        Chunk &c = m_out.front();
        if (now < c.notBefore)
            return std::max(1, ceilMs(c.notBefore - now));
        int n = c.data.size() - c.offset;
        if (f.split) {
            const auto next = m_lastWrite + std::chrono::milliseconds(std::max(0, f.splitGapMs));
            if (now < next)
                return std::max(1, ceilMs(next - now));
            n = 1;
        }
        if (lineLimited) {
            const int allowed = int(m_credit);
            if (allowed < 1)
                return std::max(1, int(std::ceil((1.0 - m_credit) * 1000.0 / bytesPerSecond)));
            n = std::min(n, allowed);
        }
        const ssize_t w = ::write(m_master, c.data.constData() + c.offset, size_t(n));
        if (w < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                *needWritable = true;
                return -1;
            }
            m_hangUpRequested = true;
            return 0;
        }
        m_lastWrite = now;
        if (lineLimited)
            m_credit -= double(w);
        c.offset += int(w);
        m_queuedBytes -= w;
        if (c.offset >= c.data.size()) {
            if (c.record)
                ++m_recordsWritten;
            m_out.pop_front();
            if (!m_out.empty() && m_out.front().gapMs > 0)
                m_out.front().notBefore = std::max(m_out.front().notBefore,
                                                   now + std::chrono::milliseconds(m_out.front().gapMs));
        }
    }
    return -1;
}

void PtyBoard::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_creditTime = Clock::now();
    m_credit = 0;
    m_lastWrite = m_creditTime - std::chrono::hours(1);
    while (!m_stopRequested) {
        const auto now = Clock::now();
        int drainWait = -1;
        if (!shouldHangUp()) {
            m_drainChecks = 0;
        } else if (!m_hangUpRequested && !hostHasReadAll(now)) {
            drainWait = 10;
        } else {
            // A real hang-up: both our descriptors go, so the host's side of
            // the pty reports the far end gone; the COM link goes too.
            for (int *fd : {&m_master, &m_slave}) {
                ::close(*fd);
                *fd = -1;
            }
            removeLink();
            m_out.clear();
            m_queuedBytes = 0;
            m_hungUp = true;
            m_running = false;
            m_changed.notify_all();
            return;
        }
        if (m_options.rateMode != RateMode::Flood) {
            const double bytesPerSecond = baudRate(m_options.model) / 10.0;
            const double elapsed = std::chrono::duration<double>(now - m_creditTime).count();
            m_credit = std::min(m_credit + elapsed * bytesPerSecond, std::max(64.0, bytesPerSecond / 100.0));
        }
        m_creditTime = now;

        produceRecords(now);
        bool needWritable = false;
        const int writeWait = writeOutput(now, &needWritable);
        if (m_hangUpRequested)
            continue;
        int timeout = kIdlePollMs;
        // While the pty is full, making records can wait for room as well.
        for (int w : {drainWait, writeWait, needWritable ? -1 : recordWaitMs(now)})
            if (w >= 0)
                timeout = std::min(timeout, w);

        pollfd fds[2] = {{m_master, short(POLLIN | (needWritable ? POLLOUT : 0)), 0},
                         {m_wakeRead, POLLIN, 0}};
        lock.unlock();
        const int r = ::poll(fds, 2, timeout);
        lock.lock();
        if (r < 0) {
            if (errno != EINTR)
                m_hangUpRequested = true;
            continue;
        }
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        if (!m_stopRequested && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            readInput(Clock::now());
    }
}

} // namespace vexlo::sim
