// The receive test's tick period and the longest time a handler blocks the event loop, measured
// inside the real program (its windows on the offscreen platform) with COM1 on a pseudo-terminal
// at 115200 baud: a series of exchanges (TX Start, echoed by the far end), then a receive test
// of at least 40 ticks while the far end sends, ended by one more exchange.
//
//   comtest_loopbench [--runs N] [--ticks N] [--exchanges N]
#include "FarEnd.h"
#include "TimedApplication.h"

#include "app/Main.h"
#include "app/Startup.h"
#include "platform/registry/PortRegistry.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct Options {
    int runs = 3;
    int ticks = 41; // 40 periods after the first, which is measured from the click
    int exchanges = 20;
};

Options parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            options.runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--ticks") == 0)
            options.ticks = std::max(2, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--exchanges") == 0)
            options.exchanges = std::max(1, std::atoi(argv[++i]));
    }
    return options;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Clicks a button the way a queued user click would arrive: from the event loop.
void clickLater(QPushButton* button)
{
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
}

// A 1 ms timer whose late ticks show how long the loop was kept from running, whatever kept it.
class Watchdog {
public:
    Watchdog()
    {
        timer_.setObjectName("watchdog");
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ > 0)
                worstGapMs_ = std::max(worstGapMs_, static_cast<double>(now - last_) / 1e6);
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }
    void reset()
    {
        worstGapMs_ = 0;
        last_ = 0;
    }
    double worstLatenessMs() const { return std::max(0.0, worstGapMs_ - 1.0); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    double worstGapMs_ = 0;
};

struct RunFigures {
    int exchangesEchoed = 0;
    double exchangeLongestMs = 0, exchangeLongestCpuMs = 0;
    QString exchangeLongestWhat;
    std::vector<double> periodsMs;
    double receiveLongestMs = 0, receiveLongestCpuMs = 0;
    QString receiveLongestWhat;
    double watchdogLatenessMs = 0;
    bool receiveShowedData = false;
    bool endedByExchange = false;
};

bool exchange(const QString& text)
{
    Form1->RX_Edit->clear();
    Form1->TX_Edit->setText(text);
    clickLater(Form1->PCTest_Button);
    return waitUntil([&] { return !Form1->PCTest_Timer->enabled() && Form1->RX_Edit->text() == text; }, 3000);
}

// An exchange's tick ends the receive test and gives the button back. Its echo may go to a receive
// tick that comes first, so only the end of both tests is waited for.
bool endReceiveTest()
{
    Form1->TX_Edit->setText("stop");
    clickLater(Form1->PCTest_Button);
    return waitUntil(
        [] { return Form1->RXStart_Button->isEnabled() && !Form1->RXStart_Timer->enabled(); }, 3000);
}

void runExchanges(const Options& options, TimedApplication& app, RunFigures& figures)
{
    app.resetLongest();
    for (int i = 0; i < options.exchanges; ++i)
        figures.exchangesEchoed += exchange(QString("exchange %1").arg(i)) ? 1 : 0;
    figures.exchangeLongestMs = app.longest().wallMs;
    figures.exchangeLongestCpuMs = app.longest().cpuMs;
    figures.exchangeLongestWhat = app.longest().what;
}

