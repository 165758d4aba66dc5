#pragma once

#include "check/Account.h"
#include "check/RowMessage.h"

#include <string>

// Whether a header and size read now are the message the row shows.
bool SameMessage(const TRowMessage& row, const std::string& from, const std::string& subject, int size);

// The mail client Delete (and Mark as read) drives: one session per account,
// messages deleted or marked by their numbers within the account as the last
// check counted them. Every failing call raises.
class TDeleteClient
{
public:
    virtual ~TDeleteClient() = default;

    // Aims the next Connect at the account, on the port its text gave, secured
    // as the check does it. A client that cannot secure the line refuses
    // rather than log in in plain text.
    virtual void SetAccount(const Account& account, int port) = 0;
    // Greeting and login.
    virtual void Connect() = 0;
    // Opens another folder of the account; the numbers that follow are its
    // own. Only IMAP4 has folders.
    virtual void OpenFolder(const std::string& mailbox);
    // Reads message `number` again: false when it is gone or is not the
    // message the row shows (the mailbox changed since the check).
    virtual bool StillShows(int number, const TRowMessage& row) = 0;
    virtual void DeleteMessage(int number) = 0;
    // Sets the message's read flag; only IMAP4 has one.
    virtual void MarkRead(int number);
    // True after a session whose deletions the server could only mark.
    virtual bool LeftMarked() const { return false; }
    // Ends a session with its goodbye, which makes the deletions take effect;
    // nothing when no session is open.
    virtual void Disconnect() = 0;
    // Closes a session without the goodbye, so the server forgets what was
    // marked in it; raises nothing.
    virtual void Abandon() noexcept = 0;
};
