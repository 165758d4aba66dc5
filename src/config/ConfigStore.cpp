#include "config/ConfigStore.h"

#include "check/CheckRules.h"
#include "check/QuietState.h"
#include "config/Config.h"
#include "i18n/Translate.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/ExeFolder.h"
#include "platform/Numbers.h"
#include "platform/Registry.h"

#include <algorithm>
#include <iterator>
#include <variant>

std::string DefaultSoundFile;
std::string DefaultIconFile;
std::string DefaultAnimationFile;
std::string ReaderCommand;
std::string DefaultEmailClient;
bool SettingsLoaded = false;
std::vector<std::string> LoadNotes;

namespace
{

template <class T> using TSettingField = T TConfig::*;
template <class T> using TAccountField = T Account::*;

// One value of the main key. Its hive type follows the member's: text,
// dword, dword 0/1; the column widths are stored as comma text.
struct TSetting
{
    const char* Name;
    std::variant<TSettingField<std::string>, TSettingField<int>, TSettingField<bool>,
                 TSettingField<std::vector<int>>>
        Field;
    // Default leaves it as stored.
    bool KeptByDefault = false;
    // The notification window's own while the program runs: a merge with a
    // hand edit keeps the program's.
    bool Window = false;
    // Read (and created) only while this switch, read before it, is on.
    TSettingField<bool> ReadWhen = nullptr;
    // A stored value of another type, a number above Max (from 0) or a
    // text Usable refuses is passed over with a note, keeping the default:
    // values that came later never stop a load.
    bool Lenient = false;
    int Max = 0;
    bool (*Usable)(const std::string&) = nullptr;
};

bool IsUtcTime(const std::string& text)
{
    return text.empty() || ParseUtcTime(text).has_value();
}

// The main key's values in the order load and save go through them; the
// defaults are those of StoredDefaults(). "AccountsNo" follows them.
const TSetting Settings[] = {
    {"EmailClient", &TConfig::EmailClient},
    {"CheckingTime", &TConfig::CheckingTime},
    {"DoubleClick", &TConfig::DoubleClick},
    {"NotifyOnlyNewMsg", &TConfig::NotifyOnlyNewMsg},
    {.Name = "RequiredPriority", .Field = &TConfig::RequiredPriority, .KeptByDefault = true},
    {"ShowForm", &TConfig::ShowForm},
    {"PlaySound", &TConfig::PlaySound},
    {"ScrLckBlinking", &TConfig::ScrLckBlinking},
    {"ShowIcon", &TConfig::ShowIcon},
    {"Execute", &TConfig::Execute},
    {"ShowPreview", &TConfig::ShowPreview},
    {"FormAutoHide", &TConfig::FormAutoHide},
    {"FormAnimation", &TConfig::FormAnimation},
    {"FormStayOnTop", &TConfig::FormStayOnTop},
    {"FormSaveDetails", &TConfig::FormSaveDetails},
    // Without "save details" the fold stays as the window has it, and the
    // value is neither read nor created; a save writes it all the same.
    {.Name = "FormShowDetails", .Field = &TConfig::FormShowDetails, .Window = true,
     .ReadWhen = &TConfig::FormSaveDetails},
    {.Name = "FormColumnsWidth", .Field = &TConfig::ColumnWidths, .Window = true},
    {"BadgeFor", &TConfig::BadgeFor},
    {.Name = "QuietFrom", .Field = &TConfig::QuietFrom, .Lenient = true, .Max = MinutesPerDay - 1},
    {.Name = "QuietTo", .Field = &TConfig::QuietTo, .Lenient = true, .Max = MinutesPerDay - 1},
    {.Name = "QuietDays", .Field = &TConfig::QuietDays, .Lenient = true, .Max = AllQuietDays},
    {.Name = "QuietUntil", .Field = &TConfig::QuietUntil, .KeptByDefault = true, .Lenient = true, .Usable = IsUtcTime},
    {.Name = "CommandWhenQuiet", .Field = &TConfig::CommandWhenQuiet, .Lenient = true},
};

constexpr const char* AccountsNoValue = "AccountsNo";

enum class TSaved
{
    Always,
    // Only a port a connection can use: Ok refuses any other, and Exit or
    // closing the window keeps the one stored before.
    WhenUsablePort,
    // After the value that follows it (files have always held the enabled
    // flag before the protocol).
    AfterNext,
    // Text stored only while it is not empty, so the keys of accounts that
    // never use it stay as they were.
    WhenNotEmpty,
    // A flag stored only while it is on, for the same reason.
    WhenOn,
};

// One value of an account key: text, a dword, or a dword 0/1. The security is a
// dword stored only when chosen, so plain accounts keep the key they had;
// absent (hives written before there was one) or of another type it reads
// as none and is not created.
struct TAccountValue
{
    const char* Name;
    std::variant<TAccountField<std::string>, TAccountField<bool>, TAccountField<int>, TAccountField<TAccountSecurity>,
                 TAccountField<TAccountAuthentication>>
        Field;
    TSaved Saved = TSaved::Always;
};

// An account key's values in the order a load reads them; the defaults are
// Account's own.
const TAccountValue AccountValues[] = {
    {"Caption", &Account::Caption},
    {"UserName", &Account::UserName},
    {"UserPassword", &Account::Password},
    {"HostAddress", &Account::Host},
    {"HostPort", &Account::Port, TSaved::WhenUsablePort},
    {"IMAP4", &Account::IMAP4, TSaved::AfterNext},
    {"AccountEnabled", &Account::Enabled},
    {"Security", &Account::Security},
    // Absent, as in every hive from before, is POP3 or IMAP4.
    {"JMAP", &Account::JMAP, TSaved::WhenOn},
    // Hives from before there was a choice get the default, on.
    {"Push", &Account::Push},
    // 0: the common interval; a hive from before gets that.
    {"CheckingTime", &Account::CheckingTime},
    {"Silent", &Account::Silent},
    {"Sound", &Account::Sound},
    {"Notify", &Account::Notify},
    {"Urgency", &Account::Urgency},
    // Absent, as in every hive from before, is a password login.
    {"Authentication", &Account::Authentication},
    {"OAuth2Issuer", &Account::OAuth2Issuer, TSaved::WhenNotEmpty},
    {"OAuth2ClientId", &Account::OAuth2ClientId, TSaved::WhenNotEmpty},
    {"OAuth2Scope", &Account::OAuth2Scope, TSaved::WhenNotEmpty},
    {"EmailAddress", &Account::EmailAddress},
};

template <class... F> struct TOverloaded : F...
{
    using F::operator()...;
};
template <class... F> TOverloaded(F...) -> TOverloaded<F...>;

template <class T> const char* ValueNameOf(TAccountField<T> field)
{
    for (const TAccountValue& v : AccountValues)
        if (const auto* member = std::get_if<TAccountField<T>>(&v.Field); member && *member == field)
            return v.Name;
    return "";
}

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

void ReadAccountValue(TRegistry& reg, Account& a, int number, const TAccountValue& v)
{
    const Account defaults;
    std::visit(TOverloaded{
                   [&](TAccountField<std::string> f) {
                       if (!StoredAs(reg, a, number, v.Name, true))
                           a.*f = defaults.*f;
                       else if (v.Saved == TSaved::WhenNotEmpty)
                           a.*f = reg.ValueExists(v.Name) ? reg.ReadString(v.Name) : defaults.*f;
                       else
                           a.*f = ReadOrCreateString(reg, v.Name, defaults.*f);
                   },
                   [&](TAccountField<bool> f) {
                       if (!StoredAs(reg, a, number, v.Name, false))
                           a.*f = defaults.*f;
                       else if (v.Saved == TSaved::WhenOn)
                           a.*f = reg.ValueExists(v.Name) ? reg.ReadBool(v.Name) : defaults.*f;
                       else
                           a.*f = ReadOrCreateBool(reg, v.Name, defaults.*f);
                   },
                   [&](TAccountField<int> f) {
                       a.*f = StoredAs(reg, a, number, v.Name, false) ? ReadOrCreateInteger(reg, v.Name, defaults.*f)
                                                                      : defaults.*f;
                   },
                   [&](TAccountField<TAccountSecurity> f) {
                       a.*f = reg.ValueExists(v.Name) && reg.GetDataType(v.Name) == TRegDataType::rdInteger
                                  ? SecurityOfNumber(reg.ReadInteger(v.Name))
                                  : defaults.*f;
                   },
                   [&](TAccountField<TAccountAuthentication> f) {
                       a.*f = StoredAs(reg, a, number, v.Name, false) && reg.ValueExists(v.Name)
                                  ? AuthenticationOfNumber(reg.ReadInteger(v.Name))
                                  : defaults.*f;
                   },
               },
               v.Field);
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

void WriteAccountValue(TRegistry& reg, const Account& a, int number, const TAccountValue& v)
{
    // A hand edit that could not be read stays where it was read; an
    // account moved to another key takes what it holds there.
    for (const TUnreadValue& u : a.Unreadable)
        if (u.Name == v.Name && u.Key == number)
            return;
    if (v.Saved == TSaved::WhenUsablePort && !UsablePort(a.Port))
        return;
    std::visit(TOverloaded{
                   [&](TAccountField<std::string> f) {
                       if (v.Saved != TSaved::WhenNotEmpty || !(a.*f).empty())
                           reg.WriteString(v.Name, a.*f);
                       else if (reg.ValueExists(v.Name))
                           reg.DeleteValue(v.Name);
                   },
                   [&](TAccountField<bool> f) {
                       if (v.Saved != TSaved::WhenOn || a.*f)
                           reg.WriteBool(v.Name, a.*f);
                       else if (reg.ValueExists(v.Name))
                           reg.DeleteValue(v.Name);
                   },
                   [&](TAccountField<int> f) { reg.WriteInteger(v.Name, a.*f); },
                   [&](TAccountField<TAccountSecurity> f) {
                       if (a.*f != asNone)
                           reg.WriteInteger(v.Name, a.*f);
                       else if (reg.ValueExists(v.Name))
                           reg.DeleteValue(v.Name);
                   },
                   [&](TAccountField<TAccountAuthentication> f) {
                       if (a.*f != aaPassword)
                           reg.WriteInteger(v.Name, a.*f);
                       else if (reg.ValueExists(v.Name))
                           reg.DeleteValue(v.Name);
                   },
               },
               v.Field);
}

void OpenOrCreate(TRegistry& reg, const std::string& key)
{
    if (!reg.OpenKey(key, true))
        throw ERegistryException("Failed to create key " + key);
}

void PassOver(const char* name)
{
    LoadNotes.push_back(FormatOne(ResStr("The value '%s' holds no usable setting and is ignored."), "%s", name));
}

// Read-or-create, but what cannot be used leaves the default and a note.
void ReadLenient(TRegistry& reg, const TSetting& s, const TConfig& defaults, TConfig& c)
{
    const bool stored = reg.ValueExists(s.Name);
    std::visit(TOverloaded{
                   [&](TSettingField<std::string> f) {
                       c.*f = defaults.*f;
                       if (!stored)
                           reg.WriteString(s.Name, defaults.*f);
                       else if (reg.GetDataType(s.Name) != TRegDataType::rdString)
                           PassOver(s.Name);
                       else if (const std::string text = reg.ReadString(s.Name); s.Usable && !s.Usable(text))
                           PassOver(s.Name);
                       else
                           c.*f = text;
                   },
                   [&](auto f) {
                       using T = std::remove_reference_t<decltype(c.*f)>;
                       if constexpr (std::is_same_v<T, int> || std::is_same_v<T, bool>)
                       {
                           c.*f = defaults.*f;
                           if (!stored)
                               reg.WriteInteger(s.Name, static_cast<int32_t>(defaults.*f));
                           else if (reg.GetDataType(s.Name) != TRegDataType::rdInteger)
                               PassOver(s.Name);
                           else if (const int32_t n = reg.ReadInteger(s.Name); std::is_same_v<T, int> && (n < 0 || n > s.Max))
                               PassOver(s.Name);
                           else
                               c.*f = static_cast<T>(n); // any number but 0 is on
                       }
                   },
               },
               s.Field);
}

std::string RulesKey()
{
    return std::string(ConfigKey) + "\\" + RulesSubKey;
}

// The rule number a value name gives: "1", "2", ... without leading zeros.
int RuleNumber(const std::string& name)
{
    if (name.empty() || name.size() > 9 || name[0] == '0')
        return 0;
    int n = 0;
    for (const char ch : name)
    {
        if (ch < '0' || ch > '9')
            return 0;
        n = n * 10 + (ch - '0');
    }
    return n;
}

// The texts in the order of their numbers, gaps closed; values of other
// names or types are someone else's and are passed over. A sub-key never
// created by a load: without one there are no rules.
std::vector<std::string> ReadRules(TRegistry& reg)
{
    std::vector<std::pair<int, std::string>> numbered;
    if (!reg.OpenKeyReadOnly(RulesKey()))
        return {};
    for (const std::string& name : reg.GetValueNames())
        if (const int n = RuleNumber(name); n > 0 && reg.GetDataType(name) == TRegDataType::rdString)
            numbered.emplace_back(n, reg.ReadString(name));
    reg.CloseKey();
    std::sort(numbered.begin(), numbered.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    if (numbered.size() > MaxRules)
    {
        LoadNotes.push_back(FormatOne(ResStr("Only the first %d rules are read."), "%d", std::to_string(MaxRules)));
        numbered.resize(MaxRules);
    }
    std::vector<std::string> rules;
    for (auto& [n, text] : numbered)
        rules.push_back(std::move(text));
    return rules;
}

// The sub-key comes to hold the rules as "1".."n" and no other numbered
// text up to the bound; it is made only for a first rule. Numbers past the
// bound are never read, so they are left as stored: a longer hand-made list
// loses nothing to a save.
void WriteRules(TRegistry& reg, const std::vector<std::string>& rules)
{
    const std::string key = RulesKey();
    if (rules.empty() && !reg.KeyExists(key))
        return;
    OpenOrCreate(reg, key);
    for (const std::string& name : reg.GetValueNames())
        if (const int n = RuleNumber(name); n > static_cast<int>(rules.size()) && n <= static_cast<int>(MaxRules) &&
                                            reg.GetDataType(name) == TRegDataType::rdString)
            reg.DeleteValue(name);
    for (size_t i = 0; i < rules.size(); ++i)
        reg.WriteString(std::to_string(i + 1), rules[i]);
    reg.CloseKey();
}

} // namespace

TAccountSecurity SecurityOfNumber(long long number)
{
    switch (number)
    {
    case asStartTLS:
        return asStartTLS;
    case asImplicitTLS:
        return asImplicitTLS;
    default:
        return asNone;
    }
}

TAccountAuthentication AuthenticationOfNumber(long long number)
{
    return number == aaOAuth2 ? aaOAuth2 : number == aaBearer ? aaBearer : aaPassword;
}

TConfig StoredDefaults()
{
    TConfig c;
    c.EmailClient = DefaultEmailClient;
    c.PlaySound = DefaultSoundFile;
    c.ShowIcon = DefaultIconFile;
    c.FormAnimation = DefaultAnimationFile;
    c.ColumnWidths = {100, 100, 100, 100, 0};
    return c;
}

const char* AccountValueName(std::string Account::*field)
{
    return ValueNameOf(field);
}

const char* AccountValueName(bool Account::*field)
{
    return ValueNameOf(field);
}

const char* AccountValueName(int Account::*field)
{
    return ValueNameOf(field);
}

bool HoldsDefault(const Account& a, const std::string& valueName)
{
    const Account defaults;
    for (const TAccountValue& v : AccountValues)
        if (valueName == v.Name)
            return std::visit([&](auto f) { return a.*f == defaults.*f; }, v.Field);
    return true;
}

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

void StoreQuietUntil(const std::string& until)
{
    TRegistry reg;
    OpenOrCreate(reg, ConfigKey);
    reg.WriteString("QuietUntil", until);
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

// An IMAP4 account's folders live in a sub-key of their own, one dword a
// folder; the sub-key is never created by a load, so an account without
// one checks its inbox as it always did. A value of another type is
// someone else's and is passed over.
std::string FoldersKey(int number)
{
    return AccountKey(number) + "\\" + FoldersSubKey;
}

std::vector<TAccountFolder> ReadFolders(TRegistry& reg, int number)
{
    std::vector<TAccountFolder> folders;
    if (!reg.OpenKeyReadOnly(FoldersKey(number)))
        return folders;
    for (const std::string& name : reg.GetValueNames())
    {
        if (folders.size() >= MaxAccountFolders)
            break;
        if (!name.empty() && reg.GetDataType(name) == TRegDataType::rdInteger)
            folders.push_back({name, reg.ReadInteger(name) == 1});
    }
    reg.CloseKey();
    return folders;
}

// The sub-key comes to hold the account's list: its folders' dwords, and no
// dword of a folder the list no longer has.
void WriteFolders(TRegistry& reg, const Account& a, int number)
{
    const std::string key = FoldersKey(number);
    if (a.Folders.empty() && !reg.KeyExists(key))
        return;
    OpenOrCreate(reg, key);
    for (const std::string& name : reg.GetValueNames())
    {
        const bool listed = std::any_of(a.Folders.begin(), a.Folders.end(),
                                        [&name](const TAccountFolder& f) { return AsciiText::SameText(f.Name, name); });
        if (!listed && reg.GetDataType(name) == TRegDataType::rdInteger)
            reg.DeleteValue(name);
    }
    for (const TAccountFolder& f : a.Folders)
        if (!f.Name.empty())
            reg.WriteInteger(f.Name, f.Watched ? 1 : 0);
    reg.CloseKey();
}

bool LoadConfig(TConfig& c, int columnCount)
{
    TRegistry reg;
    // The defaults a load creates reach the file in one write.
    reg.DeferWrites();
    const bool existed = reg.KeyExists(ConfigKey);
    OpenOrCreate(reg, ConfigKey);

    const TConfig defaults = StoredDefaults();
    LoadNotes.clear();
    for (const TSetting& s : Settings)
    {
        if (s.ReadWhen && !(c.*s.ReadWhen))
            continue;
        if (s.Lenient)
        {
            ReadLenient(reg, s, defaults, c);
            continue;
        }
        std::visit(TOverloaded{
                       [&](TSettingField<std::string> f) { c.*f = ReadOrCreateString(reg, s.Name, defaults.*f); },
                       [&](TSettingField<int> f) { c.*f = ReadOrCreateInteger(reg, s.Name, defaults.*f); },
                       [&](TSettingField<bool> f) { c.*f = ReadOrCreateBool(reg, s.Name, defaults.*f); },
                       [&](TSettingField<std::vector<int>> f) {
                           ReadColumnWidths(ReadOrCreateString(reg, s.Name, ColumnWidthsText(defaults.*f)),
                                            columnCount, c.*f);
                       },
                   },
                   s.Field);
    }
    const int32_t accounts = ReadOrCreateInteger(reg, AccountsNoValue, 1);
    reg.CloseKey();
    c.Rules = ReadRules(reg);
    if (accounts > MaxAccounts)
        throw ERegistryException("The settings list " + std::to_string(accounts) +
                                 " accounts (\"AccountsNo\"); at most " +
                                 std::to_string(MaxAccounts) + " can be loaded");

    c.Accounts.clear();
    for (int32_t i = 1; i <= accounts; ++i)
    {
        // The account stands in the list with its defaults until its key is
        // read through.
        c.Accounts.emplace_back();
        OpenOrCreate(reg, AccountKey(i));
        Account a;
        for (const TAccountValue& v : AccountValues)
            ReadAccountValue(reg, a, i, v);
        reg.CloseKey();
        a.Folders = ReadFolders(reg, i);
        if (a.Urgency < 0 || a.Urgency > 2)
        {
            PassOver(AccountValueName(&Account::Urgency));
            a.Urgency = Account{}.Urgency;
        }
        c.Accounts.back() = a;
    }
    reg.Flush();
    return existed;
}

void SaveConfig(const TConfig& c)
{
    TRegistry reg;
    OpenOrCreate(reg, ConfigKey);
    for (const TSetting& s : Settings)
        std::visit(TOverloaded{
                       [&](TSettingField<std::string> f) { reg.WriteString(s.Name, c.*f); },
                       [&](TSettingField<int> f) { reg.WriteInteger(s.Name, c.*f); },
                       [&](TSettingField<bool> f) { reg.WriteBool(s.Name, c.*f); },
                       [&](TSettingField<std::vector<int>> f) { reg.WriteString(s.Name, ColumnWidthsText(c.*f)); },
                   },
                   s.Field);
    reg.WriteInteger(AccountsNoValue, static_cast<int32_t>(c.Accounts.size()));
    reg.CloseKey();
    WriteRules(reg, c.Rules);

    for (size_t i = 0; i < c.Accounts.size(); ++i)
    {
        const int number = static_cast<int>(i + 1);
        OpenOrCreate(reg, AccountKey(number));
        const size_t count = std::size(AccountValues);
        for (size_t v = 0; v < count; ++v)
        {
            if (AccountValues[v].Saved == TSaved::AfterNext && v + 1 < count)
            {
                WriteAccountValue(reg, c.Accounts[i], number, AccountValues[v + 1]);
                WriteAccountValue(reg, c.Accounts[i], number, AccountValues[v]);
                ++v;
                continue;
            }
            WriteAccountValue(reg, c.Accounts[i], number, AccountValues[v]);
        }
        reg.CloseKey();
        WriteFolders(reg, c.Accounts[i], number);
    }
}

TConfig MergeConfig(const TConfig& base, const TConfig& mine, const TConfig& stored, std::vector<int>* fromMine)
{
    TConfig merged = stored;
    const auto keep = [&](auto member) {
        if (mine.*member != base.*member)
            merged.*member = mine.*member;
    };
    for (const TSetting& s : Settings)
        std::visit(
            [&](auto member) {
                // The window is the program's to size and fold while it runs.
                if (s.Window)
                    merged.*member = mine.*member;
                else
                    keep(member);
            },
            s.Field);
    // The rules are one list: edited in the window, it is the window's.
    keep(&TConfig::Rules);

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
        if (reg.ValueExists(AccountsNoValue) && reg.GetDataType(AccountsNoValue) == TRegDataType::rdInteger)
            accounts = std::min(reg.ReadInteger(AccountsNoValue), MaxAccounts);
        reg.CloseKey();
    }
    for (int32_t i = 1; i <= accounts; ++i)
    {
        if (!reg.OpenKeyReadOnly(AccountKey(i)))
            continue;
        const auto flag = [&reg](const char* name) {
            return reg.ValueExists(name) && reg.GetDataType(name) == TRegDataType::rdInteger && reg.ReadBool(name);
        };
        // The protocol as the keyring's key has it: JMAP before IMAP4.
        const bool jmap = flag(AccountValueName(&Account::JMAP));
        const bool imap4 = flag(AccountValueName(&Account::IMAP4));
        const bool same = text(AccountValueName(&Account::Password)) == a.Password &&
                          text(AccountValueName(&Account::UserName)) == a.UserName &&
                          text(AccountValueName(&Account::Host)) == a.Host &&
                          text(AccountValueName(&Account::Port)) == a.Port && jmap == a.JMAP &&
                          (jmap || imap4 == a.IMAP4);
        reg.CloseKey();
        if (same && reg.OpenKey(AccountKey(i), false))
        {
            reg.WriteString(AccountValueName(&Account::Password), "");
            reg.CloseKey();
        }
    }
}

void DeleteDefaultSettings()
{
    TRegistry reg;
    OpenOrCreate(reg, ConfigKey);
    for (const TSetting& s : Settings)
        if (!s.KeptByDefault)
            reg.DeleteValue(s.Name);
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

