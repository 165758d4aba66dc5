#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The raw header of one message: one entry per physical line, as received and
// without terminators. A continuation line (leading space or TAB) stays its
// own entry; lookups unfold it into the field above.
class TIdHeaderList
{
public:
    // Upper-cased text before the line's first colon, blanks kept; empty when
    // the line has no colon.
    std::string FieldNameOfLine(std::size_t index) const;
    // Trimmed, unfolded value of the first line whose field name equals `name`
    // (ASCII case ignored); empty when no line carries it.
    std::string FieldValue(const std::string& name) const;

    void Add(std::string line) { Lines.push_back(std::move(line)); }
    void Clear() { Lines.clear(); }
    std::size_t Count() const { return Lines.size(); }
    bool Empty() const { return Lines.empty(); }
    const std::string& operator[](std::size_t index) const { return Lines.at(index); }

    std::vector<std::string> Lines;
};
