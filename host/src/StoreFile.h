#pragma once

// The files the settings stores live in, opened so that no kind of file can keep a reader waiting:
// without blocking (a FIFO with no writer, a device), refused unless they are regular files, and
// read only up to a limit.

#include <cstddef>
#include <string>

#include <boost/optional.hpp>

namespace StravoHostInternal {

// The most a node-local settings file may hold.
const std::size_t maxNodeLocalFileBytes = 1024 * 1024;

// True when the path names a regular file, false when nothing is there; throws SettingsError
// naming the path and what it is instead (a directory, a FIFO, a device, ...) or why it cannot
// be opened.
bool isRegularStoreFile(const std::string& path);

// The whole content of a regular file of at most `limit` bytes, or none when nothing is there;
// throws SettingsError for anything else (see isRegularStoreFile) and for a larger file.
boost::optional<std::string> readStoreFile(const std::string& path, std::size_t limit);

}  // namespace StravoHostInternal
