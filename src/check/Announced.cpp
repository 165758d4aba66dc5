#include "check/Announced.h"

#include "check/RowId.h"

#include "platform/AsciiText.h"
#include "platform/Exception.h"
#include "platform/WholeFile.h"

#include <algorithm>

namespace
{

bool Plain(unsigned char c)
{
    return c >= 0x21 && c <= 0x7E && c != '%';
}

std::string Escaped(const std::string& text)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text)
    {
        if (Plain(c))
            out += static_cast<char>(c);
        else
        {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// False for text that Escaped cannot have written.
bool Unescaped(const std::string& text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '%')
        {
            if (!Plain(c))
                return false;
            out += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = AsciiText::HexDigitValue(text[i + 1]);
        const int low = AsciiText::HexDigitValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return !out.empty();
}

} // namespace

std::string TAnnounced::KeyOf(const Account& account)
{
    return std::string(ProtocolWord(account)) + " " + account.Host + " " + account.Port + " " +
           account.UserName;
}

std::string TAnnounced::KeyOf(const std::string& key, const std::string& mailbox)
{
    return mailbox == InboxName ? key : key + "\n" + mailbox;
}

bool TAnnounced::Contains(const std::string& key, const std::string& id) const
{
    const auto found = FAccounts.find(key);
    return found != FAccounts.end() && found->second.Set.count(id) > 0;
}

void TAnnounced::Add(const std::string& key, const std::string& id)
{
    TIds& ids = FAccounts[key];
    const auto known = ids.Set.find(id);
    if (known != ids.Set.end())
    {
        // Still listed: it stays while newer ones come and go. The order
        // alone is no change worth a write.
        ids.Order.splice(ids.Order.end(), ids.Order, known->second);
        return;
    }
    FChanged = true;
    ids.Set.emplace(id, ids.Order.insert(ids.Order.end(), id));
    while (ids.Order.size() > MaxPerAccount)
    {
        ids.Set.erase(ids.Order.front());
        ids.Order.pop_front();
    }
}

void TAnnounced::Retain(const std::vector<std::string>& keys)
{
    for (auto it = FAccounts.begin(); it != FAccounts.end();)
        if (std::find(keys.begin(), keys.end(), it->first) == keys.end())
        {
            it = FAccounts.erase(it);
            FChanged = true;
        }
        else
            ++it;
}

std::string TAnnounced::Serialize() const
{
    std::string text;
    for (const auto& [key, ids] : FAccounts)
    {
        text += "= " + Escaped(key) + "\n";
        for (const std::string& id : ids.Order)
            text += Escaped(id) + "\n";
    }
    return text;
}

TAnnounced TAnnounced::Parse(const std::string& text)
{
    TAnnounced announced;
    std::string key;
    bool inAccount = false;
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        std::string value;
        if (line.rfind("= ", 0) == 0)
        {
            inAccount = Unescaped(line.substr(2), key);
            continue;
        }
        if (inAccount && Unescaped(line, value))
            announced.Add(key, value);
    }
    return announced;
}

TAnnounced TAnnounced::Load(const std::string& path)
{
    try
    {
        std::string text;
        if (ReadWholeFile(path, text))
        {
            TAnnounced announced = Parse(text);
            announced.FChanged = false;
            return announced;
        }
    }
    catch (const Exception&)
    {
        // An unreadable memory costs only the memory.
    }
    return {};
}

void TAnnounced::Save(const std::string& path)
{
    EnsureFolder(FolderOf(path));
    ReplaceWholeFile(path, Serialize());
    FChanged = false;
}
