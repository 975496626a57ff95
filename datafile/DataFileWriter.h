#pragma once
// Writing a data file to disk: the bytes of EncodeDataFile, written to a
// temporary file beside the target and renamed over it only when everything
// was written, so a failure keeps an earlier file intact and leaves no
// temporary file behind.

#include <QString>

struct DataFileContent;

// False when the target is not an ordinary writable file (a folder, a device,
// a pipe, a read-only file), when it cannot be created or a write fails (a
// full disk), or when there is no Shift-JIS encoder (`reason` then says so;
// otherwise it is left empty).
bool WriteDataFileReplacing(const QString& path, const DataFileContent& content,
                            QString* reason = nullptr);
