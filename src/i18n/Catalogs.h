#pragma once

#include <functional>
#include <optional>
#include <string>

// The message catalogs of each translation domain, opened lazily at the
// first lookup in the domain and kept open until the program ends.
//
// A domain's catalog is <catalog directory>/<language>/LC_MESSAGES/<domain>.mo,
// else the same under the language's first two letters. A domain without a
// catalog is remembered as failed and not tried again; one whose catalog does
// not declare charset=UTF-8 is switched off and reported as a "Localization
// problem" (see SetLocalizationProblemReporter). Either way its texts stay
// English. The toolkit's domain is served from Qt's own catalogs
// (qtbase_<language>.qm in Qt's translations folder).

// Domain of the toolkit's stock texts (message box buttons and titles).
inline constexpr const char* ToolkitMessageDomain = "qtbase";

// Fixes the language and the catalog directory and forgets every opened
// catalog. Without a call the first lookup uses the language of the
// environment and the "locale" folder beside the executable.
void UseLanguage(const std::string& code, const std::string& catalogDirectory);

// The language code in use, such as "de_DE" or "C".
std::string LanguageCode();

// The translation of a UTF-8 text (line feeds alone) in one domain, as UTF-8;
// nothing when the domain has none. For the toolkit's domain the context
// names the toolkit class whose text it is; without one the contexts of the
// stock texts are tried.
std::optional<std::string> LookupInDomain(const std::string& domain, const std::string& text,
                                          const char* context = nullptr);

// Who hears that a catalog was switched off: the caption and the text of the
// "Localization problem" warning, once per domain and choice of language.
// Heard outside the catalogs' lock, so it may look texts up itself. Without
// one the text goes to the standard error.
using TLocalizationProblemReporter =
    std::function<void(const std::string& caption, const std::string& text)>;
void SetLocalizationProblemReporter(TLocalizationProblemReporter reporter);
