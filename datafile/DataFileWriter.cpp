#include "datafile/DataFileWriter.h"

#include <QFileInfo>
#include <QSaveFile>

#include "datafile/DataFile.h"

namespace {

// A read-only target is refused even where the process could write it anyway
// (root ignores permissions, and an atomic replace never needs write access to
// the old file): the file must be writable for us and carry a write bit.
bool isReadOnly(const QFileInfo& info)
{
    const QFileDevice::Permissions p = info.permissions();
    const QFileDevice::Permissions anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !(p & QFileDevice::WriteUser) || !(p & anyWrite);
}

// The target must be an ordinary file we may write. A device such as
// /dev/full or a pipe would be replaced by a plain file, not written to.
bool refusedTarget(const QString& path, QString* reason)
{
    const QFileInfo target(path);
    if (!path.isEmpty() && !(target.exists() && (!target.isFile() || isReadOnly(target))))
        return false;
    if (reason)
        *reason = path.isEmpty() ? QStringLiteral("no file name")
                : target.isDir() ? QStringLiteral("is a folder")
                : target.isFile() ? QStringLiteral("the file is read-only")
                                  : QStringLiteral("not an ordinary file");
    return true;
}

} // namespace

bool ProbeDataFileTarget(const QString& path, QString* reason)
{
    if (reason)
        reason->clear();
    if (refusedTarget(path, reason))
        return false;
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    file.cancelWriting();
    return true;
}

bool WriteDataFileReplacing(const QString& path, const DataFileContent& content, QString* reason)
{
    if (reason)
        reason->clear();
    if (refusedTarget(path, reason))
        return false;

    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    QString encoderError;
    const bool written = EncodeDataFile(content, [&file](const QByteArray& bytes) {
        return file.write(bytes) == bytes.size();
    }, &encoderError);
    if (!written) {
        if (reason)
            *reason = encoderError.isEmpty() ? file.errorString() : encoderError;
        file.cancelWriting(); // the temporary file goes, the old file stays
        return false;
    }
    // The last bytes still sit in QFileDevice's buffer. commit() would write
    // them while closing but does not notice when that write fails (a full
    // disk, a size limit) and renames the short file over the old one, so
    // they are written and checked here first.
    if (!file.flush()) {
        if (reason)
            *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
}
