// Change notification of an editable combo box for the user's edits only.
//
// The handler runs once after each change the user makes (choosing an item from the list, typing,
// deleting, pasting, Up/Down or the wheel) and sees the text after the change, typing completion
// included. A text set by the program (setEditText, setCurrentIndex) runs nothing.
//
// Typing completes against the list inline: the text becomes the first item that begins with the
// characters typed so far, letter case ignored, while the typed characters keep their own case
// ("c" in a box listing COM1 shows "cOM1"); the completed remainder is selected. A character that
// no item continues is simply inserted. Nothing rewrites the text afterwards: Enter does nothing
// and leaving the box keeps "cOM1" as typed, although it matches the item COM1 but for case.
#pragma once

#include <functional>

class QComboBox;
class QObject;

namespace platform {

// Watches combo for user edits while context lives. An editable combo box gets a new edit field;
// its text is kept.
void watchUserEdits(QComboBox* combo, QObject* context, std::function<void()> handler);

} // namespace platform
