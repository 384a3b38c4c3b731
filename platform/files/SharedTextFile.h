// A small text file that several processes read and add to, such as the record of COM names.
//
// Principles of operation
//   A read takes the file whole or not at all: a file larger than asked for counts as unreadable,
//   so that a writer never rewrites a file it has only seen in part.
//   An update holds an exclusive flock on a lock file beside the file (path + ".lock", which stays),
//   reads the file again under it, so that what another process added meanwhile is seen, and
//   replaces the file through a temporary file and a rename (FileAccess.h): a reader sees the old
//   text or the new one, never a mixture. The folder is made (mode 0700) when it is missing.
//   The lock is waited for a bounded time; a process that holds it longer makes the update fail.
//
// Interface summary
//   readTextFile     the whole text, or whether the file is missing or unreadable
//   updateTextFile   read again under the lock, and replace the text with what the caller makes of it
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace platform {

struct TextFile {
    enum class State { Missing, Read, Unreadable } state = State::Missing;
    std::string text; // the whole file when Read
};

// The file's text when it is a regular file of at most maxBytes bytes that can be read. Changes nothing.
TextFile readTextFile(const std::string& path, size_t maxBytes);

// What the caller makes of the text read under the lock: the new text, or nothing to leave it as it is.
using TextChange = std::function<std::optional<std::string>(const TextFile& current)>;

// Takes the lock, reads the file again and, when change gives a new text, writes it. False when the
// folder cannot be made, the lock is not had within about two seconds, or the write fails; the file
// is then as it was. change is not called when the lock was not had.
bool updateTextFile(const std::string& path, size_t maxBytes, const TextChange& change);

} // namespace platform
