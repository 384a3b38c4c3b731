// The window timer: ticks once per interval while enabled, bound to its handler by name;
// enabling it again changes nothing, disabling drops the tick that was due.
#include "platform/toolkit/Application.h"
#include "platform/toolkit/HandlerBinder.h"
#include "platform/toolkit/WindowTimer.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

using std::chrono::milliseconds;

// A window with one 500 ms timer whose tick handler is bound by name, like the main window's.
class TimerForm : public QObject {
    Q_OBJECT
public:
    TimerForm()
    {
        platform::bindHandlersByName(this, this);
        clock.start();
    }
    platform::WindowTimer* const Poll_Timer
        = new platform::WindowTimer(this, "Poll_Timer", 500, "Poll_TimerTimer");
    QElapsedTimer clock;
    std::vector<double> ticksMs; // since clock started
    QObject* lastSender = nullptr;

    void restartClock() { clock.restart(); }

public slots:
    void Poll_TimerTimer(QObject* Sender)
    {
        lastSender = Sender;
        ticksMs.push_back(clock.nsecsElapsed() / 1e6);
    }
};

class WindowTimer : public ::testing::Test {
protected:
    TimerForm form;
};

} // namespace

TEST_F(WindowTimer, TicksEveryFiveHundredMillisecondsWhileEnabled)
{
    form.Poll_Timer->setEnabled(true);
    form.restartClock();
    ASSERT_TRUE(waitUntil([&] { return form.ticksMs.size() >= 6; }, milliseconds(10000)));
    form.Poll_Timer->setEnabled(false);
    EXPECT_EQ(form.lastSender, form.Poll_Timer) << "the handler is given the timer";
    std::vector<double> periods { form.ticksMs.front() };
    for (size_t i = 1; i < form.ticksMs.size(); ++i)
        periods.push_back(form.ticksMs[i] - form.ticksMs[i - 1]);
    EXPECT_GE(form.ticksMs.front(), 499.0) << "no tick before its interval";
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    const double median = periods[periods.size() / 2];
    EXPECT_GE(median, 495.0);
    EXPECT_LE(median, 650.0) << "a precise timer; the upper bound only allows for a loaded machine";
}

TEST_F(WindowTimer, EnablingARunningTimerNeitherPostponesNorBringsForwardItsTick)
{
    form.Poll_Timer->setEnabled(true);
    form.restartClock();
    // Re-enabled every 50 ms: a timer that restarted on each would never tick.
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < 1300) {
        spinFor(milliseconds(50));
        form.Poll_Timer->setEnabled(true);
        EXPECT_TRUE(form.Poll_Timer->enabled());
    }
    form.Poll_Timer->setEnabled(false);
    ASSERT_GE(form.ticksMs.size(), 2u) << "ticks kept coming while the timer was enabled again and again";
    EXPECT_GE(form.ticksMs[0], 499.0) << "not brought forward";
    EXPECT_GE(form.ticksMs[1], 999.0) << "not brought forward";
}

TEST_F(WindowTimer, DisablingDropsTheDueTickAndEnablingStartsAFreshInterval)
{
    form.Poll_Timer->setEnabled(true);
    spinFor(milliseconds(300));
    form.Poll_Timer->setEnabled(false);
    EXPECT_FALSE(form.Poll_Timer->enabled());
    spinFor(milliseconds(700));
    EXPECT_TRUE(form.ticksMs.empty()) << "the tick due at 500 ms was dropped";

    form.restartClock();
    form.Poll_Timer->setEnabled(true);
    ASSERT_TRUE(waitUntil([&] { return !form.ticksMs.empty(); }, milliseconds(3000)));
    form.Poll_Timer->setEnabled(false);
    EXPECT_GE(form.ticksMs.front(), 499.0) << "a full interval after enabling";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    platform::Application application(argc, argv);
    return RUN_ALL_TESTS();
}

#include "test_window_timer.moc"
