#include "platform/CodePage.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace
{

// "Grüße" in UTF-8 and in each charset that holds it.
const std::string GruesseUtf8 = "Gr\xC3\xBC\xC3\x9F" "e";

struct Sample
{
    const char* Charset;
    std::string Bytes;
};

// More charsets than a thread keeps converters for, so that walking them
// twice reopens the ones that were dropped.
const std::vector<Sample>& Samples()
{
    static const std::vector<Sample> all = {
        {"ISO-8859-1", "Gr\xFC\xDF" "e"},  {"ISO-8859-2", "Gr\xFC\xDF" "e"},  {"ISO-8859-3", "Gr\xFC\xDF" "e"},
        {"ISO-8859-4", "Gr\xFC\xDF" "e"},  {"ISO-8859-9", "Gr\xFC\xDF" "e"},  {"ISO-8859-10", "Gr\xFC\xDF" "e"},
        {"ISO-8859-13", "Gr\xFC\xDF" "e"}, {"ISO-8859-14", "Gr\xFC\xDF" "e"}, {"ISO-8859-15", "Gr\xFC\xDF" "e"},
        {"ISO-8859-16", "Gr\xFC\xDF" "e"}, {"CP1250", "Gr\xFC\xDF" "e"},      {"CP1252", "Gr\xFC\xDF" "e"},
        {"CP1254", "Gr\xFC\xDF" "e"},      {"CP1257", "Gr\xFC\xDF" "e"},      {"CP850", "Gr\x81\xE1" "e"},
        {"CP437", "Gr\x81\xE1" "e"},       {"MACINTOSH", "Gr\x9F\xA7" "e"},   {"UTF-16BE", std::string("\0G\0r\0\xFC\0\xDF\0e", 10)},
        {"UTF-8", GruesseUtf8},
    };
    return all;
}

TEST(CodePage, ConvertsAcrossMoreCharsetsThanAreKeptOpen)
{
    ASSERT_GT(Samples().size(), 16u);
    for (int pass = 0; pass < 3; ++pass)
    {
        for (const Sample& s : Samples())
        {
            std::string out;
            EXPECT_TRUE(ConvertCharset(s.Bytes, s.Charset, "UTF-8", out)) << s.Charset << " pass " << pass;
            EXPECT_EQ(out, GruesseUtf8) << s.Charset << " pass " << pass;
            EXPECT_TRUE(ConvertCharset(GruesseUtf8, "UTF-8", s.Charset, out)) << s.Charset;
            EXPECT_EQ(out, s.Bytes) << s.Charset << " pass " << pass;
        }
    }
}

TEST(CodePage, UnknownCharsetFailsEveryTime)
{
    for (int i = 0; i < 3; ++i)
    {
        std::string out = "left over";
        EXPECT_FALSE(ConvertCharset("abc", "X-NO-SUCH-CHARSET", "UTF-8", out));
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(ConvertCharset("abc", "UTF-8", "X-NO-SUCH-CHARSET", out));
        EXPECT_TRUE(out.empty());
        // A known pair right after still works.
        EXPECT_TRUE(ConvertCharset("abc", "ASCII", "UTF-8", out));
        EXPECT_EQ(out, "abc");
    }
}

// A converter reused after a failed or stateful conversion starts clean:
// every call gives what a fresh converter would.
TEST(CodePage, ReusedConverterStartsFromItsInitialState)
{
    // "日本" in UTF-8 and in ISO-2022-JP, which shifts in and out.
    const std::string nihonUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC";
    const std::string nihonJis = "\x1B$BF|K\\\x1B(B";
    for (int i = 0; i < 3; ++i)
    {
        std::string out;
        EXPECT_TRUE(ConvertCharset(nihonUtf8, "UTF-8", "ISO-2022-JP", out));
        EXPECT_EQ(out, nihonJis) << "call " << i;
        // Input that stops in the double-byte set must not leave it set.
        EXPECT_TRUE(ConvertCharset("\x1B$BF|", "ISO-2022-JP", "UTF-8", out));
        EXPECT_EQ(out, "\xE6\x97\xA5");
        EXPECT_TRUE(ConvertCharset("F|", "ISO-2022-JP", "UTF-8", out));
        EXPECT_EQ(out, "F|") << "call " << i;
    }
    // A byte order mark comes with every conversion, not only the first.
    std::string first;
    std::string second;
    EXPECT_TRUE(ConvertCharset("ab", "UTF-8", "UTF-16", first));
    EXPECT_TRUE(ConvertCharset("ab", "UTF-8", "UTF-16", second));
    EXPECT_EQ(first.size(), 6u);
    EXPECT_EQ(first, second);
}

TEST(CodePage, InvalidInputIsReportedAndLeftOutEachTime)
{
    for (int i = 0; i < 2; ++i)
    {
        std::string out;
        EXPECT_FALSE(ConvertCharset("a\xFF" "b", "UTF-8", "CP1252", out));
        EXPECT_EQ(out, "ab");
        // The same pair right after a failure converts clean input cleanly.
        EXPECT_TRUE(ConvertCharset("a\xC3\xA9", "UTF-8", "CP1252", out));
        EXPECT_EQ(out, "a\xE9");
    }
}

// Each thread converts with its own converters: no output mixes with
// another thread's.
TEST(CodePage, ThreadsConvertTheSamePairsAtOnce)
{
    constexpr int Threads = 4;
    std::vector<int> wrong(Threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
    {
        workers.emplace_back([t, &wrong] {
            // Each thread its own text, long enough to be caught mid-way.
            const std::string utf8 = std::string(static_cast<std::size_t>(200 + t * 37), 'a' + static_cast<char>(t))
                                     + GruesseUtf8;
            const std::string latin = utf8.substr(0, utf8.size() - GruesseUtf8.size()) + "Gr\xFC\xDF" "e";
            for (int i = 0; i < 2000; ++i)
            {
                std::string out;
                if (!ConvertCharset(utf8, "UTF-8", "CP1252", out) || out != latin)
                    ++wrong[static_cast<std::size_t>(t)];
                if (!ConvertCharset(latin, "CP1252", "UTF-8", out) || out != utf8)
                    ++wrong[static_cast<std::size_t>(t)];
            }
        });
    }
    for (std::thread& w : workers)
        w.join();
    for (int t = 0; t < Threads; ++t)
        EXPECT_EQ(wrong[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

// A locale's code page is its own character set. A locale that is not
// installed is taken at its name's word; C, and a name that says nothing or
// names no known set, give UTF-8.
TEST(CodePage, IsTheLocalesOwnCharacterSet)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C.UTF-8", "UTF-8"}, {"de_DE.ISO-8859-1", "ISO-8859-1"}, {"C", "UTF-8"},
        {"xx_XX.utf8", "UTF-8"}, {"xx_XX.EUC-JP@x", "EUC-JP"}, {"xx_XX.NO-SUCH-SET", "UTF-8"},
    };
    for (const auto& [locale, page] : cases)
        EXPECT_EQ(CodePageOfLocale(locale), page) << locale;
    ScopedEnvironment env("LC_ALL", "ru_RU.KOI8-R");
    EXPECT_EQ(CodePageOfLocale(""), "KOI8-R") << "the environment's locale";
}

TEST(CodePage, CutsOnlyBetweenCharacters)
{
    struct Case
    {
        const char* Page;
        std::string Text;
        std::size_t Limit;
        std::string Kept;
    };
    const Case cases[] = {
        {"UTF-8", "a\xE2\x82\xAC" "b", 3, "a"},                  // the euro sign is not split
        {"UTF-8", "\xF0\x9F\x8E\x89\xF0\x9F\x8E\x89", 7, "\xF0\x9F\x8E\x89"}, // nor an emoji
        {"UTF-8", "\xFF\xFE" "abc", 3, "\xFF\xFE" "a"},            // a stray byte is one of its own
        {"EUC-JP", "\xA4\xA2\xA4\xA4\xA4\xA6", 5, "\xA4\xA2\xA4\xA4"},
        {"ISO-8859-1", "\xE9\xE9\xE9", 2, "\xE9\xE9"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CutAtCharacter(c.Text, c.Limit, c.Page), c.Kept) << c.Page << " " << c.Limit;
}

} // namespace
