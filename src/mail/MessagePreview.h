#pragma once

#include "mail/IdHeaderList.h"

#include <cstddef>
#include <string>
#include <string_view>

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

// Where the module is looked for instead of the executable's folder; for
// programs built apart from it (the tests). Call before the first preview.
void SetPreviewModuleFolder(const std::string& folder);
// Whether the module is mapped yet.
bool PreviewModuleLoaded();
