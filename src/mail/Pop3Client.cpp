#include "mail/Pop3Client.h"

#include "mail/Credentials.h"
#include "mail/IdExceptions.h"
#include "mail/IdHashMessageDigest5.h"
#include "mail/IdIOHandler.h"
#include "mail/IdMessage.h"
#include "mail/MailLimits.h"
#include "mail/MessagePreview.h"
#include "mail/SaslMechanism.h"
#include "mail/TlsIOHandler.h"
#include "platform/AsciiText.h"
#include "platform/Exception.h"
#include "platform/Numbers.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace
{

std::string FirstLine(const TIdStrings& text)
{
    return text.empty() ? std::string() : text.front();
}

// The header reader wants a line source; a time-out there must raise, or it
// would take the empty line it gets for one as a blank and wait forever. A
// line past the line cap is read to its end and its start kept: it costs its
// message the end of one field, not the account its check.
class HeaderLineSource
{
public:
    explicit HeaderLineSource(TIdIOHandler& handler) : Handler(handler), Action(handler.MaxLineAction)
    {
        Handler.MaxLineAction = maSplit;
    }
    ~HeaderLineSource() { Handler.MaxLineAction = Action; }
    HeaderLineSource(const HeaderLineSource&) = delete;
    HeaderLineSource& operator=(const HeaderLineSource&) = delete;

    std::string ReadLine()
    {
        std::string line = Handler.ReadLineOrTimeout();
        Read += line.size();
        while (Handler.LastReadSplit())
        {
            // What is not kept of a header counts against its flood bound.
            Read += Handler.ReadLineOrTimeout().size();
            if (Read / HeaderFloodFactor > MaxReplyBytes)
                throw EIdReplyTooLarge();
        }
        return line;
    }

private:
    TIdIOHandler& Handler;
    const TIdMaxLineAction Action;
    std::size_t Read = 0;
};

// How far past the caps a unique-id listing is still read to its end. A
// mailbox with more messages than the caps allow gets its "too long" error
// with the session in step; a server that floods beyond this is given up on.
constexpr int UidlFloodFactor = 10;
// A listing line: a message number, a space and an id of at most 70
// characters, with room to spare.
constexpr std::size_t UidlLineBytes = 96;

const char* const UidlListingMalformed = "The server sent a malformed unique-id listing.";
const char* const UidlListingTooLong = "The server's unique-id listing is too long.";
const char* const UidlAnswerMalformed = "The server sent a malformed unique id.";

} // namespace

std::string POP3GreetingTimestamp(const std::string& text)
{
    std::size_t open = text.find('<');
    if (open == std::string::npos)
        return {};
    std::size_t close = text.find('>', open);
    if (close == std::string::npos)
        return {};
    return text.substr(open, close - open + 1);
}

std::string POP3ApopDigest(const std::string& timestamp, const std::string& password)
{
    return TIdHashMessageDigest5::HashStringAsHex(timestamp + password);
}

int POP3StatCount(const std::string& text)
{
    if (text.empty())
        return 0;
    std::size_t space = text.find(' ');
    // Without a space there is no count before it: "+OK 2" is refused.
    return DecimalToInt(space == std::string::npos ? std::string() : text.substr(0, space));
}

int POP3ListSize(const std::string& text)
{
    std::size_t space = text.find(' ');
    if (space == std::string::npos)
        return -1;
    std::string rest = text.substr(space + 1);
    int value = 0;
    // A negative size is no size either.
    return TryDecimalToInt(rest.substr(0, rest.find(' ')), value) && value >= 0 ? value : -1;
}

TIdPOP3::TIdPOP3() : TIdTCPClientCustom(std::make_unique<TIdReplyPOP3>())
{
    Port = 110;
}

TIdPOP3::~TIdPOP3() = default;

