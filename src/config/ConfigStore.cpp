#include "config/ConfigStore.h"

#include "check/CheckRules.h"
#include "config/AccountRows.h"
#include "config/Config.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"
#include "platform/ExeFolder.h"
#include "platform/Numbers.h"
#include "platform/Registry.h"

#include <algorithm>

std::string DefaultSoundFile;
std::string DefaultIconFile;
std::string DefaultAnimationFile;
std::string ReaderCommand;
std::string DefaultEmailClient;
bool SettingsLoaded = false;

namespace
{

const char* const DefaultColumnsWidth = "100,100,100,100,0";

// Each width is taken as soon as it is read, so a fault keeps the ones
// before it.
void ReadColumnWidths(const std::string& stored, int columnCount, std::vector<int>& widths)
{
    widths.clear();
    const std::vector<std::string> items = SplitCommaText(stored);
    for (size_t i = 0; i < items.size(); ++i)
    {
        const int width = DecimalOrHexToInt(items[i]);
        if (static_cast<int>(i) >= columnCount)
            throw Exception("List index out of bounds (" + std::to_string(i) + ")");
        widths.push_back(width);
    }
}

std::string ColumnWidthsText(const std::vector<int>& widths)
{
    std::string text;
    for (size_t i = 0; i < widths.size(); ++i)
    {
        if (i > 0)
            text += ',';
        text += std::to_string(widths[i]);
    }
    return text;
}

// An account's security; absent (hives written before there was one) or of
// another type means none.
constexpr const char* SecurityValue = "Security";

TAccountSecurity ReadSecurity(TRegistry& reg)
{
    if (!reg.ValueExists(SecurityValue) || reg.GetDataType(SecurityValue) != TRegDataType::rdInteger)
        return asNone;
    return SecurityOfNumber(reg.ReadInteger(SecurityValue));
}

constexpr const char* NoTrayHintValue = "NoTrayHintShown";

// An account's values are read with read-or-create, but one stored by hand
// with another type is left as it is: the account keeps the default in its
// place and carries what is wrong, so it alone fails and nothing after it is
// lost.
bool StoredAs(TRegistry& reg, Account& a, int number, const char* name, bool text)
{
    if (!reg.ValueExists(name))
        return true;
    const TRegDataType type = reg.GetDataType(name);
    if (text ? type == TRegDataType::rdString || type == TRegDataType::rdExpandString
             : type == TRegDataType::rdInteger)
        return true;
    const std::string format = text ? ResStr("The value '%s' is not stored as text.")
                                    : ResStr("The value '%s' is not stored as a number (dword).");
    a.Unreadable.push_back({name, FormatOne(format, "%s", name), number});
    return false;
}

std::string ReadAccountString(TRegistry& reg, Account& a, int number, const char* name, const std::string& def)
{
    return StoredAs(reg, a, number, name, true) ? ReadOrCreateString(reg, name, def) : def;
}

bool ReadAccountBool(TRegistry& reg, Account& a, int number, const char* name, bool def)
{
    return StoredAs(reg, a, number, name, false) ? ReadOrCreateBool(reg, name, def) : def;
}

bool UsablePort(const std::string& text)
{
    try
    {
        PortOfText(text);
        return true;
    }
    catch (const EBadPort&)
    {
        return false;
    }
}

void OpenOrCreate(TRegistry& reg, const std::string& key)
{
    if (!reg.OpenKey(key, true))
        throw ERegistryException("Failed to create key " + key);
}

} // namespace

bool NoTrayHintShown()
{
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(ConfigKey) || !reg.ValueExists(NoTrayHintValue)
        || reg.GetDataType(NoTrayHintValue) != TRegDataType::rdInteger)
        return false;
    return reg.ReadBool(NoTrayHintValue);
}

void RememberNoTrayHintShown()
{
    TRegistry reg;
    OpenOrCreate(reg, ConfigKey);
    reg.WriteBool(NoTrayHintValue, true);
}

std::string AccountKey(int number)
{
    return std::string(ConfigKey) + "\\Account" + std::to_string(number);
}

