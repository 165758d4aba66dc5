#pragma once

#include "check/Account.h"

#include <string>
#include <vector>

// The configuration as plain data: what the hive stores under the main key
// and one entry per account. Texts are 8-bit desktop text. The settings
// window shows and edits it; everything else reads a copy.
//
// The members start at the defaults a first load stores, but for the files
// and the mail client, which are the start-up defaults (StoredDefaults).
//
// The stored settings hold no ticks: a path or command is on when it is not
// empty, a time when it is above 0.
// Quiet hours are minutes of one day; the days a bit each, Monday first.
inline constexpr int MinutesPerDay = 24 * 60;
inline constexpr int AllQuietDays = 127;

struct TConfig
{
    std::string EmailClient;
    int CheckingTime = 300;       // seconds
    int DoubleClick = 0;          // item of the tray double click, -1 none
    bool NotifyOnlyNewMsg = true;
    int RequiredPriority = 4;     // 0 highest .. 4 lowest, -1 none
    bool ShowForm = true;
    std::string PlaySound;
    int ScrLckBlinking = 0;       // seconds of LED blinking
    std::string ShowIcon;
    std::string Execute;
    bool ShowPreview = true;      // read and show the start of new messages' text
    int FormAutoHide = 0;         // seconds
    std::string FormAnimation;
    bool FormStayOnTop = true;
    bool FormSaveDetails = true;
    bool FormShowDetails = true;
    // Widths of the notification window's columns, from the first; a load
    // that stops early holds the ones read before the fault.
    std::vector<int> ColumnWidths;
    // Whose launcher shows the count: a desktop id; "" ternbell's, "-" none.
    std::string BadgeFor;
    // Quiet hours, in minutes after local midnight: from > to spans
    // midnight, equal means none. Days: bit 0 Monday .. bit 6 Sunday, the
    // day the quiet hours begin.
    int QuietFrom = 0;
    int QuietTo = 0;
    int QuietDays = 127;
    // Quiet until then (UTC, ISO 8601), set from the tray; "" when not.
    std::string QuietUntil;
    // The command still runs for new mail while quiet.
    bool CommandWhenQuiet = false;
    // The texts of the "Rules" sub-key's values "1", "2", ... in order, ones
    // that do not parse kept as stored so the settings can show them.
    std::vector<std::string> Rules;
    std::vector<Account> Accounts;

    bool operator==(const TConfig&) const = default;
};
