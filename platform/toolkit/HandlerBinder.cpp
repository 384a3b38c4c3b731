#include "platform/toolkit/HandlerBinder.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/ComboEdits.h"
#include "platform/toolkit/WindowTimer.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QMetaMethod>
#include <stdexcept>
#include <utility>

namespace platform {

namespace {

void bindOne(QObject* form, QObject* sender, const QMetaMethod& handler)
{
    // An exception is shown here, before it can unwind through the toolkit's own event code.
    auto call = [form, sender, handler] {
        try {
            handler.invoke(form, Qt::DirectConnection, Q_ARG(QObject*, sender));
        } catch (const std::exception& error) {
            showException(&error);
        } catch (...) {
            showException(nullptr);
        }
    };
    if (auto* button = qobject_cast<QAbstractButton*>(sender))
        QObject::connect(button, &QAbstractButton::clicked, form, call);
    else if (auto* action = qobject_cast<QAction*>(sender))
        QObject::connect(action, &QAction::triggered, form, call);
    else if (auto* timer = qobject_cast<WindowTimer*>(sender))
        QObject::connect(timer, &WindowTimer::tick, form, call);
    else if (auto* combo = qobject_cast<QComboBox*>(sender))
        watchUserEdits(combo, form, call);
    else
        throw std::runtime_error("cannot bind a handler to " + sender->objectName().toStdString());
}

} // namespace

void bindHandlersByName(QObject* form, QObject* root)
{
    QList<QObject*> objects = root->findChildren<QObject*>();
    objects.prepend(root);
    // Gathered before binding: binding may replace a control's inner widgets (a combo box's edit
    // field), which would leave dangling entries in the list.
    QList<std::pair<QObject*, QByteArray>> named;
    for (QObject* object : objects) {
        const QByteArray name = object->property("handler").toByteArray();
        if (!name.isEmpty())
            named.append({ object, name });
    }
    const QMetaObject* meta = form->metaObject();
    for (const auto& [object, name] : named) {
        const int index = meta->indexOfMethod(QMetaObject::normalizedSignature(name + "(QObject*)"));
        if (index < 0)
            throw std::runtime_error("the layout names a handler the window lacks: " + name.toStdString());
        bindOne(form, object, meta->method(index));
    }
}

} // namespace platform