std::string ReadDefaultEmailClient()
{
    // Any step that cannot be read leaves the default empty.
    try
    {
        TRegistry reg(THiveRoot::LocalMachine);
        std::string client;
        if (reg.OpenKeyReadOnly("Software\\Clients\\Mail") && reg.ValueExists(""))
            client = reg.ReadString("");
        reg.CloseKey();
        const std::string path = "Software\\Clients\\Mail\\" + client + "\\shell\\open\\command";
        std::string command;
        if (reg.OpenKeyReadOnly(path) && reg.ValueExists(""))
            command = reg.ReadString("");
        reg.CloseKey();
        return command;
    }
    catch (const Exception&)
    {
        return {};
    }
}

void ComputeStartupDefaults()
{
    const std::string folder = FileNameToCodePage(ExecutableFolder());
    DefaultSoundFile = folder + "notify.wav";
    DefaultIconFile = folder + "newmsg.ico";
    DefaultAnimationFile = folder + "notify.avi";
    ReaderCommand = folder + "ternview %ACCOUNT% %MSGID%";
    DefaultEmailClient = ReadDefaultEmailClient();
}

std::string ReadOrCreateString(TRegistry& reg, const std::string& name, const std::string& def)
{
    if (reg.ValueExists(name))
        return reg.ReadString(name);
    reg.WriteString(name, def);
    return def;
}

int32_t ReadOrCreateInteger(TRegistry& reg, const std::string& name, int32_t def)
{
    if (reg.ValueExists(name))
        return reg.ReadInteger(name);
    reg.WriteInteger(name, def);
    return def;
}

bool ReadOrCreateBool(TRegistry& reg, const std::string& name, bool def)
{
    if (reg.ValueExists(name))
        return reg.ReadBool(name);
    reg.WriteBool(name, def);
    return def;
}

bool LoadConfig(TConfig& c, int columnCount)
{
    TRegistry reg;
    // The defaults a load creates reach the file in one write.
    reg.DeferWrites();
    const bool existed = reg.KeyExists(ConfigKey);
    OpenOrCreate(reg, ConfigKey);

    c.EmailClient = ReadOrCreateString(reg, "EmailClient", DefaultEmailClient);
    c.CheckingTime = ReadOrCreateInteger(reg, "CheckingTime", 300);
    c.DoubleClick = ReadOrCreateInteger(reg, "DoubleClick", 0);
    c.NotifyOnlyNewMsg = ReadOrCreateBool(reg, "NotifyOnlyNewMsg", true);
    c.RequiredPriority = ReadOrCreateInteger(reg, "RequiredPriority", 4);
    c.ShowForm = ReadOrCreateBool(reg, "ShowForm", true);
    c.PlaySound = ReadOrCreateString(reg, "PlaySound", DefaultSoundFile);
    c.ScrLckBlinking = ReadOrCreateInteger(reg, "ScrLckBlinking", 0);
    c.ShowIcon = ReadOrCreateString(reg, "ShowIcon", DefaultIconFile);
    c.Execute = ReadOrCreateString(reg, "Execute", "");
    c.FormAutoHide = ReadOrCreateInteger(reg, "FormAutoHide", 0);
    c.FormAnimation = ReadOrCreateString(reg, "FormAnimation", DefaultAnimationFile);
    c.FormStayOnTop = ReadOrCreateBool(reg, "FormStayOnTop", true);
    c.FormSaveDetails = ReadOrCreateBool(reg, "FormSaveDetails", true);
    // Without "save details" the fold stays as the window has it, and the
    // value is neither read nor created.
    if (c.FormSaveDetails)
        c.FormShowDetails = ReadOrCreateBool(reg, "FormShowDetails", true);
    ReadColumnWidths(ReadOrCreateString(reg, "FormColumnsWidth", DefaultColumnsWidth), columnCount,
                     c.ColumnWidths);
    const int32_t accounts = ReadOrCreateInteger(reg, "AccountsNo", 1);
    reg.CloseKey();
    if (accounts > MaxAccounts)
        throw ERegistryException("The settings list " + std::to_string(accounts) +
                                 " accounts (\"AccountsNo\"); at most " +
                                 std::to_string(MaxAccounts) + " can be loaded");

    c.Accounts.clear();
    const Account defaults;
    for (int32_t i = 1; i <= accounts; ++i)
    {
        // The account stands in the list with its defaults until its key is
        // read through.
        c.Accounts.push_back(defaults);
        OpenOrCreate(reg, AccountKey(i));
        Account a;
        a.Caption = ReadAccountString(reg, a, i, "Caption", defaults.Caption);
        a.UserName = ReadAccountString(reg, a, i, "UserName", defaults.UserName);
        a.Password = ReadAccountString(reg, a, i, "UserPassword", defaults.Password);
        a.Host = ReadAccountString(reg, a, i, "HostAddress", defaults.Host);
        a.Port = ReadAccountString(reg, a, i, "HostPort", defaults.Port);
        a.IMAP4 = ReadAccountBool(reg, a, i, "IMAP4", defaults.IMAP4);
        a.Enabled = ReadAccountBool(reg, a, i, "AccountEnabled", defaults.Enabled);
        a.Security = ReadSecurity(reg);
        // Hives from before there was a choice get the default, on.
        a.Push = ReadAccountBool(reg, a, i, "Push", defaults.Push);
        c.Accounts.back() = a;
        reg.CloseKey();
    }
    reg.Flush();
    return existed;
}

