#include "stream/LogWriter.h"

#include <QDateTime>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "measure/SampleBlock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWriteEvery = std::chrono::milliseconds(250);
constexpr auto kSyncEvery = std::chrono::seconds(1);

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Offset just past the CR LF that ends line `n` (1-based); -1 if missing.
qsizetype lineEnd(const QByteArray& bytes, int n)
{
    qsizetype pos = 0;
    for (int i = 0; i < n; ++i) {
        const qsizetype cr = bytes.indexOf("\r\n", pos);
        if (cr < 0)
            return -1;
        pos = cr + 2;
    }
    return pos;
}

// Writes all of `bytes` at `offset`; returns the bytes written (less than
// the size when a write failed, errno then says why).
qint64 writeAt(int fd, const QByteArray& bytes, qint64 offset)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            break;
        }
        done += n;
    }
    return done;
}

bool syncFolderOf(const QString& path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

LogWriter::LogWriter(const QString& path, bool timeColumn)
    : path_(path), timeColumn_(timeColumn), gate_(qgetenv("VEXLO_LOG_WRITER_GATE"))
{
}

LogWriter::~LogWriter()
{
    if (begun_ && !finished_)
        Finish(rows_.load());
    if (fd_ >= 0)
        ::close(fd_);
    if (!begun_ && !tempPath_.isEmpty())
        ::unlink(QFile::encodeName(tempPath_).constData());
}

void LogWriter::fail(const QString& reason)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.isEmpty())
        error_ = path_ + QStringLiteral(": ") + reason;
    failed_ = true;
}

QString LogWriter::Error() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

