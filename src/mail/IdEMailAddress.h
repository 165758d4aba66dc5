#pragma once

#include "mail/IdExceptions.h"

#include <cstddef>
#include <string>
#include <vector>

// An address header ("From", "To", "Cc", ...) split into addresses, and the
// display form of one address. All text is 8-bit in the desktop code page.

// Characters a local part may hold without quoting.
extern const std::string LocalPartChars;
// LocalPartChars and a space: a display name made of these needs no quotes.
extern const std::string NameChars;

// 1-based position of the first character of `text` that is in `set`; 0 when none is.
std::size_t FirstPosOfAny(const std::string& set, const std::string& text);
// 1-based position of the first character of `text` that is not in `set`; 0 when
// every character is in it or the text is empty.
std::size_t FirstPosNotIn(const std::string& set, const std::string& text);
// `text` without the characters of `set` at either end.
std::string StripChars(const std::string& set, const std::string& text);

class TIdEMailAddressItem
{
public:
    TIdEMailAddressItem() = default;
    explicit TIdEMailAddressItem(const std::string& text) { SetText(text); }

    // Display form: `Name <local@domain>`, quoted where the characters need it.
    std::string Text() const;
    // Parses one header-style address into Name and Address; throws
    // EIdEmailParseError on an at sign outside the brackets.
    void SetText(const std::string& text);

    // Address up to / from its last at sign (all of it is the user without one).
    std::string User() const;
    std::string Domain() const;

    std::string Name;
    std::string Address;

private:
    std::string AddressForm() const;
};

class TIdEMailAddressList
{
public:
    // Replaces the items with the addresses in `text`. On EIdEmailParseError the
    // items parsed before the bad one stay.
    void ParseAddressList(const std::string& text);

    std::size_t Count() const { return Items.size(); }
    bool Empty() const { return Items.empty(); }
    TIdEMailAddressItem& operator[](std::size_t index) { return Items.at(index); }
    const TIdEMailAddressItem& operator[](std::size_t index) const { return Items.at(index); }
    TIdEMailAddressItem& Add() { return Items.emplace_back(); }
    void Delete(std::size_t index) { Items.erase(Items.begin() + static_cast<std::ptrdiff_t>(index)); }
    void Clear() { Items.clear(); }

    std::vector<TIdEMailAddressItem> Items;

private:
    void AddParsed(const std::string& text, bool dropEmpty);
};
