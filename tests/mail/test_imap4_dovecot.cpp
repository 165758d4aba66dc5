// The IMAP4 client's login and batched header fetch against a private
// Dovecot (the cycle's tests and Delete's cover the other mailbox commands
// there).
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"
#include "support/Dovecot.h"
#include "support/DovecotFixture.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace
{

using State = TIdIMAP4ConnectionState;

const std::string OddPassword = "pa ss\"wo\\rd (x)";

// Passwords beyond ASCII as stored on the server and as typed: UTF-8, and
// one stored as an old desktop sent it, in Windows-1252.
const std::tuple<const char*, std::string, std::string> EightBitUsers[] = {
    {"umlauts", "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC", "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC"},
    {"omega", "\xCE\xA9", "\xCE\xA9"},
    {"cyrillic", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C"},
    {"quoting", "p\xC3\xA4 ss\"w\\rd", "p\xC3\xA4 ss\"w\\rd"},
    {"old", "p\xE4ssw\xF6rd-\x80", "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC"},
};

// One server for all tests; each test has its own user.
class Imap4Dovecot : public DovecotFixture<>
{
public:
    static void SetUpTestSuite()
    {
        DovecotFixture::SetUpTestSuite();
        if (!Server)
            return;
        for (const char* user : {"plain", "odd", "batch", "idle", "bounce"})
            NewMailbox(std::string(user) == "odd" ? OddPassword : "secret", user);
        for (const auto& [user, stored, typed] : EightBitUsers)
            NewMailbox(stored, user);
    }

protected:
    void Aim(const std::string& user, const std::string& password = "secret")
    {
        AimAt(Imap, Server->ImapPort(), user, password);
        Imap.ConnectTimeout = 5000;
        Imap.ReadTimeout = 5000;
    }

    TIdIMAP4 Imap;
};

TEST_F(Imap4Dovecot, RightAndWrongPassword)
{
    Aim("plain");
    EXPECT_TRUE(Imap.Connect(true));
    EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
    EXPECT_TRUE(Imap.HasCapability("IMAP4rev1"));
    EXPECT_TRUE(Imap.HasCapability("IDLE")); // named after the login only
    EXPECT_EQ(Imap.CommandCounter, 1); // LOGIN: its answer names the capabilities
    EXPECT_TRUE(Imap.SelectMailbox("inbox"));
    EXPECT_EQ(Imap.MailBox.ExistsCount, 0);
    EXPECT_TRUE(Imap.CloseMailbox());
    EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
    Imap.Disconnect();
    EXPECT_FALSE(Imap.Connected());

    Aim("plain", "wrong");
    EXPECT_TRUE(Imap.Connect(true));
    EXPECT_EQ(Imap.ConnectionState, State::NonAuthenticated);
    EXPECT_THROW(Imap.SelectMailbox("inbox"), EIdConnectionStateError);
    Imap.Disconnect();
}

TEST_F(Imap4Dovecot, PasswordWithSpaceQuoteBackslashAndParentheses)
{
    Aim("odd", OddPassword);
    Imap.Connect(true);
    EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
    EXPECT_TRUE(Imap.SelectMailbox("inbox"));
    Imap.Disconnect();
}

// Beyond ASCII, LOGIN sends a literal of the UTF-8 bytes, AUTHENTICATE PLAIN
// their base64; the Windows-1252 form only after a refusal.
TEST_F(Imap4Dovecot, PasswordsBeyondAscii)
{
    for (const bool sasl : {false, true})
    {
        for (const auto& [user, stored, typed] : EightBitUsers)
        {
            SCOPED_TRACE(std::string(user) + (sasl ? " AUTHENTICATE PLAIN" : " LOGIN"));
            Aim(user, typed);
            Imap.AuthType = sasl ? TIdIMAP4AuthenticationType::atSASL : TIdIMAP4AuthenticationType::atUserPass;
            Imap.SASLMechanisms = {"PLAIN"};
            Imap.CredentialCharset = ccUTF8;
            Imap.Connect(true);
            EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
            EXPECT_EQ(Imap.CredentialCharset, std::string(user) == "old" ? ccWindows1252 : ccUTF8);
            // The logins alone: the accepted one's answer names the capabilities.
            EXPECT_EQ(Imap.CommandCounter, std::string(user) == "old" ? 2 : 1);
            EXPECT_TRUE(Imap.SelectMailbox("inbox"));
            Imap.Disconnect();
        }
    }
}

TEST_F(Imap4Dovecot, BatchedFetchReadsEveryHeaderAndSetsNoSeenFlag)
{
    const std::vector<std::string> subjects = {"first", "second", "third"};
    std::vector<std::string> raws;
    for (const std::string& subject : subjects)
        Server->Deliver("batch", raws.emplace_back("Subject: " + subject + "\r\n\r\nbody of " + subject + "\r\n"));
    Server->DeliverSeen("batch", "Subject: read\r\n\r\nold\r\n");

    // The unseen UIDs and UIDVALIDITY, in a session of their own each time.
    const auto session = [&](std::vector<std::uint32_t>& hits) {
        Aim("batch");
        Imap.Connect(true);
        TIdIMAP4SearchRec unseen;
        unseen.SearchKey = skUnseen;
        EXPECT_TRUE(Imap.SelectMailbox("inbox") && Imap.UIDSearchMailbox({unseen}));
        hits = Imap.MailBox.SearchHits;
        return Imap.MailBox.UIDValidity;
    };
    std::vector<std::uint32_t> hits;
    const std::uint32_t validity = session(hits);
    EXPECT_NE(validity, 0u);
    ASSERT_EQ(hits.size(), 3u);
    std::vector<TIdIMAP4FetchedHeader> out;
    EXPECT_TRUE(Imap.UIDFetchHeadersAndSizes(hits, out, 2));
    ASSERT_EQ(out.size(), 3u);
    for (std::size_t i = 0; i < out.size(); ++i)
    {
        EXPECT_EQ(out[i].UID, static_cast<std::uint32_t>(hits[i]));
        EXPECT_EQ(out[i].Size, static_cast<long long>(raws[i].size()));
        EXPECT_EQ(out[i].Message.Subject, subjects[i]);
    }
    Imap.Disconnect();

    std::vector<std::uint32_t> again;
    EXPECT_EQ(session(again), validity);
    EXPECT_EQ(again, hits);
    Imap.Disconnect();
}

// A bounce with megabytes of "Received" lines, fetched alone as Delete does:
// read to its end, its fields found after them (the check's batch is the
// cycle's test).
TEST_F(Imap4Dovecot, HeaderPastTheCapsIsReadToItsEnd)
{
    Server->Deliver("bounce", MailAfterReceivedLines(1800000, "Subject: Undelivered\r\nMessage-ID: <b@example.net>\r\n"
                                                              "Date: Mon, 7 Dec 2026 20:41:28 +0000\r\n"));
    Aim("bounce");
    Imap.Connect(true);
    ASSERT_TRUE(Imap.SelectMailbox("inbox"));
    TIdMessage message;
    EXPECT_TRUE(Imap.FetchHeader(1, message));
    EXPECT_EQ(message.Subject, "Undelivered");
    EXPECT_EQ(message.MessageId, "<b@example.net>");
    EXPECT_NE(message.Date, 0);
    EXPECT_EQ(message.HeaderLines[0].rfind("Received: from relay0.", 0), 0u);
    Imap.Disconnect();
}

TEST_F(Imap4Dovecot, MessageDeliveredWhileIdlingIsNewsWithinSeconds)
{
    Aim("idle");
    Imap.Connect(true);
    ASSERT_TRUE(Imap.SupportsIdle());
    ASSERT_TRUE(Imap.SelectMailbox("inbox"));
    // Twice: the second IDLE after DONE hears of the next message too.
    for (const char* subject : {"first", "second"})
    {
        SCOPED_TRACE(subject);
        ASSERT_TRUE(Imap.IdleStart());
        EXPECT_FALSE(Imap.IdleWait(0));
        Server->Deliver("idle", std::string("Subject: ") + subject + "\r\n\r\nbody\r\n");
        EXPECT_TRUE(Imap.IdleWait(10000));
        Imap.IdleDone();
        EXPECT_EQ(Imap.ConnectionState, State::Selected);
    }
    EXPECT_TRUE(Imap.SearchMailbox({TIdIMAP4SearchRec{0, 0, "", skUnseen}}));
    EXPECT_EQ(Imap.MailBox.SearchHits, (std::vector<std::uint32_t>{1, 2}));
    Imap.Disconnect();
}

} // namespace

namespace
{

// A Dovecot with folders, special-use marks and the list index.
class Imap4FoldersDovecot : public DovecotFixture<>
{
public:
    static void SetUpTestSuite() { StartSuite({.Folders = true}); }

protected:
    void SetUp() override
    {
        DovecotFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        User = NewMailbox();
        for (const char* folder : {"Lists", "Lists/dev", "Junk", "Trash", "Entw\xC3\xBCrfe"})
            Server->CreateFolder(User, folder);
        Server->DeliverTo(User, "Lists", "Subject: list mail\r\n\r\nx\r\n");
        AimAt(Imap, Server->ImapPort(), User);
        Imap.ReadTimeout = 5000;
        Imap.Connect(true);
    }

    std::string User;
    TIdIMAP4 Imap;
};

// What the server announces only once logged in is read then.
TEST_F(Imap4FoldersDovecot, FolderListWithSpecialUseAndCapabilitiesAfterLogin)
{
    for (const char* capability : {"LIST-STATUS", "SPECIAL-USE", "NOTIFY"})
        EXPECT_TRUE(Imap.HasCapability(capability)) << capability;
    std::vector<TIdIMAP4Folder> folders;
    ASSERT_TRUE(Imap.ListFolders(folders));
    std::vector<std::string> names, special;
    for (const TIdIMAP4Folder& f : folders)
    {
        names.push_back(f.Name);
        if (f.SpecialUse())
            special.push_back(f.Name);
        EXPECT_EQ(f.Delimiter, '/') << f.Name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Entw&APw-rfe", "INBOX", "Junk", "Lists", "Lists/dev", "Trash"}));
    std::sort(special.begin(), special.end());
    EXPECT_EQ(special, (std::vector<std::string>{"Junk", "Trash"}));
    Imap.Disconnect();
}

// The states of several folders in one command, or with STATUS pipelined
// where LIST-STATUS is not offered; a folder that is not there is not found.
TEST_F(Imap4FoldersDovecot, FolderStatesInOneCommandOrPipelined)
{
    const std::vector<std::string> names = {"INBOX", "Lists", "Entw\xC3\xBCrfe", "Gone"};
    for (const bool listStatus : {true, false})
    {
        SCOPED_TRACE(listStatus ? "LIST-STATUS" : "STATUS");
        if (!listStatus)
            Imap.ServerCapabilities.erase(
                std::find(Imap.ServerCapabilities.begin(), Imap.ServerCapabilities.end(), "LIST-STATUS"));
        const int before = Imap.CommandCounter;
        std::vector<TIdIMAP4MailboxStatus> states;
        Imap.FolderStates(names, states);
        EXPECT_EQ(Imap.CommandCounter - before, listStatus ? 1 : 4);
        ASSERT_EQ(states.size(), 4u);
        EXPECT_TRUE(states[0].Found);
        EXPECT_EQ(states[0].State.Messages, 0u);
        EXPECT_TRUE(states[1].Found);
        EXPECT_EQ(states[1].State.Messages, 1u);
        EXPECT_EQ(states[1].State.Unseen, 1u);
        EXPECT_EQ(states[1].State.UIDNext, 2u);
        EXPECT_NE(states[1].State.UIDValidity, 0u);
        EXPECT_TRUE(states[2].Found);
        EXPECT_FALSE(states[3].Found);
        EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
    }
    Imap.Disconnect();
}

// Under NOTIFY one idling line hears of mail filed into another watched
// folder; mail into a folder it was not told of leaves it quiet.
TEST_F(Imap4FoldersDovecot, NotifyTellsOfMailFiledIntoAnotherWatchedFolder)
{
    ASSERT_TRUE(Imap.SelectMailbox("INBOX"));
    ASSERT_TRUE(Imap.NotifySet({"INBOX", "Lists", "Entw\xC3\xBCrfe"}, "INBOX")) << Imap.LastReply().Code;
    ASSERT_TRUE(Imap.IdleStart());
    Server->DeliverTo(User, "Junk", "Subject: spam\r\n\r\nx\r\n");
    EXPECT_FALSE(Imap.IdleWait(500));
    Server->DeliverTo(User, "Lists", "Subject: filed\r\n\r\nx\r\n");
    EXPECT_TRUE(Imap.IdleWait(5000));
    Imap.IdleDone();
    Imap.Disconnect();
}

} // namespace

