#pragma once

#include <string>

// The language of the translation, chosen once at start: "LANG" when set,
// else the desktop's locale as language_COUNTRY, else "C" (no translation).
// Whatever the source, the code is cut before its first full stop.

// The choice itself, from the value of "LANG" and the desktop locale's
// two-letter language and country names (any may be empty).
std::string ChooseLanguage(const std::string& lang, const std::string& language,
                           const std::string& country);

// The choice from this process's environment and Qt's system locale.
std::string LanguageOfEnvironment();
