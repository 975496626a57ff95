#include "cli/Progress.h"

#include <QByteArray>
#include <cstdio>
#include <unistd.h>

namespace {

QByteArray clockText(qint64 seconds)
{
    return QByteArray::number(seconds / 3600) + ':'
         + QByteArray::number(seconds / 60 % 60).rightJustified(2, '0') + ':'
         + QByteArray::number(seconds % 60).rightJustified(2, '0');
}

} // namespace

Progress::Progress(bool quiet, qint64 total)
    : enabled_(!quiet && ::isatty(STDERR_FILENO) == 1), total_(total)
{
    clock_.start();
}

void Progress::Update(qint64 done)
{
    if (!enabled_)
        return;
    const qint64 now = clock_.elapsed();
    if (now - lastDrawMs_ < 200 && !(total_ > 0 && done >= total_))
        return;
    lastDrawMs_ = now;
    const double rate = now > 0 ? done * 1000.0 / now : 0.0;
    QByteArray line = "\r" + label_;
    if (total_ > 0) {
        constexpr int kWidth = 30;
        const int filled = int(kWidth * qMin<qint64>(done, total_) / total_);
        line += '[' + QByteArray(filled, '#') + QByteArray(kWidth - filled, '.') + "] ";
        line += QByteArray::number(done) + '/' + QByteArray::number(total_) + " records  ";
        line += QByteArray::number(rate, 'f', 0) + " rec/s  ";
        line += rate > 0 ? clockText(qint64((total_ - done) / rate)) + " left" : QByteArray("--:-- left");
    } else {
        line += QByteArray::number(done) + " records  " + QByteArray::number(rate, 'f', 0)
              + " rec/s  " + clockText(now / 1000);
    }
    line += "\x1b[K"; // clear the rest of the line
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::Finish()
{
    if (!shown_)
        return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}
