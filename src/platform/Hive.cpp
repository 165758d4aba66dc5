#include "platform/Hive.h"

#include "platform/AsciiText.h"
#include "platform/Descriptor.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <algorithm>
#include <ctime>
#include <memory>
#include <utility>

using AsciiText::SameText;

namespace {

// A carriage return counts as a blank: editors and copies leave stray ones at
// line ends, and they must not cost the file.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Folded(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Trim(const std::string& s)
{
    size_t first = 0, last = s.size();
    while (first < last && IsBlank(s[first]))
        ++first;
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    return text.size() >= n && SameText(text.substr(0, n), prefix);
}

// "41,42,00" (blanks allowed) to bytes; false on anything else.
bool ParseByteList(const std::string& list, std::string& bytes)
{
    bytes.clear();
    const std::string t = Trim(list);
    if (t.empty())
        return true;
    size_t i = 0;
    while (true)
    {
        while (i < t.size() && IsBlank(t[i]))
            ++i;
        int value = 0, digits = 0;
        while (i < t.size() && AsciiText::HexDigitValue(t[i]) >= 0 && digits < 2)
        {
            value = value * 16 + AsciiText::HexDigitValue(t[i]);
            ++i;
            ++digits;
        }
        if (digits == 0)
            return false;
        bytes += static_cast<char>(value);
        while (i < t.size() && IsBlank(t[i]))
            ++i;
        if (i == t.size())
            return true;
        if (t[i] != ',')
            return false;
        ++i;
    }
}

std::string ByteList(const std::string& bytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes)
    {
        if (!out.empty())
            out += ',';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

// Reads a quoted string starting at s[i] == '"'; i ends behind the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out)
{
    out.clear();
    ++i;
    while (i < s.size())
    {
        const char c = s[i++];
        if (c == '"')
            return true;
        if (c == '\\')
        {
            if (i >= s.size())
                return false;
            out += s[i++];
            continue;
        }
        out += c;
    }
    return false;
}

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool NeedsHexForm(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Decodes the data part of a value line (everything after '=').
bool ParseData(const std::string& data, THiveValue& value, std::string& problem)
{
    const std::string d = Trim(data);
    if (!d.empty() && d[0] == '"')
    {
        size_t i = 0;
        if (!ParseQuoted(d, i, value.Text) || !Trim(d.substr(i)).empty())
        {
            problem = "malformed string";
            return false;
        }
        value.Kind = THiveValueKind::String;
        return true;
    }
    if (StartsWithNoCase(d, "dword:"))
    {
        const std::string digits = Trim(d.substr(6));
        if (digits.empty() || digits.size() > 8)
        {
            problem = "malformed dword";
            return false;
        }
        uint32_t n = 0;
        for (char c : digits)
        {
            if (AsciiText::HexDigitValue(c) < 0)
            {
                problem = "malformed dword";
                return false;
            }
            n = n * 16 + static_cast<uint32_t>(AsciiText::HexDigitValue(c));
        }
        value.Kind = THiveValueKind::Integer;
        value.Number = n;
        return true;
    }
    if (StartsWithNoCase(d, "hex"))
    {
        const size_t colon = d.find(':');
        if (colon == std::string::npos)
        {
            problem = "malformed hex value";
            return false;
        }
        const std::string head = d.substr(0, colon);
        std::string type;
        if (head.size() > 3)
        {
            if (head[3] != '(' || head.back() != ')' || head.size() < 6)
            {
                problem = "malformed hex value";
                return false;
            }
            type = head.substr(4, head.size() - 5);
            for (char c : type)
                if (AsciiText::HexDigitValue(c) < 0)
                {
                    problem = "malformed hex value";
                    return false;
                }
        }
        std::string bytes;
        if (!ParseByteList(d.substr(colon + 1), bytes))
        {
            problem = "malformed hex bytes";
            return false;
        }
        // hex(2) is the expandable string; hex(1) a plain string that the
        // quoted form cannot carry (line breaks). Both end in one 00.
        const unsigned long n = type.empty() ? 0 : std::strtoul(type.c_str(), nullptr, 16);
        if (!type.empty() && (n == 1 || n == 2))
        {
            if (!bytes.empty() && bytes.back() == '\0')
                bytes.pop_back();
            value.Kind = n == 2 ? THiveValueKind::ExpandString : THiveValueKind::String;
            value.Text = bytes;
            return true;
        }
        value.Kind = type.empty() ? THiveValueKind::Binary : THiveValueKind::Other;
        value.Text = head + ":" + ByteList(bytes);
        return true;
    }
    if (d == "-")
    {
        value.Kind = THiveValueKind::Other;
        value.Text = d;
        return true;
    }
    problem = "unknown value type";
    return false;
}

std::string DataText(const THiveValue& v)
{
    switch (v.Kind)
    {
    case THiveValueKind::String:
        if (NeedsHexForm(v.Text))
            return "hex(1):" + ByteList(v.Text + '\0');
        return Quote(v.Text);
    case THiveValueKind::Integer:
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.Number));
        return buf;
    }
    case THiveValueKind::ExpandString:
        return "hex(2):" + ByteList(v.Text + '\0');
    case THiveValueKind::Binary:
    case THiveValueKind::Other:
        break;
    }
    return v.Text;
}

