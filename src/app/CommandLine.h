#pragma once

#include <optional>
#include <string>

// "ternbell <version>", the version the build was made from.
std::string VersionText();

// The licence, as --version and the about box give it.
std::string LicenceText();

// The answer to --version or --help (the first of them on the command line),
// printed instead of starting; nothing when the program is to start. Other
// arguments are left to the toolkit.
std::optional<std::string> CommandLineAnswer(int argc, const char* const* argv);
