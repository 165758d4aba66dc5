// Delete of IMAP4 rows from the notification window, against scripted servers:
// what Dovecot does not show (a server without UIDPLUS, a refused login).

#include "check/MessageList.h"
#include "check/Utils.h"
#include "mail/Imap4Client.h"
#include "notify/Imap4DeleteClient.h"
#include "notify/NewMailController.h"
#include "notify/NewMailForm.h"
#include "desktop/Dialogs.h"
#include "platform/Exception.h"
#include "support/ScriptedServer.h"

#include <QAction>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

namespace
{

const std::string Login = R"(
    S: * OK ready
    C: C1 LOGIN ann pw
    S: C1 OK in
    C: C2 CAPABILITY
    S: * CAPABILITY IMAP4rev1
    S: C2 OK done
)";

class Imap4DeleteTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetMessageAnswerer([this](const TMessageRequest& request) {
            Asked.push_back(request);
            return TModalResult::mrYes;
        });
        Form = std::make_unique<TfrmNewMail>();
        Rows = &Form->Rows();
    }
    void TearDown() override { SetMessageAnswerer({}); }

    void Start(const ScriptedServer& srv)
    {
        Ann = {"ann", true, "ann", "pw", srv.Host(), std::to_string(srv.Port()), true};
        std::vector<Account> accounts{Ann};
        TNewMailEnvironment env;
        env.Accounts = [accounts] { return accounts; };
        env.CheckNow = [this] { Rows->Clear(), ++Checks; };
        env.popMail = &Unused;
        env.imaMail = &Client;
        Client.ReadTimeout = 2000;
        new TNewMailController(*Form, std::move(env)); // owned by the form
    }

    void Add(const std::string& subject, bool selected, const std::string& mailbox = "INBOX",
             const std::string& id = {})
    {
        TMessageRow row{"ann", {"a@example.org", subject, HumanSize(100)}, riMessage, false, {}, id, {}};
        row.Key = PlaceOfAccount(Ann).Key;
        row.Mailbox = mailbox;
        Rows->Append(row);
        Form->lvwMessages->topLevelItem(Rows->Count() - 1)->setSelected(selected);
    }

    Account Ann;
    TIdIMAP4 Imap;
    TImap4DeleteClient Client{Imap};
    TIdIMAP4 UnusedImap;
    TImap4DeleteClient Unused{UnusedImap};
    std::unique_ptr<TfrmNewMail> Form;
    TMessageList* Rows = nullptr;
    std::vector<TMessageRequest> Asked;
    int Checks = 0;
};

TEST_F(Imap4DeleteTest, WithoutUidplusTheMessageStaysMarkedAndTheUserIsTold)
{
    ScriptedServer srv(Login + R"(
        C: C3 SELECT "INBOX"
        S: * 2 EXISTS
        S: C3 OK [READ-WRITE] done
        C: C4 UID SEARCH UNSEEN
        S: * SEARCH 11 12
        S: C4 OK done
        C: C5 UID FETCH 12 (RFC822.HEADER)
        S: * 2 FETCH (UID 12 RFC822.HEADER {35}
        R: From: a@example.org\r\nSubject: s\r\n\r\n
        S: )
        S: C5 OK done
        C: C6 UID FETCH 12 (RFC822.SIZE)
        S: * 2 FETCH (UID 12 RFC822.SIZE 100)
        S: C6 OK done
        C: C7 UID STORE 12 +FLAGS.SILENT (\Deleted)
        S: C7 OK done
        C: C8 LOGOUT
        S: * BYE
        S: C8 OK bye
    )");
    Start(srv);
    Add("other", false);
    Add("s", true);
    Form->actDelete->trigger();
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_TRUE(srv.Ok());
    // Neither EXPUNGE nor CLOSE: they would remove what others marked.
    EXPECT_EQ(srv.ReceivedAfterScript(), "");
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Asked[1].Type, TMsgDlgType::mtInformation);
    EXPECT_EQ(Checks, 1);
}

// Rows of two folders go in one session, each by its UID in its own folder:
// the same UID in another folder is another message.
TEST_F(Imap4DeleteTest, EachMessageIsDeletedInItsOwnFolder)
{
    std::string script = R"(
        S: * OK ready
        C: C1 LOGIN ann pw
        S: C1 OK in
        C: C2 CAPABILITY
        S: * CAPABILITY IMAP4rev1 UIDPLUS
        S: C2 OK done
    )";
    int tag = 3;
    for (const auto& [mailbox, validity] : {std::pair{"INBOX", 7}, std::pair{"Lists", 9}})
    {
        const auto t = [&tag] { return "C" + std::to_string(tag); };
        script += "C: " + t() + " SELECT \"" + mailbox + "\"\nS: * OK [UIDVALIDITY " + std::to_string(validity) +
                  "] ok\nS: " + t() + " OK [READ-WRITE] done\n";
        ++tag;
        script += "C: " + t() + " UID SEARCH UNSEEN\nS: * SEARCH 11\nS: " + t() + " OK done\n";
        ++tag;
        script += "C: " + t() + " UID STORE 11 +FLAGS.SILENT (\\Deleted)\nS: " + t() + " OK done\n";
        ++tag;
        script += "C: " + t() + " UID EXPUNGE 11\nS: " + t() + " OK done\n";
        ++tag;
    }
    script += "C: C11 LOGOUT\nS: * BYE\nS: C11 OK bye\n";
    ScriptedServer srv(script);
    Start(srv);
    Add("in the inbox", true, "INBOX", "i:7:11");
    Add("in a list", true, "Lists", "i:9:11");
    Form->actDelete->trigger();
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_TRUE(srv.Ok());
    EXPECT_EQ(srv.ReceivedAfterScript(), "");
    EXPECT_EQ(Checks, 1);
}

TEST_F(Imap4DeleteTest, RefusedLoginStopsBeforeAnythingIsTouched)
{
    ScriptedServer srv(R"(
        S: * OK ready
        C: C1 LOGIN ann pw
        S: C1 NO wrong
    )");
    Start(srv);
    Add("s", true);
    EXPECT_THROW(Form->actDelete->trigger(), Exception);
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_EQ(srv.ReceivedAfterScript(), "");
    EXPECT_FALSE(Imap.Connected());
    EXPECT_EQ(Checks, 0);
}

} // namespace
