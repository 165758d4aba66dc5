#include "check/NewMailNews.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"

#include <algorithm>

namespace
{

// One line of text from a mail: line breaks and other controls become
// blanks, so a subject cannot add lines of its own; cut to `limit`
// characters, not inside a surrogate pair.
QString NoticeField(const std::string& text, qsizetype limit)
{
    QString field = FromCodePage(text).simplified();
    for (QChar& c : field)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    if (field.size() <= limit)
        return field;
    qsizetype end = limit - 1;
    if (end > 0 && field[end].isLowSurrogate())
        --end;
    return field.left(end) + QChar(0x2026);
}

} // namespace

QString FirstPreview(const TNewMailNews& news, qsizetype limit)
{
    return news.Told.empty() || limit < 2 ? QString() : NoticeField(news.Told.front().Shown.Preview, limit);
}

TNewMailNotice NewMailNotice(const TNewMailNews& news, bool canMarkRead)
{
    TNewMailNotice notice;
    notice.Summary = NoticeField(news.Headline, NoticeSummaryLength);
    notice.Urgency = news.Urgency;
    QStringList lines;
    for (const std::string& line : news.Lines)
        lines << NoticeField(line, NoticeFieldLength);
    const std::size_t shown = std::min(news.Told.size(), NoticeLines);
    for (std::size_t i = 0; i < shown; ++i)
    {
        const TToldMessage& m = news.Told[i];
        const QString from = NoticeField(m.Shown.From, NoticeFieldLength);
        const QString subject = NoticeField(m.Shown.Subject, NoticeFieldLength);
        if (from.isEmpty() || subject.isEmpty())
            lines << (from.isEmpty() ? subject : from);
        else
            lines << from + QStringLiteral(" \u2014 ") + subject;
        // More would push the later messages out of a small bubble.
        if (i < NoticePreviews)
            if (const QString preview = NoticeField(m.Shown.Preview, NoticePreviewLength); !preview.isEmpty())
                lines << preview;
    }
    const std::size_t more = news.Told.size() - shown;
    if (more == 1)
        lines << ResText("and one more");
    else if (more > 1)
        lines << FromCodePage(FormatOne(ResStr("and %d more"), "%d", std::to_string(more)));
    notice.Body = lines.join(QLatin1Char('\n'));

    notice.Actions = {{NoticeRead, ResText("Read")}, {NoticeShow, ResText("Show")}};
    const bool imap4 =
        std::any_of(news.Told.begin(), news.Told.end(), [](const TToldMessage& m) { return m.IMAP4; });
    if (canMarkRead && imap4)
        notice.Actions.emplace_back(NoticeMarkRead, ResText("Mark as read"));
    return notice;
}
