#include "platform/toolkit/ToolTips.h"

#include <QEvent>
#include <QToolTip>
#include <QWidget>

namespace platform {

namespace {

class NoInheritedToolTip : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return false;
        QToolTip::hideText();
        return true;
    }
};

bool isNamedControl(const QWidget* widget)
{
    const QString name = widget->objectName();
    return !name.isEmpty() && !name.startsWith("qt_");
}

} // namespace

void keepToolTipsToTheirControls(QWidget* form)
{
    auto* filter = new NoInheritedToolTip(form);
    for (QWidget* widget : form->findChildren<QWidget*>())
        if (isNamedControl(widget) && widget->toolTip().isEmpty())
            widget->installEventFilter(filter);
}

} // namespace platform
