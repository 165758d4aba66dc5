#include "check/UnavailableClient.h"

#include "mail/IdExceptions.h"

void TUnavailableClient::Connect()
{
    throw EIdException(Why());
}
