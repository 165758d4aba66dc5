#pragma once

#include <QString>

#include <functional>

class QObject;

// Walks every translatable text of a window and of everything it owns:
// window title, captions, tooltips, status tips, edit texts, combo-box
// items, list and tree column headers and items, tab captions, group
// titles, menu titles and action texts. Object names are not texts.
//
// visit gets the text and where it was found ("frmSettings.lblGeneral");
// its result is written back when it differs. Texts without a letter
// (empty, numbers, "...") are skipped.
using TWindowTextVisitor = std::function<QString(const QString& text, const QString& where)>;
void ForEachWindowText(QObject* window, const TWindowTextVisitor& visit);

// Translates the texts of a window and everything it owns, in the default
// domain, once per window.
void TranslateComponent(QObject* window);

// Marks a control whose text is data, not wording (a version number, a
// name): the walk passes it over.
void KeepUntranslated(QObject* control);
