#include "platform/Registry.h"

#include "platform/CodePage.h"
#include "platform/Hive.h"
#include "platform/MailClientLookup.h"
#include "platform/WholeFile.h"

#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

std::string ToUtf8(const std::string& desktopText)
{
    const QByteArray utf8 = FromCodePage(desktopText).toUtf8();
    return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

std::string FromUtf8(const std::string& utf8)
{
    return ToCodePage(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

bool HasLineBreak(const std::string& s)
{
    return s.find_first_of("\r\n") != std::string::npos;
}

// "\Software\x\" and "Software\x" name the same key.
std::string CleanKeyPath(const std::string& key)
{
    if (HasLineBreak(key))
        throw ERegistryException("Invalid registry key name");
    size_t b = 0, e = key.size();
    while (b < e && key[b] == '\\')
        ++b;
    while (e > b && key[e - 1] == '\\')
        --e;
    return key.substr(b, e - b);
}

std::string InvalidType(const std::string& name)
{
    return "Invalid data type for '" + name + "'";
}

THiveProblemReporter& HiveProblemReporter()
{
    static THiveProblemReporter reporter;
    return reporter;
}

// The user hears about a hive that had to be put aside, once per occurrence.
void ReportKeptAside(const THiveLoad& load)
{
    if (load.KeptAsidePath.empty())
        return;
    const std::string text = "The settings file " + FromUtf8(UserHivePath()) + " could not be read (" +
                             load.Problem + "). It has been kept as " + FromUtf8(load.KeptAsidePath) +
                             " and ternbell starts with empty settings.";
    if (HiveProblemReporter())
        HiveProblemReporter()(text);
    else
        std::fprintf(stderr, "ternbell: %s\n", text.c_str());
}

} // namespace

void SetHiveProblemReporter(THiveProblemReporter reporter)
{
    HiveProblemReporter() = std::move(reporter);
}

struct TRegistry::Impl
{
    THiveRoot Root;
    THive Hive;      // what was read when the key was opened, plus our own changes
    std::string Key; // full UTF-8 path of the open key; empty when none is open
    bool ReadOnly = false;
    bool Deferred = false; // changes wait for Flush, not for the closing of a key
    std::vector<THiveChange> Pending;
    // Hive is the file as last read (plus Pending) while the file keeps this stamp.
    std::string ReadPath;
    THiveFileStamp ReadStamp;

    std::string RootName() const
    {
        return Root == THiveRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
    }

    std::string FullPath(const std::string& key) const
    {
        const std::string clean = CleanKeyPath(key);
        return clean.empty() ? RootName() : RootName() + "\\" + ToUtf8(clean);
    }

    void Reload()
    {
        if (Root == THiveRoot::LocalMachine)
        {
            Hive = MailClientHive();
            return;
        }
        const std::string path = UserHivePath();
        // One deferred batch reads the file once; its write re-reads it under
        // the lock anyway, so nothing another writer did is lost.
        if (path == ReadPath && (Deferred || (ReadStamp.Settled && HiveFileStamp(path).Same(ReadStamp))))
            return;
        THiveLoad load = LoadHiveFile(path);
        Hive = std::move(load.Hive);
        for (const auto& c : Pending)
            ApplyChange(Hive, c);
        ReadPath = path;
        ReadStamp = load.Stamp;
        ReportKeptAside(load);
    }

    void Record(THiveChange change)
    {
        ApplyChange(Hive, change);
        Pending.push_back(std::move(change));
    }

    const THiveKey& OpenedKey() const
    {
        static const THiveKey kEmpty;
        if (Key.empty())
            throw ERegistryException("No registry Key is open");
        const THiveKey* k = Hive.Find(Key);
        return k ? *k : kEmpty;
    }

    void CheckWritable(const std::string& name) const
    {
        if (Key.empty())
            throw ERegistryException("No registry Key is open");
        if (ReadOnly || Root == THiveRoot::LocalMachine || HasLineBreak(name))
            throw ERegistryException("Failed to set data for '" + name + "'");
    }

    void Write(const std::string& name, THiveValue value)
    {
        CheckWritable(name);
        value.Name = ToUtf8(name);
        Record(THiveChange{THiveChange::TKind::SetValue, Key, std::move(value)});
    }

    void Flush()
    {
        if (Pending.empty())
            return;
        std::vector<THiveChange> changes;
        changes.swap(Pending);
        ReadPath.clear();
        const std::string path = UserHivePath();
        THiveLoad load = UpdateHiveFile(path, changes);
        Hive = std::move(load.Hive);
        ReadPath = path;
        ReadStamp = load.Stamp;
        ReportKeptAside(load);
    }
};

TRegistry::TRegistry(THiveRoot root) : FImpl(std::make_unique<Impl>())
{
    FImpl->Root = root;
}

TRegistry::~TRegistry()
{
    try
    {
        CloseKey();
        FImpl->Flush();
    }
    catch (...)
    {
        // A destructor cannot report; callers that care close the key themselves.
    }
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate)
{
    CloseKey();
    const std::string path = FImpl->FullPath(key);
    FImpl->Reload();
    if (!FImpl->Hive.Exists(path))
    {
        if (!canCreate || FImpl->Root == THiveRoot::LocalMachine)
            return false;
        FImpl->Record(THiveChange{THiveChange::TKind::CreateKey, path, {}});
    }
    FImpl->Key = path;
    FImpl->ReadOnly = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key)
{
    if (!OpenKey(key, false))
        return false;
    FImpl->ReadOnly = true;
    return true;
}

bool TRegistry::KeyExists(const std::string& key)
{
    const std::string path = FImpl->FullPath(key);
    FImpl->Reload();
    return FImpl->Hive.Exists(path);
}

void TRegistry::CloseKey()
{
    FImpl->Key.clear();
    FImpl->ReadOnly = false;
    if (!FImpl->Deferred)
        FImpl->Flush();
}

void TRegistry::DeferWrites()
{
    FImpl->Deferred = true;
}

void TRegistry::Flush()
{
    FImpl->Flush();
}

bool TRegistry::ValueExists(const std::string& name)
{
    return FImpl->OpenedKey().Find(ToUtf8(name)) != nullptr;
}

std::vector<std::string> TRegistry::GetValueNames()
{
    std::vector<std::string> names;
    for (const THiveValue& v : FImpl->OpenedKey().Values)
        names.push_back(FromUtf8(v.Name));
    return names;
}

TRegDataType TRegistry::GetDataType(const std::string& name)
{
    const THiveValue* v = FImpl->OpenedKey().Find(ToUtf8(name));
    if (!v)
        return TRegDataType::rdUnknown;
    switch (v->Kind)
    {
    case THiveValueKind::String: return TRegDataType::rdString;
    case THiveValueKind::ExpandString: return TRegDataType::rdExpandString;
    case THiveValueKind::Integer: return TRegDataType::rdInteger;
    case THiveValueKind::Binary: return TRegDataType::rdBinary;
    case THiveValueKind::Other: break;
    }
    return TRegDataType::rdUnknown;
}

std::string TRegistry::ReadString(const std::string& name)
{
    const THiveValue* v = FImpl->OpenedKey().Find(ToUtf8(name));
    if (!v)
        return {};
    if (v->Kind != THiveValueKind::String && v->Kind != THiveValueKind::ExpandString)
        throw ERegistryException(InvalidType(name));
    return FromUtf8(v->Text);
}

int32_t TRegistry::ReadInteger(const std::string& name)
{
    const THiveValue* v = FImpl->OpenedKey().Find(ToUtf8(name));
    if (!v || v->Kind != THiveValueKind::Integer)
        throw ERegistryException(InvalidType(name));
    return static_cast<int32_t>(v->Number);
}

bool TRegistry::ReadBool(const std::string& name)
{
    return ReadInteger(name) != 0;
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    THiveValue v;
    v.Kind = THiveValueKind::String;
    v.Text = ToUtf8(value);
    FImpl->Write(name, std::move(v));
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value)
{
    THiveValue v;
    v.Kind = THiveValueKind::ExpandString;
    v.Text = ToUtf8(value);
    FImpl->Write(name, std::move(v));
}

void TRegistry::WriteInteger(const std::string& name, int32_t value)
{
    THiveValue v;
    v.Kind = THiveValueKind::Integer;
    v.Number = static_cast<uint32_t>(value);
    FImpl->Write(name, std::move(v));
}

void TRegistry::WriteBool(const std::string& name, bool value)
{
    WriteInteger(name, value ? 1 : 0);
}

bool TRegistry::DeleteValue(const std::string& name)
{
    // Like a refused delete in a read-only hive, a missing value is no error.
    if (!FImpl->OpenedKey().Find(ToUtf8(name)) || FImpl->ReadOnly || FImpl->Root == THiveRoot::LocalMachine)
        return false;
    THiveChange change{THiveChange::TKind::DeleteValue, FImpl->Key, {}};
    change.Value.Name = ToUtf8(name);
    FImpl->Record(std::move(change));
    return true;
}

std::string UserHivePath()
{
    return XdgFolder("XDG_CONFIG_HOME", ".config") + "/ternbell/user.reg";
}