// --- file helpers -------------------------------------------------------------

// Holds the exclusive lock on the lock file beside the hive.
class THiveLock
{
public:
    explicit THiveLock(const std::string& hivePath)
        : FDescriptor(::open((hivePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (FDescriptor.Get() < 0)
            throw Exception("Cannot lock " + hivePath + ": " + std::strerror(errno));
        while (::flock(FDescriptor.Get(), LOCK_EX) != 0)
            if (errno != EINTR)
                throw Exception("Cannot lock " + hivePath + ": " + std::strerror(errno));
    }
    ~THiveLock() { ::flock(FDescriptor.Get(), LOCK_UN); }
    THiveLock(const THiveLock&) = delete;
    THiveLock& operator=(const THiveLock&) = delete;

private:
    TDescriptor FDescriptor;
};

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkdir -p; folders we create are 0700, and our own folder is made 0700.
void EnsureFolder(const std::string& folder)
{
    for (size_t pos = 1; pos <= folder.size(); ++pos)
    {
        if (pos != folder.size() && folder[pos] != '/')
            continue;
        const std::string part = folder.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            throw Exception("Cannot create folder " + part + ": " + std::strerror(errno));
    }
    ::chmod(folder.c_str(), 0700);
}

enum class TRead
{
    Ok,
    Missing,
};

TRead ReadWhole(const std::string& path, std::string& text)
{
    text.clear();
    TDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
    {
        if (errno == ENOENT)
            return TRead::Missing;
        throw Exception("Cannot read " + path + ": " + std::strerror(errno));
    }
    char buf[65536];
    while (true)
    {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Exception("Cannot read " + path + ": " + std::strerror(errno));
        if (n == 0)
            return TRead::Ok;
        text.append(buf, static_cast<size_t>(n));
    }
}

// Moves the bad file to the first free bad-copy name; never replaces one.
std::string MoveAside(const std::string& path)
{
    for (int n = 0; n < 10000; ++n)
    {
        const std::string target = BadCopyPath(path, n);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno == EEXIST)
            continue;
        // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
        if (errno == EINVAL || errno == ENOSYS)
        {
            if (::link(path.c_str(), target.c_str()) == 0)
            {
                ::unlink(path.c_str());
                return target;
            }
            if (errno == EEXIST)
                continue;
        }
        throw Exception("Cannot move " + path + " aside: " + std::strerror(errno));
    }
    throw Exception("Cannot move " + path + " aside: too many bad copies");
}

// Leftovers of a writer that died before its rename; only called under the lock.
void RemoveStaleTemporaries(const std::string& path)
{
    const std::string prefix = NameOf(path) + ".tmp-";
    const std::string folder = FolderOf(path);
    std::vector<std::string> stale;
    {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
        if (!dir)
            return;
        while (const dirent* e = ::readdir(dir.get()))
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
                stale.push_back(folder + "/" + e->d_name);
    }
    for (const auto& s : stale)
        ::unlink(s.c_str());
}

std::function<void(const std::string&)>& ReplaceHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Exception(std::string("write failed: ") + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
}

void ReplaceFile(const std::string& path, const std::string& text)
{
    std::string temp = path + ".tmp-XXXXXX";
    TDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        throw Exception("Cannot write " + path + ": " + std::strerror(errno));
    try
    {
        ::fchmod(fd.Get(), 0600);
        WriteAll(fd.Get(), text);
        if (::fsync(fd.Get()) != 0)
            throw Exception(std::string("fsync failed: ") + std::strerror(errno));
        if (::close(fd.Release()) != 0)
            throw Exception(std::string("close failed: ") + std::strerror(errno));
        if (ReplaceHook())
            ReplaceHook()(temp);
        if (::rename(temp.c_str(), path.c_str()) != 0)
            throw Exception(std::string("rename failed: ") + std::strerror(errno));
    }
    catch (const Exception& e)
    {
        ::unlink(temp.c_str());
        if (e.Message.rfind("Cannot write ", 0) == 0)
            throw;
        throw Exception("Cannot write " + path + ": " + e.Message);
    }
    catch (...)
    {
        ::unlink(temp.c_str());
        throw;
    }
    // Make the rename itself durable.
    TDescriptor dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
}

// Reads and parses; an unparseable file goes aside. Call with the lock held.
THiveLoad LoadLocked(const std::string& path)
{
    THiveLoad load;
    load.Stamp = HiveFileStamp(path);
    std::string text;
    if (ReadWhole(path, text) == TRead::Missing)
        return load;
    try
    {
        load.Hive = ParseHive(text);
    }
    catch (const EHiveParseError& e)
    {
        load.Problem = e.Message;
        load.KeptAsidePath = MoveAside(path);
        load.Stamp = HiveFileStamp(path);
    }
    return load;
}

// The real file behind a symbolic link, so the replace keeps the link.
std::string ResolvedPath(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        return path;
    return buf;
}

} // namespace

