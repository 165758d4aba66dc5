#include "mail/Imap4Client.h"

#include "mail/Credentials.h"
#include "mail/HeaderKeeper.h"
#include "mail/IdExceptions.h"
#include "mail/IdIOHandler.h"
#include "mail/IdMessage.h"
#include "mail/Imap4FetchStream.h"
#include "mail/MessagePreview.h"
#include "mail/ModifiedUtf7.h"
#include "mail/SaslMechanism.h"
#include "mail/TlsIOHandler.h"
#include "platform/Numbers.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

using namespace AsciiText;
using State = TIdIMAP4ConnectionState;

namespace
{

const char* const KeyWords[] = {
    "ALL",        "ANSWERED",  "BCC",        "BEFORE",     "BODY",       "CC",       "DELETED",
    "DRAFT",      "FLAGGED",   "FROM",       "HEADER",     "KEYWORD",    "LARGER",   "NEW",
    "NOT",        "OLD",       "ON",         "OR",         "RECENT",     "SEEN",     "SENTBEFORE",
    "SENTON",     "SENTSINCE", "SINCE",      "SMALLER",    "SUBJECT",    "TEXT",     "TO",
    "UID",        "UNANSWERED", "UNDELETED", "UNDRAFT",    "UNFLAGGED",  "UNKEYWORD", "UNSEEN"};

bool StartsWithTag(const std::string& line, const std::string& tag)
{
    return line.size() >= tag.size() && SameText(line.substr(0, tag.size()), tag)
           && (line.size() == tag.size() || line[tag.size()] == ' ');
}

bool IsUnexpectedBye(const std::string& line, const TIdStrings& expected)
{
    if (line.size() < 5 || !SameText(line.substr(0, 5), "* BYE"))
        return false;
    for (const std::string& word : expected)
        if (word == "BYE")
            return false;
    return true;
}

bool IsAtomChar(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7f)
        return false;
    switch (c)
    {
    case '(': case ')': case '{': case '%': case '*': case '"': case '\\': case ']':
        return false;
    default:
        return true;
    }
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// dd-Mon-yyyy of a date given as days since 1899-12-30.
std::string SearchDateText(double date)
{
    using namespace std::chrono;
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const sys_days day = sys_days(year(1899) / December / 30) + days(static_cast<long>(std::floor(date)));
    const year_month_day ymd(day);
    char text[32];
    std::snprintf(text, sizeof text, "%d-%s-%04d", static_cast<int>(static_cast<unsigned>(ymd.day())),
                  Months[static_cast<unsigned>(ymd.month()) - 1], static_cast<int>(ymd.year()));
    return text;
}

// A header literal into `message`, split into lines at CR LF, LF or CR (a
// final line break starts no other line) and kept as POP3's lines are.
void LoadHeaderLines(const std::string& bytes, TIdMessage& message)
{
    THeaderKeeper keeper(message.HeaderLines);
    try
    {
        keeper.AddBytes(bytes);
        keeper.Finish();
    }
    catch (const EIdReplyTooLarge&)
    {
        message.HeaderLines.Clear();
        throw;
    }
    message.LoadFromHeaderLines();
}

// What a loaded message holds: its header lines, or when it keeps none, the
// fields a check reads.
std::size_t HeldBytes(const TIdMessage& message)
{
    std::size_t held = message.Subject.size() + message.UnparsedFrom.size() + message.MessageId.size();
    for (const std::string& line : message.HeaderLines.Lines)
        held += line.size();
    for (std::size_t i = 0; i < message.FromList.Count(); ++i)
        held += message.FromList[i].Name.size() + message.FromList[i].Address.size();
    return held;
}

TIdStrings SplitAtSpaces(const std::string& line)
{
    TIdStrings words;
    std::size_t start = 0;
    for (;;)
    {
        std::size_t space = line.find(' ', start);
        words.push_back(line.substr(start, space == std::string::npos ? std::string::npos : space - start));
        if (space == std::string::npos)
            return words;
        start = space + 1;
    }
}

} // namespace

std::string ConnectionStateText(TIdIMAP4ConnectionState state)
{
    switch (state)
    {
    case State::Any: return "Any";
    case State::NonAuthenticated: return "Non Authenticated";
    case State::Authenticated: return "Authenticated";
    case State::Selected: return "Selected";
    case State::Lost: return "";
    }
    return "";
}

std::string SearchKeyWord(TIdIMAP4SearchKey key)
{
    return key >= skAll && key <= skUnseen ? KeyWords[key] : std::string();
}

std::string SearchCriterion(const TIdIMAP4SearchRec& rec)
{
    const std::string word = SearchKeyWord(rec.SearchKey);
    switch (rec.SearchKey)
    {
    case skBcc: case skBody: case skCc: case skFrom: case skKeyword: case skSubject: case skText:
    case skTo: case skUnKeyword: case skHeader:
        return word + " " + Quoted(rec.SearchText);
    case skBefore: case skOn: case skSentBefore: case skSentOn: case skSentSince: case skSince:
        return word + " " + SearchDateText(rec.SearchDate);
    case skLarger: case skSmaller:
        return word + " " + std::to_string(rec.SearchSize);
    case skNot: case skOr: case skUID:
        return word + " " + rec.SearchText;
    default:
        return word;
    }
}

std::string IMAP4AString(const std::string& text, bool& literal)
{
    literal = false;
    bool atom = !text.empty();
    bool sevenBit = true;
    for (unsigned char c : text)
    {
        atom = atom && IsAtomChar(c);
        sevenBit = sevenBit && c >= 0x01 && c <= 0x7f && c != '\r' && c != '\n';
    }
    if (atom)
        return text;
    if (sevenBit)
        return Quoted(text);
    literal = true;
    return "{" + std::to_string(text.size()) + "}\r\n" + text;
}

