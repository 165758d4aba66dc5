#include "check/UnavailableClient.h"

#include "i18n/Translate.h"
#include "mail/IdException.h"

void TUnavailableClient::Connect()
{
    throw EIdException(ResStr(Why));
}
