#pragma once

#include <QString>

#include <string>

// The desktop's 8-bit code page: the traditional code page of the user's
// language (CP1252 unless the language says otherwise). Protocol and header
// text is held in it; it crosses to Unicode only here.

// iconv name of the desktop code page, e.g. "CP1252", chosen once from the
// language of the environment (LC_ALL, LC_CTYPE, LANG).
const std::string& DesktopCodePage();

// Code page for a language code such as "ru_RU.UTF-8" or "de".
std::string CodePageForLanguage(const std::string& language);

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
