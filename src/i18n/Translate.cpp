#include "i18n/Translate.h"

#include "platform/CodePage.h"
#include "platform/ExeFolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <libintl.h>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <vector>

namespace
{

struct TDomains
{
    std::shared_mutex lock;
    std::string defaultDomain = "default";
    std::vector<std::string> messageDomains{"default"};
    std::set<std::string> bound;
};

TDomains& Domains()
{
    static TDomains domains;
    return domains;
}

// Catalogs live beside the executable; gettext is told so once per domain,
// and asked for UTF-8 whatever the locale's own character set is.
void BindOnce(const std::string& domain)
{
    TDomains& d = Domains();
    {
        std::shared_lock<std::shared_mutex> read(d.lock);
        if (d.bound.count(domain))
            return;
    }
    std::unique_lock<std::shared_mutex> write(d.lock);
    if (d.bound.insert(domain).second)
    {
        const std::string dir = ExecutableFolder() + "locale";
        bindtextdomain(domain.c_str(), dir.c_str());
        bind_textdomain_codeset(domain.c_str(), "UTF-8");
    }
}

const char* const TranslatedProperty = "ternbellTranslated";

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

QString TranslateIn(const std::string& domain, const QString& english)
{
    if (english.isEmpty())
        return english;
    BindOnce(domain);
    // Catalogs are written with line feeds alone.
    QByteArray key = english.toUtf8();
    key.replace("\r", "");
    const char* found = dgettext(domain.c_str(), key.constData());
    if (found == key.constData() || key == found)
        return english;
    QString result = QString::fromUtf8(found);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

QString ResText(const char* english)
{
    const QString text = QString::fromUtf8(english);
    for (const std::string& domain : MessageDomains())
    {
        const QString translated = TranslateIn(domain, text);
        if (translated != text)
            return translated;
    }
    return text;
}

std::string ResStr(const char* english)
{
    return ToCodePage(ResText(english));
}

void TranslateComponent(QObject* window)
{
    if (!window || window->property(TranslatedProperty).toBool())
        return;
    window->setProperty(TranslatedProperty, true);
    const std::string domain = DefaultDomain();
    auto tr = [&domain](const QString& s) { return TranslateIn(domain, s); };

    QList<QObject*> objects = window->findChildren<QObject*>();
    objects.prepend(window);
    for (QObject* o : objects)
    {
        if (auto* w = qobject_cast<QWidget*>(o))
        {
            if (w->isWindow() && !w->windowTitle().isEmpty())
                w->setWindowTitle(tr(w->windowTitle()));
            if (!w->toolTip().isEmpty())
                w->setToolTip(tr(w->toolTip()));
        }
        if (auto* label = qobject_cast<QLabel*>(o))
            label->setText(tr(label->text()));
        else if (auto* button = qobject_cast<QAbstractButton*>(o))
        {
            // Buttons showing an action take their text from it.
            if (!button->text().isEmpty())
                button->setText(tr(button->text()));
        }
        else if (auto* group = qobject_cast<QGroupBox*>(o))
            group->setTitle(tr(group->title()));
        else if (auto* tabs = qobject_cast<QTabWidget*>(o))
        {
            for (int i = 0; i < tabs->count(); ++i)
                tabs->setTabText(i, tr(tabs->tabText(i)));
        }
        else if (auto* combo = qobject_cast<QComboBox*>(o))
        {
            for (int i = 0; i < combo->count(); ++i)
                combo->setItemText(i, tr(combo->itemText(i)));
        }
        else if (auto* tree = qobject_cast<QTreeWidget*>(o))
        {
            QTreeWidgetItem* header = tree->headerItem();
            for (int i = 0; header && i < header->columnCount(); ++i)
                header->setText(i, tr(header->text(i)));
        }
        else if (auto* action = qobject_cast<QAction*>(o))
        {
            action->setText(tr(action->text()));
        }
        else if (auto* menu = qobject_cast<QMenu*>(o))
            menu->setTitle(tr(menu->title()));
    }
}
