#include "desktop/FormParts.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

QLabel* WrappedLabel(QWidget* parent, const char* name, const char* text)
{
    auto* label = Captioned<QLabel>(parent, name, text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

void CenterOnScreen(QWidget& window)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
}
