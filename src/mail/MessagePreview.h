#pragma once

#include "mail/IdHeaderList.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

// The start of a message's text, read from its first body bytes by the
// preview module (the MIME library), which is loaded at the first call.

// Body bytes a check reads of one message, and the characters it shows.
constexpr std::size_t PreviewBodyBytes = 4096;
constexpr std::size_t PreviewChars = 200;
// POP3 counts lines, not bytes: enough lines for the text's start behind
// a multipart preamble and the part's own fields.
constexpr int PreviewBodyLines = 80;

// The fields of a header that say how its body is built (Content-*,
// MIME-Version), with their folded lines, as CR LF lines: all the text's
// decoding needs of the header. From raw header bytes, or from read lines.
std::string MimeFieldsOf(std::string_view header);
std::string MimeFieldsOf(const TIdHeaderList& header);

// The preview of a message as UTF-8, white space collapsed, at most
// PreviewChars characters; empty when it has no text to show (an encrypted
// message, one without text, or garbage), and when the module cannot be
// loaded. `body` is cut to PreviewBodyBytes first.
std::string MessagePreview(const std::string& mimeFields, std::string body);

// A message's preview, made from the start of its body when it is first
// read: a check keeps the bytes and only a preview that is shown is
// decoded; once made, the bytes are dropped. Made on one thread at a time
// (the list's), though copies may travel.
class TPreview
{
public:
    TPreview() = default;
    // One made already, or none ("").
    TPreview(std::string text) : FText(std::move(text)) {}
    TPreview(const char* text) : FText(text) {}

    // One to make from a message's MIME fields (MimeFieldsOf) and its
    // body's first bytes, cut to PreviewBodyBytes here.
    static TPreview Of(std::string mimeFields, std::string body);
    // Made as desktop text (characters the code page cannot hold left out)
    // rather than UTF-8.
    void AsDesktopText() { FDesktop = true; }

    // The text; made now if it is not yet.
    const std::string& Text() const;
    bool Made() const { return !FPending; }
    // Nothing to show: none was read, or it was made empty.
    bool Blank() const { return !FPending && FText.empty(); }
    // Bytes kept until it is made.
    std::size_t HeldBytes() const { return FPending ? FMimeFields.size() + FBody.size() : 0; }

    friend bool operator==(const TPreview& preview, std::string_view text) { return preview.Text() == text; }
    friend std::ostream& operator<<(std::ostream& out, const TPreview& preview) { return out << preview.Text(); }

private:
    mutable bool FPending = false;
    bool FDesktop = false;
    mutable std::string FText;
    mutable std::string FMimeFields;
    mutable std::string FBody;
};

// UTF-8 as desktop text; characters the code page cannot hold are left out.
std::string DesktopText(const std::string& utf8);

// Where the module is looked for instead of the executable's folder; for
// programs built apart from it (the tests). Call before the first preview.
void SetPreviewModuleFolder(const std::string& folder);
// Whether the module is mapped yet.
bool PreviewModuleLoaded();
