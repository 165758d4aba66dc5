#pragma once

#include "mail/Inbox.h"

#include <cstdint>
#include <string>

// A message's identity on its server, as a row keeps it and the memory of
// announced messages stores it: "u:" and a POP3 unique id, "i:" UIDVALIDITY
// ":" UID, "j:" and a JMAP email id, or "f:" and a fingerprint where the
// server gives none. Made and read here only.
struct TRowId
{
    std::string Text; // "" when unknown

    static TRowId Pop3(const std::string& uniqueId);
    static TRowId Imap4(std::uint32_t uidValidity, std::uint32_t uid);
    static TRowId Print(const std::string& digest);
    static TRowId Jmap(const std::string& emailId);

    // The UID, when this is an IMAP4 identity under `uidValidity`.
    bool Imap4Uid(std::uint32_t uidValidity, std::uint32_t& uid) const;
    bool IsPop3() const;
    // The JMAP email id, when this is one.
    bool JmapId(std::string& emailId) const;

    bool operator==(const TRowId&) const = default;
};

// Where a row's message lives: its account (TAnnounced::KeyOf, with the
// caption, as two accounts may read one mailbox) and the mailbox.
struct TRowPlace
{
    std::string Key;
    std::string Caption;
    std::string Mailbox = InboxName;

    bool operator==(const TRowPlace&) const = default;
};

// One text for a row's place and identity, unique across accounts.
std::string RowKeyText(const TRowPlace& place, const std::string& id);
