// Small rules for the descriptors and paths that the platform layer shares.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace platform {

// Moves fd to a number of 3 or more (closing the original) and returns it, or -1 when that fails.
// 0 stands for "never opened", and a descriptor of ours must not pose as a standard stream.
int aboveStandardStreams(int fd);

// "/proc/self/fd/N": a path that stands for what the descriptor has open, device nodes included,
// for the calls that take a path.
std::string descriptorPath(int fd);

// Writes all size bytes at offset, going on after a short write or a signal; false on any failure.
bool writeAllAt(int fd, const void* data, size_t size, off_t offset);

// Whether path names the very file that fd has open (a link at path does not). Uses only calls
// that a signal handler may make.
bool sameFile(int fd, const char* path);

// The path with every link, "." and ".." resolved; the path as given when it cannot be resolved.
std::string resolvedPath(const std::string& path);

} // namespace platform
