#include "i18n/Translate.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>

namespace
{

// The toolkit asks every installed translator for its texts; this one
// answers from the message domains, in their order.
class TToolkitTranslator : public QTranslator
{
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (!sourceText || !*sourceText)
            return {};
        const QString english = QString::fromUtf8(sourceText);
        const QString translated = TranslateMessage(english, context);
        // An empty result tells the toolkit to keep its own text.
        return translated == english ? QString() : translated;
    }
};

} // namespace

void InstallToolkitTranslator()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    static QPointer<QTranslator> installed;
    if (installed && installed->parent() == app)
        return;
    auto* translator = new TToolkitTranslator(app); // the application owns it
    QCoreApplication::installTranslator(translator);
    installed = translator;
}
