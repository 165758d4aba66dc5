#pragma once

#include <string>
#include <string_view>

// The text an HTML fragment shows, as UTF-8: tags, comments and the
// content of style, script, head and title dropped, character references
// resolved, block ends as blanks. Markup cut short ends the text there.
std::string HtmlText(std::string_view html);

// Text with every run of white space (and the invisible spacers of
// newsletters) made one blank, without blanks at its ends, controls dropped,
// invalid UTF-8 replaced; at most `maxChars` characters, a cut text ending
// in "…".
std::string CollapsedText(std::string_view utf8, std::size_t maxChars);

// Whether `bytes` are well-formed UTF-8 holding a character past ASCII; a
// character cut off at their end is no fault.
bool IsUtf8PastAscii(std::string_view bytes);
