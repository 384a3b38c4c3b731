// Start-up, memory and CPU of our program beside the toolkit floor (and any peer terminal that is
// installed), run interleaved in one X session so that the machine's load falls on both alike.
//
//   comtest_startbench [--runs N] [--batches N] [--idle S] [--receive S] [--floor NAME] [--target NAME]
//       --candidate NAME TITLE COMMAND [--receive-keys NAME KEYS] ...
//
// Every candidate is run once, briefly, before the batches; the first one's window size is what
// {size} stands for in the commands. {pty} is a fresh pseudo-terminal per run.
#include "MapWatcher.h"
#include "StartupRun.h"
#include "Summary.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

struct Options {
    int runs = 7;
    int batches = 3;
    RunSettings settings;
    std::string floor = "floor";
    std::string target = "comtest";
    std::vector<Candidate> candidates;
};

bool parseOptions(int argc, char** argv, Options& options)
{
    std::map<std::string, std::string> keys;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const int left = argc - i - 1;
        if (option == "--candidate" && left >= 3) {
            options.candidates.push_back({ argv[i + 1], argv[i + 2], argv[i + 3], "" });
            i += 3;
        } else if (option == "--receive-keys" && left >= 2) {
            keys[argv[i + 1]] = argv[i + 2];
            i += 2;
        } else if (left >= 1 && option == "--runs")
            options.runs = std::atoi(argv[++i]);
        else if (left >= 1 && option == "--batches")
            options.batches = std::atoi(argv[++i]);
        else if (left >= 1 && option == "--idle")
            options.settings.idleSeconds = std::atof(argv[++i]);
        else if (left >= 1 && option == "--receive")
            options.settings.receiveSeconds = std::atof(argv[++i]);
        else if (left >= 1 && option == "--floor")
            options.floor = argv[++i];
        else if (left >= 1 && option == "--target")
            options.target = argv[++i];
        else {
            std::cerr << "comtest_startbench: bad argument " << option << "\n";
            return false;
        }
    }
    for (auto& candidate : options.candidates)
        candidate.receiveKeys = keys[candidate.name];
    return !options.candidates.empty() && options.runs > 0 && options.batches > 0;
}

struct Figures {
    std::vector<double> startupMs, startupCpuMs, rssMiB, pssMiB, idleCpu, receiveCpu;
    int failures = 0;

    void add(const RunResult& result)
    {
        if (!result.ok) {
            ++failures;
            return;
        }
        startupMs.push_back(result.startupMs);
        startupCpuMs.push_back(result.startupCpuMs);
        rssMiB.push_back(result.rssMiB);
        pssMiB.push_back(result.pssMiB);
        idleCpu.push_back(result.idleCpuPercent);
        if (result.receiveCpuPercent >= 0)
            receiveCpu.push_back(result.receiveCpuPercent);
    }
};

using Batch = std::map<std::string, Figures>;

void printBatch(int number, const Options& options, const Batch& batch)
{
    std::printf("\nbatch %d: %d runs each, interleaved; median (min-max)\n", number, options.runs);
    std::printf("%-10s %-22s %-22s %-22s %-22s %-22s %-22s %s\n", "program", "start-up ms", "start-up CPU ms",
        "RSS MiB", "PSS MiB", "idle CPU %", "receive CPU %", "failed");
    for (const auto& candidate : options.candidates) {
        const Figures& f = batch.at(candidate.name);
        std::printf("%-10s %-22s %-22s %-22s %-22s %-22s %-22s %d\n", candidate.name.c_str(),
            summary::spread(f.startupMs, 1).c_str(), summary::spread(f.startupCpuMs, 1).c_str(),
            summary::spread(f.rssMiB, 1).c_str(), summary::spread(f.pssMiB, 1).c_str(),
            summary::spread(f.idleCpu, 3).c_str(), summary::spread(f.receiveCpu, 3).c_str(), f.failures);
    }
}

double ratio(const std::vector<double>& values, const std::vector<double>& floor)
{
    return summary::median(values) / summary::median(floor);
}

void printVerdict(const char* what, double value, const char* target, bool met)
{
    std::printf("  %-36s %8s   target %-10s %s\n", what, summary::fixed(value, 3).c_str(), target,
        std::isnan(value)                ? "NO DATA"
            : std::string(target) == "-" ? ""
            : met                        ? "met"
                                         : "MISSED");
}

