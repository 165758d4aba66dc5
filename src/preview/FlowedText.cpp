#include "preview/FlowedText.h"

std::string UnflowedText(std::string_view text, bool delSp)
{
    std::string out;
    out.reserve(text.size());
    bool open = false; // the last line was flowed: this one goes on with it
    std::size_t openDepth = 0;
    for (std::size_t pos = 0; pos < text.size();)
    {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::size_t depth = 0;
        while (depth < line.size() && line[depth] == '>')
            ++depth;
        line.remove_prefix(depth);
        if (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        // The signature separator is never flowed.
        const bool flowed = !line.empty() && line.back() == ' ' && line != "-- ";
        if (open && depth != openDepth)
            out += '\n';
        if (!open || depth != openDepth)
        {
            out.append(depth, '>');
            if (depth > 0)
                out += ' ';
        }
        if (flowed && delSp)
            line.remove_suffix(1);
        out.append(line);
        open = flowed;
        openDepth = depth;
        if (!flowed)
            out += '\n';
    }
    return out;
}
