// Menu shortcuts that win over an edit box's own key bindings.
//
// Under X11 Qt's line edit claims some control keys for its emacs-style editing (Ctrl+E moves to
// the end of the line), so a menu shortcut on such a key never fires while an edit box has the
// focus. The window's shortcuts work whatever control has the focus; other keys are left to the
// edit boxes.
// A separator item keeps its caption and shortcut in the layout, but a style that draws a section
// title over a separator (Fusion) would show them as "- Ctrl+F12": it is shown as a bare line, and
// its shortcut starts nothing.
#pragma once

class QWidget;

namespace platform {

// Lets the shortcuts of the window's actions win in every line edit the window holds now.
void letMenuShortcutsWin(QWidget* window);

// Clears the caption and shortcut of every separator action the window holds.
void showSeparatorsAsLines(QWidget* window);

} // namespace platform