void SaveConfig(const TConfig& c)
{
    TRegistry reg;
    OpenOrCreate(reg, ConfigKey);
    reg.WriteString("EmailClient", c.EmailClient);
    reg.WriteInteger("CheckingTime", c.CheckingTime);
    reg.WriteInteger("DoubleClick", c.DoubleClick);
    reg.WriteBool("NotifyOnlyNewMsg", c.NotifyOnlyNewMsg);
    reg.WriteInteger("RequiredPriority", c.RequiredPriority);
    reg.WriteBool("ShowForm", c.ShowForm);
    reg.WriteString("PlaySound", c.PlaySound);
    reg.WriteInteger("ScrLckBlinking", c.ScrLckBlinking);
    reg.WriteString("ShowIcon", c.ShowIcon);
    reg.WriteString("Execute", c.Execute);
    reg.WriteInteger("FormAutoHide", c.FormAutoHide);
    reg.WriteString("FormAnimation", c.FormAnimation);
    reg.WriteBool("FormStayOnTop", c.FormStayOnTop);
    reg.WriteBool("FormSaveDetails", c.FormSaveDetails);
    reg.WriteBool("FormShowDetails", c.FormShowDetails);
    reg.WriteString("FormColumnsWidth", ColumnWidthsText(c.ColumnWidths));
    reg.WriteInteger("AccountsNo", static_cast<int32_t>(c.Accounts.size()));
    reg.CloseKey();

    for (size_t i = 0; i < c.Accounts.size(); ++i)
    {
        const Account& a = c.Accounts[i];
        const int number = static_cast<int>(i + 1);
        // A hand edit that could not be read stays where it was read; an
        // account moved to another key takes what it holds there.
        const auto written = [&a, number](const char* name) {
            for (const TUnreadValue& v : a.Unreadable)
                if (v.Name == name && v.Key == number)
                    return false;
            return true;
        };
        const auto writeString = [&reg, &written](const char* name, const std::string& value) {
            if (written(name))
                reg.WriteString(name, value);
        };
        const auto writeBool = [&reg, &written](const char* name, bool value) {
            if (written(name))
                reg.WriteBool(name, value);
        };
        OpenOrCreate(reg, AccountKey(number));
        writeString("Caption", a.Caption);
        writeString("UserName", a.UserName);
        writeString("UserPassword", a.Password);
        writeString("HostAddress", a.Host);
        // A port no connection can use is never stored: Ok refuses it, and
        // Exit or closing the window keeps the one stored before.
        if (UsablePort(a.Port))
            writeString("HostPort", a.Port);
        writeBool("AccountEnabled", a.Enabled);
        writeBool("IMAP4", a.IMAP4);
        // Written only when chosen, so plain accounts keep the key they had.
        if (a.Security != asNone)
            reg.WriteInteger(SecurityValue, a.Security);
        else if (reg.ValueExists(SecurityValue))
            reg.DeleteValue(SecurityValue);
        writeBool("Push", a.Push);
        reg.CloseKey();
    }
}

