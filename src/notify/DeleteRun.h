#pragma once

#include "check/Account.h"
#include "check/AccountSession.h"
#include "notify/DeleteClient.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One row Delete was asked for, taken from the rows before anything is sent:
// the server keeps its numbering until the session ends.
struct TDeleteTarget
{
    int Account = 0; // in the plan's account list
    int Message = 0; // its number as the check counted it
    TRowMessage Shown;
    std::string Caption;
    std::string Mailbox = InboxName; // the folder the message is in
};

class TMessageList;
struct TRowPlace;

// The target for message row `index` (not an error row) as it stands now;
// `places` as AccountPlaces gives them for the plan's accounts.
TDeleteTarget TargetOfRow(const TMessageList& rows, const std::vector<TRowPlace>& places, int index);

// What one Delete sends, as plain values, so that it can run off the
// user-interface thread. The targets of one account are contiguous.
struct TDeletePlan
{
    std::vector<Account> Accounts;
    std::vector<TDeleteTarget> Targets;
};

// What a Delete did.
struct TDeleteOutcome
{
    // "caption: sender - subject" of the rows passed over because their
    // message changed on the server since the check.
    std::vector<std::string> Skipped;
    bool LeftMarked = false;
    // The accounts a session was opened for, in order.
    std::vector<int> Touched;
    // What stopped the run: the remaining rows were not processed.
    std::exception_ptr Failure;
};

// Runs the plan, one session per account (each folder opened in turn) on `clientFor(protocol)`, which must
// give the same client each time for one kind. Raises nothing: a failure
// abandons its session, so the server drops what that session marked, and
// ends the run.
TDeleteOutcome DeleteTargets(const TDeletePlan& plan, const std::function<TDeleteClient&(TMailProtocol protocol)>& clientFor);

// Sets the read flag of each target that still shows its message, as
// DeleteTargets goes about it; the targets are IMAP4 messages (a POP3 one
// fails the run). What was stored before a failure stays stored.
TDeleteOutcome MarkTargetsRead(const TDeletePlan& plan, const std::function<TDeleteClient&(TMailProtocol protocol)>& clientFor);

// A POP3 or IMAP4 Delete client with a line of its own for one run; `abort`
// (may be null) ends it from another thread.
std::unique_ptr<TDeleteClient> MakeDeleteClient(TMailProtocol protocol, const TSessionLimits& limits,
                                                std::shared_ptr<TIdLineAbort> abort);
