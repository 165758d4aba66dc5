#include "mail/MessagePreview.h"

#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/ExeFolder.h"
#include "preview/PreviewEntry.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>

namespace
{

struct TModuleState
{
    std::mutex Lock;
    std::string Folder;
    bool Tried = false;
    // Never unloaded: the library keeps caches for the rest of the run.
    TTextPreviewEntry Entry = nullptr;
};

TModuleState& State()
{
    static TModuleState state;
    return state;
}

// The entry, loaded once; null when the module or its entry is missing, in
// which case no message gets a preview.
TTextPreviewEntry Entry()
{
    TModuleState& state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (!state.Tried)
    {
        state.Tried = true;
        const std::string folder = state.Folder.empty() ? ExecutableFolder() : state.Folder;
        if (void* handle = ::dlopen((folder + PreviewModuleFileName).c_str(), RTLD_NOW | RTLD_LOCAL))
            state.Entry = reinterpret_cast<TTextPreviewEntry>(::dlsym(handle, TextPreviewEntryName));
    }
    return state.Entry;
}

bool IsMimeField(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view name = line.substr(0, colon);
    return AsciiText::SameText(name.substr(0, std::min<std::size_t>(name.size(), 8)), "Content-") ||
           AsciiText::SameText(name, "MIME-Version");
}

bool IsFolded(std::string_view line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// Keeps the MIME fields of the lines `next` hands out, each with its
// folded lines.
template <typename TNext>
std::string KeepMimeFields(TNext next)
{
    std::string kept;
    bool keeping = false;
    std::string_view line;
    while (next(line))
    {
        if (!IsFolded(line))
            keeping = IsMimeField(line);
        // The fields of an honest header are short; a flood of them is cut.
        if (keeping && kept.size() + line.size() <= PreviewBodyBytes)
            kept.append(line).append("\r\n");
    }
    return kept;
}

} // namespace

std::string MimeFieldsOf(std::string_view header)
{
    std::size_t pos = 0;
    return KeepMimeFields([&](std::string_view& line) {
        if (pos >= header.size())
            return false;
        std::size_t end = header.find('\n', pos);
        if (end == std::string_view::npos)
            end = header.size();
        line = header.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = end + 1;
        return true;
    });
}

std::string MimeFieldsOf(const TIdHeaderList& header)
{
    std::size_t i = 0;
    return KeepMimeFields([&](std::string_view& line) {
        if (i >= header.Lines.size())
            return false;
        line = header.Lines[i++];
        return true;
    });
}

std::string MessagePreview(const std::string& mimeFields, std::string body, std::size_t bound)
{
    const TTextPreviewEntry entry = Entry();
    if (!entry)
        return {};
    if (body.size() > bound)
        body.resize(bound);
    std::string preview;
    entry(&mimeFields, &body, PreviewChars, &preview);
    return preview;
}

TPreview TPreview::Of(std::string mimeFields, std::string body, bool cut)
{
    TPreview preview;
    preview.FCut = cut || body.size() >= PreviewBodyBytes;
    const auto lines = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));
    preview.FFurtherLines = static_cast<int>(
        std::clamp<std::size_t>(PreviewFurtherBytes * lines / std::max<std::size_t>(body.size(), 1) + 1,
                                PreviewBodyLines, MaxPreviewFurtherLines));
    // A copy: a string cut in place keeps the memory of all a server sent.
    if (body.size() > PreviewBodyBytes)
        body = body.substr(0, PreviewBodyBytes);
    preview.FMimeFields = std::move(mimeFields);
    preview.FBody = std::move(body);
    preview.FPending = true;
    return preview;
}

const std::string& TPreview::Text() const
{
    if (FPending)
        Make();
    FCut = false;
    std::string().swap(FMimeFields);
    return FText;
}

void TPreview::Make() const
{
    FText = MessagePreview(FMimeFields, std::move(FBody));
    if (FDesktop)
        FText = DesktopText(FText);
    FPending = false;
    std::string().swap(FBody);
}

bool TPreview::MakeWantingFurther()
{
    if (FPending)
        Make();
    FCut = FCut && FText.empty();
    if (!FCut)
        std::string().swap(FMimeFields);
    return FCut;
}

void TPreview::ReadFurther(std::string body)
{
    if (FCut && !body.empty())
    {
        FText = MessagePreview(FMimeFields, std::move(body), PreviewFurtherBytes);
        if (FDesktop)
            FText = DesktopText(FText);
    }
    FCut = false;
    std::string().swap(FMimeFields);
}

std::string DesktopText(const std::string& utf8)
{
    if (utf8.empty() || DesktopCodePage() == "UTF-8")
        return utf8;
    std::string text;
    ConvertCharset(utf8, "UTF-8", DesktopCodePage(), text);
    return text;
}

void SetPreviewModuleFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(State().Lock);
    State().Folder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool PreviewModuleLoaded()
{
    std::lock_guard<std::mutex> guard(State().Lock);
    return State().Entry != nullptr;
}