TConfig MergeConfig(const TConfig& base, const TConfig& mine, const TConfig& stored, std::vector<int>* fromMine)
{
    TConfig merged = stored;
    const auto keep = [&](auto member) {
        if (mine.*member != base.*member)
            merged.*member = mine.*member;
    };
    keep(&TConfig::EmailClient);
    keep(&TConfig::CheckingTime);
    keep(&TConfig::DoubleClick);
    keep(&TConfig::NotifyOnlyNewMsg);
    keep(&TConfig::RequiredPriority);
    keep(&TConfig::ShowForm);
    keep(&TConfig::PlaySound);
    keep(&TConfig::ScrLckBlinking);
    keep(&TConfig::ShowIcon);
    keep(&TConfig::Execute);
    keep(&TConfig::FormAutoHide);
    keep(&TConfig::FormAnimation);
    keep(&TConfig::FormStayOnTop);
    keep(&TConfig::FormSaveDetails);
    // The window is the program's to size and fold while it runs.
    merged.FormShowDetails = mine.FormShowDetails;
    merged.ColumnWidths = mine.ColumnWidths;

    std::vector<int> origin(stored.Accounts.size(), -1);
    if (mine.Accounts != base.Accounts)
    {
        merged.Accounts = mine.Accounts;
        origin.resize(mine.Accounts.size());
        for (size_t i = 0; i < mine.Accounts.size(); ++i)
        {
            origin[i] = static_cast<int>(i);
            // Only while the rows line up with the loaded ones can an
            // account be told to be left as it was.
            if (mine.Accounts.size() == base.Accounts.size() && i < stored.Accounts.size()
                && mine.Accounts[i] == base.Accounts[i])
            {
                merged.Accounts[i] = stored.Accounts[i];
                origin[i] = -1;
            }
        }
        for (size_t i = base.Accounts.size(); i < stored.Accounts.size(); ++i)
        {
            merged.Accounts.push_back(stored.Accounts[i]);
            origin.push_back(-1);
        }
    }
    if (fromMine)
        *fromMine = std::move(origin);
    return merged;
}

void EmptyStoredPassword(const Account& a)
{
    TRegistry reg;
    const auto text = [&reg](const char* name) {
        return reg.ValueExists(name) && reg.GetDataType(name) == TRegDataType::rdString ? reg.ReadString(name)
                                                                                       : std::string();
    };
    int32_t accounts = 0;
    if (reg.OpenKeyReadOnly(ConfigKey))
    {
        if (reg.ValueExists("AccountsNo") && reg.GetDataType("AccountsNo") == TRegDataType::rdInteger)
            accounts = std::min(reg.ReadInteger("AccountsNo"), MaxAccounts);
        reg.CloseKey();
    }
    for (int32_t i = 1; i <= accounts; ++i)
    {
        if (!reg.OpenKeyReadOnly(AccountKey(i)))
            continue;
        const bool imap4 = reg.ValueExists("IMAP4") && reg.GetDataType("IMAP4") == TRegDataType::rdInteger &&
                           reg.ReadBool("IMAP4");
        const bool same = text("UserPassword") == a.Password && text("UserName") == a.UserName &&
                          text("HostAddress") == a.Host && text("HostPort") == a.Port && imap4 == a.IMAP4;
        reg.CloseKey();
        if (same && reg.OpenKey(AccountKey(i), false))
        {
            reg.WriteString("UserPassword", "");
            reg.CloseKey();
        }
    }
}

void DeleteDefaultSettings()
{
    TRegistry reg;
    OpenOrCreate(reg, ConfigKey);
    for (const char* name :
         {"EmailClient", "CheckingTime", "DoubleClick", "NotifyOnlyNewMsg", "ShowForm", "PlaySound",
          "ScrLckBlinking", "ShowIcon", "Execute", "FormAutoHide", "FormAnimation", "FormStayOnTop",
          "FormSaveDetails", "FormColumnsWidth", "FormShowDetails"})
        reg.DeleteValue(name);
    reg.CloseKey();
}

std::vector<std::string> SplitCommaText(const std::string& text)
{
    std::vector<std::string> items;
    const auto blank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
    size_t p = 0;
    const size_t n = text.size();
    while (p < n && blank(text[p]))
        ++p;
    while (p < n)
    {
        std::string item;
        if (text[p] == '"')
        {
            ++p;
            while (p < n)
            {
                if (text[p] == '"')
                {
                    if (p + 1 < n && text[p + 1] == '"')
                    {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        }
        else
        {
            const size_t start = p;
            while (p < n && static_cast<unsigned char>(text[p]) > ' ' && text[p] != ',')
                ++p;
            item = text.substr(start, p - start);
        }
        items.push_back(item);
        while (p < n && blank(text[p]))
            ++p;
        if (p < n && text[p] == ',')
        {
            if (p + 1 == n)
                items.emplace_back(); // a trailing comma ends in an empty item
            do
                ++p;
            while (p < n && blank(text[p]));
        }
    }
    return items;
}

