#include "check/UnavailableClient.h"

#include "mail/IdException.h"

void TUnavailableClient::Connect()
{
    throw EIdException(Why());
}
