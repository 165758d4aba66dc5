#include "desktop/WindowTexts.h"

#include "i18n/Catalogs.h"
#include "i18n/Translate.h"

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

namespace
{

const char* const TranslatedProperty = "ternbellTranslatedTo";
const char* const UntranslatedProperty = "ternbellUntranslated";

class TWalk
{
public:
    TWalk(QObject* window, const TWindowTextVisitor& visit) : Window(window), Visit(visit) {}

    // Visits one text; on a change the setter writes it back.
    template <typename Setter>
    void Text(const QString& text, const QString& where, Setter set)
    {
        // Numbers, "..." and the like need no translation.
        if (std::none_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); }))
            return;
        const QString result = Visit(text, where);
        if (result != text)
            set(result);
    }

    QString Where(const QObject* o, const char* part = nullptr) const
    {
        QString where = Window->objectName();
        if (o != Window)
            where += QLatin1Char('.') + o->objectName();
        if (part)
            where += QLatin1Char('.') + QLatin1String(part);
        return where;
    }

    void Widget(QWidget* w)
    {
        if (w->isWindow())
            Text(w->windowTitle(), Where(w, "title"), [w](const QString& t) { w->setWindowTitle(t); });
        Text(w->toolTip(), Where(w, "hint"), [w](const QString& t) { w->setToolTip(t); });
        Text(w->statusTip(), Where(w, "statusTip"), [w](const QString& t) { w->setStatusTip(t); });
    }

    void TreeItem(QTreeWidgetItem* item, const QString& where)
    {
        for (int c = 0; c < item->columnCount(); ++c)
        {
            Text(item->text(c), where, [item, c](const QString& t) { item->setText(c, t); });
            Text(item->toolTip(c), where, [item, c](const QString& t) { item->setToolTip(c, t); });
        }
        for (int i = 0; i < item->childCount(); ++i)
            TreeItem(item->child(i), where);
    }

    void Action(QAction* a)
    {
        // An action without a tooltip of its own shows its text as one.
        QString shown = a->text();
        shown.remove(QLatin1String("..."));
        shown.remove(QLatin1Char('&'));
        const bool ownTip = a->toolTip() != shown;
        Text(a->text(), Where(a), [a](const QString& t) { a->setText(t); });
        if (ownTip)
            Text(a->toolTip(), Where(a, "hint"), [a](const QString& t) { a->setToolTip(t); });
        Text(a->statusTip(), Where(a, "statusTip"), [a](const QString& t) { a->setStatusTip(t); });
    }

    void Object(QObject* o)
    {
        if (o->property(UntranslatedProperty).toBool())
            return;
        if (auto* w = qobject_cast<QWidget*>(o))
            Widget(w);
        if (auto* label = qobject_cast<QLabel*>(o))
            Text(label->text(), Where(o), [label](const QString& t) { label->setText(t); });
        else if (auto* button = qobject_cast<QAbstractButton*>(o))
            Text(button->text(), Where(o), [button](const QString& t) { button->setText(t); });
        else if (auto* group = qobject_cast<QGroupBox*>(o))
            Text(group->title(), Where(o), [group](const QString& t) { group->setTitle(t); });
        else if (auto* edit = qobject_cast<QLineEdit*>(o))
        {
            Text(edit->text(), Where(o), [edit](const QString& t) { edit->setText(t); });
            Text(edit->placeholderText(), Where(o, "placeholder"),
                 [edit](const QString& t) { edit->setPlaceholderText(t); });
        }
        else if (auto* tabs = qobject_cast<QTabWidget*>(o))
        {
            for (int i = 0; i < tabs->count(); ++i)
            {
                const QString where = Where(tabs->widget(i));
                Text(tabs->tabText(i), where, [tabs, i](const QString& t) { tabs->setTabText(i, t); });
                Text(tabs->tabToolTip(i), where,
                     [tabs, i](const QString& t) { tabs->setTabToolTip(i, t); });
            }
        }
        else if (auto* combo = qobject_cast<QComboBox*>(o))
        {
            for (int i = 0; i < combo->count(); ++i)
                Text(combo->itemText(i), Where(o, "items"),
                     [combo, i](const QString& t) { combo->setItemText(i, t); });
        }
        else if (auto* tree = qobject_cast<QTreeWidget*>(o))
        {
            if (QTreeWidgetItem* header = tree->headerItem())
                TreeItem(header, Where(o, "columns"));
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                TreeItem(tree->topLevelItem(i), Where(o, "items"));
        }
        else if (auto* menu = qobject_cast<QMenu*>(o))
            Text(menu->title(), Where(o), [menu](const QString& t) { menu->setTitle(t); });
        else if (auto* action = qobject_cast<QAction*>(o))
            Action(action);
    }

private:
    QObject* Window;
    const TWindowTextVisitor& Visit;
};

} // namespace

void ForEachWindowText(QObject* window, const TWindowTextVisitor& visit)
{
    if (!window)
        return;
    TWalk walk(window, visit);
    walk.Object(window);
    for (QObject* o : window->findChildren<QObject*>())
        walk.Object(o);
}

void KeepUntranslated(QObject* control)
{
    control->setProperty(UntranslatedProperty, true);
}

void TranslateComponent(QObject* window)
{
    if (!window)
        return;
    const QString language = QString::fromStdString(LanguageCode());
    if (window->property(TranslatedProperty).toString() == language)
        return;
    window->setProperty(TranslatedProperty, language);
    const std::string domain = DefaultDomain();
    ForEachWindowText(window, [&domain](const QString& text, const QString&) {
        return TranslateIn(domain, text);
    });
}
