#pragma once

#include "mail/IdExceptions.h"

// Runs one operation of a check client's session. A time-out, or a reply too
// large or a line too long to keep in step with, leaves the server mid-reply:
// the session is marked stalled, so it ends without a goodbye that would only
// read the rest of the flood.
template <typename F>
auto GuardSession(bool& stalled, F operation) -> decltype(operation())
{
    try
    {
        return operation();
    }
    catch (const EIdReadTimeout&)
    {
        stalled = true;
        throw;
    }
    catch (const EIdReplyTooLarge&)
    {
        stalled = true;
        throw;
    }
    catch (const EIdReadLnMaxLineLengthExceeded&)
    {
        stalled = true;
        throw;
    }
}
