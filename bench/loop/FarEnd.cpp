#include "FarEnd.h"

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

FarEnd::FarEnd()
{
    int slave = -1;
    char name[128] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
        return;
    path_ = name;
    close(slave);
    thread_ = std::thread([this] { serve(); });
}

FarEnd::~FarEnd()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (master_ >= 0)
        close(master_);
}

void FarEnd::serve()
{
    using Clock = std::chrono::steady_clock;
    auto nextFeed = Clock::now();
    while (!stopping_) {
        pollfd descriptor { master_, POLLIN, 0 };
        poll(&descriptor, 1, 10);
        if (descriptor.revents & POLLIN) {
            char bytes[256];
            const ssize_t count = read(master_, bytes, sizeof bytes);
            if (count > 0 && write(master_, bytes, static_cast<size_t>(count)) < 0)
                continue;
        } else if (descriptor.revents & (POLLHUP | POLLERR)) {
            // Nobody has the device open: hang-ups repeat until someone does.
            usleep(10000);
        }
        if (feeding_ && Clock::now() >= nextFeed) {
            nextFeed = Clock::now() + std::chrono::milliseconds(100);
            if (write(master_, "RXBENCH!", 8) < 0)
                continue;
        }
    }
}
