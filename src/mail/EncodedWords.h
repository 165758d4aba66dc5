#pragma once

#include <string>

// Decoding of encoded words (RFC 2047) in header values. Only words whose
// charset starts with ISO, WINDOWS or KOI8 are decoded; others stay as they are.
// A decoded word is converted from its charset into the desktop code page when
// iconv knows the charset and every character converts (characters the code
// page lacks are transliterated or become '?'); otherwise its bytes are kept
// as they are. NUL bytes are removed from the result.
//
// Throws EConvertError when a Q-encoded word holds "=" and two characters that
// are not hexadecimal digits.
std::string DecodeEncodedWords(const std::string& text);

// The same with an explicit target code page (an iconv name); an empty one
// keeps every decoded word's bytes unconverted.
std::string DecodeEncodedWords(const std::string& text, const std::string& codePage);

// The same in the desktop code page, except that a word that cannot be
// decoded is kept as it came: one bad word must not cost the whole text.
std::string DecodeEncodedWordsKeepingBad(const std::string& text);

// ISO-2022-JP (JIS X 0208 between ESC $ B and ESC ( B) to Shift_JIS bytes.
std::string JisToShiftJis(const std::string& text);
