// A dialog without a default or a cancel button: Enter and Esc press no button and do not close it.
//
// In a QDialog every push button is auto-default, so Enter presses the focused one or the first
// one, and Esc closes the dialog through reject(). The window frame's close also goes through
// reject() and still closes the dialog; Space on a focused button still presses it.
#pragma once

class QDialog;

namespace platform {

// Turns default and auto-default off on every push button of dialog, and keeps Esc that no control
// used from reaching the dialog's own key handling.
void withoutDefaultOrCancelButton(QDialog* dialog);

} // namespace platform
