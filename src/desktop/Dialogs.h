#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

// Every modal box and file dialog of the program goes through here, so tests
// can answer them without a person. Texts are 8-bit desktop text, already
// translated by the caller.

enum class TMsgDlgType
{
    mtWarning,
    mtError,
    mtInformation,
    mtConfirmation,
};

// Button set, as flags.
enum TMsgDlgBtn : unsigned
{
    mbYes = 1u << 0,
    mbNo = 1u << 1,
    mbOK = 1u << 2,
    mbCancel = 1u << 3,
};

enum class TModalResult
{
    mrNone,
    mrOk,
    mrCancel,
    mrYes,
    mrNo,
};

struct TMessageRequest
{
    std::string Caption; // empty: the application title
    std::string Text;
    TMsgDlgType Type;
    unsigned Buttons;
};

struct TFileRequest
{
    std::string Filter;     // "Wave Sound Files (*.wav)|*.WAV"
    std::string InitialDir; // empty: the dialog's own choice
};

// A modal message box; returns the button pressed.
TModalResult MessageDlg(QWidget* owner, const TMessageRequest& request);

// The open-file dialog; the chosen full path, or nothing when cancelled.
std::optional<std::string> OpenFileDlg(QWidget* owner, const TFileRequest& request);

// Tests install answerers; while one is installed no real dialog opens.
// Installing an empty function restores the real dialogs.
using TMessageAnswerer = std::function<TModalResult(const TMessageRequest&)>;
using TFileAnswerer = std::function<std::optional<std::string>(const TFileRequest&)>;
void SetMessageAnswerer(TMessageAnswerer answerer);
void SetFileAnswerer(TFileAnswerer answerer);

// "Desc|*.EXT|Desc2|*.a;*.b" in the form QFileDialog takes:
// "Desc (*.EXT *.ext);;Desc2 (*.a *.A *.b *.B)". Patterns match in either case,
// as the desktop's file names did.
std::string QtFileFilter(const std::string& filter);

// From now on a hive file that had to be kept aside is reported in the error
// box.
void ReportHiveProblemsInErrorBox();

// A warning box with only OK, for reporters of problems that need no answer.
void ShowWarningBox(const std::string& caption, const std::string& text);
