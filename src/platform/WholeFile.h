#pragma once

#include <functional>
#include <string>

// Files read and written whole: the hive and the state kept between runs.
// Paths are bytes in the file system's encoding.

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

// mkdir -p; folders created are 0700, and the last one is made 0700.
void EnsureFolder(const std::string& folder);

// The whole file into `text`; false when it does not exist. Other failures
// raise.
bool ReadWholeFile(const std::string& path, std::string& text);

// Writes `text` to a temporary file in the same folder (mode 0600), flushes
// it and renames it over `path`, so a crash never leaves half a file.
// `beforeRename`, when set, is called with the temporary file's path.
void ReplaceWholeFile(const std::string& path, const std::string& text,
                      const std::function<void(const std::string&)>& beforeRename = {});

// A base folder of the XDG layout: the variable when it holds an absolute
// path, else the folder under the user's home.
std::string XdgFolder(const char* variable, const std::string& underHome);

// A file of the state kept between runs:
// ${XDG_STATE_HOME:-$HOME/.local/state}/ternbell/<name>.
std::string UserStatePath(const std::string& name);