// --------------------------------------------------------------------- TIdIMAP4

TIdIMAP4::TIdIMAP4() : TIdTCPClientCustom(std::make_unique<TIdReplyIMAP4>())
{
    Port = 143;
}

TIdIMAP4::~TIdIMAP4() = default;

TIdIOHandler& TIdIMAP4::Handler()
{
    if (!IOHandler())
        throw EIdNotConnected();
    return *IOHandler();
}

std::string TIdIMAP4::NextTag()
{
    ++CommandCounter;
    return CurrentTag();
}

std::string TIdIMAP4::CurrentTag() const
{
    return "C" + std::to_string(CommandCounter);
}

void TIdIMAP4::CheckConnectionState(std::initializer_list<TIdIMAP4ConnectionState> allowed) const
{
    for (State state : allowed)
        if (state == ConnectionState)
            return;
    throw EIdConnectionStateError("Unable to execute command, wrong connection state;Current connection state: "
                                  + ConnectionStateText(ConnectionState) + ".");
}

void TIdIMAP4::WriteCommand(const std::string& line)
{
    try
    {
        Handler().WriteLine(line);
    }
    catch (const EIdSocketError& e)
    {
        if (e.LastError == Id_WSAECONNRESET)
        {
            ConnectionState = State::Lost;
            throw;
        }
        // Whatever else went wrong, the server may still have answered.
    }
}

void TIdIMAP4::DrainStrayLines()
{
    // Stray lines would be taken for the next command's answer. A negative
    // wait would be no limit at all.
    TIdIOHandler& handler = Handler();
    while (handler.WaitReadable(std::max(MilliSecsToWaitToClearBuffer, 0)))
        handler.ReadLineSkippingBlanks();
}

std::string TIdIMAP4::SendTaggedCommand(const std::string& tag, const std::string& command,
                                        const TIdStrings& expected)
{
    if (command != std::string(1, '\0'))
    {
        DrainStrayLines();
        WriteCommand(tag + " " + command);
    }
    return ReadTaggedReply(tag, expected, false);
}

std::string TIdIMAP4::ReadTaggedReply(const std::string& tag, const TIdStrings& expected, bool singleLine)
{
    TIdIOHandler& handler = Handler();
    TIdReplyIMAP4& reply = LastReplyIMAP4();
    TIdStrings& lines = FReplyLines;
    lines.clear();
    std::size_t held = 0;
    for (;;)
    {
        std::string line = handler.ReadLineSkippingBlanks();
        held += line.size();
        if (held > MaxReplySize)
            throw EIdReplyIMAP4Error("Unexpected: reply larger than " + std::to_string(MaxReplySize) + " bytes");
        if (lines.size() >= static_cast<std::size_t>(MaxReplyLines))
            throw EIdReplyTooLarge();
        if (IsUnexpectedBye(line, expected))
        {
            ConnectionState = State::Lost;
            throw EIdDisconnectedProbablyIdledOut();
        }
        if (singleLine)
        {
            std::string stripped = line;
            if (stripped.size() >= 2 && stripped[0] == '*' && stripped[1] == ' ')
                stripped.erase(0, 2);
            if (CarriesResponseWord(stripped, expected))
            {
                reply.Clear();
                reply.SideLines.clear();
                reply.Text.push_back(std::move(stripped));
                reply.Code = "OK";
                return reply.Code;
            }
        }
        lines.push_back(std::move(line));
        const std::string& last = lines.back();
        if (StartsWithTag(last, tag) || IsIMAP4StatusWord(IMAP4FirstWord(last)))
            break;
    }
    reply.SetFormattedReply(lines);
    reply.MoveUnsolicitedLines(expected);
    return reply.Code;
}

std::string TIdIMAP4::ReadGreeting()
{
    TIdIOHandler& handler = Handler();
    TIdStrings& lines = FReplyLines;
    lines.clear();
    std::size_t held = 0;
    for (;;)
    {
        lines.push_back(handler.ReadLineSkippingBlanks());
        held += lines.back().size();
        if (held > MaxReplySize)
            throw EIdReplyIMAP4Error("Unexpected: greeting larger than " + std::to_string(MaxReplySize) + " bytes");
        if (lines.size() > static_cast<std::size_t>(MaxReplyLines))
            throw EIdReplyTooLarge();
        if (EndsGreeting(lines.back()))
            break;
    }
    LastReplyIMAP4().SetFormattedReply(lines);
    return LastReply().Code;
}

bool TIdIMAP4::Connect(bool autoLogin)
{
    ConnectionState = State::NonAuthenticated;
    FIdling = false;
    FIdleNews = false;
    ServerCapabilities.clear();
    if (!(IOHandler() && IOHandler()->IsOpen() && Connected()))
    {
        PrepareTLSHandler(*this, UseTLS);
        TIdTCPClientCustom::Connect();
    }
    Handler().MaxLineLength = MaxReplyLineLength;
    ReadGreeting();
    FGreetingBanner = LastReply().Text.empty() ? std::string() : LastReply().Text.front();
    // The login is chosen from what the greeting announces; asking would
    // cost a round trip every server that takes LOGIN would not need.
    ServerCapabilities = IMAP4GreetingCapabilities(FGreetingBanner);
    // A line kept open from before may be secured already.
    if (UsesStartTLS(UseTLS) && !LineSecureAsAsked(*this, UseTLS))
        StartTLS();
    if (autoLogin)
        Login();
    return true;
}

