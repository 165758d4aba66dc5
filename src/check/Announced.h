#pragma once

#include "check/Account.h"

#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

// The identities of the messages already announced, per account, kept
// between runs so a restart announces nothing twice. An account is known by
// its protocol, host, port and user name, not by its caption.
class TAnnounced
{
public:
    // The latest this many identities are kept per account: a message's
    // identity and its fingerprint for each of the most messages listed.
    static constexpr std::size_t MaxPerAccount = 10000;

    static std::string KeyOf(const Account& account);
    // The key of one folder of an account (`key`: KeyOf): the inbox's is
    // the account's own, so what was told before folders stays told.
    static std::string KeyOf(const std::string& key, const std::string& mailbox);

    bool Contains(const std::string& key, const std::string& id) const;
    // Adds an identity, or makes one known already the latest again; the
    // least recently added go past MaxPerAccount.
    void Add(const std::string& key, const std::string& id);
    // Drops the accounts whose keys are not listed.
    void Retain(const std::vector<std::string>& keys);
    bool Empty() const { return FAccounts.empty(); }
    // Whether it differs from what was last loaded or saved.
    bool Changed() const { return FChanged; }

    // The text form: per account a line "= <key>" and one identity a line;
    // bytes outside 0x21..0x7E and '%' are written as %XX. Parse refuses
    // nothing: what it cannot read is skipped.
    std::string Serialize() const;
    static TAnnounced Parse(const std::string& text);

    // The file under the state folder; a missing or broken file is an empty
    // memory, a write that fails is reported by its exception.
    static TAnnounced Load(const std::string& path);
    void Save(const std::string& path);

private:
    struct TIds
    {
        std::list<std::string> Order; // oldest first
        std::unordered_map<std::string, std::list<std::string>::iterator> Set;
    };
    std::map<std::string, TIds> FAccounts;
    bool FChanged = false;
};
