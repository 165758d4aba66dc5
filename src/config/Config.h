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
    std::vector<Account> Accounts;

    bool operator==(const TConfig&) const = default;
};
