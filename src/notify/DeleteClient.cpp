#include "notify/DeleteClient.h"

#include "check/Utils.h"
#include "mail/IdExceptions.h"

bool SameMessage(const TRowMessage& row, const std::string& from, const std::string& subject, int size)
{
    return row.From == from && row.Subject == subject && row.Size == HumanSize(size);
}

void TDeleteClient::MarkRead(int)
{
    throw EIdException("POP3 has no read flag.");
}

void TDeleteClient::OpenFolder(const std::string& mailbox)
{
    throw EIdException("POP3 has no folder \"" + mailbox + "\".");
}
