#pragma once

#include "check/AccountSession.h"

#include <memory>

// A POP3 or IMAP4 check client with a line of its own for one session;
// `abort` (may be null) ends it from another thread.
std::unique_ptr<TCheckClient> MakeCheckClient(bool imap4, const TSessionLimits& limits,
                                              std::shared_ptr<TIdLineAbort> abort);
