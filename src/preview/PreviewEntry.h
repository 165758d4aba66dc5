#pragma once

#include <cstddef>
#include <string>

// The preview module (the MIME library behind one entry point), loaded the
// first time a message's text is read, so a program at rest does not map
// the library. What it takes and gives is plain bytes.

// The start of a message's text as UTF-8, white space collapsed, at most
// `maxChars` characters; empty when the message has no text to show.
// `head` holds the message's own MIME fields (Content-Type and the like,
// as header lines), `body` the first bytes of its body, possibly cut short.
using TTextPreviewEntry = void (*)(const std::string* head, const std::string* body, std::size_t maxChars,
                                   std::string* preview);

constexpr const char* TextPreviewEntryName = "ternbell_text_preview";

// The module's file name, beside the executable.
constexpr const char* PreviewModuleFileName = "ternbell-preview.so";
