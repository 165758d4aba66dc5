#include "app/NewMailEnvironment.h"

#include "config/AccountRows.h"
#include "config/ConfigStore.h"
#include "config/SettingsForm.h"
#include "desktop/TrayIcon.h"
#include "desktop/UpDownControl.h"
#include "platform/CodePage.h"

#include <QCheckBox>
#include <QLineEdit>

#include <utility>

TNewMailEnvironment NewMailEnvironment(TfrmSettings& settings, TDeleteClient& popMail,
                                       std::function<void()> checkNow, TDeleteClient* imaMail)
{
    TNewMailEnvironment env;
    TfrmSettings* s = &settings;
    env.Accounts = [s] { return AccountsOfList(*s->lvwAccounts); };
    env.EmailClient = [s] { return ToCodePage(s->txtApplication->text()); };
    env.AutoHide = [s] { return s->chkAutoHide->isChecked(); };
    env.AutoHideSeconds = [s] { return s->spnAutoHide->Position(); };
    env.ReaderCommand = [] { return ReaderCommand; };
    env.CheckNow = std::move(checkNow);
    env.HideNewMailIcon = [s] { s->triNewMsg->SetVisible(false); };
    env.popMail = &popMail;
    env.imaMail = imaMail;
    return env;
}
