#pragma once

#include "platform/Exception.h"

// Root of the mail library's errors.
class EIdException : public Exception
{
public:
    using Exception::Exception;
};
