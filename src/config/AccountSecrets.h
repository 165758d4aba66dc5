#pragma once

#include "check/Account.h"
#include "platform/SecretStore.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The keyring item of an account: protocol, host, port and user name (never
// the caption), and the name a person sees in the keyring's window.
TSecretKey SecretKeyOf(const Account& account);
std::string SecretLabelOf(const Account& account); // "ternbell: <user> on <host>", UTF-8

// The accounts' passwords in the desktop keyring. A password the
// configuration value holds (read from the hive, or typed in the settings
// window) is on its way in: it is written to the keyring, and only once the
// keyring confirmed is it emptied in the hive and in the value. An empty
// password with a keyring present is read from it when a check needs it.
// Without a keyring nothing changes: the hive keeps the passwords.
class TAccountSecrets
{
public:
    explicit TAccountSecrets(TSecretStore& store);
    TAccountSecrets(const TAccountSecrets&) = delete;
    TAccountSecrets& operator=(const TAccountSecrets&) = delete;

    TSecretStore& Store() { return FStore; }

    // Writes every password the accounts hold to the keyring. For each write
    // the keyring confirmed, the hive's "UserPassword" of that account is
    // emptied where it still holds that password, then OnKept is told.
    void MoveIn(const std::vector<Account>& accounts);
    // The account (with the password it held) whose password is now kept in
    // the keyring only.
    std::function<void(const Account&)> OnKept;

    // A row of the account list after OK: where its secret was kept when the
    // list was last shown or saved (none for a new row), and the account now.
    struct TRowChange
    {
        std::optional<TSecretKey> Was;
        Account Now;
    };
    // Moves the secret of each row whose identity changed (unless a new
    // password was typed, which MoveIn writes) and deletes those of the rows
    // removed. A key some row now uses is never deleted.
    void Follow(const std::vector<TRowChange>& rows, const std::vector<TSecretKey>& removed);

    // The accounts with the passwords a round needs: each enabled account
    // with an empty password is read from the keyring. `withheld` holds per
    // account why it cannot be checked ("" where it can): the keyring stayed
    // locked, or failed. Without reads to make, `done` runs at once.
    using TGathered = std::function<void(std::vector<Account> accounts, std::vector<std::string> withheld)>;
    void Gather(std::vector<Account> accounts, TGathered done);

    // The account with the password last read or kept for it, where its own
    // is empty (for Delete, which logs in after a check).
    Account WithKnownPassword(Account account) const;

    // Asks once whether a keyring answers, so the settings window can say
    // where passwords are kept.
    void ProbeIfUnknown();

private:
    TSecretStore& FStore;
    std::map<TSecretKey, std::string> FKnown; // desktop text
};
