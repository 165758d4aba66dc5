// Every client the check and Delete drive is aimed with its session limits.
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "notify/Imap4DeleteClient.h"
#include "notify/Pop3DeleteClient.h"

#include <gtest/gtest.h>

namespace
{

template <typename TSession, typename TClient>
struct Kind
{
    using Session = TSession;
    using Client = TClient;
};

template <typename TKind>
class SessionLimits : public testing::Test
{
};

using Kinds = testing::Types<Kind<TPop3CheckClient, TIdPOP3>, Kind<TImap4CheckClient, TIdIMAP4>,
                             Kind<TPop3DeleteClient, TIdPOP3>, Kind<TImap4DeleteClient, TIdIMAP4>>;
TYPED_TEST_SUITE(SessionLimits, Kinds);

// The program's own limits: 10 s to connect, 30 s a read, and no session
// longer than one account's check; the owner may change them between sessions.
TYPED_TEST(SessionLimits, AreHandedOverAtEachSetAccount)
{
    typename TypeParam::Client client;
    typename TypeParam::Session session(client);
    const Account account{"Caption", true, "ann", "pw", "mail.example.org", "110"};
    session.SetAccount(account, 110);
    EXPECT_EQ(client.ConnectTimeout, 10000);
    EXPECT_EQ(client.ReadTimeout, 30000);
    EXPECT_EQ(client.OperationTimeout, AccountCheckTimeout);

    session.ReadTimeout = 400;
    session.OperationTimeout = 800;
    session.SetAccount(account, 110);
    EXPECT_EQ(client.ReadTimeout, 400);
    EXPECT_EQ(client.OperationTimeout, 800);
}

} // namespace
