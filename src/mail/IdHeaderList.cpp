#include "mail/IdHeaderList.h"

#include "mail/IdEMailAddress.h"

using namespace IdText;

namespace
{

bool IsFolded(const std::string& line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// Whether `line` is a field called `name`: its first colon follows a name that
// matches. Compared in place, as this runs for every line of every lookup.
bool LineHasField(const std::string& line, const std::string& name)
{
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        char a = line[i];
        char b = name[i];
        if (a == ':')
            return false;
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

} // namespace

std::string TIdHeaderList::FieldNameOfLine(std::size_t index) const
{
    const std::string& line = Lines.at(index);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return {};
    return UpperCase(line.substr(0, colon));
}

std::string TIdHeaderList::FieldValue(const std::string& name) const
{
    for (std::size_t i = 0; i < Lines.size(); ++i)
    {
        if (!LineHasField(Lines[i], name))
            continue;
        std::string value = Lines[i].substr(name.size() + 1);
        for (std::size_t j = i + 1; j < Lines.size() && IsFolded(Lines[j]); ++j)
            value = Trim(value) + " " + Trim(Lines[j]);
        return Trim(value);
    }
    return {};
}
