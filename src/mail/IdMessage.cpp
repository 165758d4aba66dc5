#include "mail/IdMessage.h"

#include "mail/EncodedWords.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>

using namespace AsciiText;

namespace
{

constexpr auto npos = std::string::npos;

// Text of a Content-Type parameter found in the upper-cased value `upper`,
// taken from `value` so the case is kept: up to the closing quote when it is
// quoted, else up to the next semicolon.
std::string ParameterOf(const std::string& value, const std::string& upper, const std::string& key)
{
    const std::size_t at = upper.find(key);
    if (at == npos)
        return {};
    const std::size_t start = at + key.size();
    if (start < value.size() && value[start] == '"')
    {
        const std::size_t endQuote = value.find('"', start + 1);
        return value.substr(start + 1, endQuote == npos ? npos : endQuote - start - 1);
    }
    const std::size_t semicolon = value.find(';', start);
    return value.substr(start, semicolon == npos ? npos : semicolon - start);
}

std::vector<std::string> SplitNewsGroups(const std::string& value)
{
    std::vector<std::string> groups;
    std::string piece;
    bool inQuote = false;
    auto flush = [&] {
        std::string group = Trim(piece);
        if (!group.empty())
            groups.push_back(std::move(group));
        piece.clear();
    };
    for (const char c : value)
    {
        if (c == '"')
            inQuote = !inQuote;
        if (c == ',' && !inQuote)
            flush();
        else
            piece += c;
    }
    flush();
    return groups;
}

// Decimal integer with an optional sign, in 32 bits.
bool ReadInteger(const std::string& text, long long& n)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    long long v = 0;
    for (; i < text.size(); ++i)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL)
            return false;
    }
    v = negative ? -v : v;
    if (v > 2147483647LL)
        return false;
    n = v;
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool IsLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

