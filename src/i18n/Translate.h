#pragma once

#include <QString>

#include <string>
#include <vector>

class QObject;

// Run-time translation through gettext catalogs kept in <exe folder>/locale.
// Without a catalog for the user's language every text stays English.

// Domain of the toolkit's stock texts (message box buttons and titles).
inline constexpr const char* ToolkitMessageDomain = "qtbase";

// Domain used for the windows' own texts ("default" until changed).
void SetDefaultDomain(const std::string& domain);
std::string DefaultDomain();

// The ordered list of domains searched for the program's messages. Adding a
// name already present and removing an absent one do nothing.
void AddMessageDomain(const std::string& domain);
void RemoveMessageDomain(const std::string& domain);
std::vector<std::string> MessageDomains();

// One text looked up in one domain; the English text when nothing differs.
QString TranslateIn(const std::string& domain, const QString& english);

// A program message: the first message domain that translates it wins.
// Returned as 8-bit desktop text, ready for message boxes and formats.
std::string ResStr(const char* english);
// The same, for a widget text.
QString ResText(const char* english);

// Translates the texts of a window and everything it owns, in the default
// domain, once per window.
void TranslateComponent(QObject* window);