void TIdPOP3::Connect()
{
    CanApop = false;
    CapaAnswered = false;
    GreetingTimestamp.clear();
    ServerCapabilities.clear();
    PrepareTLSHandler(*this, UseTLS);
    TIdTCPClientCustom::Connect();
    // A refused greeting leaves the connection open for the caller to close.
    ReadReply("+OK");
    GreetingTimestamp = POP3GreetingTimestamp(FirstLine(LastReply().Text));
    CanApop = !GreetingTimestamp.empty();
    if (SendCommand("CAPA") == "+OK")
        IOHandler()->ReadDotTerminated(ServerCapabilities);
    CapaAnswered = !ServerCapabilities.empty();
    if (UsesStartTLS(UseTLS))
        StartTLS();
    if (AutoLogin)
        Login();
}

void TIdPOP3::StartTLS()
{
    try
    {
        bool offered = false;
        for (const std::string& capability : ServerCapabilities)
            offered = offered || AsciiText::SameText(capability, "STLS");
        if (!offered)
            throw EIdTLSNotAvailable("The server does not offer STLS; the password was not sent.");
        if (SendCommand("STLS") != "+OK")
            throw EIdTLSNotAvailable("The server refused STLS (" + FirstLine(LastReply().Text)
                                     + "); the password was not sent.");
        static_cast<TIdTlsIOHandler*>(IOHandler())->StartTLS();
    }
    catch (const EIdTLSError&)
    {
        // Nothing more goes over a line that could not be secured.
        Disconnect(false);
        throw;
    }
    // What the server said before the handshake may have been forged.
    ServerCapabilities.clear();
    if (SendCommand("CAPA") == "+OK")
        IOHandler()->ReadDotTerminated(ServerCapabilities);
    CapaAnswered = !ServerCapabilities.empty();
}

void TIdPOP3::Login()
{
    // Whatever went wrong before, credentials never go over a line that was
    // meant to be secure and is not.
    if (!LineSecureAsAsked(*this, UseTLS))
    {
        Disconnect(false);
        throw EIdTLSNotAvailable("The connection is not secure; the password was not sent.");
    }
    try
    {
        // Sent unquoted, a line break would end the command early and make
        // the rest of the text a command of its own.
        if ((Username + Password).find_first_of("\r\n") != std::string::npos)
            throw EIdException("User name or password contains a line break.");
        if (AuthType == atAPOP && !CanApop)
            throw EIdDoesNotSupportAPOP();
        if (AuthType == atSASL && SASLMechanisms.empty())
            throw EIdSASLMechNeeded();
        TIdStrings offered;
        for (const std::string& capability : ServerCapabilities)
            if (capability.size() > 5 && AsciiText::SameText(capability.substr(0, 5), "SASL "))
                for (std::size_t at = 5; at < capability.size();)
                {
                    const std::size_t space = std::min(capability.find(' ', at), capability.size());
                    if (space > at)
                        offered.push_back(capability.substr(at, space - at));
                    at = space + 1;
                }
        // A server that answers CAPA and leaves out USER takes no USER and
        // PASS; one that also offers a mechanism the client speaks gets it.
        const TIdLoginChoice choice =
            ChooseLogin(AccessToken ? TIdLoginMethod::OAuth2
                        : AuthType == atAPOP ? TIdLoginMethod::APOP
                        : AuthType == atSASL ? TIdLoginMethod::SASL
                                             : TIdLoginMethod::Password,
                        SASLMechanisms, CapaAnswered && !Announces("USER"), offered);
        if (choice.Method == TIdLoginMethod::OAuth2 && choice.Mechanism.empty())
            throw EIdException("The server offers no login with an access token.");
        if (choice.Method == TIdLoginMethod::SASL && choice.Mechanism.empty())
            throw EIdException("SASL login is not supported");
        if (choice.Method == TIdLoginMethod::OAuth2)
            SendTokenLogins(choice.Mechanism);
        else
            SendCredentials(choice);
    }
    catch (...)
    {
        // Tell the server goodbye first; an error from that replaces the
        // login's.
        Disconnect();
        throw;
    }
}

