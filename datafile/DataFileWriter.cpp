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

} // namespace

bool WriteDataFileReplacing(const QString& path, const DataFileContent& content, QString* reason)
{
    if (reason)
        reason->clear();
    if (path.isEmpty())
        return false;
    // The target must be an ordinary file we may write. A device such as
    // /dev/full or a pipe would be replaced by a plain file, not written to.
    const QFileInfo target(path);
    if (target.exists() && (!target.isFile() || isReadOnly(target)))
        return false;

    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QString encoderError;
    const bool written = EncodeDataFile(content, [&file](const QByteArray& bytes) {
        return file.write(bytes) == bytes.size();
    }, &encoderError);
    if (!written) {
        file.cancelWriting(); // the temporary file goes, the old file stays
        if (reason)
            *reason = encoderError;
        return false;
    }
    // The last bytes still sit in QFileDevice's buffer. commit() would write
    // them while closing but does not notice when that write fails (a full
    // disk, a size limit) and renames the short file over the old one, so
    // they are written and checked here first.
    if (!file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
