#pragma once

#include <QLatin1String>
#include <QString>

class QLabel;
class QWidget;

// Pieces every window of the program is built from.

// Names a control for translation and for finding it; returns it for chaining.
template <typename T> T* Named(T* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// A named control with a caption (a label, button, check box, group box, ...).
template <typename T> T* Captioned(QWidget* parent, const char* name, const char* caption)
{
    return Named(new T(QString::fromUtf8(caption), parent), name);
}

// A word-wrapped label whose text starts at its top left.
QLabel* WrappedLabel(QWidget* parent, const char* name, const char* text);

// Moves a window to the middle of the primary screen's work area.
void CenterOnScreen(QWidget& window);
