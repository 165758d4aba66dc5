// A check loads only the sender, subject and priority, and what a message is
// known by (its Message-ID, else its date); what it shows must be what a full
// load gives, and the fields it skips stay cleared.
#include "mail/IdMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

struct Header
{
    const char* Name;
    std::vector<std::string> Lines;
};

const Header kHeaders[] = {
    {"Plain", {"From: Ann <ann@example.org>", "Subject: Hello", "To: bob@example.org"}},
    {"Encoded", {"From: =?ISO-8859-1?Q?J=F6rg?= <j@example.org>", "Subject: =?KOI8-R?B?8NLJ18XU?=",
                 "X-Priority: 1 (Highest)"}},
    {"Folded", {"Subject: Hello,", "\tworld", "From: a@b.c,", " d@e.f", "Priority: urgent", "X-Priority: 5"}},
    {"UnparsableSender", {"From: <a@b.c> d@e.f", "Subject: =?ISO-8859-1?Q?=ZZ?=", "X-Priority: 0"}},
    {"NoSender", {"Subject: only", "Date: Mon, 7 Dec 2026 10:00:00 +0100", "X-Priority: 6"}},
    {"Identity", {"Message-ID: <1@example.org>", "Date: Mon, 7 Dec 2026 10:00:00 +0100", "Subject: s"}},
    {"Empty", {}},
};

class CheckFields : public testing::TestWithParam<Header>
{
};

TEST_P(CheckFields, ShowWhatAFullLoadShows)
{
    TIdMessage full;
    full.HeaderLines.Lines = GetParam().Lines;
    full.LoadFromHeaderLines();

    TIdMessage check;
    check.CheckFieldsOnly = true;
    check.HeaderLines.Lines = GetParam().Lines;
    check.LoadFromHeaderLines();

    EXPECT_EQ(check.Subject, full.Subject);
    EXPECT_EQ(check.FromText(), full.FromText());
    EXPECT_EQ(check.UnparsedFrom, full.UnparsedFrom);
    EXPECT_EQ(check.FromList.Count(), full.FromList.Count());
    EXPECT_EQ(check.Priority, full.Priority);
    // A fingerprint without them took two mails of one sender, subject and
    // size for one.
    EXPECT_EQ(check.MessageId, full.MessageId);
    if (full.MessageId.empty())
        EXPECT_EQ(check.Date, full.Date);
}

INSTANTIATE_TEST_SUITE_P(Headers, CheckFields, testing::ValuesIn(kHeaders),
                         [](const testing::TestParamInfo<Header>& info) { return std::string(info.param.Name); });

TEST(CheckFields, SkippedFieldsStayClearedAndTheSettingOutlivesAClear)
{
    TIdMessage m;
    m.CheckFieldsOnly = true;
    m.HeaderLines.Lines = {"From: a@b.c", "To: d@e.f", "Cc: g@h.i", "Date: Mon, 7 Dec 2026 10:00:00 +0100",
                           "Content-Type: text/plain; charset=utf-8", "Message-Id: x@y", "Subject: s"};
    m.LoadFromHeaderLines();
    EXPECT_EQ(m.Subject, "s");
    EXPECT_EQ(m.Recipients.Count(), 0u);
    EXPECT_EQ(m.CCList.Count(), 0u);
    EXPECT_EQ(m.Date, 0); // the Message-ID is enough
    EXPECT_EQ(m.MessageId, "<x@y>");
    EXPECT_EQ(m.CharSet, "");

    // A fetch clears the message before it loads it again.
    m.ClearMessage();
    EXPECT_TRUE(m.CheckFieldsOnly);
    m.CheckFieldsOnly = false;
    m.HeaderLines.Lines = {"To: d@e.f", "Message-Id: x@y"};
    m.LoadFromHeaderLines();
    EXPECT_EQ(m.Recipients.Count(), 1u);
    EXPECT_EQ(m.MessageId, "<x@y>");
}

} // namespace
