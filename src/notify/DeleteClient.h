#pragma once

#include "check/Account.h"

#include <string>
#include <utility>

// What a message row shows of its message, as the last check wrote it.
struct TRowMessage
{
    TRowMessage() = default;
    TRowMessage(std::string from, std::string subject, std::string size, std::string id = {})
        : From(std::move(from)), Subject(std::move(subject)), Size(std::move(size)), Id(std::move(id))
    {
    }

    std::string From;
    std::string Subject;
    std::string Size; // as HumanSize gave it
    // The message's identity on its server as the check found it ("" when
    // unknown): "u:" and a POP3 unique id, "i:" UIDVALIDITY ":" UID, or "f:"
    // and a fingerprint.
    std::string Id;
};

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