bool AllDigits(const std::string& t)
{
    if (t.empty())
        return false;
    for (const char c : t)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool AllLetters(const std::string& t)
{
    if (t.empty())
        return false;
    for (const char c : t)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

int MonthOf(const std::string& token)
{
    static const char* const names[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const std::string upper = UpperCase(token.substr(0, 3));
    if (token.size() < 3)
        return 0;
    for (int i = 0; i < 12; ++i)
        if (upper == names[i])
            return i + 1;
    return 0;
}

// Offset east of UTC in minutes for a zone name; false for an unknown word.
bool NamedZone(const std::string& token, int& minutes)
{
    struct Zone
    {
        const char* name;
        int hours;
    };
    static const Zone zones[] = {{"UT", 0},   {"UTC", 0},  {"GMT", 0},  {"Z", 0},
                                 {"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                                 {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    const std::string upper = UpperCase(token);
    for (const Zone& z : zones)
        if (upper == z.name)
        {
            minutes = z.hours * 60;
            return true;
        }
    // Military letters were defined with the wrong sign; they mean "unknown".
    if (upper.size() == 1 && upper[0] >= 'A' && upper[0] <= 'Z' && upper[0] != 'J')
    {
        minutes = 0;
        return true;
    }
    return false;
}

bool ReadClock(const std::string& token, int& h, int& m, int& s)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true)
    {
        const std::size_t colon = token.find(':', start);
        parts.push_back(token.substr(start, colon == npos ? npos : colon - start));
        if (colon == npos)
            break;
        start = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    for (const std::string& p : parts)
        if (!AllDigits(p) || p.size() > 2)
            return false;
    h = std::stoi(parts[0]);
    m = std::stoi(parts[1]);
    s = parts.size() == 3 ? std::stoi(parts[2]) : 0;
    return h <= 23 && m <= 59 && s <= 60;
}

} // namespace

TIdMessagePriority PriorityFromHeader(const std::string& value)
{
    // Nearly every value is a bare level: no words to look for, nothing to trim.
    long long n = 3;
    if (!value.empty() && value.size() <= 9 &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }) && ReadInteger(value, n))
        return static_cast<TIdMessagePriority>(static_cast<std::uint8_t>(n - 1));
    const std::string lower = LowerCase(value);
    if (lower.find("urgent") != npos)
        return mpHigh;
    if (lower.find("non-priority") != npos)
        return mpLow;
    const std::string trimmed = Trim(value);
    const std::string word = Trim(trimmed.substr(0, trimmed.find(' ')));
    if (!ReadInteger(word, n))
        n = 3;
    return static_cast<TIdMessagePriority>(static_cast<std::uint8_t>(n - 1));
}

TIdDateTime DateTimeFromHeader(const std::string& value)
{
    // Comments such as "(CET)" out, commas to blanks, then the words in any
    // order: a day name, day, month name, year, clock and zone.
    std::string text;
    int depth = 0;
    for (const char c : value)
    {
        if (c == '(')
            ++depth;
        else if (c == ')' && depth > 0)
            --depth;
        else if (depth == 0)
            text += c == ',' ? ' ' : c;
    }
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < text.size())
    {
        while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32)
            ++i;
        const std::size_t start = i;
        while (i < text.size() && static_cast<unsigned char>(text[i]) > 32)
            ++i;
        if (i > start)
            tokens.push_back(text.substr(start, i - start));
    }

    int day = 0, month = 0, year = -1, hour = 0, minute = 0, second = 0, zone = 0;
    bool haveClock = false;
    for (const std::string& t : tokens)
    {
        if (t.find(':') != npos && !haveClock && AllDigits(t.substr(0, 1)))
        {
            if (!ReadClock(t, hour, minute, second))
                return 0;
            haveClock = true;
        }
        else if ((t[0] == '+' || t[0] == '-') && t.size() == 5 && AllDigits(t.substr(1)))
        {
            const int hhmm = std::stoi(t.substr(1));
            if (hhmm % 100 > 59)
                return 0;
            zone = (hhmm / 100 * 60 + hhmm % 100) * (t[0] == '-' ? -1 : 1);
        }
        else if (AllDigits(t))
        {
            if (t.size() > 4)
                return 0;
            const int n = std::stoi(t);
            if (day == 0 && t.size() <= 2 && n >= 1)
                day = n;
            else if (year < 0)
                year = t.size() == 2 ? (n < 50 ? 2000 + n : 1900 + n) : t.size() == 3 ? 1900 + n : n;
            else
                return 0;
        }
        else if (AllLetters(t))
        {
            if (month == 0 && MonthOf(t) != 0 && t.size() <= 9)
                month = MonthOf(t);
            else
                NamedZone(t, zone); // day names and unknown zones leave the zone as it is
        }
    }
    if (day == 0 || month == 0 || year < 1601 || year > 9999 || day > DaysInMonth(year, month))
        return 0;
    if (second == 60)
        second = 59;

    const long long utc = (DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400LL +
                           hour * 3600LL + minute * 60LL + second) - zone * 60LL;
    const std::time_t t = static_cast<std::time_t>(utc);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return 0;
    const long long localDays = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                              static_cast<unsigned>(local.tm_mday));
    // 1899-12-30 is day 0, 1970-01-01 is day 25569.
    return static_cast<double>(localDays + 25569) +
           (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
}

namespace
{

// One address field that cannot be parsed must not cost the message.
bool ParseAddressesOrClear(TIdEMailAddressList& list, const std::string& text)
{
    try
    {
        list.ParseAddressList(text);
        return true;
    }
    catch (const EIdEmailParseError&)
    {
        list.Clear();
        return false;
    }
}

void SetAddressOrClear(TIdEMailAddressItem& item, const std::string& text)
{
    try
    {
        item.SetText(text);
    }
    catch (const EIdEmailParseError&)
    {
        item = TIdEMailAddressItem();
    }
}

} // namespace

void TIdMessage::ClearFields()
{
    Subject.clear();
    ListId.clear();
    UnparsedFrom.clear();
    FromList.Clear();
    Priority = mpNormal;
    ContentType.clear();
    CharSet.clear();
    ContentTransferEncoding.clear();
    ContentDisposition.clear();
    MessageId.clear();
    NewsGroups.clear();
    Recipients.Clear();
    CCList.Clear();
    BccList.Clear();
    Organization.clear();
    ReceiptRecipient = TIdEMailAddressItem();
    References.clear();
    ReplyTo.Clear();
    Date = 0;
    Sender = TIdEMailAddressItem();
    Encoding = meDefault;
    Boundary.clear();
}

