// The previews of mail as people get it, read by a first check from a
// private Dovecot over POP3 and IMAP4 alike: newsletters written with
// HTML's named references or behind a long style sheet, flowed text from
// mail programs, text whose label is wrong, and the kinds that always read.
#include "check/FurtherPreviews.h"
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/MessagePreview.h"
#include "mail/Pop3Client.h"
#include "support/DovecotFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace
{

struct RealMail
{
    const char* What;
    std::string Fields; // the message's own MIME fields
    std::string Body;
    std::string Preview;
};

std::string Message(int n, const RealMail& mail)
{
    return "Message-ID: <" + std::to_string(n) + ".real@example.org>\r\nFrom: Sender <news@example.org>\r\n"
           "To: ann@example.net\r\nSubject: " + mail.What + "\r\nMIME-Version: 1.0\r\n" + mail.Fields + "\r\n" +
           mail.Body;
}

// A newsletter's style sheet of `bytes` (short lines, as builders write
// them), its text after it.
std::string LargeHead(std::size_t bytes, const std::string& text)
{
    std::string html = "<!DOCTYPE html>\r\n<html><head><meta charset=3D\"utf-8\"><style type=3D\"text/css\">\r\n";
    for (int i = 0; html.size() < bytes; ++i)
        html += ".c" + std::to_string(i) + " td { padding: 0 8px; }\r\n";
    return html + "</style></head><body><table><tr><td class=3D\"c1\">" + text + "</td></tr></table></body></html>\r\n";
}

const std::vector<RealMail>& RealMails()
{
    static const std::vector<RealMail> mails = {
        {"named references", "Content-Type: text/html; charset=iso-8859-1\r\n",
         "<html><body><h1>&iexcl;Hola Mar&iacute;a!</h1><p>Tu pedido est&aacute; en camino.</p></body></html>\r\n",
         "\xC2\xA1Hola Mar\xC3\xAD" "a! Tu pedido est\xC3\xA1 en camino."},
        {"named references in quoted-printable",
         "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         "<p>&Eacute;t&eacute; : o&ugrave; que vous soyez, &laquo;&nbsp;les soldes&nbsp;&raquo; =\r\n"
         "&hellip;</p>\r\n",
         "\xC3\x89t\xC3\xA9 : o\xC3\xB9 que vous soyez, \xC2\xAB les soldes \xC2\xBB \xE2\x80\xA6"},
        {"a large head", "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         LargeHead(12000, "Die Angebote der Woche"), "Die Angebote der Woche"},
        {"a large head in a related part", "Content-Type: multipart/related; boundary=\"rel\"\r\n",
         "--rel\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
             LargeHead(30000, "Your receipt") + "--rel\r\nContent-Type: image/png\r\n\r\nPNG\r\n--rel--\r\n",
         "Your receipt"},
        {"flowed with DelSp", "Content-Type: text/plain; charset=utf-8; format=flowed; delsp=yes\r\n"
                              "Content-Transfer-Encoding: 8bit\r\n",
         "\xE3\x81\x8A\xE9\xA1\x98\xE3\x81\x84\xE3\x81\x84\xE3\x81\x9F\xE3\x81\x97\xE3\x81\xBE \r\n"
         "\xE3\x81\x99\xE3\x80\x82 Please see the attached wra \r\npped file.\r\n",
         "\xE3\x81\x8A\xE9\xA1\x98\xE3\x81\x84\xE3\x81\x84\xE3\x81\x9F\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x99\xE3\x80\x82"
         " Please see the attached wrapped file."},
        {"flowed without DelSp", "Content-Type: text/plain; charset=us-ascii; format=flowed\r\n",
         "On Monday you wrote:\r\n> Shall we meet at \r\n> ten?\r\nYes, at the \r\n station.\r\n",
         "On Monday you wrote: > Shall we meet at ten? Yes, at the station."},
        {"UTF-8 labelled Latin-1", "Content-Type: text/plain; charset=ISO-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n",
         "Caf\xC3\xA9 cr\xC3\xA8me et cr\xC3\xAApes\r\n", "Caf\xC3\xA9 cr\xC3\xA8me et cr\xC3\xAApes"},
        {"UTF-8 without a label", "", "Caf\xC3\xA9 cr\xC3\xA8me\r\n", "Caf\xC3\xA9 cr\xC3\xA8me"},
        {"Latin-1 as labelled", "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n",
         "Gr\xFC\xDF" "e aus K\xF6ln\r\n", "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln"},
        {"plain beside HTML", "Content-Type: multipart/alternative; boundary=\"alt\"\r\n",
         "--alt\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nThe plain words\r\n--alt\r\n"
         "Content-Type: text/html\r\n\r\n<p>html</p>\r\n--alt--\r\n",
         "The plain words"},
        {"base64", "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n",
         "w7xiZXIgYWxsZXM=\r\n", "\xC3\xBC" "ber alles"},
        {"encrypted", "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
                      "Content-Transfer-Encoding: base64\r\n",
         "MIAGCSqGSIb3DQEHA6CAMIACAQAx\r\n", ""},
    };
    return mails;
}

class PreviewDovecot : public DovecotFixture<>
{
protected:
    static void SetUpTestSuite()
    {
        SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
        StartSuite({});
    }

    // A first check of the mailbox with previews, `shown` of its messages
    // shown; the previews of the others are made after it.
    static std::vector<std::string> FirstCheck(bool imap4, const std::string& user, std::size_t shown)
    {
        TIdPOP3 pop3;
        TIdIMAP4 imap;
        TPop3CheckClient popCheck(pop3);
        TImap4CheckClient imapCheck(imap);
        TCheckClient& client = imap4 ? static_cast<TCheckClient&>(imapCheck) : popCheck;
        Account account;
        account.UserName = user;
        account.Password = "secret";
        account.Host = Server->Host();
        account.IMAP4 = imap4;
        const int port = imap4 ? Server->ImapPort() : Server->Pop3Port();
        account.Port = std::to_string(port);
        client.SetAccount(account, port);
        client.ReadPreviews = true;
        client.ShownPreviews = shown;
        const TAccountReport report = CheckSession(client, 100, std::unordered_set<std::string>{});
        EXPECT_EQ(report.Error, "");
        std::vector<std::string> previews;
        for (const TFetchedMessage& m : report.Fetched)
            previews.push_back(m.Header.Preview.Text());
        return previews;
    }
};

TEST_F(PreviewDovecot, RealWorldMailShowsItsTextOverBothProtocols)
{
    const std::string user = NewMailbox();
    const std::vector<RealMail>& mails = RealMails();
    for (std::size_t k = 0; k < mails.size(); ++k)
        Server->Deliver(user, Message(static_cast<int>(k), mails[k]));
    for (const bool imap4 : {false, true})
    {
        const std::vector<std::string> previews = FirstCheck(imap4, user, mails.size());
        ASSERT_EQ(previews.size(), mails.size());
        for (std::size_t k = 0; k < mails.size(); ++k)
            EXPECT_EQ(previews[k], mails[k].Preview) << (imap4 ? "IMAP4, " : "POP3, ") << mails[k].What;
    }
}

// Only the shown messages are read further (the oldest and the newest
// fetched), and no further than the bound: one whose text lies past it, and
// one not shown, have none.
TEST_F(PreviewDovecot, OnlyShownMessagesAreReadFurtherAndOnlyToTheBound)
{
    const std::string user = NewMailbox();
    const std::string fields = "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n";
    const std::pair<std::size_t, const char*> mails[] = {
        {8000, "First"}, {PreviewFurtherBytes + 100, "Past the bound"}, {8000, "Not shown"}, {8000, "Fourth"},
        {8000, "Last"}};
    int n = 0;
    for (const auto& [head, text] : mails)
        Server->Deliver(user, Message(++n, {text, fields, LargeHead(head, text), ""}));
    for (const bool imap4 : {false, true})
        EXPECT_EQ(FirstCheck(imap4, user, 2), (std::vector<std::string>{"First", "", "", "Fourth", "Last"})) << imap4;
}

} // namespace
