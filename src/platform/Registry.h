#pragma once

#include "platform/Exception.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The per-user hive is a REGEDIT4 text file,
// ${XDG_CONFIG_HOME:-$HOME/.config}/ternbell/user.reg; the machine-wide hive is a
// read-only view of the desktop's default mail client. Key paths use '\'
// ("Software\ternbell\Account1"); key and value names compare without regard
// to ASCII case. Names and string values are 8-bit desktop text.

class ERegistryException : public Exception
{
public:
    using Exception::Exception;
};

enum class THiveRoot
{
    CurrentUser,
    LocalMachine,
};

enum class TRegDataType
{
    rdUnknown,
    rdString,
    rdExpandString,
    rdInteger,
    rdBinary,
};

// One open key at a time, closed by CloseKey or the destructor. A change
// reaches the file no later than the closing of the key it was made in
// (after DeferWrites: no later than Flush or the destructor).
class TRegistry
{
public:
    explicit TRegistry(THiveRoot root = THiveRoot::CurrentUser);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // false when the key is missing and may not be created (or the hive is read-only).
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    bool KeyExists(const std::string& key);
    void CloseKey();
    // From now on changes are kept until Flush (or the destructor) and reach
    // the file in one write; for loads that create many values at once.
    void DeferWrites();
    void Flush();

    bool ValueExists(const std::string& name);
    // The names of the open key's values, in the file's order.
    std::vector<std::string> GetValueNames();
    TRegDataType GetDataType(const std::string& name);

    // Reading a value of another type raises "Invalid data type for '<name>'".
    // A missing value reads as "" / raises for integers, like any wrong type.
    std::string ReadString(const std::string& name);
    int32_t ReadInteger(const std::string& name);
    bool ReadBool(const std::string& name);

    void WriteString(const std::string& name, const std::string& value);
    void WriteExpandString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int32_t value);
    void WriteBool(const std::string& name, bool value);
    bool DeleteValue(const std::string& name);

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

// Where the per-user hive file lives now (follows XDG_CONFIG_HOME at each call).
std::string UserHivePath();

// Who hears that an unreadable hive file was kept aside (the text says where);
// once per occurrence. Without one the text goes to the standard error.
using THiveProblemReporter = std::function<void(const std::string& text)>;
void SetHiveProblemReporter(THiveProblemReporter reporter);
