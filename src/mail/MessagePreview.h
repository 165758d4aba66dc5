#pragma once

#include "mail/IdHeaderList.h"

#include <sys/types.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The start of a message's text, read from its first body bytes by the
// preview helper (a process holding the MIME library), which is started at
// the first call.

// Body bytes a check reads of one message, and the characters it shows.
constexpr std::size_t PreviewBodyBytes = 4096;
constexpr std::size_t PreviewChars = 200;
// POP3 counts lines, not bytes: enough lines for the text's start behind
// a multipart preamble and the part's own fields.
constexpr int PreviewBodyLines = 80;
// Where those bytes showed no text (a newsletter's style sheet), this much
// of a shown message's body is read; POP3 asks for lines, at most these.
constexpr std::size_t PreviewFurtherBytes = 65536;
constexpr int MaxPreviewFurtherLines = 8192;

// The fields of a header that say how its body is built (Content-*,
// MIME-Version), with their folded lines, as CR LF lines: all the text's
// decoding needs of the header. From raw header bytes, or from read lines.
std::string MimeFieldsOf(std::string_view header);
std::string MimeFieldsOf(const TIdHeaderList& header);

// The preview of a message as UTF-8, white space collapsed, at most
// PreviewChars characters; empty when it has no text to show (an encrypted
// message, one without text, or garbage), and when the helper cannot be
// started or does not answer. `body` is cut to `bound` first.
std::string MessagePreview(const std::string& mimeFields, std::string body, std::size_t bound = PreviewBodyBytes);

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
    // body's first bytes, cut to PreviewBodyBytes here. `cut`: the body
    // goes on past them, as it does past the bound.
    static TPreview Of(std::string mimeFields, std::string body, bool cut = false);
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
    // Makes those not made yet, all in one exchange with the helper. One
    // that came out empty though the body goes on past what was read keeps
    // its MIME fields for ReadFurther (which must follow), until Text.
    static void MakeAll(const std::vector<const TPreview*>& previews);
    // Made, it shows nothing, and the body goes on: ReadFurther may show more.
    bool WantsFurther() const { return !FPending && FCut && FText.empty(); }
    // Made again, those that WantsFurther, from longer starts of their
    // bodies (`bodies` in their order, each cut to PreviewFurtherBytes; one
    // empty leaves its preview empty), all in one exchange; the fields go.
    static void ReadFurther(const std::vector<TPreview*>& previews, std::vector<std::string> bodies);
    // Where it WantsFurther: the lines that hold about PreviewFurtherBytes
    // at the length of those read (a style sheet's are short), at most
    // MaxPreviewFurtherLines.
    int FurtherLines() const { return FFurtherLines; }

    friend bool operator==(const TPreview& preview, std::string_view text) { return preview.Text() == text; }
    friend std::ostream& operator<<(std::ostream& out, const TPreview& preview) { return out << preview.Text(); }

private:
    // Made with the helper's answer; the kept bytes go, the fields stay.
    void Took(std::string text) const;

    mutable bool FPending = false;
    bool FDesktop = false;
    // The body went on past what was read.
    mutable bool FCut = false;
    mutable int FFurtherLines = PreviewBodyLines;
    mutable std::string FText;
    mutable std::string FMimeFields;
    mutable std::string FBody;
};

// UTF-8 as desktop text; characters the code page cannot hold are left out.
std::string DesktopText(const std::string& utf8);

// Where the helper is looked for instead of the executable's folder; for
// programs built apart from it (the tests). Call before the first preview.
void SetPreviewHelperFolder(const std::string& folder);
// Whether the helper was ever started, and its process while it runs (-1
// when none does).
bool PreviewHelperStarted();
pid_t PreviewHelperPid();
// Ends the helper now; the next preview starts another.
void StopPreviewHelper();
