#pragma once

#include "check/Account.h"

#include <cstddef>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

// The identities of the messages already announced, per account, kept
// between runs so a restart announces nothing twice. An account is known by
// its protocol, host, port and user name, not by its caption.
class TAnnounced
{
public:
    // The latest this many identities are kept per account.
    static constexpr std::size_t MaxPerAccount = 5000;

    static std::string KeyOf(const Account& account);

    bool Contains(const std::string& key, const std::string& id) const;
    // Adds an identity; the oldest go past MaxPerAccount.
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
        std::deque<std::string> Order; // oldest first
        std::set<std::string> Set;
    };
    std::map<std::string, TIds> FAccounts;
    bool FChanged = false;
};
