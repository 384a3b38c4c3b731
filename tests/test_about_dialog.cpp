// The About dialog from F1, the Help menu and the tool bar: shown modally with the version and
// date, closed by OK, and the same each time.
#include "app/Main.h"
#include "dialogs/Aboutswform.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Showing {
    std::vector<std::string> lines;
    std::string title;
    bool modal = false;
};

std::vector<std::string> memoLines()
{
    Form19->buildControls();
    std::vector<std::string> lines;
    for (const QString& line : Form19->Memo1->toPlainText().split('\n'))
        lines.push_back(line.toStdString());
    return lines;
}

// While it lives, records each showing of the About dialog, runs inspect on it, and then presses
// OK (unless told not to), from the event loop that the modal display runs.
class AboutWatcher {
public:
    explicit AboutWatcher(std::function<void()> inspect = {})
        : inspect_(std::move(inspect))
    {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this] { check(); });
        // A new showing may come before any poll saw the dialog hidden.
        QObject::connect(Form19, &QDialog::finished, &poll_, [this] { recorded_ = false; });
        poll_.start();
    }

    const std::vector<Showing>& showings() const { return showings_; }
    bool pressOk = true;

private:
    void check()
    {
        if (!Form19->isVisible())
            return;
        if (!recorded_) {
            recorded_ = true;
            showings_.push_back({ memoLines(), Form19->windowTitle().toStdString(),
                QApplication::activeModalWidget() == Form19 });
            if (inspect_)
                inspect_();
        }
        if (pressOk)
            Form19->OK_Button->click();
    }

    std::function<void()> inspect_;
    QTimer poll_;
    std::vector<Showing> showings_;
    bool recorded_ = false;
};

void activateMainWindow()
{
    // Closing a modal dialog hands the focus back later, from the event loop.
    Form1->activateWindow();
    ASSERT_TRUE(waitUntil([] {
        return Form1->isActiveWindow() && QGuiApplication::focusWindow() == Form1->windowHandle();
    })) << "the main window never became active";
}

void pressF1()
{
    activateMainWindow();
    QTest::keyClick(Form1->windowHandle(), Qt::Key_F1);
}

void expectTheAboutLines(const Showing& showing)
{
    EXPECT_EQ(showing.title, "About");
    ASSERT_EQ(showing.lines.size(), 7u) << "the version, the date and five contact lines";
    EXPECT_EQ(showing.lines[0], "Software Version:0.00.01");
    EXPECT_EQ(showing.lines[1], "Software Date    : 06/11/2008");
    EXPECT_TRUE(showing.modal) << "the main window takes no input while About is up";
}

} // namespace

TEST(AboutDialog, IsHiddenUntilAsked)
{
    EXPECT_FALSE(Form19->isVisible());
}

TEST(AboutDialog, F1ShowsVersionAndDateAndOkClosesIt)
{
    AboutWatcher watcher;
    pressF1();
    ASSERT_EQ(watcher.showings().size(), 1u) << "F1 did not show the About dialog";
    expectTheAboutLines(watcher.showings()[0]);
    EXPECT_FALSE(Form19->isVisible()) << "OK closed the dialog";
}

TEST(AboutDialog, F1ShowsTheSameContentAgainAfterOk)
{
    AboutWatcher watcher;
    pressF1();
    pressF1();
    ASSERT_EQ(watcher.showings().size(), 2u);
    EXPECT_EQ(watcher.showings()[1].lines, watcher.showings()[0].lines);
    expectTheAboutLines(watcher.showings()[1]);
}

TEST(AboutDialog, HelpMenuItemShowsIt)
{
    ASSERT_TRUE(Form1->Help2->actions().contains(Form1->About));
    EXPECT_EQ(Form1->About->shortcut(), QKeySequence(Qt::Key_F1));
    AboutWatcher watcher;
    Form1->About->trigger();
    ASSERT_EQ(watcher.showings().size(), 1u);
    expectTheAboutLines(watcher.showings()[0]);
}

TEST(AboutDialog, ToolBarButtonShowsIt)
{
    auto* button = qobject_cast<QToolButton*>(Form1->ToolBar1->widgetForAction(Form1->About_ToolButton));
    ASSERT_NE(button, nullptr) << "the tool bar has no About button";
    EXPECT_EQ(button->toolTip(), "About");
    AboutWatcher watcher;
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(watcher.showings().size(), 1u);
    expectTheAboutLines(watcher.showings()[0]);
}

TEST(AboutDialog, TheVersionLineMatchesTheBuildsVersion)
{
    EXPECT_EQ(memoLines().front(), std::string("Software Version:") + COMTEST_VERSION);
}

TEST(AboutDialog, MemoTextCanBeSelectedButNotChanged)
{
    QString selected;
    std::vector<std::string> afterTyping;
    AboutWatcher watcher([&] {
        QPlainTextEdit* memo = Form19->Memo1;
        memo->setFocus();
        QTest::keyClicks(memo, "typed");
        QTest::keyClick(memo, Qt::Key_Backspace);
        QTest::keyClick(memo, Qt::Key_Delete);
        afterTyping = memoLines();
        QTest::keyClick(memo, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(memo, Qt::Key_End, Qt::ShiftModifier);
        selected = memo->textCursor().selectedText();
    });
    pressF1();
    ASSERT_EQ(watcher.showings().size(), 1u);
    EXPECT_EQ(afterTyping, watcher.showings()[0].lines) << "typing changed the memo";
    EXPECT_EQ(selected, "Software Version:0.00.01") << "the first line selected from the keyboard";
    EXPECT_TRUE(Form19->Memo1->isReadOnly());
    EXPECT_TRUE(Form19->Memo1->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST(AboutDialog, CommandReturnsOnlyOnceTheDialogIsClosed)
{
    AboutWatcher watcher;
    watcher.pressOk = false;
    bool visibleWhileWaiting = false;
    QTimer::singleShot(0, [&] {
        visibleWhileWaiting = waitUntil([] { return Form19->isVisible(); }, 5s);
        spinFor(100ms);
        visibleWhileWaiting = visibleWhileWaiting && Form19->isVisible();
        Form19->OK_Button->click();
    });
    Form1->AboutClick(nullptr);
    EXPECT_TRUE(visibleWhileWaiting) << "the dialog stayed up until OK";
    EXPECT_FALSE(Form19->isVisible());
    EXPECT_EQ(watcher.showings().size(), 1u);
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
