#pragma once

#include <string>

// Folder of the running executable, with its trailing separator. The program's
// own files (default sound, icon, animation, catalogs) live there.
std::string ExecutableFolder();
