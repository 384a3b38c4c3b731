// Small rules for the descriptors the platform layer keeps.
#pragma once

#include <string>

namespace platform {

// Moves fd to a number of 3 or more (closing the original) and returns it, or -1 when that fails.
// 0 stands for "never opened", and a descriptor of ours must not pose as a standard stream.
int aboveStandardStreams(int fd);

// "/proc/self/fd/N": a path that stands for what the descriptor has open, device nodes included,
// for the calls that take a path.
std::string descriptorPath(int fd);

} // namespace platform
