#pragma once

#include <string>

// Mailbox names on the wire: the modified UTF-7 of IMAP4 (printable ASCII as
// itself, "&" as "&-", everything else as "&" base64-of-UTF-16 "-", with ","
// for "/").
class TIdMUTF7
{
public:
    // UTF-16 code units to modified UTF-7.
    static std::string EncodeUtf16(const std::u16string& name);
    // Modified UTF-7 to UTF-16; false for text that is not valid.
    static bool DecodeUtf16(const std::string& text, std::u16string& name);

    // Desktop code page text to modified UTF-7; false when the name cannot
    // be converted (it is then left as it was).
    static bool Encode(const std::string& name, std::string& encoded);
    // Modified UTF-7 to desktop code page text; false when it is not valid.
    static bool Decode(const std::string& text, std::string& name);
};
