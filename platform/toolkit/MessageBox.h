// The system's message boxes: no owner window, one OK button, the given caption and text.
//
// The caller waits until OK is pressed, but the wait runs a message loop of its own in which the
// main window stays usable and its timers tick (an application-modal box would block both).
// Once the application is ending, a box returns at once without being shown.
#pragma once

#include <string>

namespace platform {

enum class BoxIcon { None, Stop };

// Shows the box and returns when it has been dismissed. Texts are UTF-8; a detail, when given, is
// a line of its own below the text (why it failed).
void messageBox(const std::string& text, const std::string& caption, BoxIcon icon = BoxIcon::None,
    const std::string& detail = {});

// The box of a failure the user has to see: captioned "ERROR".
void reportError(const std::string& text, const std::string& detail = {});

// Makes every box that is up, and every later one, return at once (the program is ending).
void dismissAllMessageBoxes();

} // namespace platform
