#pragma once

#include "mail/IdExceptions.h"

// Runs one operation of a check client's session. A connection lost (a
// time-out among them) or a server out of step leaves nothing to say goodbye
// to, or the server mid-reply: the session is marked stalled, so it ends
// without a goodbye that would only wait again or read the rest of a flood.
template <typename F>
auto GuardSession(bool& stalled, F operation) -> decltype(operation())
{
    try
    {
        return operation();
    }
    catch (const EIdConnectionLost&)
    {
        stalled = true;
        throw;
    }
    catch (const EIdProtocolError&)
    {
        stalled = true;
        throw;
    }
}
