#pragma once

#include "check/RowId.h"
#include "check/RowMessage.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <string>
#include <vector>

// One message a telling of new mail is about, in plain values, so whoever
// acts on it later (a notification's "Mark as read") needs no row.
struct TToldMessage
{
    int Account = -1; // index in the configuration's account list
    bool IMAP4 = false; // the account has a read flag: IMAP4 or JMAP
    int Number = 0; // its place in the account's block, as the check counted it
    TRowMessage Shown; // as the row shows it (8-bit desktop text)
    std::string Mailbox = InboxName; // the folder it is in
};

// What a telling hands the desktop: the balloon's title and headline, and
// the rows newly told by it, in list order.
struct TNewMailNews
{
    std::string Title;
    std::string Headline;
    std::vector<TToldMessage> Told;
    // The notification's urgency: 0 low, 1 normal, 2 critical.
    int Urgency = 1;
    // Lines told in place of messages (a summary), desktop text.
    std::vector<std::string> Lines{};
};

// The keys of the actions a new-mail notification may offer.
inline const QString NoticeRead = QStringLiteral("read");
inline const QString NoticeShow = QStringLiteral("show");
inline const QString NoticeMarkRead = QStringLiteral("mark-read");

// A desktop notification of new mail, as plain text: the headline as its
// summary, up to NoticeLines messages as "sender — subject" lines, each of
// the first NoticePreviews followed by its preview where it has one, and
// "and N more", and the actions as key, caption pairs (translated).
struct TNewMailNotice
{
    QString Summary;
    QString Body;
    std::vector<std::pair<QString, QString>> Actions;
    int Urgency = 1;
};

inline constexpr std::size_t NoticeLines = 5;
// Characters a summary, a sender or a subject keeps; longer ones end in "…".
inline constexpr qsizetype NoticeSummaryLength = 120;
inline constexpr qsizetype NoticeFieldLength = 80;
inline constexpr std::size_t NoticePreviews = 3;
inline constexpr qsizetype NoticePreviewLength = 200;

// The first told message's preview as one line of plain text, at most
// `limit` characters; "" when it has none.
QString FirstPreview(const TNewMailNews& news, qsizetype limit);

// "Mark as read" is offered only when `canMarkRead` and one of the messages
// is an IMAP4 account's.
TNewMailNotice NewMailNotice(const TNewMailNews& news, bool canMarkRead);
