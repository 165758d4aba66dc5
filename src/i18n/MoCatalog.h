#pragma once

#include <optional>
#include <string>
#include <unordered_map>

// One compiled message catalog (.mo), read whole into memory. We read the
// file ourselves rather than through the C library's lookup, which answers
// only while a matching locale is installed and selected with setlocale.
class TMoCatalog
{
public:
    // Reads the catalog at path; nothing when the file cannot be read or is
    // not a well-formed catalog.
    static std::optional<TMoCatalog> Load(const std::string& path);

    // The translation of a UTF-8 msgid, or nullptr when the catalog has none.
    const std::string* Find(const std::string& msgid) const;

    // A field of the header entry, such as "Content-Type"; empty when absent.
    std::string HeaderField(const std::string& name) const;

    std::size_t Size() const { return Entries.size(); }

private:
    std::unordered_map<std::string, std::string> Entries;
    std::string Header;
};
