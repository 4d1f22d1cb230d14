#pragma once

// The file operations every member that touches the file system goes through: one way of
// opening (with a short retry while another process holds a lock), one way of describing a
// failure in the log (the file name and the system's own error text).
//
// Every function takes the caller's log, which may be null (then nothing is logged). Names are
// UTF-8 paths. A file locked by another process with flock() counts as a sharing violation.

#include "common/DataBuffer.h"
#include "common/LogBase.h"
#include "common/UniqueFd.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace norvane::file {

// Open an existing regular file for reading (shared lock). Fails for directories.
[[nodiscard]] UniqueFd openForRead(std::string_view path, LogBase* log);
// Open or create for reading and writing (shared lock).
[[nodiscard]] UniqueFd openForReadWrite(std::string_view path, LogBase* log);

// True when the file can be opened for reading.
[[nodiscard]] bool fileExists(std::string_view path);

// Reads a whole regular file. False (and a log entry) on failure.
[[nodiscard]] bool readWholeFile(std::string_view path, DataBuffer& out, LogBase* log);
[[nodiscard]] bool readWholeFile(std::string_view path, std::string& out, LogBase* log);

// Writes the whole file. The bytes go to a temporary name in the same directory first and are
// renamed over the target only when complete, so a failure never leaves a half-written file.
// Zero bytes make an empty file.
[[nodiscard]] bool writeWholeFile(std::string_view path, std::span<const uint8_t> data,
                                  LogBase* log);
[[nodiscard]] bool writeWholeFile(std::string_view path, std::string_view data, LogBase* log);

// Deletes a file. See the messages in FileAccess.cpp.
// All of data to the descriptor, across short writes and interruptions; false with errno set
// when it cannot be written (ENOSPC when the system writes nothing).
[[nodiscard]] bool writeAll(int fd, std::span<const uint8_t> data);
[[nodiscard]] bool writeAll(int fd, std::string_view data);
[[nodiscard]] bool deleteFile(std::string_view path, LogBase* log);

// Success flag only, no log.
[[nodiscard]] bool createDirectory(std::string_view path);
[[nodiscard]] bool isDirectory(std::string_view path);

[[nodiscard]] std::string currentDirectory();
// $TMPDIR, else /tmp.
[[nodiscard]] std::string tempDirectory();

// A name that does not exist yet: dir + "/" + base-stem + "_" + four of A-Z0-9 + extension.
// baseName defaults to "x"; ".tmp" is added when it has no extension. Nothing is created.
[[nodiscard]] std::string makeTempFileName(std::string_view dir, std::string_view baseName);

} // namespace norvane::file
