#include "mail/IdHeaderList.h"

#include "platform/AsciiText.h"

using namespace AsciiText;

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
        if (line[i] == ':' || UpperChar(line[i]) != UpperChar(name[i]))
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
        // Appended in place: rebuilding the value for every continuation
        // line would cost quadratic time on a long fold.
        const std::string& line = Lines[i];
        std::size_t first = name.size() + 1;
        std::size_t last = line.size();
        while (first < last && IsBlank(line[first]))
            ++first;
        while (last > first && IsBlank(line[last - 1]))
            --last;
        std::string value(line, first, last - first);
        for (std::size_t j = i + 1; j < Lines.size() && IsFolded(Lines[j]); ++j)
        {
            while (!value.empty() && IsBlank(value.back()))
                value.pop_back();
            value += ' ';
            const std::string& part = Lines[j];
            std::size_t from = 0;
            std::size_t to = part.size();
            while (from < to && IsBlank(part[from]))
                ++from;
            while (to > from && IsBlank(part[to - 1]))
                --to;
            value.append(part, from, to - from);
        }
        TrimInPlace(value);
        return value;
    }
    return {};
}
