#pragma once

#include "check/NewMailNews.h"
#include "notify/NewMailController.h"

#include <functional>
#include <memory>

struct TConfig;
class TAccountSecrets;
class TIdLineAbort;
class TMailCheck;
class TTrayParts;

// Delete's client for one run, made on the worker that runs it, with a line
// of its own that `abort` ends from the user-interface thread.
using TDeleteFactory =
    std::function<std::unique_ptr<TDeleteClient>(TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort)>;

// The notification window's environment over the program's configuration
// value: every call reads the value as it stands then.
// checks: where Delete's sessions, the reloads and the wait on a reader run,
// beside the user interface.
// secrets: where the passwords kept in the keyring were last read, for
// Delete's logins; none: the value's own.
TNewMailEnvironment NewMailEnvironment(const TConfig& config, TTrayParts& tray, std::function<void()> checkNow,
                                       TMailCheck& checks, TDeleteFactory makeDelete,
                                       const TAccountSecrets* secrets = nullptr);

// The configuration's accounts, each with the password the keyring holds
// for it where the hive holds none.
std::vector<Account> AccountsWithKnownPasswords(const TConfig& config, const TAccountSecrets* secrets);

// The plan that marks `told` as read, over `accounts` as they stand now:
// the messages grouped by account, those of an account no longer there left
// out.
TDeletePlan PlanOfTold(std::vector<Account> accounts, const std::vector<TToldMessage>& told);

// Marks the plan's messages as read beside the user interface, on clients of
// `makeClient`, waiting its turn with the rounds as Delete does; then checks
// the accounts it touched, so their rows go. A failure is raised on the
// user-interface thread after that check is asked for.
void MarkReadBeside(TMailCheck& checks, const TDeleteFactory& makeClient, TDeletePlan plan);
