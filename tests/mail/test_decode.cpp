#include "mail/EncodedWords.h"
#include "platform/Exception.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <ostream>

namespace
{

struct DecodeRow
{
    const char* label;
    std::string value;
    std::string result;
};

void PrintTo(const DecodeRow& row, std::ostream* os)
{
    *os << row.label;
}

// Decoded bytes kept as they are (no target code page). The cases of whole
// Subject values are in the message tests.
class DecodeRaw : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(DecodeRaw, Decodes)
{
    EXPECT_EQ(DecodeEncodedWords(GetParam().value, ""), GetParam().result);
}

const DecodeRow kRawRows[] = {
    {"QuotedPrintable", "=?ISO-8859-1?Q?Caf=E9?=", "Caf\xE9"},
    {"AdjacentWordsJoin", "=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=", "ab"},
    {"AdjacentAcrossFoldWhitespace", "=?ISO-8859-1?Q?a?=\r\n\t =?ISO-8859-1?Q?b?=", "ab"},
    {"SpaceAfterPlainTextStays", "x =?ISO-8859-1?Q?a?=", "x a"},
    {"Base64", "=?ISO-8859-1?B?SGVsbG8=?=", "Hello"},
    {"Base64TwoPads", "=?ISO-8859-1?B?QQ==?=", "A"},
    {"Base64ShortTailIgnored", "=?ISO-8859-1?B?QUJDRA?=", "ABC"},
    {"EmptyQ", "=?ISO-8859-1?Q?" "?=", ""},
    {"EmptyBase64", "=?ISO-8859-1?B?" "?=", ""},
    {"EqualsAtEnd", "=?ISO-8859-1?Q?ab=?=", "ab="},
    {"IsoMarkerFoundFirst", "=?WINDOWS-1252?Q?a?= =?ISO-8859-1?Q?b?=", "=?WINDOWS-1252?Q?a?= b"},
    {"WindowsWhenNoIso", "=?WINDOWS-1252?Q?a?= =?windows-1252?Q?b?=", "ab"},
    {"Koi8", "=?KOI8-R?B?8NLJ18XU?=", "\xF0\xD2\xC9\xD7\xC5\xD4"},
    {"NoClosingMarker", "=?ISO-8859-1?Q?abc", "=?ISO-8859-1?Q?abc"},
    {"NoSecondQuestionMark", "=?ISO-8859-1", "=?ISO-8859-1"},
    {"NulRemoved", "a=?ISO-8859-1?Q?b=00c?=d", "abcd"},
    {"NulRemovedFromPlainText", std::string("a\0b", 3), "ab"},
    {"TextAroundKept", "Re: [list] =?ISO-8859-1?Q?f=FCr?= you", "Re: [list] f\xFCr you"},
    {"DecodedTextSearchedAgain", "=?ISO-8859-1?Q?y=3D=3FISO-8859-1=3FQ=3Fx=3F=3D?=", "yx"},
    {"DecodedWordAtStartNotSearchedAgain", "=?ISO-8859-1?Q?=3D=3FISO-8859-1=3FQ=3Fx=3F=3D?=",
     "=?ISO-8859-1?Q?x?="},
    {"FailedCandidateEndsAdjacency", "=?ISO-8859-1?Q?a?= =?ISO =?ISO-8859-1?Q?b?=", "a =?ISO b"},
    {"EmptyWordSkipsNextCharacter", "=?ISO-8859-1?Q?" "?==?ISO-8859-1?Q?a?=", "=?ISO-8859-1?Q?a?="},
    {"Iso2022JpToShiftJis", "=?ISO-2022-JP?B?GyRCJCIbKEI=?=", "\x82\xA0"},
    {"QuestionMarksCloseTogether", "=?ISO?Q?=", "=?ISO?Q?="},
    {"CandidateRunsSharingMarks", "=?ISO?=?ISO?=x", "x"},
    // Other charsets need a code page to convert to; without one they, and
    // raw 8-bit text, stay.
    {"Utf8WordWithoutCodePageStays", "=?UTF-8?B?SGVsbG8=?=", "=?UTF-8?B?SGVsbG8=?="},
    {"RawUtf8WithoutCodePageStays", "Caf\xC3\xA9", "Caf\xC3\xA9"},
};

INSTANTIATE_TEST_SUITE_P(Rows, DecodeRaw, testing::ValuesIn(kRawRows), RowLabel());

TEST(Decode, BadHexInQuotedPrintableIsConversionError)
{
    EXPECT_THROW(DecodeEncodedWords("=?ISO-8859-1?Q?=ZZ?=", ""), EConvertError);
    EXPECT_THROW(DecodeEncodedWords("x =?ISO-8859-1?Q?a=4G?=", "CP1252"), EConvertError);
    // Not inside an encoded word, an equals sign is just text.
    EXPECT_EQ(DecodeEncodedWords("=ZZ", ""), "=ZZ");
}

// With a target code page the decoded bytes are converted to it.
struct PageRow
{
    const char* label;
    std::string codePage;
    std::string value;
    std::string result;
};

void PrintTo(const PageRow& row, std::ostream* os)
{
    *os << row.label;
}

class DecodePage : public testing::TestWithParam<PageRow>
{
};

TEST_P(DecodePage, Converts)
{
    EXPECT_EQ(DecodeEncodedWords(GetParam().value, GetParam().codePage), GetParam().result);
}

const PageRow kPageRows[] = {
    {"Latin1OnCp1252", "CP1252", "=?ISO-8859-1?Q?Caf=E9?=", "Caf\xE9"},
    // Windows characters in a word labelled ISO-8859-1 survive.
    {"MislabelledLatin1KeepsEuro", "CP1252", "=?ISO-8859-1?Q?=80?=", "\x80"},
    {"Koi8OnCp1251", "CP1251", "=?KOI8-R?B?8NLJ18XU?=", "\xCF\xF0\xE8\xE2\xE5\xF2"},
    {"UnknownCharsetKeepsBytes", "CP1252", "=?ISO-FOO?Q?=E9?=", "\xE9"},
    {"ShiftJisOnCp932", "CP932", "=?ISO-2022-JP?B?GyRCJCIbKEI=?=", "\x82\xA0"},
    {"WindowsOnSamePage", "CP1251", "=?windows-1251?Q?=CF?=", "\xCF"},
    {"Ucs2Decoded", "CP1252", "=?ISO-10646-UCS-2?B?AGEA6Q==?=", "a\xE9"},
    // UTF-8 and the other charsets iconv knows.
    {"Utf8Base64", "CP1252", "=?UTF-8?B?SGVsbG8=?=", "Hello"},
    {"Utf8QOnCp1252", "CP1252", "=?UTF-8?Q?Caf=C3=A9?=", "Caf\xE9"},
    {"Utf8EuroOnCp1252", "CP1252", "=?utf-8?q?=E2=82=AC?=", "\x80"},
    {"Utf8OnCp1251", "CP1251", "=?UTF-8?B?0J/RgNC40LLQtdGC?=", "\xCF\xF0\xE8\xE2\xE5\xF2"},
    {"Utf8MissingFromCodePageStaysEncoded", "CP1252", "=?UTF-8?Q?=CE=A9mega?=", "=?UTF-8?Q?=CE=A9mega?="},
    {"Utf8InvalidBytesStayEncoded", "CP1252", "=?UTF-8?Q?=C3?=", "=?UTF-8?Q?=C3?="},
    {"Utf8OnUtf8Page", "UTF-8", "=?UTF-8?Q?=CE=A9?=", "\xCE\xA9"},
    {"Utf8ThenIsoJoin", "CP1252", "=?UTF-8?Q?Caf=C3=A9?= =?ISO-8859-1?Q?_ol=E9?=", "Caf\xE9 ol\xE9"},
    {"IsoThenUtf8Join", "CP1252", "=?ISO-8859-1?Q?a?=\r\n =?utf-8?b?w6k=?=", "a\xE9"},
    {"UnconvertibleWordEndsAdjacency", "CP1252", "=?UTF-8?Q?=CE=A9?= =?ISO-8859-1?Q?b?=", "=?UTF-8?Q?=CE=A9?= b"},
    {"WindowsStillSkippedBeforeIso", "CP1252", "=?UTF-8?Q?u?= =?WINDOWS-1252?Q?a?= =?ISO-8859-1?Q?b?=",
     "u =?WINDOWS-1252?Q?a?= b"},
    {"UsAscii", "CP1252", "=?US-ASCII?Q?plain_text?=", "plain text"},
    {"Utf16", "CP1252", "=?UTF-16BE?B?AGEA6Q==?=", "a\xE9"},
    {"LanguageSuffixDropped", "CP1252", "=?UTF-8*en?Q?Caf=C3=A9?=", "Caf\xE9"},
    {"UnknownCharsetStays", "CP1252", "=?X-NOT-A-CHARSET?Q?a?=", "=?X-NOT-A-CHARSET?Q?a?="},
    {"ShortCharset", "CP1252", "=?X?Q?a?= =??Q?b?=", "=?X?Q?a?= =??Q?b?="},
    // Raw 8-bit text: valid UTF-8 is read as UTF-8, run by run.
    {"RawUtf8Subject", "CP1252", "Caf\xC3\xA9 au lait", "Caf\xE9 au lait"},
    {"RawUtf8RunMissingFromCodePageStays", "CP1252", "Caf\xC3\xA9 \xCE\xA9", "Caf\xE9 \xCE\xA9"},
    {"RawLatin1Stays", "CP1252", "Caf\xE9 \xC3", "Caf\xE9 \xC3"},
    {"RawOverlongIsNotUtf8", "CP1252", "\xC0\xAF \xC3\xA9", "\xC0\xAF \xC3\xA9"},
    {"RawSurrogateIsNotUtf8", "CP1252", "\xED\xA0\x80 \xC3\xA9", "\xED\xA0\x80 \xC3\xA9"},
    {"RawUtf8BesideEncodedWord", "CP1252", "\xC3\xA9 =?ISO-8859-1?Q?=E9?=", "\xE9 \xE9"},
    // The code page of every current desktop: every script decodes.
    {"ChineseOnUtf8", "UTF-8", "=?UTF-8?B?5Lit5paH?=", "\xE4\xB8\xAD\xE6\x96\x87"},
    {"CyrillicOnUtf8", "UTF-8", "=?KOI8-R?B?8NLJ18XU?=", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
    {"EmojiOnUtf8", "UTF-8", "=?utf-8?q?=F0=9F=8E=89_Sale?=", "\xF0\x9F\x8E\x89 Sale"},
    {"Latin1OnUtf8", "UTF-8", "=?ISO-8859-1?Q?Caf=E9_=80?=", "Caf\xC3\xA9 \xE2\x82\xAC"},
    {"UnknownCharsetReadAsWindows1252", "UTF-8", "=?ISO-FOO?Q?=E9?=", "\xC3\xA9"},
    // Raw bytes that are no UTF-8 are read as Windows-1252, run by run.
    {"RawLatin1OnUtf8", "UTF-8", "Caf\xE9 \x80 5 \xC3\xA9", "Caf\xC3\xA9 \xE2\x82\xAC 5 \xC3\xA9"},
    // Legacy locales keep their own page; what it cannot hold stays encoded.
    {"ChineseStaysEncodedOnLatin1", "ISO-8859-1", "=?UTF-8?B?5Lit5paH?=", "=?UTF-8?B?5Lit5paH?="},
    {"CyrillicOnKoi8", "KOI8-R", "=?UTF-8?B?0J/RgNC40LLQtdGC?=", "\xF0\xD2\xC9\xD7\xC5\xD4"},
    {"RawUtf8OnKoi8", "KOI8-R", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xF0\xD2\xC9\xD7\xC5\xD4"},
    {"RawNoEucJpReadAsWindows1252", "EUC-JP", "Caf\xE9", "Caf\x8F\xAB\xB1"},
    // Controls but tab become spaces: C0 and DEL, and C1 where the page has them.
    {"EscapeAndBellInWord", "UTF-8", "=?UTF-8?Q?=1B[31mred=07?=", " [31mred "},
    {"RawControls", "UTF-8", "a\x1B" "b\x08" "c\x7F" "d\re\tf\x01", "a b c d e\tf "},
    {"C1OnUtf8", "UTF-8", "=?UTF-8?Q?a=C2=9Bb=C2=85c?= \xC2\x9F", "a b c  "},
    {"UnassignedWindows1252ByteIsC1", "UTF-8", "=?ISO-8859-1?Q?a=81b?= x\x8Dy", "a b x y"},
    {"C1OnLatin1", "ISO-8859-1", "=?ISO-8859-2?Q?a=85b?=", "a b"},
    {"Koi8BoxDrawingIsNoControl", "KOI8-R", "\x80\x9B", "\x80\x9B"},
};

INSTANTIATE_TEST_SUITE_P(Rows, DecodePage, testing::ValuesIn(kPageRows), RowLabel());

TEST(Decode, CharactersMissingFromCodePageAreNotLeftAsForeignBytes)
{
    // How they are replaced depends on the locale's transliteration tables.
    const std::string latin2 = DecodeEncodedWords("=?ISO-8859-2?Q?=A3=F3d?=", "CP1252");
    ASSERT_GE(latin2.size(), 3u);
    EXPECT_EQ(latin2.find('\xA3'), std::string::npos); // the raw byte would show as a pound sign
    EXPECT_EQ(latin2.substr(latin2.size() - 2), "\xF3" "d");
    const std::string cyrillic = DecodeEncodedWords("=?KOI8-R?Q?=F0?=", "CP1252");
    EXPECT_FALSE(cyrillic.empty());
    EXPECT_EQ(cyrillic.find('\xF0'), std::string::npos);
}

TEST(Decode, ConversionThatGrowsIsNotSearchedAgain)
{
    // 0xBC (one quarter) becomes " 1/4 " in ASCII: longer than its encoded
    // form, and the decoder must still end.
    const std::string word = "=?ISO-8859-1?B?vLy8vLy8vLy8?=";
    std::string quarters;
    for (int i = 0; i < 18; ++i)
        quarters += " 1/4 ";
    EXPECT_EQ(DecodeEncodedWords(word + " " + word, "ASCII"), quarters);
}

struct JisRow
{
    const char* label;
    std::string jis;
    std::string sjis;
};

void PrintTo(const JisRow& row, std::ostream* os)
{
    *os << row.label;
}

class Jis : public testing::TestWithParam<JisRow>
{
};

TEST_P(Jis, ConvertsToShiftJis)
{
    EXPECT_EQ(JisToShiftJis(GetParam().jis), GetParam().sjis);
}

const JisRow kJisRows[] = {
    {"Ascii", "abc", "abc"},
    {"Hiragana", "\x1B$B$\"\x1B(B", "\x82\xA0"},
    {"OddRowHighColumn", "\x1B$B%s\x1B(B", "\x83\x93"},
    {"Kanji", "\x1B$B4A\x1B(B", "\x8A\xBF"},
    {"KanjiRowAbove5E", "\x1B$Bp!\x1B(B", "\xE8\x9F"},
    {"MixedModes", "a\x1B$B$\"\x1B(Bb", "a\x82\xA0" "b"},
    {"OtherEscapeIgnored", "\x1B(Jab", "ab"},
    {"LoneEscapeAtEnd", "ab\x1B", "ab"},
    {"EscapeWithOneCharacter", "ab\x1B$", "ab$"},
    {"HalfCharacterDropped", "\x1B$B$\"$", "\x82\xA0"},
};

INSTANTIATE_TEST_SUITE_P(Rows, Jis, testing::ValuesIn(kJisRows), RowLabel());

TEST(Decode, ManyWordsInLongTextStayLinear)
{
    // Thousands of candidates, none of them closed: must not rescan the rest of
    // the text for every one (bounded generously, not timed).
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "=?ISO?a";
    EXPECT_TRUE(DecodeEncodedWords(text, "") == text);
    std::string words;
    for (int i = 0; i < 20000; ++i)
        words += "=?ISO-8859-1?Q?a?= ";
    EXPECT_TRUE(DecodeEncodedWords(words, "") == std::string(20000, 'a') + " ");
}

} // namespace
