// Binds the handlers that a layout names to the form's methods, by name.
//
// A control, action or window timer names its handler in the dynamic property "handler"; the form
// declares it as an invokable method taking the sender (QObject*). Buttons bind their click,
// actions their trigger, timers their tick and combo boxes their user edits (see ComboEdits.h).
// A name that the form does not declare is a fault in the layout and stops the start-up.
#pragma once

class QObject;

namespace platform {

// Binds every object below root (root included) that names a handler to that method of form.
void bindHandlersByName(QObject* form, QObject* root);

} // namespace platform