void runReceive(
    const Options& options, TimedApplication& app, FarEnd& farEnd, Watchdog& watchdog, RunFigures& figures)
{
    QElapsedTimer clock;
    std::vector<qint64> stamps;
    const auto onClick = QObject::connect(Form1->RXStart_Button, &QPushButton::clicked, [&] {
        clock.start();
        stamps.push_back(0);
    });
    const auto onTick = QObject::connect(
        Form1->RXStart_Timer, &platform::WindowTimer::tick, [&] { stamps.push_back(clock.nsecsElapsed()); });
    farEnd.setFeeding(true);
    app.resetLongest();
    watchdog.reset();
    clickLater(Form1->RXStart_Button);
    const auto wanted = static_cast<size_t>(options.ticks) + 1;
    waitUntil([&] { return stamps.size() >= wanted; }, options.ticks * 500 + 10000);
    figures.receiveLongestMs = app.longest().wallMs;
    figures.receiveLongestCpuMs = app.longest().cpuMs;
    figures.receiveLongestWhat = app.longest().what;
    figures.watchdogLatenessMs = watchdog.worstLatenessMs();
    figures.receiveShowedData = Form1->RX_Edit->text().startsWith("0x52");
    for (size_t i = 1; i < stamps.size(); ++i)
        figures.periodsMs.push_back(static_cast<double>(stamps[i] - stamps[i - 1]) / 1e6);
    QObject::disconnect(onClick);
    QObject::disconnect(onTick);
    farEnd.setFeeding(false);
    figures.endedByExchange = endReceiveTest();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double worstDeviation(const std::vector<double>& periods, double nominal)
{
    double worst = 0;
    for (double period : periods)
        worst = std::max(worst, std::fabs(period - nominal));
    return worst;
}

void printRun(int number, const RunFigures& f)
{
    const auto [low, high] = std::minmax_element(f.periodsMs.begin(), f.periodsMs.end());
    std::printf("run %d: exchanges echoed %d; longest handler in exchanges %.2f ms (%.2f ms CPU) [%s]\n",
        number, f.exchangesEchoed, f.exchangeLongestMs, f.exchangeLongestCpuMs,
        qPrintable(f.exchangeLongestWhat));
    std::printf("  receive: %zu periods, median %.2f ms, min %.2f, max %.2f, worst deviation %.2f ms; "
                "data shown %s; ended by an exchange %s\n",
        f.periodsMs.size(), median(f.periodsMs), f.periodsMs.empty() ? 0 : *low,
        f.periodsMs.empty() ? 0 : *high, worstDeviation(f.periodsMs, 500), f.receiveShowedData ? "yes" : "NO",
        f.endedByExchange ? "yes" : "NO");
    std::printf(
        "  longest handler in the receive test %.2f ms (%.2f ms CPU) [%s]; 1 ms watchdog worst lateness "
        "%.2f ms\n",
        f.receiveLongestMs, f.receiveLongestCpuMs, qPrintable(f.receiveLongestWhat), f.watchdogLatenessMs);
}

void printVerdict(const std::vector<RunFigures>& runs, int ticks)
{
    std::vector<double> medians, deviations, longest, counts;
    for (const auto& f : runs) {
        medians.push_back(median(f.periodsMs));
        deviations.push_back(worstDeviation(f.periodsMs, 500));
        longest.push_back(std::max(f.exchangeLongestMs, f.receiveLongestMs));
        counts.push_back(static_cast<double>(f.periodsMs.size()));
    }
    const double period = median(medians), deviation = median(deviations), blocked = median(longest);
    const bool enough = median(counts) >= ticks;
    std::printf("\nover %zu runs (median of the per-run figures):\n", runs.size());
    std::printf("  median tick period            %8.2f ms  target 500 +- 2     %s\n", period,
        enough && std::fabs(period - 500) <= 2 ? "met" : "MISSED");
    std::printf("  worst tick deviation          %8.2f ms  target <= 10        %s\n", deviation,
        enough && deviation <= 10 ? "met" : "MISSED");
    std::printf("  longest handler               %8.2f ms  target <= 50        %s\n", blocked,
        blocked <= 50 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const Options options = parseOptions(argc, argv);
    FarEnd farEnd;
    if (!farEnd.ready()) {
        std::fprintf(stderr, "comtest_loopbench: no pseudo-terminal\n");
        return 1;
    }
    int appArgc = 1;
    TimedApplication app(appArgc, argv);
    createForms();
    platform::PortRegistry::instance().mapComPort(1, farEnd.devicePath());
    Form1->BaudRate = 115200.0;
    Form1->show();
    // The first paint belongs to start-up, not to the exchanges.
    waitUntil([] { return Form1->windowHandle() && Form1->windowHandle()->isExposed(); }, 5000);
    Watchdog watchdog;
    std::vector<RunFigures> runs;
    for (int run = 1; run <= options.runs; ++run) {
        RunFigures figures;
        runExchanges(options, app, figures);
        runReceive(options, app, farEnd, watchdog, figures);
        printRun(run, figures);
        std::fflush(stdout);
        runs.push_back(figures);
    }
    printVerdict(runs, options.ticks);
    destroyForms();
    return 0;
}
