#include "i18n/Language.h"

#include <QLocale>

#include <cctype>
#include <cstdlib>

namespace
{

bool IsTwoLetters(const std::string& s)
{
    return s.size() == 2 && std::isalpha(static_cast<unsigned char>(s[0])) &&
           std::isalpha(static_cast<unsigned char>(s[1]));
}

} // namespace

std::string ChooseLanguage(const std::string& lang, const std::string& language,
                           const std::string& country)
{
    std::string code;
    if (!lang.empty())
        code = lang;
    else if (IsTwoLetters(language) && IsTwoLetters(country))
        code = (language == "no" ? std::string("nb") : language) + "_" + country;
    else
        // The desktop's numeric locale table has no counterpart here: a
        // locale without both names simply means no translation.
        code = "C";
    return code.substr(0, code.find('.'));
}

std::string LanguageOfEnvironment()
{
    const char* lang = std::getenv("LANG");
    // QLocale::system() reads LC_ALL, LC_MESSAGES and LANG itself; it needs
    // no generated locale.
    const QLocale desktop = QLocale::system();
    const QString name = desktop.name(); // "de_DE", or "C"
    const int sep = name.indexOf(QLatin1Char('_'));
    const std::string language = sep > 0 ? name.left(sep).toStdString() : std::string();
    const std::string country = sep > 0 ? name.mid(sep + 1).toStdString() : std::string();
    return ChooseLanguage(lang ? lang : "", language, country);
}
