#include "platform/tty/InputWait.h"

#include <cerrno>
#include <poll.h>

namespace platform {

bool waitForInput(PortHandle port, std::chrono::steady_clock::time_point deadline)
{
    if (!isPort(port))
        return false;
    for (;;) {
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry { port, POLLIN, 0 };
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && (entry.revents & POLLIN) != 0;
    }
}

} // namespace platform
