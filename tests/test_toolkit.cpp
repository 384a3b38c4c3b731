// The toolkit adapters on a window of the test's own: boxes, exceptions, the timer, the scaler.
#include "platform/toolkit/Application.h"
#include "platform/toolkit/FormScaler.h"
#include "platform/toolkit/HandlerBinder.h"
#include "platform/toolkit/MessageBox.h"
#include "platform/toolkit/WindowTimer.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>

using Fn = std::function<void()>;

// A button and a 500 ms timer whose handlers are bound by name, as the program's windows bind theirs.
class Form : public QWidget {
    Q_OBJECT
public:
    Form() { button->setProperty("handler", "Click"), platform::bindHandlersByName(this, this), show(); }
    QPushButton* const button = new QPushButton("Go", this);
    platform::WindowTimer* const timer = new platform::WindowTimer(this, "Timer", 500, "TimerTimer");
    Fn onClick, idle = [] {}; // onClick: what the next click runs, once
    int clicks = 0, ticks = 0;
public slots:
    void Click(QObject*) { ++clicks, std::exchange(onClick, idle)(); }
    void TimerTimer(QObject*) { ++ticks; }
};

// A box shows what it is given with one OK, lets clicks reach other windows, and returns once it goes.
TEST(MessageBox, ShowsWhatItIsGivenAndLeavesOtherWindowsLive)
{
    Form form;
    const std::tuple<Fn, std::string, QMessageBox::Icon> rows[] = { // what the button's handler does
        { [] { throw std::runtime_error("failed"); }, "failed", QMessageBox::Critical },
        { [] { throw 42; }, "", QMessageBox::Critical },
        { [] { platform::messageBox("the text", "test_toolkit"); }, "the text", QMessageBox::NoIcon }
    };
    for (const auto& [handler, text, icon] : rows) {
        MessageBoxWatcher watcher([&] {
            QMessageBox* box = visibleMessageBox();
            EXPECT_EQ(std::tuple(box->icon(), box->buttons().size()), std::tuple(icon, 1));
            const int clicks = form.clicks;
            QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, form.button->geometry().center());
            EXPECT_TRUE(waitUntil([&] { return form.clicks > clicks; }));
            if (icon == QMessageBox::NoIcon) // this one goes by being destroyed
                delete box;
        });
        form.onClick = handler, QTest::mouseClick(form.button, Qt::LeftButton);
        ASSERT_EQ(watcher.seen().size(), 1u) << "a box showed while the call ran";
        EXPECT_EQ(watcher.seen()[0].caption + ": " + watcher.seen()[0].text, "test_toolkit: " + text);
        EXPECT_EQ(visibleMessageBox(), nullptr);
    }
    EXPECT_EQ(platform::applicationTitle("dir.d/COMTEST.Tool.exe"), "Comtest"); // as in the caption above
}

TEST(WindowTimer, TicksEveryIntervalWhileEnabledEnablingAgainChangesNothingDisablingDropsTheDueTick)
{
    Form form;
    QElapsedTimer clock;
    clock.start();
    form.timer->setEnabled(true);
    while (clock.elapsed() < 1300) {
        spinFor(std::chrono::milliseconds(50));
        form.timer->setEnabled(true); // a restart would never tick
    }
    form.timer->setEnabled(false);
    spinFor(std::chrono::milliseconds(500)); // past the tick due at 1500 ms
    EXPECT_EQ(form.ticks, 2) << "neither restarted by each enabling, nor early, nor left running";
}

TEST(FormScaler, ControlsPlacedByTheLayoutScaleByScreenOverLayoutDensity)
{
    QWidget form, placed(&form), inner(&form); // the one without a name is the toolkit's own
    placed.setObjectName("Placed"), placed.setGeometry(10, 20, 30, 40), inner.setGeometry(10, 20, 30, 40);
    form.setProperty("layoutDpi", 48), platform::scaleForm(&form);
    const double f = QGuiApplication::primaryScreen()->logicalDotsPerInch() / 48;
    EXPECT_EQ(placed.geometry(), QRectF(10 * f, 20 * f, 30 * f, 40 * f).toRect());
    EXPECT_EQ(inner.geometry(), QRect(10, 20, 30, 40));
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}

#include "test_toolkit.moc"
