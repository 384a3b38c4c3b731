// The toolkit adapters on a window of the test's own: message boxes, the exception display, the
// window timer and the form scaler.
#include "platform/toolkit/Application.h"
#include "platform/toolkit/FormScaler.h"
#include "platform/toolkit/HandlerBinder.h"
#include "platform/toolkit/MessageBox.h"
#include "platform/toolkit/WindowTimer.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace std::chrono_literals;

// A button and a 500 ms timer whose handlers are bound by name, as the program's windows bind theirs.
class Form : public QWidget {
    Q_OBJECT
public:
    Form()
    {
        button->setProperty("handler", QByteArray("ButtonClick"));
        platform::bindHandlersByName(this, this);
        clock.start();
        show();
    }
    QPushButton* const button = new QPushButton("Go", this);
    platform::WindowTimer* const timer = new platform::WindowTimer(this, "Timer", 500, "TimerTimer");
    std::function<void()> onClick = [] {};
    std::vector<qint64> ticks; // ms since clock started
    QElapsedTimer clock;
public slots:
    void ButtonClick(QObject*) { onClick(); }
    void TimerTimer(QObject*) { ticks.push_back(clock.elapsed()); }
};

// Calls show, which puts up a box and waits for it, and runs answer on the box from within that wait.
static void whileBoxUp(const std::function<void()>& show, const std::function<void(QMessageBox*)>& answer)
{
    QObject guard;
    bool ran = false;
    QTimer::singleShot(0, &guard, [&] {
        if ((ran = waitUntil([] { return visibleMessageBox() != nullptr; })))
            answer(visibleMessageBox());
    });
    show();
    EXPECT_TRUE(ran) << "a box showed while the call ran";
    EXPECT_EQ(visibleMessageBox(), nullptr) << "no box stays up";
}

// A box shows its caption, text, icon and one OK; while it is up, clicks and ticks reach other
// windows; its call returns once it goes, however it goes. An exception in a handler shows in one.
TEST(MessageBox, ShowsWhatItIsGivenAndLeavesOtherWindowsLive)
{
    Form form;
    form.timer->setEnabled(true);
    size_t clicks = 0;
    const auto box = [] { platform::messageBox("the text", "the caption"); };
    const auto raise = [&](std::function<void()> thrower) {
        return [&, thrower] { form.onClick = thrower, QTest::mouseClick(form.button, Qt::LeftButton); };
    };
    const struct {
        std::function<void()> show;
        QString caption, text;
        QMessageBox::Icon icon;
        bool destroy;
    } rows[] = { { box, "the caption", "the text", QMessageBox::NoIcon, false },
        { box, "the caption", "the text", QMessageBox::NoIcon, true },
        { raise([] { throw std::runtime_error("failed"); }), "test_toolkit", "failed", QMessageBox::Critical,
            false },
        { raise([] { throw 42; }), "test_toolkit", "", QMessageBox::Critical,
            false } }; // and the program goes on
    for (const auto& row : rows)
        whileBoxUp(row.show, [&](QMessageBox* box) {
            EXPECT_EQ(std::tuple(box->windowTitle(), box->text(), box->icon(), box->buttons().size()),
                std::tuple(row.caption, row.text, row.icon, 1));
            const size_t ticks = form.ticks.size(), clicked = clicks;
            form.onClick = [&] { ++clicks; };
            QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, form.button->geometry().center());
            EXPECT_TRUE(waitUntil([&] { return clicks > clicked && form.ticks.size() > ticks; }))
                << "a click and a tick";
            row.destroy ? delete box : box->button(QMessageBox::Ok)->click();
        });
    for (const auto& [argv0, title] :
        std::vector<std::pair<std::string, std::string>> { { "/bin/comtest", "comtest" },
            { "./ComTest.Tool.exe", "Comtest" }, { "dir.d/COMTEST", "Comtest" }, { "/x/.hidden", "" } })
        EXPECT_EQ(platform::applicationTitle(argv0), title) << argv0; // the boxes' title above
}

// One timeline: enabled again and again, then disabled before a due tick, then enabled afresh.
TEST(WindowTimer, TicksEveryIntervalWhileEnabledEnablingAgainChangesNothingDisablingDropsTheDueTick)
{
    Form form;
    form.clock.restart();
    form.timer->setEnabled(true);
    while (form.clock.elapsed() < 1300)
        spinFor(50ms), form.timer->setEnabled(true); // a restart would never tick
    form.timer->setEnabled(false);
    ASSERT_EQ(form.ticks.size(), 2u) << "neither restarted by each enabling nor late past 650 ms";
    EXPECT_GE(form.ticks[0], 499) << "not brought forward";
    EXPECT_GE(form.ticks[1], 999);
    spinFor(500ms);
    EXPECT_EQ(form.ticks.size(), 2u) << "the tick due at 1500 ms was dropped";
    const qint64 enabled = form.clock.elapsed();
    form.timer->setEnabled(true);
    ASSERT_TRUE(waitUntil([&] { return form.ticks.size() == 3; }));
    EXPECT_GE(form.ticks[2] - enabled, 499) << "a full interval after enabling";
}

TEST(FormScaler, ControlsPlacedByTheLayoutScaleByScreenOverLayoutDensity)
{
    QWidget form;
    form.setProperty("layoutDpi", 48);
    QWidget placed(&form), inner(&form); // the one without a name is the toolkit's own
    placed.setObjectName("Placed"), placed.setGeometry(10, 20, 30, 40), inner.setGeometry(10, 20, 30, 40);
    platform::scaleForm(&form);
    const double f = QGuiApplication::primaryScreen()->logicalDotsPerInch() / 48;
    EXPECT_EQ(placed.geometry(), QRectF(10 * f, 20 * f, 30 * f, 40 * f).toRect());
    EXPECT_EQ(inner.geometry(), QRect(10, 20, 30, 40));
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}

#include "test_toolkit.moc"