void TIdPOP3::Authenticate(TIdSASLMechanism& mechanism)
{
    // RFC 5034: the initial response rides on the command ("=" when empty)
    // as long as the command stays within 255 octets; else it answers the
    // server's first, empty challenge.
    std::string command = "AUTH " + mechanism.Name();
    const std::string initial = mechanism.InitialResponse();
    const std::string encoded = initial.empty() ? std::string("=") : SASLEncode(initial);
    bool initialSent = command.size() + 1 + encoded.size() <= 253;
    if (initialSent)
        command += " " + encoded;
    for (int challenges = 0; SendCommand(command) == "+"; ++challenges)
    {
        if (challenges >= MaxReplyLines)
            throw EIdReplyTooLarge();
        std::string challenge;
        std::string response;
        if (!initialSent)
        {
            initialSent = true;
            command = SASLEncode(initial);
        }
        else if (SASLDecode(FirstLine(LastReply().Text), challenge) && mechanism.Respond(challenge, response))
            command = SASLEncode(response);
        else
            command = "*"; // cancelled: the server answers "-ERR"
    }
    if (LastReply().Code != "+OK")
        LastReplyPOP3().RaiseReplyFailure();
}

void TIdPOP3::SendTokenLogins(const std::string& mechanism)
{
    for (int attempt = 0;; ++attempt)
    {
        const std::string token = AccessToken(attempt > 0);
        const std::unique_ptr<TIdSASLMechanism> bearer = MakeSASLMechanism(mechanism, {Username, token});
        try
        {
            Authenticate(*bearer);
            return;
        }
        catch (EIdReplyPOP3Error& e)
        {
            HideSecret(e.Message, token, *bearer);
            // Only a refused token is worth a fresh one: not a locked
            // maildrop or a server that is unavailable.
            if (attempt > 0 || !Connected() ||
                (!e.EnhancedCode.empty() && !AsciiText::SameText(e.EnhancedCode, "[AUTH]")))
                throw;
        }
    }
}

void TIdPOP3::SendCredentials(const TIdLoginChoice& choice)
{
    std::optional<EIdReplyPOP3Error> refusal;
    for (const auto& [charset, credentials] : CredentialTries(Username, Password, CredentialCharset))
    {
        try
        {
            if (choice.Method == TIdLoginMethod::SASL)
                Authenticate(*MakeSASLMechanism(choice.Mechanism, credentials));
            else if (choice.Method == TIdLoginMethod::APOP)
                SendCommand("APOP " + credentials.Username + " " +
                                POP3ApopDigest(GreetingTimestamp, credentials.Password),
                            "+OK");
            else
            {
                SendCommand("USER " + credentials.Username, "+OK");
                SendCommand("PASS " + credentials.Password, "+OK");
            }
            CredentialCharset = charset;
            return;
        }
        catch (const EIdReplyPOP3Error& e)
        {
            // A locked maildrop or a busy server would refuse the other
            // form just the same.
            if (!e.EnhancedCode.empty() && !AsciiText::SameText(e.EnhancedCode, "[AUTH]"))
                throw;
            if (!refusal)
                refusal = e;
        }
        catch (const EIdException&)
        {
            // A server that hangs up after a refusal: the refusal says why.
            if (!refusal)
                throw;
            break;
        }
    }
    throw *refusal;
}

int TIdPOP3::CountMessages()
{
    SendCommand("STAT", "+OK");
    return POP3StatCount(FirstLine(LastReply().Text));
}

bool TIdPOP3::FetchHeader(int number, TIdMessage& message, TPreview* preview)
{
    message.ClearMessage();
    SendCommand(TopCommand(number, preview != nullptr), "+OK");
    ReadHeaderBody(message, preview);
    return true;
}

