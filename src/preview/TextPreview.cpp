#include "preview/FlowedText.h"
#include "preview/HtmlText.h"
#include "preview/TextPreview.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>
#include <string_view>

namespace
{

struct TUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using TRef = std::unique_ptr<T, TUnref>;

// Deeper than any honest message; a hostile one is not walked further.
constexpr int MaxDepth = 32;

bool IsType(GMimeObject* part, const char* type, const char* subtype)
{
    GMimeContentType* contentType = g_mime_object_get_content_type(part);
    return contentType && g_mime_content_type_is_type(contentType, type, subtype);
}

bool IsAttachment(GMimeObject* part)
{
    const char* disposition = g_mime_object_get_disposition(part);
    return disposition && g_ascii_strcasecmp(disposition, GMIME_DISPOSITION_ATTACHMENT) == 0;
}

// The first part of type text/`subtype` that is not an attachment, depth
// first; encrypted parts and attached messages are not looked into.
GMimeTextPart* FirstText(GMimeObject* part, const char* subtype, int depth)
{
    if (!part || depth > MaxDepth)
        return nullptr;
    if (GMIME_IS_MULTIPART(part))
    {
        if (GMIME_IS_MULTIPART_ENCRYPTED(part))
            return nullptr;
        auto* multipart = GMIME_MULTIPART(part);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            if (GMimeTextPart* found = FirstText(g_mime_multipart_get_part(multipart, i), subtype, depth + 1))
                return found;
        return nullptr;
    }
    if (GMIME_IS_TEXT_PART(part) && IsType(part, "text", subtype) && !IsAttachment(part))
        return GMIME_TEXT_PART(part);
    return nullptr;
}

// Decoded binary is no text: a body of garbage shows nothing rather than
// a line of replacement marks.
bool LooksLikeText(std::string_view preview)
{
    std::size_t marks = 0;
    std::size_t all = 0;
    for (std::size_t i = 0; i < preview.size(); ++i)
    {
        if ((static_cast<unsigned char>(preview[i]) & 0xC0) != 0x80)
            ++all;
        if (preview.substr(i, 3) == "\xEF\xBF\xBD")
            ++marks;
    }
    return marks * 10 <= all;
}

bool IsUtf8(const char* charset)
{
    return !charset || g_ascii_strcasecmp(charset, "utf-8") == 0 || g_ascii_strcasecmp(charset, "us-ascii") == 0;
}

// The labels that scripts and list servers put on UTF-8 text by default.
bool OftenMislabelled(const char* charset)
{
    const char* canonical = g_mime_charset_canon_name(charset);
    for (const char* label : {"iso-8859-1", "iso-8859-15", "latin1", "windows-cp1252", "cp1252"})
        if (g_ascii_strcasecmp(canonical, label) == 0)
            return true;
    return false;
}

// A body read only to its bound (or a server's partial fetch) may end inside
// a character: its first bytes are no character, and would show as a
// replacement mark or make a short text look like garbage.
void DropCutCharacter(std::string& text)
{
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back)
    {
        const auto b = static_cast<unsigned char>(text[text.size() - back]);
        if ((b & 0xC0) == 0x80)
            continue;
        const std::size_t length = b >= 0xC2 && b <= 0xDF ? 2
                                   : b >= 0xE0 && b <= 0xEF ? 3
                                   : b >= 0xF0 && b <= 0xF4 ? 4
                                                            : 1;
        if (length > back)
            text.resize(text.size() - back);
        return;
    }
}

std::string BytesOf(GMimeStream* stream)
{
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return bytes ? std::string(reinterpret_cast<const char*>(bytes->data), bytes->len) : std::string();
}

std::string Converted(const std::string& bytes, const char* charset)
{
    TRef<GMimeStream> converted(g_mime_stream_mem_new());
    TRef<GMimeStream> filtered(g_mime_stream_filter_new(converted.get()));
    if (TRef<GMimeFilter> convert{g_mime_filter_charset_new(charset, "utf-8")})
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), convert.get());
    g_mime_stream_write(filtered.get(), bytes.data(), bytes.size());
    g_mime_stream_flush(filtered.get());
    return BytesOf(converted.get());
}

bool HasParameter(GMimeObject* part, const char* name, const char* value)
{
    GMimeContentType* contentType = g_mime_object_get_content_type(part);
    const char* found = contentType ? g_mime_content_type_get_parameter(contentType, name) : nullptr;
    return found && g_ascii_strcasecmp(found, value) == 0;
}

// The part's text decoded from its transfer encoding and converted from its
// charset; one nobody knows leaves the bytes as they are, and CollapsedText
// replaces what is not UTF-8. UTF-8 text is not passed through iconv, nor is
// text labelled Latin-1 whose bytes are UTF-8 beyond ASCII: as Latin-1 it
// would read "CafÃ©". Flowed lines are joined.
std::string TextOf(GMimeTextPart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    if (!content)
        return {};
    TRef<GMimeStream> decoded(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, decoded.get());
    std::string text = BytesOf(decoded.get());
    decoded.reset();
    const char* charset = g_mime_text_part_get_charset(part);
    if (!IsUtf8(charset) && !(OftenMislabelled(charset) && IsUtf8PastAscii(text)))
        text = Converted(text, charset);
    DropCutCharacter(text);
    if (IsType(GMIME_OBJECT(part), "text", "plain") && HasParameter(GMIME_OBJECT(part), "format", "flowed"))
        text = UnflowedText(text, HasParameter(GMIME_OBJECT(part), "delsp", "yes"));
    return text;
}

std::string PreviewOf(const std::string& head, const std::string& body, std::size_t maxChars)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { g_mime_init(); });

    std::string whole;
    whole.reserve(head.size() + body.size() + 2);
    whole.append(head).append("\r\n").append(body);
    TRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(whole.data(), whole.size()));
    TRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    // The fields and the body make one part: no message around it to build.
    TRef<GMimeObject> top(g_mime_parser_construct_part(parser.get(), nullptr));
    if (!top)
        return {};
    bool html = false;
    GMimeTextPart* part = FirstText(top.get(), "plain", 0);
    if (!part)
    {
        part = FirstText(top.get(), "html", 0);
        html = part != nullptr;
    }
    if (!part)
        return {};
    std::string text = TextOf(part);
    if (html)
        text = HtmlText(text);
    std::string preview = CollapsedText(text, maxChars);
    return LooksLikeText(preview) ? preview : std::string();
}

} // namespace

std::string TextPreview(const std::string& head, const std::string& body, std::size_t maxChars)
{
    try
    {
        return PreviewOf(head, body, maxChars);
    }
    catch (...)
    {
        // Out of memory on one message's preview: it has none.
        return {};
    }
}
