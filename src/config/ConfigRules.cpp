#include "config/ConfigRules.h"

#include "config/Config.h"
#include "config/ConfigStore.h"
#include "platform/CodePage.h"

#include <QString>

#include <algorithm>

namespace
{

// The text as an edit gives it back.
std::string EditedText(const std::string& text)
{
    return ToCodePage(FromCodePage(text).left(EditMaxLength));
}

// An account's texts are held whole, through the same conversions.
std::string HeldText(const std::string& text)
{
    return ToCodePage(FromCodePage(text));
}

int Clamped(int value, int min, int max)
{
    return std::clamp(value, min, std::max(min, max));
}

template <std::size_t N> int ItemIndex(int index, const std::array<const char*, N>& items)
{
    return index >= 0 && index < static_cast<int>(items.size()) ? index : -1;
}

Account SettledAccount(const Account& shown)
{
    Account a = shown;
    for (std::string* text : {&a.Caption, &a.UserName, &a.Password, &a.Host, &a.Port, &a.OAuth2Issuer,
                              &a.OAuth2ClientId, &a.OAuth2Scope})
        *text = HeldText(*text);
    a.Security = SecurityOfNumber(a.Security);
    if (a.CheckingTime != 0)
        a.CheckingTime = Clamped(a.CheckingTime, IntervalRange.Min, IntervalRange.Max);
    a.Authentication = AuthenticationOfNumber(a.Authentication);
    a.Sound = HeldText(a.Sound);
    a.Urgency = Clamped(a.Urgency, 0, 2);
    a.Unreadable.clear();
    for (const TUnreadValue& v : shown.Unreadable)
        if (HoldsDefault(a, v.Name))
            a.Unreadable.push_back({v.Name, HeldText(v.Problem), v.Key});
    return a;
}

} // namespace

TConfig InitialConfigOfControls()
{
    TConfig c;
    c.CheckingTime = IntervalRange.Initial;
    c.DoubleClick = 0;
    c.NotifyOnlyNewMsg = InitialNotifyOnlyNewMsg;
    c.RequiredPriority = 0;
    c.ShowForm = false;
    c.ScrLckBlinking = LedRange.Initial;
    c.FormAutoHide = AutoHideRange.Initial;
    c.FormStayOnTop = false;
    c.FormSaveDetails = false;
    c.ShowPreview = false;
    return c;
}

TConfig SettledConfig(const TConfig& shown)
{
    TConfig c = InitialConfigOfControls();
    c.EmailClient = EditedText(shown.EmailClient);
    c.CheckingTime = Clamped(shown.CheckingTime, IntervalRange.Min, IntervalRange.Max);
    c.DoubleClick = ItemIndex(shown.DoubleClick, DoubleClickItems);
    c.NotifyOnlyNewMsg = shown.NotifyOnlyNewMsg;
    c.RequiredPriority = ItemIndex(shown.RequiredPriority, PriorityItems);
    c.ShowForm = shown.ShowForm;
    c.PlaySound = EditedText(shown.PlaySound);
    c.ScrLckBlinking = Clamped(shown.ScrLckBlinking, LedRange.Min, c.CheckingTime);
    c.ShowIcon = EditedText(shown.ShowIcon);
    c.Execute = EditedText(shown.Execute);
    c.ShowPreview = shown.ShowPreview;
    c.FormAutoHide = Clamped(shown.FormAutoHide, AutoHideRange.Min, c.CheckingTime);
    c.FormAnimation = EditedText(shown.FormAnimation);
    c.FormStayOnTop = shown.FormStayOnTop;
    c.FormSaveDetails = shown.FormSaveDetails;
    c.FormShowDetails = shown.FormShowDetails;
    // The list cannot show a negative width; such a value hides the column.
    c.QuietFrom = Clamped(shown.QuietFrom, 0, MinutesPerDay - 1);
    c.QuietTo = Clamped(shown.QuietTo, 0, MinutesPerDay - 1);
    c.QuietDays = shown.QuietDays & AllQuietDays;
    c.QuietUntil = shown.QuietUntil;
    c.CommandWhenQuiet = shown.CommandWhenQuiet;
    c.Rules = shown.Rules;
    for (const int width : shown.ColumnWidths)
        c.ColumnWidths.push_back(std::max(width, 0));
    for (const Account& a : shown.Accounts)
        c.Accounts.push_back(SettledAccount(a));
    return c;
}
