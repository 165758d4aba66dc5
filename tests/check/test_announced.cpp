#include "check/Announced.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{

Account Pop3(const std::string& user)
{
    Account a;
    a.UserName = user;
    a.Host = "mail.example.org";
    return a;
}

TEST(Announced, KeyIsTheLoginNotTheCaption)
{
    Account a = Pop3("ann");
    const std::string key = TAnnounced::KeyOf(a);
    a.Caption = "Renamed";
    EXPECT_EQ(TAnnounced::KeyOf(a), key);
    for (auto change : {+[](Account& x) { x.IMAP4 = true; }, +[](Account& x) { x.Port = "995"; },
                        +[](Account& x) { x.Host = "other"; }, +[](Account& x) { x.UserName = "bob"; }})
    {
        Account b = Pop3("ann");
        change(b);
        EXPECT_NE(TAnnounced::KeyOf(b), key);
    }
}

TEST(Announced, TextFormKeepsEveryByteAndSkipsWhatItCannotRead)
{
    TAnnounced memory;
    const std::string key = TAnnounced::KeyOf(Pop3("j\xC3\xBCrgen 100%\n"));
    memory.Add(key, "u:AB%cd");
    memory.Add(key, "i:7:42");
    memory.Add("other", "x");
    const TAnnounced read = TAnnounced::Parse(memory.Serialize());
    EXPECT_TRUE(read.Contains(key, "u:AB%cd"));
    EXPECT_TRUE(read.Contains(key, "i:7:42"));
    EXPECT_TRUE(read.Contains("other", "x"));
    EXPECT_FALSE(read.Contains("other", "i:7:42"));
    EXPECT_EQ(read.Serialize(), memory.Serialize());

    const TAnnounced broken = TAnnounced::Parse("no account yet\n= ok\nid1\nbad %G1\n%4\n= \n\x01\nid2\n= ok\nid3");
    EXPECT_TRUE(broken.Contains("ok", "id1"));
    EXPECT_TRUE(broken.Contains("ok", "id3"));
    EXPECT_FALSE(broken.Contains("ok", "id2")) << "the id under a key that could not be read";
}

TEST(Announced, KeepsTheLatestPerAccountAndOnlyConfiguredAccounts)
{
    TAnnounced memory;
    for (std::size_t i = 0; i <= TAnnounced::MaxPerAccount; ++i)
        memory.Add("a", std::to_string(i));
    // Known already: it is the latest again, so a message still listed
    // outlives newer ones that came and went.
    memory.Add("a", "1");
    memory.Add("a", "new");
    EXPECT_FALSE(memory.Contains("a", "0"));
    EXPECT_FALSE(memory.Contains("a", "2"));
    EXPECT_TRUE(memory.Contains("a", "1"));
    EXPECT_TRUE(memory.Contains("a", std::to_string(TAnnounced::MaxPerAccount)));
    memory.Add("b", "x");
    memory.Retain({"b"});
    EXPECT_FALSE(memory.Contains("a", "1"));
    EXPECT_TRUE(memory.Contains("b", "x"));
}

TEST(Announced, FileIsPrivateAndAMissingOneIsAnEmptyMemory)
{
    TempFolder home{"announced"};
    const std::string path = home.Path() + "/state/ternbell/announced";
    EXPECT_TRUE(TAnnounced::Load(path).Empty());
    TAnnounced memory;
    memory.Add("k", "id");
    memory.Save(path);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(TAnnounced::Load(path).Contains("k", "id"));
}

} // namespace
