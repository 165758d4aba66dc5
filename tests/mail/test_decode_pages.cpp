// Encoded words of single-byte charsets are converted into the code page
// byte by byte; the result must be what iconv gives for the whole word,
// whatever order and number of charsets the words come in.
#include "mail/EncodedWords.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace
{

std::string QEncoded(const std::string& bytes)
{
    std::string out;
    char hex[4];
    for (char c : bytes)
    {
        std::snprintf(hex, sizeof hex, "=%02X", static_cast<unsigned char>(c));
        out += hex;
    }
    return out;
}

// Every byte from 0xA0 up, and some ASCII around them.
std::string HighBytes()
{
    std::string bytes = "a";
    for (int b = 0xA0; b <= 0xFF; ++b)
        bytes += static_cast<char>(b);
    return bytes + "z";
}

// The word's bytes through iconv in one piece, kept as they are when a byte
// does not convert.
std::string WholeWord(const std::string& bytes, const std::string& charset, const std::string& page)
{
    std::string out;
    return ConvertCharset(bytes, charset, page + "//TRANSLIT", out) ? out : bytes;
}

// More charsets than a thread keeps tables or labels for, walked twice, into two
// code pages.
TEST(DecodePages, SingleByteWordsConvertAsTheWholeWordWould)
{
    const std::vector<std::string> charsets = {
        "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4", "ISO-8859-5",   "ISO-8859-7", "ISO-8859-13",
        "ISO-8859-15", "ISO-8859-16", "KOI8-R",     "KOI8-U",       "windows-1250", "windows-1251",
        "windows-1253", "windows-1257",
    };
    const std::string bytes = HighBytes();
    for (int pass = 0; pass < 2; ++pass)
    {
        for (const char* page : {"CP1251", "CP1250"})
        {
            for (const std::string& cs : charsets)
            {
                // iconv knows windows-125x as CP125x.
                const std::string iconvName =
                    cs.rfind("windows-", 0) == 0 ? "CP" + cs.substr(8) : cs;
                const std::string word = "=?" + cs + "?Q?" + QEncoded(bytes) + "?=";
                EXPECT_EQ(DecodeEncodedWords(word, page), WholeWord(bytes, iconvName, page))
                    << cs << " into " << page << ", pass " << pass;
            }
        }
    }
}

struct PageRow
{
    const char* Name;
    const char* Page;
    std::string Input;
    std::string Expected;
};

void PrintTo(const PageRow& row, std::ostream* os)
{
    *os << row.Name;
}

class DecodePageRows : public testing::TestWithParam<PageRow>
{
};

TEST_P(DecodePageRows, Converts)
{
    EXPECT_EQ(DecodeEncodedWords(GetParam().Input, GetParam().Page), GetParam().Expected);
}

const PageRow kRows[] = {
    // 0x81 has no character in windows-1252: the word's bytes stay.
    {"ByteUndefinedInCharsetKeepsWord", "CP1251", "=?windows-1252?Q?a=81b?=", "a\x81" "b"},
    {"EuroBetweenCodePages", "CP1251", "=?windows-1252?Q?=80?=", "\x88"},
    {"SameWordTwiceInOneText", "CP1251", "=?KOI8-R?Q?=F0?= x =?KOI8-R?Q?=F0?=", "\xCF x \xCF"},
    // A code page of several bytes per character.
    {"Koi8IntoCp932", "CP932", "=?KOI8-R?Q?=F0?=", "\x84\x50"},
    // Not a code page: converted by iconv as before.
    {"Koi8IntoUtf8", "UTF-8", "=?KOI8-R?B?8NLJ18XU?=", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
    {"NulBytesStillRemoved", "CP1251", "=?KOI8-R?Q?a=00b?=", "ab"},
};

INSTANTIATE_TEST_SUITE_P(Rows, DecodePageRows, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<PageRow>& info) { return std::string(info.param.Name); });

} // namespace