THiveValue* THiveKey::Find(const std::string& name)
{
    for (auto& v : Values)
        if (SameText(v.Name, name))
            return &v;
    return nullptr;
}

const THiveValue* THiveKey::Find(const std::string& name) const
{
    return const_cast<THiveKey*>(this)->Find(name);
}

void THiveKey::Set(THiveValue value)
{
    if (THiveValue* old = Find(value.Name))
    {
        // Keep the stored spelling of the name and the Comments above it.
        value.Name = old->Name;
        value.Comments = std::move(old->Comments);
        *old = std::move(value);
        return;
    }
    Values.push_back(std::move(value));
}

bool THiveKey::Remove(const std::string& name)
{
    for (auto it = Values.begin(); it != Values.end(); ++it)
        if (SameText(it->Name, name))
        {
            Values.erase(it);
            return true;
        }
    return false;
}

THiveKey* THive::Find(const std::string& path)
{
    for (auto& k : Keys)
        if (SameText(k.Path, path))
            return &k;
    return nullptr;
}

const THiveKey* THive::Find(const std::string& path) const
{
    return const_cast<THive*>(this)->Find(path);
}

bool THive::Exists(const std::string& path) const
{
    if (Find(path))
        return true;
    const std::string prefix = path + "\\";
    for (const auto& k : Keys)
        if (k.Path.size() > prefix.size() && SameText(k.Path.substr(0, prefix.size()), prefix))
            return true;
    return false;
}

THiveKey& THive::Create(const std::string& path)
{
    if (THiveKey* k = Find(path))
        return *k;
    Keys.push_back(THiveKey{path, {}, {}});
    return Keys.back();
}

EHiveParseError::EHiveParseError(int line, const std::string& what)
    : Exception("line " + std::to_string(line) + ": " + what), Line(line)
{
}