bool LogWriter::Prepare()
{
    if (fd_ >= 0)
        return true;
    if (path_.isEmpty()) {
        fail(QStringLiteral("no file name"));
        return false;
    }
    const QFileInfo target(path_);
    const QByteArray native = QFile::encodeName(path_);
    struct stat st = {};
    mode_t mode = 0;
    if (::stat(native.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            fail(target.isDir() ? systemReason(EISDIR) : QStringLiteral("not an ordinary file"));
            return false;
        }
        if (::access(native.constData(), W_OK) != 0) {
            fail(systemReason(errno));
            return false;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // The temporary file beside the target: the rename in Begin stays on one
    // file system, and a folder we cannot write shows up now.
    QByteArray name = QFile::encodeName(target.absolutePath() + QStringLiteral("/.")
                                        + target.fileName() + QStringLiteral(".XXXXXX"));
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        fail(systemReason(errno));
        return false;
    }
    tempPath_ = QFile::decodeName(name);
    ::fchmod(fd_, mode);
    return true;
}

bool LogWriter::Begin(const StreamInfo& info)
{
    if (begun_ || !Prepare())
        return false;
    header_ = info.header;
    header_.samples = nullptr;
    header_.rowCount = 0;
    startMs_ = info.started.toMSecsSinceEpoch();
    sps_ = info.samplesPerSecond;
    QByteArray bytes;
    QString reason;
    if (!EncodeDataFile(header_, bytes, &reason)) {
        fail(reason);
        return false;
    }
    // Line 7 ends with the count, " 0" for an empty block; it gets room for
    // kCountWidth characters so that it can be rewritten in place.
    const qsizetype end7 = lineEnd(bytes, 7) - 2;
    if (end7 < 1 || bytes[end7 - 1] != '0') {
        fail(QStringLiteral("channel mode %1 has no rows").arg(header_.channelMode));
        return false;
    }
    countPos_ = end7 - 1;
    bytes.replace(countPos_, 1, QByteArray("0").leftJustified(kCountWidth, ' '));
    if (timeColumn_) {
        QByteArray cell;
        EncodeShiftJis(QStringLiteral("時刻,"), cell);
        bytes.insert(end7 + kCountWidth - 1 + 2, cell);
    }
    if (writeAt(fd_, bytes, 0) != bytes.size()) {
        fail(systemReason(errno));
        return false;
    }
    // Only now, with the stream running and the header written, does the
    // file take the target's place; the writer thread syncs the folder so
    // that the new name survives a power cut.
    if (::rename(QFile::encodeName(tempPath_).constData(), QFile::encodeName(path_).constData()) != 0) {
        fail(systemReason(errno));
        return false;
    }
    begun_ = true;
    end_ = bytes.size();
    thread_ = std::thread([this] { run(); });
    return true;
}

QByteArray LogWriter::timeCell(qint64 index) const
{
    if (sps_ <= 0)
        return QByteArray();
    const qint64 ms = startMs_ + std::llround(double(index) * 1000.0 / sps_);
    return QDateTime::fromMSecsSinceEpoch(ms)
        .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"))
        .toLatin1();
}

bool LogWriter::Append(const SampleBlock& rows, int count, qint64 firstIndex)
{
    if (failed_)
        return false;
    if (!begun_) {
        fail(QStringLiteral("the log was not begun"));
        return false;
    }
    if (count <= 0)
        return true;
    DataFileContent content = header_;
    content.samples = &rows;
    content.rowCount = count;
    QByteArray bytes;
    QString reason;
    if (!EncodeDataFile(content, bytes, &reason)) {
        fail(reason);
        return false;
    }
    Chunk chunk;
    const qsizetype start = lineEnd(bytes, 8);
    if (!timeColumn_) {
        chunk.bytes = bytes.mid(start);
    } else {
        chunk.bytes.reserve((bytes.size() - start) + count * 24);
        qsizetype pos = start;
        for (int i = 0; i < count; ++i) {
            const qsizetype next = bytes.indexOf("\r\n", pos) + 2;
            chunk.bytes += timeCell(firstIndex + i);
            chunk.bytes += ',';
            chunk.bytes.append(bytes.constData() + pos, next - pos);
            pos = next;
        }
    }
    chunk.rows = count;
    std::lock_guard<std::mutex> lock(mutex_);
    if (queuedBytes_ + chunk.bytes.size() > kMaxQueuedBytes) {
        if (error_.isEmpty())
            error_ = path_ + QStringLiteral(": the disk fell behind by more than %1 MiB")
                                 .arg(kMaxQueuedBytes >> 20);
        failed_ = true;
        return false;
    }
    queuedBytes_ += chunk.bytes.size();
    queue_.push_back(std::move(chunk));
    return true;
}

// Writes one chunk after the last whole row. A write that fails part way
// leaves the file cut back to its last whole row, synced, with the count of
// the rows in it.
bool LogWriter::writeChunk(const Chunk& chunk)
{
    const qint64 done = writeAt(fd_, chunk.bytes, end_);
    if (done == chunk.bytes.size()) {
        end_ += done;
        rows_ += chunk.rows;
        return true;
    }
    const int err = errno;
    const qsizetype lastLf = done > 0 ? chunk.bytes.lastIndexOf('\n', done - 1) : -1;
    const QByteArray whole = chunk.bytes.left(lastLf + 1);
    end_ += whole.size();
    rows_ += whole.count('\n');
    if (::ftruncate(fd_, end_) == 0)
        syncAndCount();
    fail(systemReason(err));
    return false;
}

// Rows first, then the count that tells of them.
bool LogWriter::syncAndCount()
{
    if (::fdatasync(fd_) != 0) {
        fail(systemReason(errno));
        return false;
    }
    const QByteArray count = QByteArray::number(rows_.load()).leftJustified(kCountWidth, ' ');
    if (writeAt(fd_, count, countPos_) != count.size()) {
        fail(systemReason(errno));
        return false;
    }
    return true;
}

void LogWriter::run()
{
    syncFolderOf(path_);
    auto lastSync = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kWriteEvery, [this] { return stopping_; });
        std::deque<Chunk> batch;
        batch.swap(queue_);
        queuedBytes_ = 0;
        const bool stop = stopping_;
        lock.unlock();
        // Test hook: a disk that stalls for as long as the gate file exists.
        while (!gate_.isEmpty() && ::access(gate_.constData(), F_OK) == 0)
            ::usleep(20000);
        for (const Chunk& chunk : batch) {
            if (failed_ || !writeChunk(chunk))
                break;
        }
        if (!failed_ && (stop || Clock::now() - lastSync >= kSyncEvery)) {
            syncAndCount();
            lastSync = Clock::now();
        }
        lock.lock();
        if (stop && queue_.empty())
            break;
    }
}

bool LogWriter::Finish(qint64 /*total*/)
{
    if (!begun_ || finished_)
        return !failed_;
    finished_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // The count written by the last pass reaches the disk too.
    if (!failed_ && ::fdatasync(fd_) != 0)
        fail(systemReason(errno));
    if (::close(fd_) != 0 && !failed_)
        fail(systemReason(errno));
    fd_ = -1;
    return !failed_;
}
