#include "app/SignInNotices.h"

#include "check/CheckRules.h"
#include "desktop/DesktopNotifier.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"

#include <QApplication>

#include <utility>

namespace
{

const QString SignInAction = QStringLiteral("sign-in");

std::string LoginKey(const Account& account)
{
    return account.UserName + "\n" + account.Host + "\n" + account.OAuth2Issuer;
}

} // namespace

TSignInNotices::TSignInNotices(TDesktopNotifier& notifier) : FNotifier(notifier)
{
    connect(&FNotifier, &TDesktopNotifier::ActionInvoked, this, [this](const QString& key) {
        if (key != SignInAction || FShownIndex < 0)
            return;
        // It has served: the settings say the rest.
        const int index = std::exchange(FShownIndex, -1);
        FShownKey.clear();
        FNotifier.Withdraw();
        if (OpenSettings)
            OpenSettings(index);
    });
}

void TSignInNotices::Update(int index, const Account& account, bool needed)
{
    const std::string key = LoginKey(account);
    if (!needed)
    {
        FTold.erase(key);
        if (key == FShownKey)
        {
            FShownIndex = -1;
            FShownKey.clear();
            FNotifier.Withdraw();
        }
        return;
    }
    if (!FTold.insert(key).second)
        return;
    FShownIndex = index;
    FShownKey = key;
    TDesktopNotice notice;
    notice.Summary = QApplication::applicationName();
    // The caption is the user's text: the notifier sends it as plain text.
    notice.Body = FromCodePage(
        FormatOne(ResStr("The account \"%s\" needs a sign-in with its mail provider."), "%s", account.Caption));
    notice.Actions = {{SignInAction, FromCodePage(ResStr("Sign in"))}};
    notice.ExpireMs = 0;
    FNotifier.Show(notice);
}