bool TIdPOP3::FetchHeader(int number, TIdMessage& message, std::string* preview)
{
    TPreview kept;
    FetchHeader(number, message, preview ? &kept : nullptr);
    if (preview)
        *preview = kept.Text();
    return true;
}

std::string TIdPOP3::TopCommand(int number, bool preview)
{
    return "TOP " + std::to_string(number) + (preview ? " " + std::to_string(PreviewBodyLines) : " 0");
}

void TIdPOP3::ReadHeaderBody(TIdMessage& message, TPreview* preview)
{
    if (!IOHandler())
        throw EIdNotConnected();
    HeaderLineSource source(*IOHandler());
    if (!preview)
    {
        ReadHeaderLines(source, message, ".");
        return;
    }
    // The header ends at its empty line; the body's first lines follow up
    // to the closing ".", more than asked for only from a broken server.
    std::string body;
    int lines = 0;
    if (ReadHeaderLines(source, message, "") != ".")
        body = IOHandler()->ReadDotTerminatedStart(PreviewBodyBytes, &lines);
    // All the lines asked for came: the body may go on.
    const bool cut = lines >= PreviewBodyLines;
    *preview = body.empty() ? TPreview() : TPreview::Of(MimeFieldsOf(message.HeaderLines), std::move(body), cut);
}

std::vector<std::string> TIdPOP3::FetchBodyStarts(const std::vector<std::pair<int, int>>& messages,
                                                  std::size_t bytes)
{
    if (!IOHandler())
        throw EIdNotConnected();
    std::vector<std::string> bodies(messages.size());
    const auto top = [](const std::pair<int, int>& m) {
        return "TOP " + std::to_string(m.first) + " " + std::to_string(m.second) + "\r\n";
    };
    const bool ahead = CanPipeline();
    if (ahead)
    {
        std::string commands;
        for (const std::pair<int, int>& m : messages)
            commands += top(m);
        IOHandler()->Write(commands);
    }
    for (std::size_t k = 0; k < messages.size(); ++k)
    {
        if (!ahead)
            IOHandler()->Write(top(messages[k]));
        // A message gone meanwhile has none; the next reply is still in step.
        if (!AsciiText::SameText(ReadReply(), "+OK"))
            continue;
        TIdMessage header;
        header.CheckFieldsOnly = true;
        HeaderLineSource source(*IOHandler());
        if (ReadHeaderLines(source, header, "") != ".")
            bodies[k] = IOHandler()->ReadDotTerminatedStart(bytes);
    }
    return bodies;
}

int TIdPOP3::MessageSize(int number)
{
    SendCommand("LIST " + std::to_string(number), "+OK");
    return POP3ListSize(FirstLine(LastReply().Text));
}

bool TIdPOP3::Announces(std::string_view tag) const
{
    for (const std::string& capability : ServerCapabilities)
        if (AsciiText::SameText(std::string_view(capability).substr(0, capability.find(' ')), tag))
            return true;
    return false;
}

bool TIdPOP3::CanPipeline() const
{
    return Announces("PIPELINING");
}

bool TIdPOP3::CanUIDL() const
{
    return Announces("UIDL");
}

bool TIdPOP3::RetrieveUIDL(std::vector<TIdPOP3UidlEntry>& entries, int firstKept, int& listed)
{
    entries.clear();
    listed = 0;
    const std::string code = SendCommand("UIDL");
    if (code == "-ERR")
        return false;
    if (code != "+OK")
        LastReplyPOP3().RaiseReplyFailure();
    entries = ReadUidlListing(firstKept, listed);
    return true;
}

