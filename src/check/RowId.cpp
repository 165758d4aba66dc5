#include "check/RowId.h"

#include "mail/Imap4Client.h"

TRowId TRowId::Pop3(const std::string& uniqueId)
{
    return {"u:" + uniqueId};
}

TRowId TRowId::Imap4(std::uint32_t uidValidity, std::uint32_t uid)
{
    // Made by appending: a check makes one for every message it lists.
    TRowId id;
    id.Text.reserve(24);
    id.Text.append("i:").append(std::to_string(uidValidity)).append(1, ':').append(std::to_string(uid));
    return id;
}

TRowId TRowId::Print(const std::string& digest)
{
    return {"f:" + digest};
}

bool TRowId::Imap4Uid(std::uint32_t uidValidity, std::uint32_t& uid) const
{
    const std::string prefix = "i:" + std::to_string(uidValidity) + ":";
    if (uidValidity == 0 || Text.rfind(prefix, 0) != 0)
        return false;
    return TryIMAP4Number(Text.substr(prefix.size()), uid);
}

TRowId TRowId::Jmap(const std::string& emailId)
{
    return {"j:" + emailId};
}

bool TRowId::JmapId(std::string& emailId) const
{
    if (Text.rfind("j:", 0) != 0)
        return false;
    emailId = Text.substr(2);
    return true;
}

bool TRowId::IsPop3() const
{
    return Text.rfind("u:", 0) == 0;
}

std::string RowKeyText(const TRowPlace& place, const std::string& id)
{
    // Each part after its length: no text of one can pass for another's.
    std::string text;
    for (const std::string* part : {&place.Key, &place.Caption, &place.Mailbox, &id})
        text += std::to_string(part->size()) + ':' + *part;
    return text;
}
