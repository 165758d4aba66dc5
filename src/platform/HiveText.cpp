#include "platform/HiveText.h"

#include "platform/AsciiText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

using AsciiText::IsBlank;
using AsciiText::SameText;
using AsciiText::Trim;

// Blanks around lines, names and data are AsciiText's (codes 0 to 32), so
// the stray carriage returns that editors and copies leave at line ends do
// not cost the file.

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return SameText(std::string_view(text).substr(0, std::strlen(prefix)), prefix);
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
            const auto [at, added] = keyIndex.emplace(AsciiText::LowerCase(path), hive.Keys.size());
            if (added)
                hive.Keys.push_back(THiveKey{path, {}, {}});
            key = &hive.Keys[at->second];
            valueIndex.clear();
            for (size_t v = 0; v < key->Values.size(); ++v)
                valueIndex.emplace(AsciiText::LowerCase(key->Values[v].Name), v);
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
        const auto [at, added] = valueIndex.emplace(AsciiText::LowerCase(value.Name), key->Values.size());
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
