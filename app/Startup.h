// Start-up and shutdown of the windowed program.
#pragma once

// Creates the three windows in the order the globals need: Form1, Form19, then Form23, whose
// construction writes the default line settings into Form1. All stay hidden.
void createForms();

// Destroys the windows (the port a test may hold is left for the system to release).
void destroyForms();

// Initialises the toolkit, creates the windows, shows the main window and runs the event loop.
// An exception that escapes is shown and the program still returns 0.
int runApplication(int argc, char** argv);
