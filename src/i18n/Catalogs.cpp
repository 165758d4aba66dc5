#include "i18n/Catalogs.h"

#include "i18n/Language.h"
#include "i18n/MoCatalog.h"
#include "platform/AsciiText.h"
#include "platform/ExeFolder.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace
{

struct TDomainState
{
    bool Failed = false; // no catalog for the language
    bool Off = false;    // catalog without UTF-8: switched off
    std::optional<TMoCatalog> Mo;
    std::unique_ptr<QTranslator> Toolkit;
};

struct TCatalogs
{
    std::shared_mutex Lock;
    bool Chosen = false;
    std::string Language;
    std::string Directory;
    std::map<std::string, TDomainState> Domains; // present once opening was tried
    TLocalizationProblemReporter Reporter;
};

TCatalogs& Catalogs()
{
    static TCatalogs catalogs;
    return catalogs;
}

// Classes whose texts are the toolkit's stock texts: message-box buttons and
// titles, the file dialog.
constexpr const char* StockContexts[] = {"QPlatformTheme", "QMessageBox", "QDialogButtonBox",
                                         "QFileDialog", "QFileSystemModel"};

void ChooseOnce(TCatalogs& c)
{
    if (c.Chosen)
        return;
    c.Language = LanguageOfEnvironment();
    c.Directory = ExecutableFolder() + "locale";
    c.Chosen = true;
}

bool Exists(const std::string& path)
{
    return QFileInfo(QString::fromLocal8Bit(path.c_str())).isFile();
}

// Opens the domain's catalog; returns the text of the "Localization problem"
// box when the catalog had to be switched off. Called under the write lock.
std::string Open(TCatalogs& c, const std::string& domain, TDomainState& state)
{
    if (c.Language == "C" || c.Language.empty())
    {
        state.Failed = true;
        return {};
    }
    if (domain == ToolkitMessageDomain)
    {
        // Qt's loader tries qtbase_de_AT.qm, then qtbase_de.qm, itself.
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QStringLiteral("qtbase_") + QString::fromStdString(c.Language),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            state.Toolkit = std::move(translator);
        else
            state.Failed = true;
        return {};
    }
    const std::string tail = "/LC_MESSAGES/" + domain + ".mo";
    std::string path = c.Directory + "/" + c.Language + tail;
    if (!Exists(path))
    {
        path = c.Directory + "/" + c.Language.substr(0, 2) + tail;
        if (!Exists(path))
        {
            state.Failed = true;
            return {};
        }
    }
    state.Mo = TMoCatalog::Load(path);
    if (!state.Mo)
    {
        state.Failed = true;
        return {};
    }
    if (AsciiText::UpperCase(state.Mo->HeaderField("Content-Type")).find("CHARSET=UTF-8") == std::string::npos)
    {
        state.Mo.reset();
        state.Off = true;
        return "The translation for the language code " + c.Language + " (in " + path +
               ") does not have charset=utf-8 in its Content-Type. Translations are turned off.";
    }
    return {};
}

std::optional<std::string> Find(const TDomainState& state, const std::string& text,
                                const char* context)
{
    if (state.Mo)
    {
        if (const std::string* found = state.Mo->Find(text))
            return *found;
        return std::nullopt;
    }
    if (state.Toolkit)
    {
        auto inContext = [&](const char* ctx) -> std::optional<std::string> {
            const QString found = state.Toolkit->translate(ctx, text.c_str());
            if (found.isEmpty())
                return std::nullopt;
            return found.toStdString();
        };
        if (context)
            return inContext(context);
        for (const char* ctx : StockContexts)
            if (auto found = inContext(ctx))
                return found;
    }
    return std::nullopt;
}

} // namespace

void UseLanguage(const std::string& code, const std::string& catalogDirectory)
{
    TCatalogs& c = Catalogs();
    std::unique_lock<std::shared_mutex> write(c.Lock);
    c.Language = code;
    c.Directory = catalogDirectory;
    c.Chosen = true;
    c.Domains.clear();
}

std::string LanguageCode()
{
    TCatalogs& c = Catalogs();
    std::unique_lock<std::shared_mutex> write(c.Lock);
    ChooseOnce(c);
    return c.Language;
}

std::optional<std::string> LookupInDomain(const std::string& domain, const std::string& text,
                                          const char* context)
{
    TCatalogs& c = Catalogs();
    {
        std::shared_lock<std::shared_mutex> read(c.Lock);
        const auto it = c.Domains.find(domain);
        if (it != c.Domains.end())
            return Find(it->second, text, context);
    }
    std::string problem;
    TLocalizationProblemReporter reporter;
    {
        std::unique_lock<std::shared_mutex> write(c.Lock);
        ChooseOnce(c);
        const auto [it, added] = c.Domains.try_emplace(domain);
        if (added)
            problem = Open(c, domain, it->second);
        if (!problem.empty())
            reporter = c.Reporter;
    }
    // Reported outside the lock: a box that shows it looks its own texts up.
    if (!problem.empty())
    {
        if (reporter)
            reporter("Localization problem", problem);
        else
            std::fprintf(stderr, "ternbell: Localization problem: %s\n", problem.c_str());
    }
    std::shared_lock<std::shared_mutex> read(c.Lock);
    const auto it = c.Domains.find(domain);
    return it == c.Domains.end() ? std::nullopt : Find(it->second, text, context);
}

void SetLocalizationProblemReporter(TLocalizationProblemReporter reporter)
{
    TCatalogs& c = Catalogs();
    std::unique_lock<std::shared_mutex> write(c.Lock);
    c.Reporter = std::move(reporter);
}
