#pragma once

#include "mail/MailTypes.h"

#include <string>

// One reply of a server: its status word and its text lines. The protocol
// clients derive their reply forms from it; the connection only reads lines
// until EndsReply says so and hands them over.
class TIdReply
{
public:
    virtual ~TIdReply();

    std::string Code;
    TIdStrings Text;

    // Whether `line` is the last line of a reply.
    virtual bool EndsReply(const std::string& line) const = 0;
    // Parses the received lines into Code and Text (emptied first).
    virtual void SetFormattedReply(const TIdStrings& lines) = 0;
    // Raises the protocol's error for an unexpected reply.
    [[noreturn]] virtual void RaiseReplyFailure() = 0;

    void Clear()
    {
        Code.clear();
        Text.clear();
    }
};
