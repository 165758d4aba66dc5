// The start of a message's text as the preview module reads it from the
// MIME fields and the first body bytes, honest mail and hostile.
#include "mail/IdHeaderList.h"
#include "mail/MessagePreview.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

namespace
{

class MessagePreviewTest : public testing::Test
{
protected:
    static void SetUpTestSuite() { SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR); }
};

// A multipart body around `parts` (each its fields, a blank line, its text).
std::string Multipart(const std::string& boundary, std::initializer_list<std::string> parts, bool closed = true)
{
    std::string body = "This is a multi-part message in MIME format.\r\n";
    for (const std::string& part : parts)
        body += "--" + boundary + "\r\n" + part + "\r\n";
    return closed ? body + "--" + boundary + "--\r\n" : body;
}

std::string Repeated(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

const std::string Alternative = "Content-Type: multipart/alternative; boundary=\"b1\"\r\n";

struct PreviewCase
{
    const char* What;
    std::string Fields;
    std::string Body;
    std::string Preview;
};

TEST_F(MessagePreviewTest, TextIsFoundDecodedAndCollapsed)
{
    const PreviewCase cases[] = {
        {"no fields: US-ASCII text", "", "Hello  there,\r\n\r\n\tsee you\r\n", "Hello there, see you"},
        {"quoted-printable Latin-1",
         "Content-Type: text/plain;\r\n charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         "Gr=FC=DFe aus K=F6ln, sch=\r\nade\r\n", "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, schade"},
        {"base64 UTF-8", "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n",
         "w7xiZXIgYWxsZXM=\r\n", "\xC3\xBC" "ber alles"},
        {"alternative: the plain part before the HTML", Alternative,
         Multipart("b1", {"Content-Type: text/html\r\n\r\n<p>html</p>", "Content-Type: text/plain\r\n\r\nplain"}),
         "plain"},
        {"HTML only: no markup, style or script, references resolved",
         "Content-Type: text/html; charset=utf-8\r\n",
         "<html><head><title>T</title><style>p { color: red }</style></head><body><!-- note -->"
         "<script>alert(1)</script><p>Tom&nbsp;&amp;&#32;Jerry&#x2019;s <b>news</b></p>"
         "<div>&zwnj;&nbsp;second&lt;line&gt;</div></body></html>",
         "Tom & Jerry\xE2\x80\x99s news second<line>"},
        {"an attached text is passed over for the body",
         "Content-Type: multipart/mixed; boundary=\"m\"\r\n",
         Multipart("m", {"Content-Type: text/plain\r\nContent-Disposition: attachment; filename=a.txt\r\n\r\nattached",
                         "Content-Type: text/html\r\n\r\n<i>body</i>"}),
         "body"},
        {"nested, the text in the innermost part", "Content-Type: multipart/mixed; boundary=\"m\"\r\n",
         Multipart("m", {Alternative + "\r\n" + Multipart("b1", {"Content-Type: text/plain\r\n\r\ninner"})}),
         "inner"},
        {"cut short inside the part, its boundary never comes", Alternative,
         Multipart("b1", {"Content-Type: text/plain\r\n\r\nthe start of a long text"}, false) + "and its mid",
         "the start of a long text and its mid"},
        {"long text: 200 characters, the last an ellipsis", "", Repeated("\xC3\xA4 ", 300),
         Repeated("\xC3\xA4 ", 99) + "\xC3\xA4\xE2\x80\xA6"},
        {"a charset nobody knows: the bytes as far as they are text",
         "Content-Type: text/plain; charset=x-unheard-of\r\n", "plain words", "plain words"},
        {"text in the text stays text", "", "<b>bold</b> &amp;", "<b>bold</b> &amp;"},
        {"direction overrides and controls dropped", "", "a\xE2\x80\xAE" "b\x01\x7F" "c in a line of words",
         "ab c in a line of words"},
        {"cut inside its last character: that character left out", "Content-Type: text/plain; charset=utf-8\r\n",
         Repeated(" ", PreviewBodyBytes - 3) + "Gr\xC3\xBC", "Gr"},
        {"a partial fetch ends inside a quoted-printable character",
         "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         "Gr=C3=BC=C3", "Gr\xC3\xBC"},
        {"HTML's named references, as builders write them", "Content-Type: text/html; charset=us-ascii\r\n",
         "<p>&iexcl;Hola Mar&iacute;a! Tu pedido est&aacute; en camino.</p>"
         "<p>&Eacute;t&eacute; : o&ugrave; que vous soyez &rarr; &frac12;&nbsp;prix</p>",
         "\xC2\xA1Hola Mar\xC3\xAD" "a! Tu pedido est\xC3\xA1 en camino. "
         "\xC3\x89t\xC3\xA9 : o\xC3\xB9 que vous soyez \xE2\x86\x92 \xC2\xBD prix"},
        {"the longest name, one of two characters, unknown names as written", "Content-Type: text/html\r\n",
         "&CounterClockwiseContourIntegral; &NotNestedGreaterGreater; &nosuchname; &amp &ampx",
         "\xE2\x88\xB3 \xE2\xAA\xA2\xCC\xB8 &nosuchname; & &x"},
        {"legacy names without their semicolon, the longest that fits", "Content-Type: text/html\r\n",
         "caf&eacute au lait, &notit; &notin; &copy2024", "caf\xC3\xA9 au lait, \xC2\xAC" "it; \xE2\x88\x89 \xC2\xA9" "2024"},
        {"numbers without semicolon, Windows-1252 numbers, none past Unicode", "Content-Type: text/html\r\n",
         "a&#150b &#x93;q&#148; &#0; &#99999999999; &#; and more words",
         "a\xE2\x80\x93" "b \xE2\x80\x9Cq\xE2\x80\x9D \xEF\xBF\xBD \xEF\xBF\xBD &#; and more words"},
        {"a head left open ends where the body begins", "Content-Type: text/html\r\n",
         "<html><head><meta charset=\"utf-8\"><style>p{}</style><body><p>Seen</p></body></html>", "Seen"},
        {"flowed with DelSp: a word and a CJK run broken across lines are whole",
         "Content-Type: text/plain; charset=utf-8; format=flowed; delsp=yes\r\n",
         "Thank you, this is wra \r\npped.\r\n\xE4\xBA\x86\xE8\xA7\xA3\xE3\x81\x84\xE3\x81\x9F\xE3\x81\x97\xE3\x81\xBE \r\n"
         "\xE3\x81\x99\xE3\x80\x82\r\n",
         "Thank you, this is wrapped. \xE4\xBA\x86\xE8\xA7\xA3\xE3\x81\x84\xE3\x81\x9F\xE3\x81\x97\xE3\x81\xBE"
         "\xE3\x81\x99\xE3\x80\x82"},
        {"flowed without DelSp: the blank stays; quotes, stuffing, a fixed line",
         "Content-Type: text/plain; format=flowed\r\n",
         ">> Quoted \r\n>> text\r\n From the start \r\nof a line\r\n-- \r\nsig",
         ">> Quoted text From the start of a line -- sig"},
        {"flowed with DelSp in quoted-printable, its blank encoded",
         "Content-Type: text/plain; charset=utf-8; format=flowed; DelSp=Yes\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n",
         "Wort=C3=BC=20\r\nber all", "Wort\xC3\xBC" "ber all"},
        {"labelled Latin-1, its bytes UTF-8: read as UTF-8", "Content-Type: text/plain; charset=iso-8859-1\r\n",
         "Caf\xC3\xA9 cr\xC3\xA8me", "Caf\xC3\xA9 cr\xC3\xA8me"},
        {"labelled Windows-1252, UTF-8 in quoted-printable, cut inside its last character",
         "Content-Type: text/plain; charset=\"Windows-1252\"\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         "Caf=C3=A9 cr=C3=A8me =E2=82", "Caf\xC3\xA9 cr\xC3\xA8me"},
        {"labelled Latin-1 and Latin-1 indeed", "Content-Type: text/plain; charset=iso-8859-1\r\n",
         "Caf\xE9 cr\xE8me \xC3", "Caf\xC3\xA9 cr\xC3\xA8me \xC3\x83"},
        {"labelled Latin-1, plain ASCII", "Content-Type: text/plain; charset=iso-8859-1\r\n", "Cafe", "Cafe"},
        {"labelled US-ASCII, its bytes UTF-8", "Content-Type: text/plain; charset=us-ascii\r\n",
         "Caf\xC3\xA9", "Caf\xC3\xA9"},
        {"labelled Latin-1, UTF-8 in HTML", "Content-Type: text/html; charset=ISO-8859-1\r\n",
         "<p>Caf\xC3\xA9 &amp; cr\xC3\xA8me</p>", "Caf\xC3\xA9 & cr\xC3\xA8me"},
    };
    for (const PreviewCase& c : cases)
        EXPECT_EQ(MessagePreview(c.Fields, c.Body), c.Preview) << c.What;
    EXPECT_TRUE(PreviewHelperStarted());
}

TEST_F(MessagePreviewTest, MessagesWithoutTextToShowHaveNone)
{
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "--d\r\nContent-Type: multipart/mixed; boundary=\"d\"\r\n\r\n";
    const PreviewCase cases[] = {
        {"encrypted", "Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=\"e\"\r\n",
         Multipart("e", {"Content-Type: application/pgp-encrypted\r\n\r\nVersion: 1",
                         "Content-Type: text/plain\r\n\r\n-----BEGIN PGP MESSAGE-----"}),
         ""},
        {"signed as a blob", "Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n"
                             "Content-Transfer-Encoding: base64\r\n",
         "MIAGCSqGSIb3DQEHAqCAMIACAQExDzANBglghkgBZQMEAgEFADCABgkqhkiG9w0BBwGggCSABIIC", ""},
        {"no text part", "Content-Type: multipart/mixed; boundary=\"m\"\r\n",
         Multipart("m", {"Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo="}), ""},
        {"an empty body", "", "", ""},
        {"HTML that is all markup", "Content-Type: text/html\r\n",
         "<table><tr><td><img src=\"x\"></td></tr></table><style>" + Repeated("a{}", 100), ""},
        {"a missing boundary", "Content-Type: multipart/alternative\r\n", "--\r\n\r\n--", ""},
        {"a 4 KB line of base64 garbage", "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n",
         Repeated("/+8A", 1024), ""},
        {"deep nesting", "Content-Type: multipart/mixed; boundary=\"d\"\r\n", deep, ""},
    };
    for (const PreviewCase& c : cases)
        EXPECT_EQ(MessagePreview(c.Fields, c.Body), c.Preview) << c.What;
}

// A check keeps a message's fields and body start, cut to the bound; the
// preview is made from them when first read, the same for each copy, and
// the bytes go then.
TEST_F(MessagePreviewTest, AKeptPreviewIsMadeWhenFirstReadAndLetsItsBytesGo)
{
    const std::string fields = "Content-Type: text/plain; charset=iso-8859-1\r\n";
    const std::string body = "K\xF6ln " + Repeated("x", PreviewBodyBytes);
    const TPreview kept = TPreview::Of(fields, body);
    EXPECT_FALSE(kept.Made());
    EXPECT_FALSE(kept.Blank());
    EXPECT_EQ(kept.HeldBytes(), fields.size() + PreviewBodyBytes);
    const TPreview copy = kept;
    EXPECT_EQ(kept.Text(), MessagePreview(fields, body));
    EXPECT_EQ(kept.Text().substr(0, 6), "K\xC3\xB6ln ");
    EXPECT_TRUE(kept.Made());
    EXPECT_EQ(kept.HeldBytes(), 0u);
    EXPECT_EQ(copy, kept.Text());

    const TPreview none = TPreview::Of(fields, "\r\n");
    EXPECT_EQ(none, "");
    EXPECT_TRUE(none.Blank());
}

// A preview that comes out empty from a body's start cut short can be made
// again from more of it (a newsletter's text behind its style sheet); POP3
// asks for that much in lines as long as those read.
TEST_F(MessagePreviewTest, AnEmptyPreviewFromACutStartIsReadFurther)
{
    const std::string fields = "Content-Type: text/html\r\n";
    const std::string line = ".c td { padding: 0 }\r\n";
    const std::string newsletter = "<style>" + Repeated(line, 400) + "</style><p>Behind</p>";
    TPreview cut = TPreview::Of(fields, newsletter);
    const TPreview whole = TPreview::Of(fields, "<style>x</style>");
    const TPreview shows = TPreview::Of(fields, "<p>Seen</p>" + newsletter);
    TPreview cutByLines = TPreview::Of(fields, "<style>\r\n", true);
    TPreview::MakeAll({&cut, &whole, &shows, &cutByLines});
    EXPECT_TRUE(cut.WantsFurther());
    EXPECT_FALSE(whole.WantsFurther());
    EXPECT_FALSE(shows.WantsFurther());
    EXPECT_EQ(shows, "Seen");
    EXPECT_TRUE(cutByLines.WantsFurther());
    EXPECT_NEAR(static_cast<double>(cut.FurtherLines() * line.size()), PreviewFurtherBytes, 2 * PreviewFurtherBytes / 100);

    TPreview::ReadFurther({&cut, &cutByLines}, {newsletter + std::string(PreviewFurtherBytes, ' ') + "past", ""});
    EXPECT_EQ(cut, "Behind");
    EXPECT_FALSE(cut.WantsFurther());
    EXPECT_EQ(cutByLines, "");
    const TPreview blankLines = TPreview::Of("", Repeated("\r\n", PreviewBodyBytes));
    TPreview::MakeAll({&blankLines});
    EXPECT_TRUE(blankLines.WantsFurther());
    EXPECT_EQ(blankLines.FurtherLines(), MaxPreviewFurtherLines);
}

// Only the first PreviewBodyBytes of a body count, whatever a server sent,
// and only they are kept: not the memory of the rest.
TEST_F(MessagePreviewTest, BodyIsReadOnlyToItsBound)
{
    const std::string body = Repeated("a", PreviewBodyBytes - 1) + " hidden";
    EXPECT_EQ(MessagePreview("", body), Repeated("a", PreviewChars - 1) + "\xE2\x80\xA6");
    EXPECT_EQ(MessagePreview("", Repeated(" ", PreviewBodyBytes) + "hidden"), "");

    const auto inUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<long long>(info.uordblks + info.hblkhd);
    };
    const long long before = inUse();
    const TPreview kept = TPreview::Of("", std::string(1 << 20, 'a'));
    EXPECT_LT(inUse() - before, static_cast<long long>(2 * PreviewBodyBytes));
    EXPECT_EQ(kept.HeldBytes(), PreviewBodyBytes);
}

// The MIME library lives in the helper process: the program never maps it,
// a helper that ended (its rest time, or a crash on a message) is started
// again at the next preview, and without one there are no previews.
TEST_F(MessagePreviewTest, PreviewsComeFromAHelperStartedAgainWhenItEnded)
{
    const std::string fields = "Content-Type: text/html\r\n";
    ASSERT_EQ(MessagePreview(fields, "<p>caf&eacute;</p>"), "caf\xC3\xA9");
    const pid_t first = PreviewHelperPid();
    ASSERT_GT(first, 0);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        EXPECT_EQ(line.find("gmime"), std::string::npos) << line;

    // Whether the request goes out before it is gone or after, the next
    // helper answers it.
    ::kill(first, SIGKILL);
    EXPECT_EQ(MessagePreview(fields, "<p>again</p>"), "again");
    EXPECT_NE(PreviewHelperPid(), first);

    StopPreviewHelper();
    EXPECT_EQ(PreviewHelperPid(), -1);
    TempFolder empty;
    SetPreviewHelperFolder(empty.Path());
    EXPECT_EQ(MessagePreview(fields, "<p>none</p>"), "");
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    EXPECT_EQ(MessagePreview(fields, "<p>back</p>"), "back");
}

// A batch larger than both ways of the line hold at once (megabytes of
// bodies one way, their answers the other) is answered whole, in order.
TEST_F(MessagePreviewTest, ManyPreviewsAtOnceAreAllAnsweredInOrder)
{
    std::vector<TPreview> previews;
    for (int i = 0; i < 1500; ++i)
        previews.push_back(TPreview::Of("", std::to_string(i) + Repeated(" word", PreviewBodyBytes / 5)));
    std::vector<const TPreview*> all;
    for (const TPreview& preview : previews)
        all.push_back(&preview);
    TPreview::MakeAll(all);
    for (int i = 0; i < 1500; ++i)
    {
        ASSERT_TRUE(previews[i].Made()) << i;
        ASSERT_EQ(previews[i].Text().substr(0, std::to_string(i).size() + 5), std::to_string(i) + " word") << i;
    }
}

TEST(MimeFields, OnlyTheFieldsThatBuildTheBodyWithTheirFoldedLines)
{
    const std::string header = "Subject: Content-Type: text/html\r\nContent-Type: text/plain;\r\n"
                               "\tcharset=utf-8\r\nFrom: a@b\r\n continued\r\nMIME-Version: 1.0\r\n"
                               "content-transfer-encoding: base64\r\n";
    const std::string fields = "Content-Type: text/plain;\r\n\tcharset=utf-8\r\nMIME-Version: 1.0\r\n"
                               "content-transfer-encoding: base64\r\n";
    EXPECT_EQ(MimeFieldsOf(header), fields);
    TIdHeaderList lines;
    for (const char* line : {"Subject: x", "Content-Type: text/plain;", "\tcharset=utf-8", "From: a@b", " continued",
                             "MIME-Version: 1.0", "content-transfer-encoding: base64"})
        lines.Add(line);
    EXPECT_EQ(MimeFieldsOf(lines), fields);
}

} // namespace
