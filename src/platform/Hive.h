#pragma once

#include "platform/HiveText.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The hive file: the text of platform/HiveText.h in a file, with the folder,
// the lock beside it and the atomic replace.

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
