#include "platform/MailClientLookup.h"

#include "platform/AsciiText.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kMailRoot[] = "HKEY_LOCAL_MACHINE\\Software\\Clients\\Mail";

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string HomeFolder()
{
    std::string home = Env("HOME");
    if (home.empty())
        if (const passwd* pw = ::getpwuid(::getuid()))
            home = pw->pw_dir;
    return home;
}

// An XDG base variable: absolute entries only, else the default.
std::vector<std::string> XdgList(const char* name, const std::string& fallback)
{
    std::vector<std::string> out;
    std::string value = Env(name);
    if (value.empty())
        value = fallback;
    std::stringstream ss(value);
    std::string item;
    while (std::getline(ss, item, ':'))
        if (!item.empty() && item[0] == '/')
            out.push_back(item);
    if (out.empty() && value != fallback)
        return XdgList("", fallback);
    return out;
}

bool IsFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadText(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return true;
}

// Value of key in group of an ini-style text, or nothing.
bool IniValue(const std::string& text, const std::string& group, const std::string& key,
              std::string& value)
{
    std::stringstream ss(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(ss, line))
    {
        line = AsciiText::Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[')
        {
            inGroup = line == "[" + group + "]";
            continue;
        }
        if (!inGroup)
            continue;
        const size_t eq = line.find('=');
        if (eq != std::string::npos && AsciiText::Trim(line.substr(0, eq)) == key)
        {
            value = AsciiText::Trim(line.substr(eq + 1));
            return true;
        }
    }
    return false;
}

// Desktop entry string escapes.
std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i)
    {
        if (s[i] != '\\' || i + 1 == s.size())
        {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        switch (c)
        {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default:
            out += '\\';
            out += c;
        }
    }
    return out;
}

// Gives a key, created when missing, its default value.
void SetDefaultText(THive& hive, const std::string& path, const std::string& text)
{
    THiveValue value;
    value.Text = text;
    hive.Create(path).Set(value);
}

} // namespace

TXdgPlaces XdgPlacesFromEnvironment()
{
    const std::string home = HomeFolder();
    std::vector<std::string> desktops;
    {
        std::stringstream ss(Env("XDG_CURRENT_DESKTOP"));
        std::string d;
        while (std::getline(ss, d, ':'))
            if (!d.empty())
                desktops.push_back(AsciiText::LowerCase(d));
    }
    TXdgPlaces places;
    auto addLists = [&](const std::string& folder) {
        for (const auto& d : desktops)
            places.MimeappsLists.push_back(folder + "/" + d + "-mimeapps.list");
        places.MimeappsLists.push_back(folder + "/mimeapps.list");
    };
    for (const auto& f : XdgList("XDG_CONFIG_HOME", home + "/.config"))
        addLists(f);
    for (const auto& f : XdgList("XDG_CONFIG_DIRS", "/etc/xdg"))
        addLists(f);
    for (const auto& f : XdgList("XDG_DATA_HOME", home + "/.local/share"))
    {
        addLists(f + "/applications");
        places.ApplicationFolders.push_back(f + "/applications");
    }
    for (const auto& f : XdgList("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
    {
        addLists(f + "/applications");
        places.ApplicationFolders.push_back(f + "/applications");
    }
    return places;
}

std::string FindDesktopFile(const TXdgPlaces& places, const std::string& desktopId)
{
    if (desktopId.empty() || desktopId.find('/') != std::string::npos)
        return {};
    // "vendor-app.desktop" may also live as vendor/app.desktop.
    for (const auto& folder : places.ApplicationFolders)
    {
        std::string relative = desktopId;
        while (true)
        {
            const std::string path = folder + "/" + relative;
            if (IsFile(path))
                return path;
            const size_t dash = relative.find('-');
            if (dash == std::string::npos)
                break;
            relative[dash] = '/';
        }
    }
    return {};
}

std::string DefaultMailtoHandler(const TXdgPlaces& places)
{
    for (const auto& list : places.MimeappsLists)
    {
        std::string text, value;
        if (!ReadText(list, text) ||
            !IniValue(text, "Default Applications", "x-scheme-handler/mailto", value))
            continue;
        std::stringstream ss(value);
        std::string id;
        while (std::getline(ss, id, ';'))
        {
            id = AsciiText::Trim(id);
            if (!FindDesktopFile(places, id).empty())
                return id;
        }
    }
    return {};
}

std::string RemoveFieldCodes(const std::string& exec)
{
    // Work per argument so a code standing alone leaves no gap behind.
    std::vector<std::string> args;
    std::string current;
    bool quoted = false, any = false, removed = false;
    auto flush = [&]() {
        if (any && !(removed && current.empty()))
            args.push_back(current);
        current.clear();
        any = removed = false;
    };
    for (size_t i = 0; i < exec.size(); ++i)
    {
        const char c = exec[i];
        if (!quoted && (c == ' ' || c == '\t'))
        {
            flush();
            continue;
        }
        any = true;
        if (c == '"')
            quoted = !quoted;
        if (c == '%' && i + 1 < exec.size())
        {
            const char code = exec[++i];
            if (code == '%')
                current += '%';
            else
                removed = true;
            continue;
        }
        current += c;
    }
    flush();
    std::string out;
    for (const auto& a : args)
        out += (out.empty() ? "" : " ") + a;
    return out;
}

std::string DesktopEntryCommand(const std::string& entryText)
{
    std::string exec;
    if (!IniValue(entryText, "Desktop Entry", "Exec", exec))
        return {};
    return RemoveFieldCodes(Unescape(exec));
}

THive MailClientHive(const TXdgPlaces& places)
{
    THive hive;
    const std::string id = DefaultMailtoHandler(places);
    if (id.empty())
        return hive;
    SetDefaultText(hive, kMailRoot, id);

    std::string entry;
    if (!ReadText(FindDesktopFile(places, id), entry))
        return hive;
    const std::string command = DesktopEntryCommand(entry);
    if (command.empty())
        return hive;
    SetDefaultText(hive, std::string(kMailRoot) + "\\" + id + "\\shell\\open\\command", command);
    return hive;
}

THive MailClientHive()
{
    return MailClientHive(XdgPlacesFromEnvironment());
}
