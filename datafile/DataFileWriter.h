#pragma once
// Writing a data file to disk: the bytes of EncodeDataFile, written to a
// temporary file beside the target and renamed over it only when everything
// was written, so a failure keeps an earlier file intact and leaves no
// temporary file behind.

#include <QString>

struct DataFileContent;

// False when the target is not an ordinary writable file (a folder, a device,
// a pipe, a read-only file), when it cannot be created or a write fails (a
// full disk), or when there is no Shift-JIS encoder; `reason` then says why
// (the system's words where the system refused).
bool WriteDataFileReplacing(const QString& path, const DataFileContent& content,
                            QString* reason = nullptr);

// Whether WriteDataFileReplacing could start on `path` now: the target is
// refused as above, or the temporary file beside it cannot be created (a
// missing or read-only folder). Nothing is left behind; an existing file is
// not touched.
bool ProbeDataFileTarget(const QString& path, QString* reason = nullptr);
