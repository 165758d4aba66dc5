#pragma once

#include <cstddef>
#include <string>

// The start of a message's text as UTF-8, white space collapsed, at most
// `maxChars` characters; empty when the message has no text to show (an
// encrypted message, one without text, or garbage). `head` holds the
// message's own MIME fields (Content-Type and the like, as header lines),
// `body` the first bytes of its body, possibly cut short.
std::string TextPreview(const std::string& head, const std::string& body, std::size_t maxChars);