void TIdIMAP4::SendLogins(const TIdLoginChoice& choice)
{
    for (const auto& [charset, credentials] : CredentialTries(Username, Password, CredentialCharset))
    {
        if (choice.Method == TIdLoginMethod::SASL)
            Authenticate(*MakeSASLMechanism(choice.Mechanism, credentials));
        else
            SendLogin(credentials);
        if (LastReply().Code == "OK")
        {
            CredentialCharset = charset;
            return;
        }
        // Only a refusal of the credentials themselves is worth the other
        // form.
        if (!CredentialsRefused())
            return;
    }
}

bool TIdIMAP4::CredentialsRefused()
{
    const TIdStrings& side = LastReplyIMAP4().SideLines;
    const std::string text = side.empty() ? std::string() : side.back();
    return LastReply().Code == "NO" && Connected() &&
           (text.rfind('[', 0) != 0 || SameText(text.substr(0, 22), "[AUTHENTICATIONFAILED]"));
}

void TIdIMAP4::SendTokenLogins(const std::string& mechanism)
{
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        const std::string token = AccessToken(attempt > 0);
        const std::unique_ptr<TIdSASLMechanism> bearer = MakeSASLMechanism(mechanism, {Username, token});
        Authenticate(*bearer);
        for (std::string& line : LastReply().Text)
            HideSecret(line, token, *bearer);
        for (std::string& line : LastReplyIMAP4().SideLines)
            HideSecret(line, token, *bearer);
        if (LastReply().Code == "OK")
        {
            // Some servers take a token and then refuse every command of
            // the session: the login counts once the next one succeeds.
            ConnectionState = State::Authenticated;
            if (!Capability(ServerCapabilities))
                ConnectionState = State::NonAuthenticated;
            return;
        }
        if (!CredentialsRefused())
            return;
    }
}

void TIdIMAP4::SendLogin(const TIdCredentials& credentials)
{
    bool literalUser = false;
    bool literalPassword = false;
    std::string line = NextTag() + " LOGIN " + IMAP4AString(credentials.Username, literalUser) + " "
                       + IMAP4AString(credentials.Password, literalPassword);
    const std::string tag = CurrentTag();
    if (!literalUser && !literalPassword)
    {
        SendTaggedCommand(tag, line.substr(tag.size() + 1), {});
        return;
    }

    // 8-bit text goes as literals: each announcement waits for the server's
    // "+" before the bytes follow.
    TIdIOHandler& handler = Handler();
    DrainStrayLines();
    for (;;)
    {
        const std::size_t crlf = line.find("\r\n");
        if (crlf == std::string::npos)
        {
            WriteCommand(line);
            ReadTaggedReply(tag, {}, false);
            return;
        }
        WriteCommand(line.substr(0, crlf));
        line.erase(0, crlf + 2);
        std::string answer = handler.ReadLineSkippingBlanks();
        while (answer.rfind("* ", 0) == 0)
        {
            if (IsUnexpectedBye(answer, {}))
            {
                ConnectionState = State::Lost;
                throw EIdDisconnectedProbablyIdledOut();
            }
            answer = handler.ReadLineSkippingBlanks();
        }
        if (answer[0] != '+')
        {
            // Refused before the bytes: this is the completion.
            LastReplyIMAP4().SetFormattedReply({answer});
            return;
        }
    }
}

void TIdIMAP4::Authenticate(TIdSASLMechanism& mechanism)
{
    const std::string tag = NextTag();
    std::string command = tag + " AUTHENTICATE " + mechanism.Name();
    // RFC 4959: the initial response rides on the command; "=" stands for
    // an empty one.
    bool initialSent = HasCapability("SASL-IR");
    if (initialSent)
    {
        const std::string initial = mechanism.InitialResponse();
        command += " " + (initial.empty() ? std::string("=") : SASLEncode(initial));
    }
    DrainStrayLines();
    WriteCommand(command);
    TIdIOHandler& handler = Handler();
    TIdStrings lines;
    std::size_t held = 0;
    // Each challenge costs a line back: a server that never stops asking
    // is cut off as one that never stops answering.
    int challenges = 0;
    for (;;)
    {
        std::string line = handler.ReadLineSkippingBlanks();
        held += line.size();
        if (held > MaxReplySize || lines.size() >= static_cast<std::size_t>(MaxReplyLines) ||
            challenges > MaxReplyLines)
            throw EIdReplyTooLarge();
        if (IsUnexpectedBye(line, {}))
        {
            ConnectionState = State::Lost;
            throw EIdDisconnectedProbablyIdledOut();
        }
        if (line[0] == '+')
        {
            ++challenges;
            // A challenge: "+", a space and its base64 (which may be empty).
            std::string challenge;
            std::string response;
            const std::string text = line.size() > 2 ? line.substr(2) : std::string();
            if (!initialSent)
            {
                initialSent = true;
                response = mechanism.InitialResponse();
            }
            else if (!SASLDecode(text, challenge) || !mechanism.Respond(challenge, response))
            {
                // The server answers the cancel with its BAD completion.
                WriteCommand("*");
                continue;
            }
            WriteCommand(SASLEncode(response));
            continue;
        }
        lines.push_back(std::move(line));
        if (StartsWithTag(lines.back(), tag) || IsIMAP4StatusWord(IMAP4FirstWord(lines.back())))
            break;
    }
    LastReplyIMAP4().SetFormattedReply(lines);
    LastReplyIMAP4().MoveUnsolicitedLines({});
}

