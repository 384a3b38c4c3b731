// The program's application object with a stopwatch around every event it dispatches from the
// main loop: the longest one is the longest time a handler kept the event loop from running.
// Nested dispatches (a handler's own event loop) count towards their outer event.
#pragma once

#include "platform/toolkit/Application.h"

#include <QString>

class TimedApplication : public platform::Application {
public:
    struct Longest {
        double wallMs = 0;
        double cpuMs = 0; // this thread's CPU time in that span; far below wallMs means preempted
        QString what;
    };

    using platform::Application::Application;

    bool notify(QObject* receiver, QEvent* event) override;

    const Longest& longest() const { return longest_; }
    void resetLongest() { longest_ = {}; }

private:
    int depth_ = 0;
    Longest longest_;
};
