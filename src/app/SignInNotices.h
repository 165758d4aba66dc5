#pragma once

#include "check/Account.h"

#include <QObject>

#include <functional>
#include <set>
#include <string>

class TDesktopNotifier;

// Tells the user, as a desktop notification with a "Sign in" action, that an
// OAuth2 account must be signed in again: once, until a session of that
// account logs in again, so a round after round of failures is no stream of
// notifications. The notice goes once chosen or once the account logged in;
// the error row stays the account's lasting sign.
class TSignInNotices : public QObject
{
public:
    // notifier: its own, the caller's, outliving this.
    explicit TSignInNotices(TDesktopNotifier& notifier);

    // The outcome of an OAuth2 account's session: `needed` when it could not
    // log in before a sign-in, else (it logged in) false.
    void Update(int index, const Account& account, bool needed);

    // "Sign in" was chosen: open the settings on the account at `index`.
    std::function<void(int index)> OpenSettings;

private:
    TDesktopNotifier& FNotifier;
    // The accounts told of, by their login.
    std::set<std::string> FTold;
    // The account of the notice shown, while it shows.
    int FShownIndex = -1;
    std::string FShownKey;
};