void TIdIMAP4::StartTLS()
{
    try
    {
        // A PREAUTH session cannot be secured any more.
        if (LastReply().Code != "OK")
            throw EIdTLSNotAvailable("The server's greeting does not allow STARTTLS; the password was not sent.");
        // Before the handshake nothing the server says can be trusted, so a
        // greeting that announced STARTTLS is as good as an answer.
        if (!HasCapability("STARTTLS"))
            Capability(ServerCapabilities);
        if (!HasCapability("STARTTLS"))
            throw EIdTLSNotAvailable("The server does not offer STARTTLS; the password was not sent.");
        if (SendTaggedCommand(NextTag(), "STARTTLS", {}) != "OK")
        {
            // The tagged completion's text is the last side line.
            const TIdStrings& side = LastReplyIMAP4().SideLines;
            throw EIdTLSNotAvailable("The server refused STARTTLS (" + (side.empty() ? std::string() : side.back())
                                     + "); the password was not sent.");
        }
        auto* tls = dynamic_cast<TIdTlsIOHandler*>(IOHandler());
        if (!tls)
            throw EIdTLSNotAvailable("The connection is not secure; the password was not sent.");
        tls->StartTLS();
        // What the server said before the handshake may have been forged.
        Capability(ServerCapabilities);
    }
    catch (const EIdTLSError&)
    {
        CloseSession();
        throw;
    }
}

void TIdIMAP4::Login()
{
    if (!LineSecureAsAsked(*this, UseTLS))
    {
        CloseSession();
        throw EIdTLSNotAvailable("The connection is not secure; the password was not sent.");
    }
    const std::string greeting = LastReply().Code;
    try
    {
        // A line break would end the command early and make the rest of the
        // text a command of its own.
        if ((Username + Password).find_first_of("\r\n") != std::string::npos)
            throw EIdException("User name or password contains a line break.");
        if (AuthType == TIdIMAP4AuthenticationType::atSASL && SASLMechanisms.empty())
            throw EIdSASLMechNeeded();
        if (greeting == "OK")
        {
            TIdStrings offered;
            for (const std::string& capability : ServerCapabilities)
                if (capability.size() > 5 && SameText(capability.substr(0, 5), "AUTH="))
                    offered.push_back(capability.substr(5));
            const TIdLoginChoice choice =
                ChooseLogin(AccessToken ? TIdLoginMethod::OAuth2
                            : AuthType == TIdIMAP4AuthenticationType::atSASL ? TIdLoginMethod::SASL
                                                                             : TIdLoginMethod::Password,
                            SASLMechanisms, HasCapability("LOGINDISABLED"), offered);
            if (choice.Method == TIdLoginMethod::OAuth2 && choice.Mechanism.empty())
                throw EIdException("The server offers no login with an access token.");
            if (choice.Method == TIdLoginMethod::SASL && choice.Mechanism.empty())
                throw EIdException("SASL login is not supported");
            ConnectionState = State::NonAuthenticated;
            CommandCounter = 0;
            // A token login reads the capabilities as the command that
            // proves it.
            if (choice.Method == TIdLoginMethod::OAuth2)
                SendTokenLogins(choice.Mechanism);
            else
            {
                SendLogins(choice);
                if (LastReply().Code == "OK")
                {
                    ConnectionState = State::Authenticated;
                    // What is offered may change with the login; a server
                    // that says so on its answer is not asked again.
                    ServerCapabilities = IMAP4LoginCapabilities(LastReplyIMAP4().SideLines);
                    if (ServerCapabilities.empty())
                        Capability(ServerCapabilities);
                }
            }
        }
        else if (greeting == "PREAUTH")
        {
            ConnectionState = State::Authenticated;
            CommandCounter = 0;
            if (ServerCapabilities.empty())
                Capability(ServerCapabilities);
        }
        else // a BYE greeting: the line's end is raised here
            Capability(ServerCapabilities);
    }
    catch (const EIdReadTimeout&)
    {
        // A server that stopped answering would make LOGOUT wait again.
        CloseSession();
        throw;
    }
    catch (...)
    {
        // An error of this Disconnect replaces the login's.
        Disconnect();
        throw;
    }
}

bool TIdIMAP4::Capability(TIdStrings& list)
{
    list.clear();
    if (SendTaggedCommand(NextTag(), "CAPABILITY", {"CAPABILITY"}) != "OK")
        return false;
    const TIdStrings& text = LastReply().Text;
    if (!text.empty())
    {
        list = SplitAtSpaces(text.front());
        list.erase(list.begin());
    }
    return true;
}

bool TIdIMAP4::HasCapability(const std::string& word) const
{
    for (const std::string& capability : ServerCapabilities)
        if (SameText(capability, word))
            return true;
    return false;
}

TIdStrings IMAP4GreetingCapabilities(const std::string& text)
{
    static const std::string code = "[CAPABILITY ";
    if (text.size() < code.size() || !SameText(text.substr(0, code.size()), code))
        return {};
    const std::size_t end = text.find(']');
    if (end == std::string::npos)
        return {};
    TIdStrings words;
    for (std::string& word : SplitAtSpaces(text.substr(code.size(), end - code.size())))
        if (!word.empty())
            words.push_back(std::move(word));
    return words;
}

TIdStrings IMAP4LoginCapabilities(const TIdStrings& sideLines)
{
    for (const std::string& line : sideLines)
    {
        if (TIdStrings words = IMAP4GreetingCapabilities(line); !words.empty())
            return words;
        if (SameText(IMAP4FirstWord(line), "CAPABILITY"))
        {
            TIdStrings words;
            for (std::string& word : SplitAtSpaces(line.substr(line.find(' ') + 1)))
                if (!word.empty())
                    words.push_back(std::move(word));
            if (!words.empty())
                return words;
        }
    }
    return {};
}

