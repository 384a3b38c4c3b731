// Change notification of an editable combo box for the user's edits only.
//
// The handler runs after each change the user makes (choosing an item, typing with completion,
// deleting) and sees the text after the change; a text set by the program runs nothing.
#pragma once

#include <functional>

class QComboBox;
class QObject;

namespace platform {

void watchUserEdits(QComboBox* combo, QObject* context, std::function<void()> handler);

} // namespace platform
