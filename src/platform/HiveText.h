#pragma once

#include "platform/Exception.h"

#include <cstdint>
#include <string>
#include <vector>

// The hive's text: REGEDIT4, UTF-8, parsed and written by pure functions
// (platform/Hive.h adds the file). All names and texts here are UTF-8 as in
// the file; the registry converts to and from the desktop code page. Key
// paths and value names compare without regard to the case of ASCII letters.

enum class THiveValueKind
{
    String,       // "..."
    Integer,      // dword:xxxxxxxx
    ExpandString, // hex(2): UTF-8 bytes ending in 00
    Binary,       // hex: (kept verbatim)
    Other,        // any other hex(N): or form, kept verbatim
};

struct THiveValue
{
    std::string Name; // empty: the key's default value (@)
    THiveValueKind Kind = THiveValueKind::String;
    std::string Text;  // String / ExpandString: the text; Binary / Other: the raw form after '='
    uint32_t Number = 0;
    std::vector<std::string> Comments; // comment lines just above it, kept on rewrite
};

struct THiveKey
{
    std::string Path; // full path with the root: "HKEY_CURRENT_USER\Software\ternbell"
    std::vector<THiveValue> Values;
    std::vector<std::string> Comments;

    THiveValue* Find(const std::string& name);
    const THiveValue* Find(const std::string& name) const;
    void Set(THiveValue value);
    bool Remove(const std::string& name);
};

struct THive
{
    std::vector<THiveKey> Keys;
    std::vector<std::string> TrailingComments;

    THiveKey* Find(const std::string& path);
    const THiveKey* Find(const std::string& path) const;
    // A key exists when it has a section or some section lies below it.
    bool Exists(const std::string& path) const;
    THiveKey& Create(const std::string& path);
};

class EHiveParseError : public Exception
{
public:
    EHiveParseError(int line, const std::string& what);
    int Line;
};

// Text to hive; raises EHiveParseError. An empty text is an empty hive.
THive ParseHive(const std::string& text);
// Hive to text, always parseable back to the same hive.
std::string SerializeHive(const THive& hive);

// One change to one key, recorded so it can be applied again to a fresher
// copy of the file.
struct THiveChange
{
    enum class TKind
    {
        CreateKey,
        SetValue,
        DeleteValue,
    };
    TKind Kind;
    std::string Path;
    THiveValue Value; // SetValue: the value; DeleteValue: its name
};

void ApplyChange(THive& hive, const THiveChange& change);