uint32_t IMAP4UidValidity(const std::string& line)
{
    static const std::string code = "[UIDVALIDITY ";
    const std::size_t at = line.find(code);
    if (at == std::string::npos)
        return 0;
    uint64_t value = 0;
    std::size_t p = at + code.size();
    const std::size_t start = p;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9' && p - start < 10)
        value = value * 10 + static_cast<uint64_t>(line[p++] - '0');
    if (p == start || p >= line.size() || line[p] != ']' || value > 0xFFFFFFFFu)
        return 0;
    return static_cast<uint32_t>(value);
}

bool TryIMAP4Number(std::string_view word, std::uint32_t& value)
{
    uint64_t n = 0;
    for (char c : word)
    {
        if (c < '0' || c > '9' || n > 0xFFFFFFFFu)
            return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n == 0 || n > 0xFFFFFFFFu)
        return false;
    value = static_cast<std::uint32_t>(n);
    return true;
}

bool TIdIMAP4::SelectMailbox(const std::string& name)
{
    try
    {
        CheckConnectionState({State::Authenticated, State::Selected});
    }
    catch (const EIdConnectionStateError&)
    {
        ConnectionState = State::Authenticated;
        throw;
    }
    std::string encoded;
    if (!TIdMUTF7::Encode(name, encoded))
        encoded = name;
    const std::string code = SendTaggedCommand(
        NextTag(), "SELECT " + Quoted(encoded), {"FLAGS", "OK", "EXISTS", "RECENT", "[READ-WRITE]", "[ALERT]"});
    if (code != "OK")
    {
        ConnectionState = State::Authenticated;
        return false;
    }
    MailBox.Clear();
    for (const std::string& line : LastReply().Text)
    {
        std::size_t at = line.find("EXISTS");
        if (at != std::string::npos)
            MailBox.ExistsCount = DecimalToInt(Trim(line.substr(0, at)));
        at = line.find("RECENT");
        if (at != std::string::npos)
            MailBox.RecentCount = DecimalToInt(Trim(line.substr(0, at)));
        if (const uint32_t validity = IMAP4UidValidity(line))
            MailBox.UIDValidity = validity;
        at = line.find("[UNSEEN");
        if (at != std::string::npos)
        {
            const std::size_t close = line.find(']', at);
            const std::size_t from = at + 7;
            MailBox.FirstUnseen = DecimalToInt(
                Trim(line.substr(from, close == std::string::npos ? std::string::npos : close - from)));
        }
    }
    MailBox.MailboxName = name;
    ConnectionState = State::Selected;
    return true;
}

bool TIdIMAP4::DoSearch(const std::string& prefix, const std::vector<TIdIMAP4SearchRec>& criteria)
{
    std::string text;
    for (const TIdIMAP4SearchRec& rec : criteria)
        text += SearchCriterion(rec) + " ";
    text = Trim(text);
    CheckConnectionState({State::Selected});
    if (SendTaggedCommand(NextTag(), prefix + "SEARCH " + text, {"SEARCH"}) != "OK")
        return false;
    MailBox.SearchHits.clear();
    const TIdStrings& lines = LastReply().Text;
    if (!lines.empty() && lines.front().find("SEARCH") != std::string::npos)
    {
        // Every word after the first is a hit; read where they stand, as a
        // mailbox may answer with thousands.
        const std::string_view line = lines.front();
        for (std::size_t space = line.find(' '); space != std::string_view::npos;)
        {
            const std::size_t next = line.find(' ', space + 1);
            const std::string_view word =
                line.substr(space + 1, next == std::string_view::npos ? std::string_view::npos : next - space - 1);
            std::uint32_t hit = 0;
            if (!TryIMAP4Number(word, hit))
                throw EIdReplyIMAP4Error("Unexpected: " + lines.front().substr(0, 80));
            MailBox.SearchHits.push_back(hit);
            space = next;
        }
    }
    return true;
}

bool TIdIMAP4::SearchMailbox(const std::vector<TIdIMAP4SearchRec>& criteria)
{
    return DoSearch("", criteria);
}

bool TIdIMAP4::UIDSearchMailbox(const std::vector<TIdIMAP4SearchRec>& criteria)
{
    if (!DoSearch("UID ", criteria))
        return false;
    // In the mailbox's order, whatever order the server answered in: the
    // last hits are then the newest messages.
    std::sort(MailBox.SearchHits.begin(), MailBox.SearchHits.end());
    return true;
}

void TIdIMAP4::SkipFetchAnswer(const std::string& tag)
{
    TIdIOHandler& handler = Handler();
    long long left = FetchLine.LiteralSize;
    while (left > 0)
    {
        const int chunk = static_cast<int>(std::min<long long>(left, 1 << 20));
        const std::string bytes = handler.ReadExactBytes(chunk);
        if (bytes.empty())
            throw EIdConnClosedGracefully();
        left -= static_cast<long long>(bytes.size());
    }
    std::size_t held = 0;
    for (;;)
    {
        const std::string line = handler.ReadLineSkippingBlanks();
        if (IsUnexpectedBye(line, {}))
        {
            ConnectionState = State::Lost;
            throw EIdDisconnectedProbablyIdledOut();
        }
        if (StartsWithTag(line, tag))
            return;
        held += line.size();
        if (held > MaxReplySize)
            throw EIdReplyIMAP4Error("Unexpected: reply larger than " + std::to_string(MaxReplySize) + " bytes");
    }
}

bool TIdIMAP4::NextFetchResponse(const std::string& tag, std::string& text, std::vector<std::string>& literals)
{
    std::string line = Handler().ReadLineSkippingBlanks();
    if (StartsWithTag(line, tag))
    {
        LastReplyIMAP4().SetFormattedReply({line});
        return false;
    }
    if (IsUnexpectedBye(line, {}))
    {
        ConnectionState = State::Lost;
        throw EIdDisconnectedProbablyIdledOut();
    }
    if (line.rfind("* ", 0) != 0)
        throw EIdReplyIMAP4Error("Unexpected: Line in a FETCH answer that is neither untagged nor the "
                                 "completion, offending line: " + line);
    ReadResponseRest(std::move(line), text, literals);
    return true;
}

