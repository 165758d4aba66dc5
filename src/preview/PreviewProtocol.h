#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the program and its preview helper say to each other. The helper
// (ternbell-preview, beside the executable) holds the MIME library: GMime
// with GLib's GIO and GObject and the libraries they load cost about 2.5 MB
// of resident memory once mapped, which a process never gives back, so they
// live in a process of their own. The program starts it when it first needs
// a preview; it ends when its input closes, or when no request has come for
// PreviewHelperRestMs.
//
// Requests may follow each other before their answers come; each is
// answered in turn:
//
//   request: <head length> SP <body length> SP <most characters> LF <head> <body>
//   answer:  <preview length> LF <preview>
//
// `head` holds a message's own MIME fields, `body` the first bytes of its
// body; the preview is UTF-8, white space collapsed, empty when the message
// has no text to show.

constexpr const char* PreviewHelperName = "ternbell-preview";
constexpr int PreviewHelperRestMs = 10000;
// No request or answer is larger: the fields and a body's start are bounded
// well below it.
constexpr std::size_t MaxPreviewMessage = 1 << 20;

inline std::string PreviewRequest(const std::string& head, const std::string& body, std::size_t maxChars)
{
    return std::to_string(head.size()) + ' ' + std::to_string(body.size()) + ' ' + std::to_string(maxChars) + '\n' +
           head + body;
}

inline std::string PreviewAnswer(const std::string& preview)
{
    return std::to_string(preview.size()) + '\n' + preview;
}

// The numbers of a request's or an answer's first line ("12 40 200"),
// `count` of them: false for anything else, or a number past
// MaxPreviewMessage.
inline bool PreviewNumbers(std::string_view line, std::size_t* numbers, std::size_t count)
{
    std::size_t p = 0;
    for (std::size_t k = 0; k < count; ++k)
    {
        if (k > 0 && (p >= line.size() || line[p++] != ' '))
            return false;
        const std::size_t start = p;
        std::size_t n = 0;
        while (p < line.size() && line[p] >= '0' && line[p] <= '9' && n <= MaxPreviewMessage)
            n = n * 10 + static_cast<std::size_t>(line[p++] - '0');
        if (p == start || n > MaxPreviewMessage)
            return false;
        numbers[k] = n;
    }
    return p == line.size();
}
