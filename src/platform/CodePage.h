#pragma once

#include <QString>

#include <cstddef>
#include <string>

// The desktop's 8-bit code page: the character set of the user's locale,
// UTF-8 on every current desktop; a legacy locale (ISO-8859-x, KOI8-R,
// EUC-JP) keeps its own. Protocol and header text is held in it; it crosses
// to Unicode only here.

// iconv name of the desktop code page, e.g. "UTF-8", chosen once from the
// locale of the environment (LC_ALL, LC_CTYPE, LANG).
const std::string& DesktopCodePage();

// The code page of a locale such as "de_DE.UTF-8" or "ru_RU.KOI8-R"; the
// empty name is the environment's locale. A locale that is not installed is
// taken at its name's word (the part after the "."); the plain C locale, and
// a name that says nothing, give UTF-8.
std::string CodePageOfLocale(const std::string& locale);

// The longest start of `text` of at most `limit` bytes that does not end
// inside a character of the code page (the desktop's unless given).
std::string CutAtCharacter(const std::string& text, std::size_t limit);
std::string CutAtCharacter(const std::string& text, std::size_t limit, const std::string& codePage);

// 8-bit desktop text to Unicode, for widgets, file names and arguments.
QString FromCodePage(const std::string& text);

// Unicode to 8-bit desktop text; characters the code page cannot hold become '?'.
std::string ToCodePage(const QString& text);

// File names (paths from the system, the current folder, arguments handed to
// programs) are bytes in the locale's encoding, not desktop text. These two
// are the one crossing between them.
std::string FileNameToCodePage(const std::string& fileName);
std::string CodePageToFileName(const std::string& desktopText);

// Converts bytes between two iconv character sets. Returns false (and leaves
// out unconvertible input) when a set is unknown or the input is not valid in
// it; the partial result is still stored.
bool ConvertCharset(const std::string& input, const std::string& from, const std::string& to,
                    std::string& output);

// The same for callers that only take a clean result: gives up at the first
// byte that does not convert and returns false; the output is then partial.
bool ConvertCharsetCleanly(const std::string& input, const std::string& from, const std::string& to,
                           std::string& output);