bool TIdIMAP4::DoFetchHeader(const std::string& prefix, std::uint32_t number, TIdMessage& message)
{
    if (number < 1)
        throw EIdNumberInvalid();
    CheckConnectionState({State::Selected});
    const std::string tag = NextTag();
    Handler().WriteLine(tag + " " + prefix + "FETCH " + std::to_string(number) + " (RFC822.HEADER)");

    const TIdStrings items = {"RFC822.HEADER"};
    for (;;)
    {
        if (ReadTaggedReply(tag, {"FETCH"}, true) != "OK" || LastReply().Text.empty())
            return false;
        const bool parsed = ParseFetchLine(LastReply().Text.front(), "FETCH", items, FetchLine);
        // A flag change the server reports on its own (another client read a
        // message) is a whole FETCH line without our item: ours still comes.
        if (!parsed && FetchLine.Command == "FETCH" && FetchLine.Complete && FetchLine.LiteralSize < 0)
            continue;
        if (!parsed || FetchLine.LiteralSize <= 0)
        {
            // The rest of the answer is read, so the next command's reply
            // does not begin with it.
            SkipFetchAnswer(tag);
            return false;
        }
        break;
    }
    const std::string bytes = ReadHeaderLiteral(FetchLine.LiteralSize, MaxHeaderSize);

    std::string rest = Handler().ReadLineSkippingBlanks();
    if (!rest.empty() && rest.front() == ')')
        rest.erase(0, 1);
    if (!rest.empty() && rest.back() == ')')
        rest.pop_back();
    const TIdStrings parts = SplitParts(rest);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
    {
        if (SameText(parts[i], "UID"))
            FetchLine.Uid = parts[i + 1];
        else if (SameText(parts[i], "FLAGS"))
            FetchLine.Flags = FlagsOfWords(parts[i + 1]);
    }

    const bool ok = ReadTaggedReply(tag, {"FETCH"}, false) == "OK";
    LoadHeaderLines(bytes, message);
    return ok;
}

bool TIdIMAP4::FetchHeader(int number, TIdMessage& message)
{
    if (number < 1)
        throw EIdNumberInvalid();
    return DoFetchHeader("", static_cast<std::uint32_t>(number), message);
}

bool TIdIMAP4::UIDFetchHeader(std::uint32_t uid, TIdMessage& message)
{
    return DoFetchHeader("UID ", uid, message);
}

std::string TIdIMAP4::ReadLiteral(long long size)
{
    std::string bytes;
    while (static_cast<long long>(bytes.size()) < size)
    {
        const long long left = size - static_cast<long long>(bytes.size());
        std::string part = Handler().ReadExactBytes(static_cast<int>(std::min<long long>(left, 1 << 20)));
        if (part.empty())
            throw EIdConnClosedGracefully();
        if (bytes.empty())
            bytes = std::move(part);
        else
            bytes += part;
    }
    return bytes;
}

std::string TIdIMAP4::ReadHeaderLiteral(long long size, long long room)
{
    if (size / static_cast<long long>(HeaderFloodFactor) > MaxHeaderSize)
        throw EIdReplyTooLarge();
    if (size <= room)
        return ReadLiteral(size);
    TIdHeaderList lines;
    THeaderKeeper keeper(lines, static_cast<std::size_t>(std::max(room, 0LL)));
    for (long long left = size; left > 0;)
    {
        const std::string part = Handler().ReadExactBytes(static_cast<int>(std::min<long long>(left, 1 << 16)));
        if (part.empty())
            throw EIdConnClosedGracefully();
        left -= static_cast<long long>(part.size());
        if (room > 0)
            keeper.AddBytes(part);
    }
    keeper.Finish();
    std::string kept;
    for (const std::string& line : lines.Lines)
        kept.append(line).append("\r\n");
    return kept;
}

void TIdIMAP4::LoadHeader(const std::string& bytes, TIdMessage& message) const
{
    message.CheckFieldsOnly = CheckFieldsOnly;
    // A check reads a few fields: the other lines need not be kept first.
    if (CheckFieldsOnly && KeepCheckedFields(bytes, message.HeaderLines))
        message.LoadFromHeaderLines();
    else
        LoadHeaderLines(bytes, message);
    // A batch keeps many messages; a check reads only the parsed fields.
    if (CheckFieldsOnly)
        message.HeaderLines.Clear();
}

void TIdIMAP4::ReadResponseRest(std::string line, std::string& text, std::vector<std::string>& literals)
{
    text.clear();
    literals.clear();
    long long literalBytes = 0;
    long long literalsRead = 0;
    for (;;)
    {
        text += line;
        if (text.size() > MaxReplySize)
            throw EIdReplyIMAP4Error("Unexpected: reply larger than " + std::to_string(MaxReplySize) + " bytes");
        const long long size = TrailingLiteralSize(line);
        if (size < 0)
            return;
        // All literals of one response together: only the header is asked
        // for. One past what is left is kept as a header too large is, and
        // its announcement gives what was kept.
        const auto flood = static_cast<long long>(HeaderFloodFactor);
        if (size / flood > MaxHeaderSize || (literalsRead += size) / flood > MaxHeaderSize)
            throw EIdReplyTooLarge();
        // A body's start asked for beside the header has room of its own.
        const long long textRoom = FetchPreviews ? static_cast<long long>(PreviewBodyBytes) : 0;
        std::string bytes = ReadHeaderLiteral(size, MaxHeaderSize + textRoom - literalBytes);
        if (static_cast<long long>(bytes.size()) != size)
            text.replace(text.rfind('{'), std::string::npos, "{" + std::to_string(bytes.size()) + "}");
        literalBytes += static_cast<long long>(bytes.size());
        literals.push_back(std::move(bytes));
        text += '\n';
        // What follows a literal belongs to the response, an empty line too.
        line = Handler().ReadLineOrTimeout();
    }
}

