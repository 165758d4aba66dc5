// The text of a new-mail notification, from the headline and the told rows.

#include "check/NewMailNews.h"

#include <gtest/gtest.h>

namespace
{

TToldMessage Told(const std::string& from, const std::string& subject, bool imap4 = false,
                  const std::string& preview = "")
{
    TToldMessage m;
    m.Shown.From = from;
    m.Shown.Subject = subject;
    m.Shown.Preview = preview;
    m.IMAP4 = imap4;
    return m;
}

std::vector<TToldMessage> Many(int n, bool previews = false)
{
    std::vector<TToldMessage> told;
    for (int i = 1; i <= n; ++i)
        told.push_back(Told("S" + std::to_string(i), "m" + std::to_string(i), false,
                            previews ? "p" + std::to_string(i) : ""));
    return told;
}

QString Keys(const TNewMailNotice& notice)
{
    QStringList keys;
    for (const auto& [key, caption] : notice.Actions)
        keys << key + "=" + caption;
    return keys.join(' ');
}

struct TNoticeCase
{
    const char* Name;
    std::string Headline;
    std::vector<TToldMessage> Told;
    bool CanMarkRead;
    QString Summary;
    QString Body;
    QString Actions;
};

void PrintTo(const TNoticeCase& c, std::ostream* os)
{
    *os << c.Name;
}

const QString Dash = QStringLiteral(" \u2014 ");
const QString ReadShow = QStringLiteral("read=Read show=Show");
const QString Long = QString(79, 'x') + QChar(0x2026);


class NoticeText : public testing::TestWithParam<TNoticeCase>
{
};

TEST_P(NoticeText, SummaryBodyAndActions)
{
    const TNoticeCase& c = GetParam();
    const TNewMailNotice notice = NewMailNotice(TNewMailNews{"ternbell", c.Headline, c.Told}, c.CanMarkRead);
    EXPECT_EQ(notice.Summary, c.Summary);
    EXPECT_EQ(notice.Body, c.Body);
    EXPECT_EQ(Keys(notice), c.Actions);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoticeText,
    testing::Values(
        TNoticeCase{"OneLinePerMessage", "There are 2 messages to read", {Told("Ann", "a"), Told("Bob", "b")},
                    true, "There are 2 messages to read", "Ann" + Dash + "a\nBob" + Dash + "b", ReadShow},
        TNoticeCase{"SixthIsOneMore", "h", Many(6), false, "h",
                    "S1" + Dash + "m1\nS2" + Dash + "m2\nS3" + Dash + "m3\nS4" + Dash + "m4\nS5" + Dash +
                        "m5\nand one more",
                    ReadShow},
        TNoticeCase{"TheRestCounted", "h", Many(12), false, "h",
                    "S1" + Dash + "m1\nS2" + Dash + "m2\nS3" + Dash + "m3\nS4" + Dash + "m4\nS5" + Dash +
                        "m5\nand 7 more",
                    ReadShow},
        TNoticeCase{"AMissingHalfLeavesNoDash", "h", {Told("", "only subject"), Told("only sender", "")}, false,
                    "h", "only subject\nonly sender", ReadShow},
        // A mail's text never adds lines, and stays text: escaping is the
        // notifier's, for servers that read markup.
        TNoticeCase{"LineBreaksAndControlsAreBlanks", "h", {Told("Eve\r\nBcc: x", "<b>a\x01z</b>\t")}, false, "h",
                    "Eve Bcc: x" + Dash + "<b>a z</b>", ReadShow},
        TNoticeCase{"LongTextsAreCut", std::string(200, 'H'), {Told(std::string(300, 'x'), std::string(81, 'x'))},
                    false, QString(119, 'H') + QChar(0x2026), Long + Dash + Long, ReadShow},
        TNoticeCase{"DesktopCodePage", "h", {Told("Jos\xC3\xA9", "Caf\xC3\xA9 \xE2\x82\xAC")}, false, "h",
                    QStringLiteral("Jos\u00E9") + Dash + QStringLiteral("Caf\u00E9 \u20AC"), ReadShow},
        TNoticeCase{"MarkAsReadForIMAP4", "h", {Told("Ann", "a"), Told("Bob", "b", true)}, true, "h",
                    "Ann" + Dash + "a\nBob" + Dash + "b", ReadShow + " mark-read=Mark as read"},
        TNoticeCase{"NoMarkAsReadWithoutAHandler", "h", {Told("Bob", "b", true)}, false, "h", "Bob" + Dash + "b",
                    ReadShow},
        // Under each of the first three messages its preview, as one line of text.
        TNoticeCase{"PreviewsUnderTheFirstThree", "h", Many(4, true), false, "h",
                    "S1" + Dash + "m1\np1\nS2" + Dash + "m2\np2\nS3" + Dash + "m3\np3\nS4" + Dash + "m4", ReadShow},
        TNoticeCase{"PreviewIsOneLineOfText", "h", {Told("Ann", "a", false, "<i>x</i>\r\nBcc: y"), Told("Bob", "b")},
                    false, "h", "Ann" + Dash + "a\n<i>x</i> Bcc: y\nBob" + Dash + "b", ReadShow},
        TNoticeCase{"NoMarkAsReadForPOP3Alone", "h", {Told("Ann", "a")}, true, "h", "Ann" + Dash + "a",
                    ReadShow}),
    [](const testing::TestParamInfo<TNoticeCase>& info) { return std::string(info.param.Name); });

} // namespace
