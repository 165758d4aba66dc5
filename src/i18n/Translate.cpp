#include "i18n/Translate.h"

#include "i18n/Catalogs.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace
{

struct TDomains
{
    std::shared_mutex lock;
    std::string defaultDomain = "default";
    std::vector<std::string> messageDomains{"default"};
};

TDomains& Domains()
{
    static TDomains domains;
    return domains;
}

} // namespace

void SetDefaultDomain(const std::string& domain)
{
    std::unique_lock<std::shared_mutex> write(Domains().lock);
    Domains().defaultDomain = domain;
}

std::string DefaultDomain()
{
    std::shared_lock<std::shared_mutex> read(Domains().lock);
    return Domains().defaultDomain;
}

void AddMessageDomain(const std::string& domain)
{
    std::unique_lock<std::shared_mutex> write(Domains().lock);
    auto& list = Domains().messageDomains;
    if (std::find(list.begin(), list.end(), domain) == list.end())
        list.push_back(domain);
}

void RemoveMessageDomain(const std::string& domain)
{
    std::unique_lock<std::shared_mutex> write(Domains().lock);
    auto& list = Domains().messageDomains;
    list.erase(std::remove(list.begin(), list.end(), domain), list.end());
}

std::vector<std::string> MessageDomains()
{
    std::shared_lock<std::shared_mutex> read(Domains().lock);
    return Domains().messageDomains;
}

QString TranslateIn(const std::string& domain, const QString& english, const char* context)
{
    if (english.isEmpty())
        return english;
    // Catalogs are written with line feeds alone.
    QByteArray key = english.toUtf8();
    key.replace("\r", "");
    const std::optional<std::string> found = LookupInDomain(domain, key.toStdString(), context);
    if (!found)
        return english;
    QString result = QString::fromUtf8(found->data(), static_cast<qsizetype>(found->size()));
    // Line breaks come back in the form the English text used.
    if (english.contains(QLatin1String("\r\n")))
    {
        result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        result.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    }
    return result;
}

QString TranslateMessage(const QString& english, const char* context)
{
    for (const std::string& domain : MessageDomains())
    {
        const QString translated = TranslateIn(domain, english, context);
        if (translated != english)
            return translated;
    }
    return english;
}

QString ResText(const char* english)
{
    return TranslateMessage(QString::fromUtf8(english));
}

std::string ResStr(const char* english)
{
    return ToCodePage(ResText(english));
}
