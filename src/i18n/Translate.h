#pragma once

#include "i18n/Catalogs.h"

#include <QString>

#include <string>
#include <vector>

class QObject;

// Run-time translation through gettext catalogs kept in <exe folder>/locale
// (see i18n/Catalogs.h). Without a catalog for the user's language every text
// stays English. Texts the program translates are marked for the catalog
// template by the keywords ResStr, ResText and N_.

// Domain used for the windows' own texts ("default" until changed).
void SetDefaultDomain(const std::string& domain);
std::string DefaultDomain();

// The ordered list of domains searched for the program's messages. Adding a
// name already present and removing an absent one do nothing.
void AddMessageDomain(const std::string& domain);
void RemoveMessageDomain(const std::string& domain);
std::vector<std::string> MessageDomains();

// Marks a text for the catalog template where it is written down, for a
// lookup elsewhere.
#define N_(text) text

// One text looked up in one domain; the English text when nothing differs.
// The catalogs hold line feeds alone; a translation comes back with the
// English text's line breaks (CR LF when it had them). The context is for
// the toolkit's domain (see LookupInDomain).
QString TranslateIn(const std::string& domain, const QString& english,
                    const char* context = nullptr);

// The first message domain whose translation differs from the English text
// gives the text; the English text when none does.
QString TranslateMessage(const QString& english, const char* context = nullptr);

// A program message: the first message domain that translates it wins.
// Returned as 8-bit desktop text, ready for message boxes and formats.
std::string ResStr(const char* english);
// The same, for a widget text.
QString ResText(const char* english);

// Installs, once, the translator through which the toolkit fetches its own
// texts (message-box buttons, file dialog): it searches the message domains
// in order, so the program's catalog wins over the toolkit's.
void InstallToolkitTranslator();
