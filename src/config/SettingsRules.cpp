#include "config/SettingsRules.h"

#include "check/CheckRules.h"
#include "check/Utils.h"
#include "i18n/Translate.h"

bool PathTicked(const std::string& text)
{
    return !text.empty();
}

bool TimeTicked(int seconds)
{
    return seconds > 0;
}

TPathField PathBoxRule(bool ticked, const std::string& text, const std::string& defaultText)
{
    if (!ticked)
        return {false, {}};
    return {true, text.empty() ? defaultText : text};
}

TTimeField TimeBoxRule(bool ticked, int position)
{
    return ticked ? TTimeField{true, position} : TTimeField{false, 0};
}

TFileRequest PickerRequest(TPicker picker, const std::string& emailClient)
{
    // One filter each: the translated description, then the pattern.
    // Dialogs.h's QtFileFilter adds the other case of each pattern.
    switch (picker)
    {
    case TPicker::EmailClient:
        return {ResStr("Application Files (*.exe)") + "|*", EmailClientFolder(emailClient)};
    case TPicker::Sound:
        return {ResStr("Wave Sound Files (*.wav)") + "|*.wav", {}};
    case TPicker::Icon:
        return {ResStr("Icon Files (*.ico)") + "|*.ico", {}};
    case TPicker::Animation:
        return {ResStr("Animation Files (*.avi)") + "|*.avi", {}};
    }
    return {};
}

std::string EmailClientFolder(const std::string& command)
{
    return TextBetween(command, "\"", "\"", 1);
}

std::string PortProblem(const std::string& port)
{
    try
    {
        PortOfText(port);
        return {};
    }
    catch (const EBadPort& e)
    {
        return e.Message;
    }
}
