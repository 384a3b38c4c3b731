// A device that sends without pause for ten seconds while a receive test runs: the window stays
// responsive throughout, and once the stream stops the ticks show what comes next.
#include "test_fault_fixture.h"

#include <atomic>
#include <thread>

namespace {

using namespace fault;

constexpr double kMaxStallMs = 50;

// Writes 64 bytes every 5 ms (about 12.8 KB/s, a fast line) from a thread of its own.
class Stream {
public:
    explicit Stream(PtyPair& pty)
        : thread_([this, &pty] {
            const std::string chunk(64, 'S');
            while (!stop_) {
                sent_ += pty.write(chunk, 100ms);
                std::this_thread::sleep_for(5ms);
            }
        })
    {
    }
    ~Stream() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    size_t sent() const { return sent_; }

private:
    std::atomic<bool> stop_ { false };
    std::atomic<size_t> sent_ { 0 };
    std::thread thread_;
};

class SteadyStream : public FaultWindow { };

TEST_F(SteadyStream, TenSecondsOfInputKeepTheWindowResponsiveAndTicksOnTime)
{
    TickCounter ticks;
    clickRxStart();
    ASSERT_TRUE(platform::isPort(hComm));

    Watchdog watchdog;
    QElapsedTimer clock;
    clock.start();
    {
        Stream stream(pty);
        int keysShown = 0;
        int secondsWithoutBeat = 0;
        while (clock.elapsed() < 10000) {
            // The user types meanwhile, and sees each key at once.
            QTest::keyClick(Form1->TX_Edit, Qt::Key_X);
            keysShown += Form1->TX_Edit->text().size() == keysShown + 1 ? 1 : 0;
            const int beats = watchdog.beats();
            spinFor(1s);
            secondsWithoutBeat += watchdog.beats() > beats ? 0 : 1;
        }
        stream.stop();
        EXPECT_GT(stream.sent(), 10000u) << "the stream ran";
        EXPECT_EQ(keysShown, Form1->TX_Edit->text().size());
        EXPECT_GE(keysShown, 9);
        EXPECT_EQ(secondsWithoutBeat, 0) << "the event loop ran all along";
    }
    EXPECT_LT(watchdog.longestStallMs(), kMaxStallMs);
    EXPECT_GE(ticks.receive(), 15) << "ticks every 500 ms (loosely, under load)";

    // After the stream: one tick takes or drops what is left, the next shows only new bytes.
    const int afterStream = ticks.receive();
    ASSERT_TRUE(ticks.waitForReceive(afterStream + 1));
    ASSERT_EQ(pty.write("end"), 3u);
    ASSERT_TRUE(ticks.waitForReceive(afterStream + 2));
    EXPECT_EQ(Form1->RX_Edit->text(), "0x65 0x6E 0x64 0x00 0x00 0x00 0x00 0x00");
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
