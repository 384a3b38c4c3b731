// The toolkit adapters on a window of the test's own: boxes, exceptions, the scaler.
#include "platform/toolkit/Application.h"
#include "platform/toolkit/FormScaler.h"
#include "platform/toolkit/HandlerBinder.h"
#include "platform/toolkit/MessageBox.h"
#include "support/WindowHarness.h"

#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>

using Fn = std::function<void()>;

// A button whose handler is bound by name, as the program's windows bind theirs.
class Form : public QWidget {
    Q_OBJECT
public:
    Form()
    {
        button->setProperty("handler", "Click");
        platform::bindHandlersByName(this, this);
        show();
    }
    QPushButton* const button = new QPushButton("Go", this);
    Fn onClick, idle = [] {}; // onClick: what the next click runs, once
    int clicks = 0;
public slots:
    void Click(QObject*)
    {
        ++clicks;
        std::exchange(onClick, idle)();
    }
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
        form.onClick = handler;
        QTest::mouseClick(form.button, Qt::LeftButton);
        ASSERT_EQ(watcher.seen().size(), 1u) << "a box showed while the call ran";
        EXPECT_EQ(watcher.seen()[0].caption + ": " + watcher.seen()[0].text, "test_toolkit: " + text);
        EXPECT_EQ(visibleMessageBox(), nullptr);
    }
    EXPECT_EQ(platform::applicationTitle("dir.d/COMTEST.Tool.exe"), "Comtest"); // as in the caption above
}

// Each number of a layout scales by the screen's density over the layout's: places of controls that the
// layout placed, fonts, the window less the frame the layout was drawn with, a main window's client area
// below its menu, and tool bars. Labels stay wide enough for their captions; the window is centred.
TEST(FormScaler, EveryNumberOfTheLayoutScalesByTheSameFactor)
{
    QMainWindow main;
    QWidget dialog;
    QWidget inner(&dialog); // without a name: the toolkit's own
    QLabel placed("a caption wider than its place", &dialog);
    QStackedWidget pages(&dialog);
    QWidget page(&pages); // its container places it
    page.setObjectName("Page");
    QToolBar* bar = main.addToolBar("bar");
    bar->addAction("tool");
    main.menuBar()->addMenu("File");
    placed.setObjectName("Placed");
    placed.setGeometry(10, 20, 30, 40);
    inner.setGeometry(10, 20, 30, 40);
    page.setGeometry(10, 20, 30, 40);
    for (const auto& [name, value] : { std::pair("layoutDpi", 48), { "fontPixelHeight", 12 },
             { "outerWidth", 108 }, { "outerHeight", 84 }, { "clientWidth", 200 }, { "clientHeight", 100 },
             { "toolButtonSize", 20 }, { "toolBarHeight", 25 } }) {
        dialog.setProperty(name, value);
        main.setProperty(name, value);
    }
    placed.setProperty("fontPixelHeight", 7);
    platform::scaleForm(&dialog);
    platform::scaleForm(&main);
    const double f = QGuiApplication::primaryScreen()->logicalDotsPerInch() / 48;
    const QRect scaledPlace = QRectF(10 * f, 20 * f, 30 * f, 40 * f).toRect();
    EXPECT_EQ(
        placed.geometry(), scaledPlace.adjusted(0, 0, placed.sizeHint().width() - scaledPlace.width(), 0));
    EXPECT_EQ(inner.geometry(), QRect(10, 20, 30, 40));
    EXPECT_EQ(page.geometry(), QRect(10, 20, 30, 40));
    EXPECT_EQ(dialog.font().pixelSize(), qRound(12 * f)) << "the window's own font";
    EXPECT_EQ(placed.font().pixelSize(), qRound(7 * f)) << "a control's font";
    EXPECT_EQ(dialog.size(), QSize(100 * f, 50 * f)) << "less the frame of 8 by 34";
    EXPECT_EQ(dialog.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
    EXPECT_EQ(main.size(), QSize(200 * f, 100 * f + main.menuBar()->sizeHint().height()));
    EXPECT_EQ(bar->iconSize(), QSize(32 * f, 32 * f));
    EXPECT_EQ(bar->height(), qRound(25 * f));
    EXPECT_EQ(bar->findChildren<QToolButton*>().back()->size(), QSize(20 * f, 20 * f));
}

#include "test_toolkit.moc"
