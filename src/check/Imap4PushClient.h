#pragma once

#include "check/AccountSession.h"
#include "check/PushSession.h"

#include <memory>

// Seconds of silence after which the system probes a pushed line, and how
// the probes go: a dead peer is noticed within about two minutes.
constexpr int PushKeepAliveSeconds = 60;

// An IMAP4 push session (a JMAP account's: JmapPushClient.h) with a line of
// its own; `abort` (may be null) ends it from another thread. It has no limit on the whole session: each wait
// is bounded by its own time, each answer by the read limit.
std::unique_ptr<TPushClient> MakePushClient(const Account& account, const TSessionLimits& limits,
                                            std::shared_ptr<TIdLineAbort> abort);