std::vector<TIdPOP3UidlEntry> TIdPOP3::ReadUidlListing(int firstKept, int& listed)
{
    if (!IOHandler())
        throw EIdNotConnected();
    TIdIOHandler& handler = *IOHandler();
    std::vector<TIdPOP3UidlEntry> entries;
    int lines = 0;
    std::size_t bytes = 0; // of the entries kept
    std::size_t totalBytes = 0;
    int firstBad = 0;
    bool overCap = false;
    for (;;)
    {
        const std::string line = handler.ReadLineOrTimeout();
        if (line == ".")
            break;
        std::string_view text(line);
        if (text.size() >= 2 && text[0] == '.' && text[1] == '.')
            text.remove_prefix(1);
        ++lines;
        totalBytes += text.size();
        if (lines > MaxMailboxMessages + UidlFloodFactor * MaxReplyLines ||
            totalBytes > UidlLineBytes * (MaxMailboxMessages + UidlFloodFactor * MaxReplyLines))
            throw EIdReplyTooLarge();
        // Past the first fault or the caps only the closing "." matters.
        if (firstBad != 0 || overCap)
            continue;
        if (lines > MaxMailboxMessages)
        {
            overCap = true;
            std::vector<TIdPOP3UidlEntry>().swap(entries);
            continue;
        }
        TIdPOP3UidlEntry entry;
        if (!ParseUidlLine(text, entry))
        {
            firstBad = lines;
            continue;
        }
        if (entry.Number < firstKept)
            continue;
        bytes += text.size();
        if (entries.size() >= static_cast<std::size_t>(MaxReplyLines) || bytes > MaxReplyBytes)
        {
            overCap = true;
            std::vector<TIdPOP3UidlEntry>().swap(entries);
            continue;
        }
        entries.push_back(std::move(entry));
    }
    listed = lines;
    if (firstBad != 0)
        throw EIdPOP3UidlInvalid(UidlListingMalformed, firstBad);
    if (overCap)
        throw EIdPOP3UidlInvalid(UidlListingTooLong, 0);
    return entries;
}

bool TIdPOP3::UIDL(int number, std::string& id)
{
    id.clear();
    const std::string code = SendCommand("UIDL " + std::to_string(number));
    if (code == "-ERR")
        return false;
    if (code != "+OK")
        LastReplyPOP3().RaiseReplyFailure();
    TIdPOP3UidlEntry entry;
    // An id for another message would be kept as this one's.
    if (!ParseUidlLine(FirstLine(LastReply().Text), entry) || entry.Number != number)
        throw EIdPOP3UidlInvalid(UidlAnswerMalformed, 0);
    id = std::move(entry.Id);
    return true;
}

TIdPOP3ListAnswer TIdPOP3::FetchHeaderAndSize(int number, TIdMessage& message, std::string* preview)
{
    TPreview kept;
    TIdPOP3ListAnswer answer = FetchHeaderAndSize(number, message, preview ? &kept : nullptr);
    if (preview)
        *preview = kept.Text();
    return answer;
}

TIdPOP3ListAnswer TIdPOP3::FetchHeaderAndSize(int number, TIdMessage& message, TPreview* preview)
{
    if (!IOHandler())
        throw EIdNotConnected();
    message.ClearMessage();
    IOHandler()->Write(TopCommand(number, preview != nullptr) + "\r\nLIST " + std::to_string(number) + "\r\n");
    const bool headerSent = AsciiText::SameText(ReadReply(), "+OK");
    if (!headerSent)
    {
        const EIdReplyPOP3Error refusal = LastReplyPOP3().Failure();
        ReadReply();
        throw refusal;
    }
    ReadHeaderBody(message, preview);
    TIdPOP3ListAnswer answer;
    if (AsciiText::SameText(ReadReply(), "+OK"))
        answer.Size = POP3ListSize(FirstLine(LastReply().Text));
    else
        answer.Refusal = LastReplyPOP3().Failure();
    return answer;
}

bool TIdPOP3::DeleteMessage(int number)
{
    return SendCommand("DELE " + std::to_string(number), "+OK") == "+OK";
}

void TIdPOP3::NotifyPeerOfDisconnect()
{
    if (HandlerOpen() && Connected())
        SendCommand("QUIT", "+OK");
}