std::string TIdIMAP4::HeaderFetchItems(bool previews)
{
    return previews ? "(RFC822.SIZE BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0." + std::to_string(PreviewBodyBytes) + ">)"
                    : "(RFC822.SIZE BODY.PEEK[HEADER])";
}

bool TIdIMAP4::FetchChunk(const std::vector<std::uint32_t>& uids, std::vector<TIdIMAP4FetchedHeader>& out,
                          bool drain)
{
    const std::string tag = NextTag();
    if (drain)
        DrainStrayLines();
    WriteCommand(tag + " UID FETCH " + UIDSetText(uids) + " " + HeaderFetchItems(FetchPreviews));

    // Each asked UID's record is made in `out` when its first item comes and
    // stays there; `at` holds its index by the UID's place in `uids`. A size
    // may come in a response of its own.
    constexpr std::size_t none = std::string::npos;
    const std::size_t first = out.size();
    std::vector<std::size_t> at(uids.size(), none);
    std::vector<bool> hasHeader(uids.size(), false);
    // Per asked UID, the header's MIME fields and the body's start, until
    // the chunk's previews are made.
    std::vector<std::string> mimeFields(FetchPreviews ? uids.size() : 0);
    std::vector<std::string> texts(FetchPreviews ? uids.size() : 0);
    std::vector<bool> hasText(FetchPreviews ? uids.size() : 0, false);
    std::vector<std::size_t> order;
    std::size_t skippedBytes = 0;
    std::size_t heldBytes = 0;
    int skippedResponses = 0;
    std::string text;
    std::vector<std::string> literals;
    TIdIMAP4FetchItems fetched;
    try
    {
        while (NextFetchResponse(tag, text, literals))
        {
            // Each asked UID takes one header and one size, so what is used is
            // bounded by the chunk.
            bool used = false;
            if (ParseFetchResponse(text, literals, fetched))
            {
                const auto found = std::lower_bound(uids.begin(), uids.end(), fetched.UID);
                const auto slot = static_cast<std::size_t>(found - uids.begin());
                if (found != uids.end() && *found == fetched.UID)
                {
                    const bool header = fetched.HasHeader && !hasHeader[slot];
                    const bool size = fetched.Size >= 0 && (at[slot] == none || out[at[slot]].Size < 0);
                    const bool bodyText = FetchPreviews && fetched.HasText && !hasText[slot];
                    if (header || size || bodyText)
                    {
                        if (at[slot] == none)
                        {
                            at[slot] = out.size();
                            out.emplace_back().UID = fetched.UID;
                            order.push_back(slot);
                        }
                        TIdIMAP4FetchedHeader& record = out[at[slot]];
                        if (header)
                        {
                            LoadHeader(fetched.Header, record.Message);
                            heldBytes += HeldBytes(record.Message);
                            if (heldBytes > MaxBatchSize)
                                throw EIdReplyTooLarge();
                            hasHeader[slot] = true;
                            if (FetchPreviews)
                                mimeFields[slot] = MimeFieldsOf(fetched.Header);
                        }
                        if (bodyText)
                        {
                            // Only the bound is copied: a server that sent more
                            // does not have the rest kept for the whole chunk.
                            texts[slot].assign(fetched.Text, 0, PreviewBodyBytes);
                            hasText[slot] = true;
                        }
                        if (size)
                            record.Size = fetched.Size;
                        used = true;
                    }
                }
            }
            if (used)
                continue;
            // Flag changes, EXISTS, answers for others or again: read, not kept,
            // bounded.
            skippedBytes += text.size();
            for (const std::string& bytes : literals)
                skippedBytes += bytes.size();
            if (skippedBytes > MaxReplySize)
                throw EIdReplyIMAP4Error("Unexpected: reply larger than " + std::to_string(MaxReplySize) + " bytes");
            if (++skippedResponses > MaxReplyLines)
                throw EIdReplyTooLarge();
        }
    }
    catch (...)
    {
        // What this chunk began is not handed back.
        out.erase(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
        throw;
    }
    // A record that got a size but no header leaves; the others keep the
    // order their first items came in.
    std::size_t kept = first;
    for (std::size_t k = 0; k < order.size(); ++k)
        if (hasHeader[order[k]])
        {
            if (FetchPreviews && hasText[order[k]] && !texts[order[k]].empty())
                out[first + k].Preview = TPreview::Of(std::move(mimeFields[order[k]]), std::move(texts[order[k]]));
            if (kept != first + k)
                out[kept] = std::move(out[first + k]);
            ++kept;
        }
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(kept), out.end());
    return LastReply().Code == "OK";
}