THive ParseHive(const std::string& text)
{
    THive hive;
    std::vector<std::string> lines;
    {
        size_t start = 0;
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
            start = 3;
        while (start <= text.size())
        {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            while (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(std::move(line));
            start = end + 1;
        }
    }

    bool header = false;
    THiveKey* key = nullptr;
    std::vector<std::string> Comments;
    // Lookups by folded name, so a large file parses in n log n, not n^2.
    std::map<std::string, size_t> keyIndex;
    std::map<std::string, size_t> valueIndex; // of the current key
    for (size_t i = 0; i < lines.size(); ++i)
    {
        const int lineNo = static_cast<int>(i + 1);
        const std::string line = Trim(lines[i]);
        if (line.empty())
            continue;
        if (!header)
        {
            if (line != "REGEDIT4")
                throw EHiveParseError(lineNo, "not a REGEDIT4 file");
            header = true;
            continue;
        }
        if (line[0] == ';')
        {
            Comments.push_back(lines[i]);
            continue;
        }
        if (line[0] == '[')
        {
            if (line.back() != ']' || line.size() < 3)
                throw EHiveParseError(lineNo, "malformed key line");
            const std::string path = line.substr(1, line.size() - 2);
            const auto [at, added] = keyIndex.emplace(Folded(path), hive.Keys.size());
            if (added)
                hive.Keys.push_back(THiveKey{path, {}, {}});
            key = &hive.Keys[at->second];
            valueIndex.clear();
            for (size_t v = 0; v < key->Values.size(); ++v)
                valueIndex.emplace(Folded(key->Values[v].Name), v);
            key->Comments.insert(key->Comments.end(), Comments.begin(), Comments.end());
            Comments.clear();
            continue;
        }
        if (!key)
            throw EHiveParseError(lineNo, "value outside a key");

        THiveValue value;
        size_t pos = 0;
        if (line[0] == '@')
            pos = 1;
        else if (line[0] == '"')
        {
            if (!ParseQuoted(line, pos, value.Name))
                throw EHiveParseError(lineNo, "malformed value name");
            if (value.Name.empty())
                throw EHiveParseError(lineNo, "empty value name");
        }
        else
            throw EHiveParseError(lineNo, "malformed line");
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            throw EHiveParseError(lineNo, "missing '='");
        std::string data = line.substr(pos + 1);
        // Long hex lists go on over lines ending in a backslash.
        if (StartsWithNoCase(Trim(data), "hex"))
            while (!data.empty() && data.back() == '\\' && i + 1 < lines.size())
            {
                data.pop_back();
                data += Trim(lines[++i]);
            }
        std::string problem;
        if (!ParseData(data, value, problem))
            throw EHiveParseError(lineNo, problem);
        value.Comments = std::move(Comments);
        Comments.clear();
        const auto [at, added] = valueIndex.emplace(Folded(value.Name), key->Values.size());
        if (added)
            key->Values.push_back(std::move(value));
        else
            key->Set(std::move(value));
    }
    if (!header && !hive.Keys.empty())
        throw EHiveParseError(1, "not a REGEDIT4 file");
    hive.TrailingComments = std::move(Comments);
    return hive;
}

std::string SerializeHive(const THive& hive)
{
    std::string out = "REGEDIT4\n\n";
    for (const auto& key : hive.Keys)
    {
        for (const auto& c : key.Comments)
            out += c + "\n";
        out += "[" + key.Path + "]\n";
        for (const auto& v : key.Values)
        {
            for (const auto& c : v.Comments)
                out += c + "\n";
            out += v.Name.empty() ? std::string("@") : Quote(v.Name);
            out += "=" + DataText(v) + "\n";
        }
        out += "\n";
    }
    for (const auto& c : hive.TrailingComments)
        out += c + "\n";
    return out;
}

void ApplyChange(THive& hive, const THiveChange& change)
{
    switch (change.Kind)
    {
    case THiveChange::TKind::CreateKey:
        hive.Create(change.Path);
        break;
    case THiveChange::TKind::SetValue:
    {
        THiveValue v = change.Value;
        v.Comments.clear();
        hive.Create(change.Path).Set(std::move(v));
        break;
    }
    case THiveChange::TKind::DeleteValue:
        if (THiveKey* k = hive.Find(change.Path))
            k->Remove(change.Value.Name);
        break;
    }
}

std::string BadCopyPath(const std::string& path, int n)
{
    return n == 0 ? path + ".bad" : path + ".bad." + std::to_string(n);
}

bool THiveFileStamp::Same(const THiveFileStamp& o) const
{
    return Exists == o.Exists && Device == o.Device && Inode == o.Inode && Size == o.Size &&
           ModifiedNs == o.ModifiedNs && ChangedNs == o.ChangedNs;
}

THiveFileStamp HiveFileStamp(const std::string& path)
{
    THiveFileStamp stamp;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t nowNs = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
    {
        stamp.Settled = true;
        return stamp;
    }
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = st.st_size;
    stamp.ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.ChangedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    // File times move in ticks of the kernel clock; two writes in one tick
    // with the same size look alike, so only an older file is trusted.
    const int64_t kSettle = 2000000000;
    stamp.Settled = std::max(stamp.ModifiedNs, stamp.ChangedNs) < nowNs - kSettle;
    return stamp;
}

THiveLoad LoadHiveFile(const std::string& path)
{
    std::string text;
    const THiveFileStamp stamp = HiveFileStamp(path);
    if (ReadWhole(path, text) == TRead::Missing)
        return {};
    try
    {
        THiveLoad load;
        load.Stamp = stamp;
        load.Hive = ParseHive(text);
        return load;
    }
    catch (const EHiveParseError&)
    {
    }
    // Bad: look again under the lock, so only one instance moves it aside.
    EnsureFolder(FolderOf(path));
    THiveLock lock(path);
    return LoadLocked(path);
}

THiveLoad UpdateHiveFile(const std::string& path, const std::vector<THiveChange>& changes)
{
    EnsureFolder(FolderOf(path));
    THiveLock lock(path);
    RemoveStaleTemporaries(path);
    THiveLoad load = LoadLocked(path);
    if (changes.empty())
        return load;
    std::string before;
    const bool existed = ReadWhole(path, before) == TRead::Ok;
    for (const auto& c : changes)
        ApplyChange(load.Hive, c);
    const std::string after = SerializeHive(load.Hive);
    if (!existed || after != before)
    {
        ReplaceFile(ResolvedPath(path), after);
        load.Stamp = HiveFileStamp(path);
    }
    return load;
}

void SetHiveReplaceHook(std::function<void(const std::string& tempPath)> hook)
{
    ReplaceHook() = std::move(hook);
}
