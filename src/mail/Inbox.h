#pragma once

#include "platform/AsciiText.h"

#include <string_view>

// The inbox's name: the one mailbox every account has, stored, shown and
// sent to the server as spelt here. IMAP4 compares it, and no other name,
// in any case.
inline constexpr const char* InboxName = "INBOX";

inline bool IsInboxName(std::string_view name)
{
    return AsciiText::SameText(name, InboxName);
}
