#pragma once

// Process entry: sets up the application object and the three windows, then
// runs the event loop until the program is told to terminate.
int RunTernbell(int argc, char** argv);