bool TIdIMAP4::UIDFetchHeadersAndSizes(const std::vector<std::uint32_t>& uids,
                                       std::vector<TIdIMAP4FetchedHeader>& out, std::size_t chunk)
{
    out.clear();
    std::vector<std::uint32_t> sorted = uids;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (!sorted.empty() && sorted.front() == 0)
        throw EIdNumberInvalid();
    CheckConnectionState({State::Selected});
    // A message is large to move: the answers are not moved again as they grow.
    out.reserve(sorted.size());
    chunk = std::max<std::size_t>(chunk, 1);
    for (std::size_t from = 0; from < sorted.size(); from += chunk)
    {
        const auto first = sorted.begin() + static_cast<std::ptrdiff_t>(from);
        const std::vector<std::uint32_t> part(first, first + static_cast<std::ptrdiff_t>(std::min(chunk, sorted.size() - from)));
        // A chunk follows the completion of the one before: nothing stray
        // can stand between them, so only the first waits to drain.
        if (!FetchChunk(part, out, from == 0))
            return false;
    }
    return true;
}

bool TIdIMAP4::UIDFetchTextStarts(const std::vector<std::uint32_t>& uids, std::size_t bytes,
                                  std::vector<std::string>& texts)
{
    texts.assign(uids.size(), std::string());
    std::vector<std::uint32_t> sorted = uids;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (sorted.empty())
        return true;
    if (sorted.front() == 0)
        throw EIdNumberInvalid();
    CheckConnectionState({State::Selected});
    const std::string tag = NextTag();
    DrainStrayLines();
    WriteCommand(tag + " UID FETCH " + UIDSetText(sorted) + " (BODY.PEEK[TEXT]<0." + std::to_string(bytes) + ">)");
    std::vector<bool> answered(sorted.size(), false);
    std::size_t skippedBytes = 0;
    int skippedResponses = 0;
    std::string text;
    std::vector<std::string> literals;
    TIdIMAP4FetchItems fetched;
    while (NextFetchResponse(tag, text, literals))
    {
        // Each asked UID takes one text: what is kept is bounded by the set.
        if (ParseFetchResponse(text, literals, fetched) && fetched.HasText)
        {
            const auto found = std::lower_bound(sorted.begin(), sorted.end(), fetched.UID);
            const auto slot = static_cast<std::size_t>(found - sorted.begin());
            if (found != sorted.end() && *found == fetched.UID && !answered[slot])
            {
                answered[slot] = true;
                for (std::size_t i = 0; i < uids.size(); ++i)
                    if (uids[i] == fetched.UID)
                        texts[i].assign(fetched.Text, 0, bytes);
                continue;
            }
        }
        skippedBytes += text.size();
        for (const std::string& literal : literals)
            skippedBytes += literal.size();
        if (skippedBytes > MaxReplySize)
            throw EIdReplyIMAP4Error("Unexpected: reply larger than " + std::to_string(MaxReplySize) + " bytes");
        if (++skippedResponses > MaxReplyLines)
            throw EIdReplyTooLarge();
    }
    return LastReply().Code == "OK";
}

int TIdIMAP4::DoMessageSize(const std::string& prefix, std::uint32_t number)
{
    if (number < 1)
        throw EIdNumberInvalid();
    CheckConnectionState({State::Selected});
    const std::string code = SendTaggedCommand(
        NextTag(), prefix + "FETCH " + std::to_string(number) + " (RFC822.SIZE)", {"FETCH"});
    if (code != "OK")
        return -1;
    // A flag change reported on its own may stand before the answer.
    for (const std::string& line : LastReply().Text)
        if (ParseFetchLine(line, "FETCH", {"RFC822.SIZE"}, FetchLine))
            return DecimalToInt(FetchLine.ItemValue);
    return -1;
}

int TIdIMAP4::MessageSize(int number)
{
    if (number < 1)
        throw EIdNumberInvalid();
    return DoMessageSize("", static_cast<std::uint32_t>(number));
}

int TIdIMAP4::UIDMessageSize(std::uint32_t uid)
{
    return DoMessageSize("UID ", uid);
}

bool TIdIMAP4::UIDStoreDeleted(std::uint32_t uid)
{
    return UIDStoreFlag(uid, "\\Deleted");
}

bool TIdIMAP4::UIDStoreSeen(std::uint32_t uid)
{
    return UIDStoreFlag(uid, "\\Seen");
}

bool TIdIMAP4::UIDStoreFlag(std::uint32_t uid, const std::string& flag)
{
    if (uid < 1)
        throw EIdNumberInvalid();
    CheckConnectionState({State::Selected});
    return SendTaggedCommand(NextTag(), "UID STORE " + std::to_string(uid) + " +FLAGS.SILENT (" + flag + ")",
                             {"FETCH"})
           == "OK";
}

bool TIdIMAP4::UIDExpunge(std::uint32_t uid)
{
    if (uid < 1)
        throw EIdNumberInvalid();
    CheckConnectionState({State::Selected});
    return SendTaggedCommand(NextTag(), "UID EXPUNGE " + std::to_string(uid), {"EXPUNGE"}) == "OK";
}

bool TIdIMAP4::CloseMailbox()
{
    CheckConnectionState({State::Selected});
    if (SendTaggedCommand(NextTag(), "CLOSE", {}) != "OK")
        return false;
    MailBox.Clear();
    ConnectionState = State::Authenticated;
    return true;
}

void TIdIMAP4::CloseSession() noexcept
{
    TIdTCPConnection::Disconnect(false);
    ConnectionState = State::NonAuthenticated;
    ServerCapabilities.clear();
    FIdling = false;
    FIdleNews = false;
}

void TIdIMAP4::Disconnect()
{
    // Bytes left from a connection that was closed do not make it connected.
    if (!(HandlerOpen() && Connected()))
        throw EIdClosedSocket();
    try
    {
        SendTaggedCommand(NextTag(), "LOGOUT", {"BYE"});
    }
    catch (...)
    {
        CloseSession();
        throw;
    }
    CloseSession();
}

void TIdIMAP4::Disconnect(bool notifyPeer)
{
    if (notifyPeer)
        Disconnect();
    else
        CloseSession();
}
