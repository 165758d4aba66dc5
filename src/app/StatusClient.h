#pragma once

#include <optional>
#include <string>
#include <vector>

// `ternbell --status [--follow] [--format TEXT]`: asks the running instance
// for its status through the one-instance channel and prints it, one line of
// JSON, or TEXT with {count}, {accounts} and {class} filled. With --follow a
// line at once and one more at every change, until the instance ends or the
// output is closed; the instance pushes the changes, nothing here polls.
struct TStatusOptions
{
    bool Follow = false;
    std::optional<std::string> Format;
    // `--quiet MINUTES` or `--resume`: the request that changes the quiet
    // before the status comes back; "" asks for the status alone.
    std::string Request;
};

// The one-instance channel's requests of the quiet: "quiet MINUTES\n" and
// "resume\n". Minutes beyond a day are the running instance's to bound.
std::string QuietRequest(int minutes);
inline constexpr const char* ResumeRequest = "resume\n";
// The minutes of a quiet request; nothing for any other line.
std::optional<int> QuietMinutesOf(const std::string& request);

// The options when the command line asks for the status; nothing when it
// does not, with `misuse` saying why where it asks wrongly.
std::optional<TStatusOptions> StatusOptionsOf(int argc, const char* const* argv, std::string& misuse);

// Where a running instance may listen, the likeliest first: the display the
// toolkit would choose is not known before it starts, so each the session
// names is tried.
std::vector<std::string> StatusSocketPaths();

// Prints the status to `out`: 0 when done (also when the output was closed),
// 1 with "ternbell is not running" (or why it did not answer) on `err`.
int RunStatus(const TStatusOptions& options, const std::vector<std::string>& socketPaths, int out = 1,
              int err = 2);
