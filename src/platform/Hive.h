#pragma once

#include "platform/Exception.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The hive file: REGEDIT4 text, UTF-8. Parsing and writing the text are pure
// functions; the file functions below add the folder, the lock and the atomic
// replace. All names and texts here are UTF-8 as in the file; the registry
// converts to and from the desktop code page. Key paths and value names
// compare without regard to the case of ASCII letters.

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

// --- The file ---------------------------------------------------------------

// Identifies one version of the file, so a parsed copy can be kept until it
// changes. Settled: old enough that a change within the clock's granularity
// could no longer go unseen.
struct THiveFileStamp
{
    bool Exists = false;
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    int64_t ChangedNs = 0;
    bool Settled = false;

    bool Same(const THiveFileStamp& other) const;
};

THiveFileStamp HiveFileStamp(const std::string& path);

// What a read of the file found.
struct THiveLoad
{
    THive Hive;
    THiveFileStamp Stamp; // the file as read, or as written by an update
    std::string KeptAsidePath; // set when an unparseable file was moved aside
    std::string Problem;       // why it could not be parsed
};

// Reads the hive at path; a missing file is an empty hive. An unparseable
// file is moved aside (never over an earlier bad copy) and reads as empty.
THiveLoad LoadHiveFile(const std::string& path);

// Under the exclusive lock beside the file: re-read it, apply the changes and
// replace it atomically (temporary file, fsync, rename). Creates the folder
// (0700); the file is 0600. Raises Exception when the file cannot be written.
THiveLoad UpdateHiveFile(const std::string& path, const std::vector<THiveChange>& changes);

// Names for bad copies: n = 0 gives path + ".bad", n > 0 path + ".bad.<n>".
// A bad copy is never replaced; the next free name is taken.
std::string BadCopyPath(const std::string& path, int n);

// Test seam: runs after the temporary file is complete and flushed, right
// before it replaces the hive. An empty function removes it.
void SetHiveReplaceHook(std::function<void(const std::string& tempPath)> hook);
