#include "platform/files/FileAccess.h"

#include "platform/files/Descriptors.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The kernel's own limit on symbolic links followed in one lookup.
constexpr int kMaxLinks = 40;
constexpr int kTemporaryNameTries = 100;

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd)
    {
    }
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and tells whether the close succeeded (a late write error shows here).
    bool close()
    {
        if (fd_ < 0)
            return true;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

bool isRegularFile(int fd)
{
    struct stat status { };
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that path names once symbolic links are followed; a missing file is named as it stands.
std::optional<std::string> followLinks(std::string path)
{
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat status { };
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof target)
            return std::nullopt;
        const std::string next(target, static_cast<size_t>(length));
        path = next.front() == '/' ? next : folderOf(path) + "/" + next;
    }
    return std::nullopt;
}

// A new empty file beside target, created with the usual permissions (0666 less the umask and
// whatever the folder's default ACL says); -1 when the folder takes no new file.
int createTemporaryBeside(const std::string& target, std::string& temporaryPath)
{
    std::random_device seed;
    std::mt19937 generator(seed());
    std::uniform_int_distribution<unsigned> digit(0, 35);
    const std::string folder = folderOf(target);
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        std::string name = folder + "/.comtest-save-";
        for (int i = 0; i < 8; ++i)
            name += "0123456789abcdefghijklmnopqrstuvwxyz"[digit(generator)];
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporaryPath = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// The replacement takes the old file's permission bits; its owner too, when we may set it.
bool takeOwnerAndMode(int fd, const struct stat& old)
{
    struct stat fresh { };
    if (::fstat(fd, &fresh) != 0)
        return false;
    if (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) {
        // Only root may give a file away; anyone else keeps the new file as their own.
        [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    }
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

void syncFolder(const std::string& folder)
{
    // The rename is durable once the folder is; a folder that cannot be synced costs only that.
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

// old: the stat of the file replaced, whose owner and mode the new one takes; nullptr for a new file.
bool writeThroughTemporary(Descriptor& fresh, const std::string& temporaryPath, const std::string& target,
    const struct stat* old, std::span<const uint8_t> bytes)
{
    const bool written = (!old || takeOwnerAndMode(fresh.get(), *old))
        && writeAllAt(fresh.get(), bytes.data(), bytes.size(), 0) && ::fsync(fresh.get()) == 0
        && fresh.close() && ::rename(temporaryPath.c_str(), target.c_str()) == 0;
    if (!written) {
        fresh.close();
        ::unlink(temporaryPath.c_str());
        return false;
    }
    syncFolder(folderOf(target));
    return true;
}

// New bytes first, then the cut: a failure part-way leaves the old tail in place.
bool overwriteInPlace(Descriptor& existing, std::span<const uint8_t> bytes)
{
    return writeAllAt(existing.get(), bytes.data(), bytes.size(), 0)
        && ::ftruncate(existing.get(), off_t(bytes.size())) == 0 && ::fsync(existing.get()) == 0
        && existing.close();
}

} // namespace

std::optional<std::vector<uint8_t>> readSmallRegularFile(const std::string& path, size_t maxBytes)
{
    // Look before opening, so that a device is not even opened (opening a tty raises its lines);
    // the check after the open catches a file swapped in between.
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid() || !isRegularFile(file.get()))
        return std::nullopt;
    std::vector<uint8_t> bytes(maxBytes);
    size_t got = 0;
    while (got < maxBytes) {
        const ssize_t count = ::read(file.get(), bytes.data() + got, maxBytes - got);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        got += static_cast<size_t>(count);
    }
    bytes.resize(got);
    return bytes;
}

bool replaceFileContents(const std::string& path, std::span<const uint8_t> bytes)
{
    const std::optional<std::string> target = followLinks(path);
    if (!target)
        return false;
    // Opening the old file for writing asks the system whether we may replace it at all.
    Descriptor existing(::open(target->c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const bool replacing = existing.valid();
    struct stat old { };
    if (replacing) {
        if (::fstat(existing.get(), &old) != 0 || !S_ISREG(old.st_mode))
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    std::string temporaryPath;
    Descriptor fresh(createTemporaryBeside(*target, temporaryPath));
    if (!fresh.valid())
        return replacing && overwriteInPlace(existing, bytes);
    existing.close();
    return writeThroughTemporary(fresh, temporaryPath, *target, replacing ? &old : nullptr, bytes);
}

} // namespace platform
