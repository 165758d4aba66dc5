#pragma once

#include "notify/NewMailController.h"

#include <functional>

class TfrmSettings;

// The notification window's environment over the settings window's controls,
// which are the live configuration.
// imaMail: Delete's IMAP4 client; without one IMAP4 rows are refused.
TNewMailEnvironment NewMailEnvironment(TfrmSettings& settings, TDeleteClient& popMail,
                                       std::function<void()> checkNow, TDeleteClient* imaMail = nullptr);
