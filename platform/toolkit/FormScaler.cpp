#include "platform/toolkit/FormScaler.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <cmath>

// The layouts' images live in a static library, whose resources the linker keeps only when named.
static void initialiseImages()
{
    Q_INIT_RESOURCE(images);
}

namespace platform {

namespace {

int scaled(double value, double factor)
{
    return static_cast<int>(std::lround(value * factor));
}

// A number the layout gives; 0 when it gives none, unless a fallback is named.
int intProperty(const QObject* object, const char* name, int fallback = 0)
{
    const QVariant value = object->property(name);
    return value.isValid() ? value.toInt() : fallback;
}

// Controls that the layout placed itself; Qt's own inner widgets and the pages that a container
// lays out are left to their containers.
bool placedByLayout(const QWidget* widget)
{
    const QString name = widget->objectName();
    if (name.isEmpty() || name.startsWith("qt_") || widget->isWindow())
        return false;
    const QWidget* parent = widget->parentWidget();
    return parent && !qobject_cast<const QTabWidget*>(parent) && !qobject_cast<const QStackedWidget*>(parent)
        && !qobject_cast<const QMainWindow*>(parent) && !qobject_cast<const QToolBar*>(parent)
        && !qobject_cast<const QMenuBar*>(parent) && !qobject_cast<const QMenuBar*>(widget)
        && !qobject_cast<const QToolBar*>(widget);
}

void scaleFont(QWidget* widget, double factor, const QString& family)
{
    const int height = intProperty(widget, "fontPixelHeight");
    if (height <= 0)
        return;
    QFont font = widget->font();
    font.setFamily(family);
    font.setPixelSize(std::max(1, scaled(height, factor)));
    widget->setFont(font);
}

void scaleToolBar(QToolBar* bar, const QWidget* form, double factor)
{
    const int button = scaled(intProperty(form, "toolButtonSize"), factor);
    const int icon = scaled(32, factor);
    bar->setIconSize(QSize(icon, icon));
    bar->setFixedHeight(scaled(intProperty(form, "toolBarHeight"), factor));
    for (QToolButton* tool : bar->findChildren<QToolButton*>())
        tool->setFixedSize(button, button);
}

QSize clientSize(QWidget* form, double factor)
{
    if (auto* window = qobject_cast<QMainWindow*>(form)) {
        const int width = intProperty(form, "clientWidth");
        const int height = intProperty(form, "clientHeight");
        const int menu = window->menuBar() ? window->menuBar()->sizeHint().height() : 0;
        return QSize(scaled(width, factor), scaled(height, factor) + menu);
    }
    // The outer size includes a frame that the window manager draws here: take off the frame
    // the layout was made with.
    const int width = intProperty(form, "outerWidth") - intProperty(form, "frameWidth", 8);
    const int height = intProperty(form, "outerHeight") - intProperty(form, "frameHeight", 34);
    return QSize(scaled(std::max(width, 1), factor), scaled(std::max(height, 1), factor));
}

} // namespace

double densityFactor(const QWidget* form)
{
    const int layoutDpi = intProperty(form, "layoutDpi");
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double screenDpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return screenDpi / (layoutDpi > 0 ? layoutDpi : 96);
}

void scaleForm(QWidget* form)
{
    [[maybe_unused]] static const bool imagesLoaded = (initialiseImages(), true);
    const double factor = densityFactor(form);
    const QString family = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    scaleFont(form, factor, family);
    for (QWidget* widget : form->findChildren<QWidget*>()) {
        scaleFont(widget, factor, family);
        if (placedByLayout(widget)) {
            const QRect r = widget->geometry();
            int width = scaled(r.width(), factor);
            // Labels size themselves to their captions, so a wider stand-in font never clips one.
            if (auto* label = qobject_cast<QLabel*>(widget))
                width = std::max(width, label->sizeHint().width());
            widget->setGeometry(
                scaled(r.x(), factor), scaled(r.y(), factor), width, scaled(r.height(), factor));
        }
    }
    for (QToolBar* bar : form->findChildren<QToolBar*>())
        scaleToolBar(bar, form, factor);
    form->resize(clientSize(form, factor));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), form->size());
        frame.moveCenter(screen->availableGeometry().center());
        form->move(frame.topLeft());
    }
}

} // namespace platform
