#pragma once

#include "check/AccountSession.h"

#include <memory>

// A POP3, IMAP4 or JMAP check client with a line of its own for one session;
// `abort` (may be null) ends it from another thread.
std::unique_ptr<TCheckClient> MakeCheckClient(TMailProtocol protocol, const TSessionLimits& limits,
                                              std::shared_ptr<TIdLineAbort> abort);
