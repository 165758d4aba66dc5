// Writes the texts of the program's three windows, as the translation of a
// window walks them, in the form of a catalog template (on standard output).
// The catalog template target joins them with the texts marked in the code.

#include "app/AboutBox.h"
#include "config/SettingsForm.h"
#include "i18n/Catalogs.h"
#include "desktop/WindowTexts.h"
#include "notify/NewMailForm.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

namespace
{

QByteArray Quoted(QString text)
{
    text.remove(QLatin1Char('\r'));
    QByteArray out = "\"";
    for (const char c : text.toUtf8())
    {
        switch (c)
        {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out + "\"";
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    // English only: the walk must see the texts as written.
    UseLanguage("C", "");

    TfrmSettings settings;
    TfrmNewMail newMail;
    TfrmAboutBox aboutBox;

    std::vector<QString> order;
    std::map<QString, std::set<QString>> where;
    for (QObject* window : std::initializer_list<QObject*>{&settings, &newMail, &aboutBox})
        ForEachWindowText(window, [&](const QString& text, const QString& at) {
            QString key = text;
            key.remove(QLatin1Char('\r'));
            if (where.find(key) == where.end())
                order.push_back(key);
            where[key].insert(at);
            return text;
        });

    std::printf("msgid \"\"\nmsgstr \"\"\n\"Project-Id-Version: ternbell\\n\"\n\"MIME-Version: 1.0\\n\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n\"Content-Transfer-Encoding: 8bit\\n\"\n\n");
    for (const QString& text : order)
    {
        std::printf("#:");
        for (const QString& at : where[text])
            std::printf(" %s", at.toUtf8().constData());
        std::printf("\nmsgid %s\nmsgstr \"\"\n\n", Quoted(text).constData());
    }
    return 0;
}
