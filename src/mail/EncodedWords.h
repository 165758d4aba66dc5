#pragma once

#include <string>

// Decoding of encoded words (RFC 2047) in header values. Words whose charset
// starts with ISO, WINDOWS or KOI8 are decoded and converted from their
// charset into the desktop code page when iconv knows the charset
// (characters the code page lacks are transliterated or become '?');
// otherwise their bytes are kept as they are. Words of any other charset
// (UTF-8, US-ASCII, ...) are decoded only when iconv knows the charset and
// the code page holds every character; else they stay exactly as they came.
// Raw 8-bit text that is valid UTF-8 is read as UTF-8 and converted the same
// way, run by run between whitespace; a run that is still no text of the code
// page, like the kept bytes of a word, is read as Windows-1252. NUL bytes are
// removed from the result, and other control characters but tab (C0, DEL,
// and C1 where the code page has them) become spaces.
//
// Throws EConvertError when a Q-encoded word holds "=" and two characters that
// are not hexadecimal digits.
std::string DecodeEncodedWords(const std::string& text);

// The same with an explicit target code page (an iconv name); an empty one
// keeps every decoded word's bytes unconverted, and leaves words of other
// charsets and raw text alone.
std::string DecodeEncodedWords(const std::string& text, const std::string& codePage);

// The same in the desktop code page, except that a word that cannot be
// decoded is kept as it came: one bad word must not cost the whole text.
std::string DecodeEncodedWordsKeepingBad(const std::string& text);

// ISO-2022-JP (JIS X 0208 between ESC $ B and ESC ( B) to Shift_JIS bytes.
std::string JisToShiftJis(const std::string& text);
