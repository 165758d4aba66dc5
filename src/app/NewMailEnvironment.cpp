#include "app/NewMailEnvironment.h"

#include "app/MailCheck.h"
#include "app/TrayParts.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ConfigStore.h"
#include "desktop/TrayIcon.h"

#include <utility>

TNewMailEnvironment NewMailEnvironment(const TConfig& config, TTrayParts& tray, TDeleteClient& popMail,
                                       std::function<void()> checkNow, TDeleteClient* imaMail,
                                       const TAccountSecrets* secrets, TMailCheck* checks)
{
    TNewMailEnvironment env;
    const TConfig* c = &config;
    env.Accounts = [c, secrets] {
        std::vector<Account> accounts = c->Accounts;
        if (secrets)
            for (Account& a : accounts)
                a = secrets->WithKnownPassword(a);
        return accounts;
    };
    env.EmailClient = [c] { return c->EmailClient; };
    env.AutoHide = [c] { return c->FormAutoHide > 0; };
    env.AutoHideSeconds = [c] { return c->FormAutoHide; };
    env.ReaderCommand = [] { return ReaderCommand; };
    env.CheckNow = std::move(checkNow);
    if (checks)
        env.AfterChecks = [checks](std::function<void()> then) { checks->WhenIdle(std::move(then)); };
    TTrayParts* t = &tray;
    env.HideNewMailIcon = [t] { t->triNewMsg->SetVisible(false); };
    env.popMail = &popMail;
    env.imaMail = imaMail;
    return env;
}
