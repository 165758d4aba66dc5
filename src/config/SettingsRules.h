#pragma once

#include "desktop/Dialogs.h"

#include <string>

// The rules of the settings window that need no window: what its check boxes
// do to the fields they switch, and what its "..." buttons ask the file
// dialog. Texts are 8-bit desktop text.

// The stored settings hold no ticks: a path or command is on when it is not
// empty, a time when it is above 0.
bool PathTicked(const std::string& text);
bool TimeTicked(int seconds);

// A path or command edit after its box was ticked or cleared.
struct TPathField
{
    bool Enabled;
    std::string Text;
};

// Ticked: the edit is enabled and an empty one receives the default (pass ""
// for the command, which keeps its text). Cleared: disabled and emptied, which
// is how "off" is stored.
TPathField PathBoxRule(bool ticked, const std::string& text, const std::string& defaultText);

// The arrows of a time after its box was ticked or cleared; the time's edit
// itself stays enabled either way.
struct TTimeField
{
    bool ArrowsEnabled;
    int Position;
};

// Ticked: the arrows are enabled and the time stays as it is, 0 included.
// Cleared: the arrows are disabled and the time is 0.
TTimeField TimeBoxRule(bool ticked, int position);

// The four "..." buttons.
enum class TPicker
{
    EmailClient,
    Sound,
    Icon,
    Animation,
};

// The open-file request of a "..." button. The mail client picker starts in
// the folder named by the current command (EmailClientFolder); the others
// leave the folder to the dialog.
//
// The filters are made for this desktop: programs carry no extension here, so
// the mail client picker has no extension filter (its description stays), and
// the file pickers match their extension in either case.
TFileRequest PickerRequest(TPicker picker, const std::string& emailClient);

// The folder the mail client picker opens in: the text between the first two
// double quotes of the command, all of it after a lone quote, and "" (the
// dialog's own choice) when there is no quote.
std::string EmailClientFolder(const std::string& command);

// What is wrong with an account's port text, in words naming it; "" when it
// is a TCP port (1 to 65535).
std::string PortProblem(const std::string& port);
