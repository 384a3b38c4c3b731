#include "platform/files/SharedTextFile.h"

#include "platform/files/FileAccess.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Another comtest holds the lock only while it reads and rewrites a few lines.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr int kLockPollMs = 10;

bool makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat status { };
    const size_t last = path.rfind('/');
    return last == std::string::npos
        || (::stat(path.substr(0, last).c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

// The lock file's descriptor with our exclusive flock, or -1.
int lockBeside(const std::string& path)
{
    const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return -1;
        }
        ::poll(nullptr, 0, kLockPollMs);
    }
    return fd;
}

} // namespace

TextFile readTextFile(const std::string& path, size_t maxBytes)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return {};
    const auto bytes = readSmallRegularFile(path, maxBytes + 1);
    if (!bytes || bytes->size() > maxBytes)
        return { TextFile::State::Unreadable, {} };
    return { TextFile::State::Read, std::string(bytes->begin(), bytes->end()) };
}

bool updateTextFile(const std::string& path, size_t maxBytes, const TextChange& change)
{
    if (!makeFolders(path))
        return false;
    const int lock = lockBeside(path);
    if (lock < 0)
        return false;
    const auto text = change(readTextFile(path, maxBytes));
    const bool written = !text
        || replaceFileContents(path, { reinterpret_cast<const uint8_t*>(text->data()), text->size() });
    ::close(lock); // the flock goes with it
    return written;
}

} // namespace platform
