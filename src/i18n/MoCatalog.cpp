#include "i18n/MoCatalog.h"

#include "platform/AsciiText.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace
{

// Catalogs of ours are a few kilobytes; refuse anything absurd.
constexpr std::size_t MaxCatalogSize = 16u << 20;
constexpr std::uint32_t Magic = 0x950412de;

class TReader
{
public:
    explicit TReader(const std::string& data) : Data(data) {}

    // Reads a 32-bit word at offset in the file's byte order.
    bool Word(std::size_t offset, std::uint32_t& value) const
    {
        if (offset > Data.size() || Data.size() - offset < 4)
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(Data.data() + offset);
        value = Swapped ? (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                           std::uint32_t(p[2]) << 8 | p[3])
                        : (std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 |
                           std::uint32_t(p[1]) << 8 | p[0]);
        return true;
    }

    // The string of table entry i (length, offset), up to its first NUL:
    // a plural entry keeps its singular form only.
    bool String(std::uint32_t table, std::uint32_t i, std::string& out) const
    {
        std::uint32_t length = 0, offset = 0;
        const std::size_t at = std::size_t(table) + std::size_t(i) * 8;
        if (!Word(at, length) || !Word(at + 4, offset))
            return false;
        if (offset > Data.size() || Data.size() - offset < std::size_t(length))
            return false;
        out.assign(Data, offset, length);
        out.resize(out.find('\0') == std::string::npos ? out.size() : out.find('\0'));
        return true;
    }

    bool Swapped = false;

private:
    const std::string& Data;
};

} // namespace

std::optional<TMoCatalog> TMoCatalog::Load(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::string data;
    char buf[65536];
    while (file.read(buf, sizeof buf) || file.gcount() > 0)
    {
        data.append(buf, static_cast<std::size_t>(file.gcount()));
        if (data.size() > MaxCatalogSize)
            return std::nullopt;
    }

    TReader reader(data);
    std::uint32_t magic = 0, count = 0, originals = 0, translations = 0;
    if (!reader.Word(0, magic))
        return std::nullopt;
    if (magic != Magic)
    {
        reader.Swapped = true;
        if (!reader.Word(0, magic) || magic != Magic)
            return std::nullopt;
    }
    if (!reader.Word(8, count) || !reader.Word(12, originals) || !reader.Word(16, translations))
        return std::nullopt;
    if (count > data.size() / 8)
        return std::nullopt;

    TMoCatalog catalog;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        std::string id, text;
        if (!reader.String(originals, i, id) || !reader.String(translations, i, text))
            return std::nullopt;
        if (id.empty())
            catalog.Header = text;
        else if (!text.empty())
            catalog.Entries.emplace(std::move(id), std::move(text));
    }
    return catalog;
}

const std::string* TMoCatalog::Find(const std::string& msgid) const
{
    const auto it = Entries.find(msgid);
    return it == Entries.end() ? nullptr : &it->second;
}

std::string TMoCatalog::HeaderField(const std::string& name) const
{
    // "Name: value" lines, one per field.
    std::size_t start = 0;
    while (start < Header.size())
    {
        std::size_t end = Header.find('\n', start);
        if (end == std::string::npos)
            end = Header.size();
        const std::string line = Header.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && AsciiText::SameText(line.substr(0, colon), name))
        {
            std::size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            return line.substr(v);
        }
        start = end + 1;
    }
    return {};
}