void TIdMessage::ClearMessage()
{
    HeaderLines.Clear();
    ClearFields();
}

TIdEMailAddressItem& TIdMessage::From()
{
    if (FromList.Empty())
        FromList.Add();
    return FromList[0];
}

std::string TIdMessage::FromText()
{
    return UnparsedFrom.empty() ? From().Text() : UnparsedFrom;
}

void TIdMessage::LoadFromHeaderLines()
{
    // A load that fails part-way leaves the fields after the failing one empty,
    // also when the message held another header before.
    ClearFields();
    const TIdHeaderList& h = HeaderLines;
    if (CheckFieldsOnly)
    {
        LoadSenderAndSubject();
        LoadPriority();
        LoadIdentity();
        return;
    }

    const std::string contentType = h.FieldValue("Content-Type");
    const std::string contentTypeUpper = UpperCase(contentType);
    ContentType = contentType.empty() ? "text/plain" : Trim(contentType.substr(0, contentType.find(';')));
    CharSet = ParameterOf(contentTypeUpper, contentTypeUpper, "CHARSET=");
    ContentTransferEncoding = h.FieldValue("Content-Transfer-Encoding");
    ContentDisposition = h.FieldValue("Content-Disposition");
    LoadSenderAndSubject();

    LoadIdentity();
    NewsGroups = SplitNewsGroups(h.FieldValue("Newsgroups"));
    ParseAddressesOrClear(Recipients, DecodeEncodedWordsKeepingBad(h.FieldValue("To")));
    ParseAddressesOrClear(CCList, DecodeEncodedWordsKeepingBad(h.FieldValue("Cc")));
    ParseAddressesOrClear(BccList, DecodeEncodedWordsKeepingBad(h.FieldValue("Bcc")));
    Organization = h.FieldValue("Organization");

    SetAddressOrClear(ReceiptRecipient, h.FieldValue("Disposition-Notification-To"));
    if (ReceiptRecipient.Text().empty())
        SetAddressOrClear(ReceiptRecipient, h.FieldValue("Return-Receipt-To"));
    References = h.FieldValue("References");
    ParseAddressesOrClear(ReplyTo, h.FieldValue("Reply-To"));
    if (!MessageId.empty())
        Date = DateTimeFromHeader(h.FieldValue("Date"));
    SetAddressOrClear(Sender, h.FieldValue("Sender"));

    LoadPriority();
    Boundary = ParameterOf(contentType, contentTypeUpper, "BOUNDARY=");
    Encoding = h.FieldValue("MIME-Version").empty() ? mePlainText : meMIME;
}

void TIdMessage::LoadSenderAndSubject()
{
    Subject = DecodeEncodedWordsKeepingBad(HeaderLines.FieldValue("Subject"));
    ListId = DecodeEncodedWordsKeepingBad(HeaderLines.FieldValue("List-Id"));
    const std::string from = DecodeEncodedWordsKeepingBad(HeaderLines.FieldValue("From"));
    if (!ParseAddressesOrClear(FromList, from))
        UnparsedFrom = from;
}

void TIdMessage::LoadIdentity()
{
    MessageId = HeaderLines.FieldValue("Message-Id");
    if (!MessageId.empty())
    {
        if (MessageId.front() != '<')
            MessageId.insert(MessageId.begin(), '<');
        if (MessageId.back() != '>')
            MessageId += '>';
    }
    else
        Date = DateTimeFromHeader(HeaderLines.FieldValue("Date"));
}

void TIdMessage::LoadPriority()
{
    const std::string priority = HeaderLines.FieldValue("Priority");
    Priority = PriorityFromHeader(priority.empty() ? HeaderLines.FieldValue("X-Priority") : priority);
}
