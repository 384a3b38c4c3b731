// One measured run of one program: start it, time its main window's map, read its memory one
// second later, its CPU over an idle spell, and (for our program) its CPU while the receive test
// polls a pseudo-terminal.
#pragma once

#include "MapWatcher.h"

#include <string>

struct Candidate {
    std::string name;
    std::string title; // a part of the main window's title
    std::string command; // {pty} and {size} are filled in per run
    std::string receiveKeys; // xdotool keys that start the receive test; empty: no receive phase
};

struct RunSettings {
    double idleSeconds = 10;
    double receiveSeconds = 10;
    std::string size; // what {size} stands for
};

struct RunResult {
    bool ok = false;
    std::string failure;
    double startupMs = 0;
    double startupCpuMs = 0; // CPU the process had used when its window was mapped (load-proof)
    double rssMiB = 0;
    double pssMiB = 0;
    double idleCpuPercent = 0;
    double receiveCpuPercent = -1; // negative: no receive phase
    std::string windowSize; // "WxH" of the main window
};

RunResult measureOnce(const Candidate& candidate, const RunSettings& settings, MapWatcher& watcher);
