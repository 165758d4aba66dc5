#pragma once

#include "notify/NewMailController.h"

#include <functional>

struct TConfig;
class TAccountSecrets;
class TMailCheck;
class TTrayParts;

// The notification window's environment over the program's configuration
// value: every call reads the value as it stands then.
// imaMail: Delete's IMAP4 client; without one IMAP4 rows are refused.
// secrets: where the passwords kept in the keyring were last read, for
// Delete's logins; none: the value's own.
// checks: where the reload's checks run beside the user interface; none:
// checkNow is taken as done when it returns.
TNewMailEnvironment NewMailEnvironment(const TConfig& config, TTrayParts& tray, TDeleteClient& popMail,
                                       std::function<void()> checkNow, TDeleteClient* imaMail = nullptr,
                                       const TAccountSecrets* secrets = nullptr, TMailCheck* checks = nullptr);
