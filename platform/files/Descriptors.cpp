#include "platform/files/Descriptors.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

int aboveStandardStreams(int fd)
{
    if (fd > 2 || fd < 0)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

std::string descriptorPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace platform
