// The far end of a pseudo-terminal that stands in for the device: it echoes what the program sends
// and, while feeding, sends eight bytes every 100 ms. It runs on its own thread so that its work
// never lands in the program's event loop that is being measured.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class FarEnd {
public:
    FarEnd();
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    bool ready() const { return master_ >= 0; }
    const std::string& devicePath() const { return path_; }
    void setFeeding(bool feeding) { feeding_ = feeding; }

private:
    void serve();

    int master_ = -1;
    std::string path_;
    std::atomic<bool> feeding_ { false };
    std::atomic<bool> stopping_ { false };
    std::thread thread_;
};
