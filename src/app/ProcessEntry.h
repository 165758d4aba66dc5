#pragma once

// Process entry: sets up the application object and the three windows, then
// runs the event loop until the program is told to terminate.
int RunTernbell(int argc, char** argv);

// What the windows and the first load rely on: the message domains and the
// start-up defaults. Run before the windows are created.
void PrepareStartup();