// Ratios of medians within each batch against the floor, then the median over the batches.
void printConclusion(const Options& options, const std::vector<Batch>& batches)
{
    std::printf("\nover %zu batches (median of the per-batch figures):\n", batches.size());
    for (const auto& candidate : options.candidates) {
        if (candidate.name == options.floor)
            continue;
        std::vector<double> startup, startupCpu, rss, pss, idle, receive;
        for (const auto& batch : batches) {
            const Figures& mine = batch.at(candidate.name);
            const Figures& floor = batch.at(options.floor);
            startup.push_back(ratio(mine.startupMs, floor.startupMs));
            startupCpu.push_back(ratio(mine.startupCpuMs, floor.startupCpuMs));
            rss.push_back(ratio(mine.rssMiB, floor.rssMiB));
            pss.push_back(ratio(mine.pssMiB, floor.pssMiB));
            idle.push_back(summary::median(mine.idleCpu));
            if (!mine.receiveCpu.empty())
                receive.push_back(summary::median(mine.receiveCpu));
        }
        const bool judged = candidate.name == options.target;
        std::printf("%s%s\n", candidate.name.c_str(), judged ? " (judged)" : "");
        // Peers are shown for comparison only; the targets are ours.
        const auto target = [judged](const char* text) { return judged ? text : "-"; };
        const double s = summary::median(startup), r = summary::median(rss), i = summary::median(idle);
        printVerdict("start-up / floor", s, target("<= 1.15"), s <= 1.15);
        printVerdict("start-up CPU / floor", summary::median(startupCpu), "-", true);
        printVerdict("RSS / floor", r, target("<= 1.15"), r <= 1.15);
        printVerdict("PSS / floor", summary::median(pss), "-", true);
        printVerdict("idle CPU % of a core", i, target("< 0.2"), i < 0.2);
        if (!receive.empty()) {
            const double polling = summary::median(receive);
            printVerdict("receive-test CPU % of a core", polling, target("< 0.2"), polling < 0.2);
        }
    }
}

void printFailure(const Candidate& candidate, const RunResult& result)
{
    if (!result.ok)
        std::fprintf(stderr, "  %s: %s\n", candidate.name.c_str(), result.failure.c_str());
}

Batch runBatch(const Options& options, MapWatcher& watcher, int number)
{
    Batch batch;
    const size_t count = options.candidates.size();
    for (int run = 0; run < options.runs; ++run) {
        // Each round starts with another program, so that none is always first after a pause.
        for (size_t k = 0; k < count; ++k) {
            const Candidate& candidate = options.candidates[(k + static_cast<size_t>(run)) % count];
            const RunResult result = measureOnce(candidate, options.settings, watcher);
            printFailure(candidate, result);
            batch[candidate.name].add(result);
        }
        std::fprintf(stderr, "batch %d: round %d of %d done\n", number, run + 1, options.runs);
    }
    return batch;
}

// One short run of each program before the batches, to fill the file cache and to check that each
// one starts (and that the keys start the receive test); the first one's size becomes {size}.
bool warmUp(Options& options, MapWatcher& watcher)
{
    RunSettings quick = options.settings;
    quick.idleSeconds = quick.receiveSeconds = 0.5;
    for (const auto& candidate : options.candidates) {
        const RunResult result = measureOnce(candidate, quick, watcher);
        if (!result.ok) {
            std::cerr << "comtest_startbench: warm-up of " << candidate.name << " failed: " << result.failure
                      << "\n";
            return false;
        }
        if (&candidate == &options.candidates.front())
            quick.size = options.settings.size = result.windowSize;
    }
    std::printf("window size of %s: %s (the floor is given the same)\n",
        options.candidates.front().name.c_str(), options.settings.size.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options))
        return 2;
    MapWatcher watcher;
    if (!watcher.connected()) {
        std::cerr << "comtest_startbench: no X display (run under xvfb-run)\n";
        return 2;
    }
    if (!warmUp(options, watcher))
        return 1;
    std::vector<Batch> batches;
    for (int number = 1; number <= options.batches; ++number) {
        batches.push_back(runBatch(options, watcher, number));
        printBatch(number, options, batches.back());
        std::fflush(stdout);
    }
    printConclusion(options, batches);
    return 0;
}
