#pragma once

#include "check/CheckCycle.h"

#include <optional>
#include <string>

// What `ternbell --status` tells of the running program: the waiting mail as
// the tray counts it, and whether checking is paused or kept quiet.
struct TStatus
{
    TMailState Mail;
    bool Paused = false;
    bool Quiet = false;
    // When the last check ended, ISO 8601 with the local offset; "" before
    // the first.
    std::string Checked;

    bool operator==(const TStatus&) const = default;
};

// "paused", "error", "quiet", "new" or "none", the first that holds.
std::string StatusClass(const TStatus& status);

// One line of JSON (UTF-8, no line break), in the form a bar's custom module
// reads as it is:
// {"text": "3", "alt": "new", "class": "new", "tooltip": "...", "count": 3,
//  "accounts": [{"name": "...", "count": 2, "error": ""}], "quiet": false,
//  "checked": "2026-12-09T10:00:00+01:00"} ("checked" is null before the first check).
std::string StatusJson(const TStatus& status);

// `format` with {count}, {accounts} and {class} filled from one status line
// (StatusJson's); {accounts} lists "name: count" of each account with mail
// and "name: !" of each that failed, joined by ", ". Nothing when the line is
// no status.
std::optional<std::string> FormatStatus(const std::string& format, const std::string& jsonLine);
