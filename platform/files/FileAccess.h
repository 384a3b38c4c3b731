// Reading and replacing small files, such as settings files, without hanging and without leaving
// a half-written file behind.
//
// Principles of operation
//   A read takes only regular files. It opens without blocking (a fifo or a device is refused
//   after the open, never waited on), never makes a device our controlling terminal, and reads no
//   more than it was asked for, however large the file is.
//   A replacement writes the new contents to a temporary file beside the target, flushes it to
//   the disk and renames it over the target, so that the target holds either its old contents or
//   the new ones, never a mixture. A target that is a symbolic link is followed: the file it points
//   to is replaced and the link stays. An existing target keeps its permission bits (and, when we
//   may, its owner). An existing target that we may not write is refused, as the system would
//   refuse to open it for writing. Where no temporary file can be made beside the target (a
//   writable file in a folder we may not write), the target is overwritten in place: the new bytes
//   first, then the file cut to their length, every step checked.
//
// Interface summary
//   readSmallRegularFile   the first bytes (at most maxBytes) of a regular file
//   replaceFileContents    make a file hold exactly the given bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

// The file's first maxBytes bytes (all of them when it is shorter). Nothing when the file does not
// exist, is not a regular file (folder, fifo, device, socket) or cannot be read. Changes nothing.
std::optional<std::vector<uint8_t>> readSmallRegularFile(const std::string& path, size_t maxBytes);

// Makes the file at path hold exactly bytes, creating it when it does not exist. False on any
// failure; then a new target does not exist, an existing one is left as it was (after a failed
// in-place overwrite: as far as the system let the write go), and no temporary file remains.
bool replaceFileContents(const std::string& path, std::span<const uint8_t> bytes);

} // namespace platform
