#pragma once

#include "mail/IdExceptions.h"
#include "mail/IdReply.h"

#include <string>

// A reply of one line, whatever it says: for tests of the connection itself,
// below any protocol.
class TOneLineReply : public TIdReply
{
public:
    bool EndsReply(const std::string&) const override { return true; }
    void SetFormattedReply(const TIdStrings& lines) override
    {
        Clear();
        Text = lines;
    }
    [[noreturn]] void RaiseReplyFailure() override { throw EIdException("reply"); }
};
