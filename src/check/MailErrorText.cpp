#include "check/MailErrorText.h"

#include "check/AccessTokens.h"
#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "mail/IdExceptions.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

namespace
{

// The mail library's fixed error texts, written here for the catalog
// template; the texts are looked up by the value the error carries.
[[maybe_unused]] constexpr const char* MailErrorTexts[] = {
    N_("Already connected."),
    N_("Connect timed out."),
    N_("Connection Closed Gracefully."),
    N_("Disconnected."),
    N_("Read Timeout"),
    N_("Operation timed out."),
    N_("Reply too large."),
    N_("Max line length exceeded."),
    N_("Not connected."),
    N_("Not Connected"),
    N_("User name or password contains a line break."),
    N_("User name or password contains a NUL character."),
    N_("SASL login is not supported"),
    N_("MD5 is not available"),
    N_("Server do not support APOP (no timestamp)"),
    N_("Need SASL mechanisms to login with it!!"),
    N_("@ Outside address"),
    N_("Interrupted system call."),
    N_("Access denied."),
    N_("Address already in use."),
    N_("Cannot assign requested address."),
    N_("Network is down."),
    N_("Network is unreachable."),
    N_("Net dropped connection or reset."),
    N_("Software caused connection abort."),
    N_("Connection reset by peer."),
    N_("No buffer space available."),
    N_("Socket is not connected."),
    N_("Cannot send or receive after socket is closed."),
    N_("Connection timed out."),
    N_("Connection refused."),
    N_("Host is down."),
    N_("No route to host."),
    N_("Host not found."),
    N_("Bad file number."),
    N_("Socket operation on non-socket."),
    N_("Non-authoritative host not found."),
    N_("Non-recoverable error."),
    N_("Unknown error."),
    N_("The server's certificate has expired."),
    N_("The server's certificate is not valid yet."),
    N_("The server's certificate was issued for another host name."),
    N_("The server's certificate is self-signed and not trusted."),
    N_("The server's certificate was issued by an unknown authority."),
    N_("The server's certificate has been revoked."),
    N_("The server closed the connection during the secure handshake."),
    N_("The server sent data ahead of the secure connection."),
    N_("The server does not offer STLS; the password was not sent."),
    N_("The server does not offer STARTTLS; the password was not sent."),
    N_("The server's greeting does not allow STARTTLS; the password was not sent."),
    N_("The connection is not secure; the password was not sent."),
    N_("This client cannot secure its connection."),
    N_("The server offers no login with an access token."),
    N_("The access token is not fit to send."),
    N_("The user name holds a character the login cannot carry."),
    N_("This program cannot log in with an access token."),
    N_("The server's HTTP answer cannot be read."),
    N_("The server's JMAP answer cannot be read."),
    N_("The server offers no mail over JMAP."),
    N_("The JMAP server refused the request."),
    N_("The server's answer left messages out."),
    N_("The server's event stream cannot be read."),
};

const std::string NotAnInteger = "' is not a valid integer value";

// A text that may have come from a server: 8-bit, kept byte for byte unless a
// catalog has it.
std::string Translated(const std::string& text)
{
    const QString english = FromCodePage(text);
    const QString translated = TranslateMessage(english);
    return translated == english ? text : ToCodePage(translated);
}

} // namespace

std::string MailErrorText(const std::exception& error)
{
    // The token source's own text may say more than a user should read.
    if (dynamic_cast<const ESignInNeeded*>(&error))
        return ResStr("This account needs a sign-in with its mail provider: open its settings and sign in.");
    if (const auto* socket = dynamic_cast<const EIdSocketError*>(&error))
    {
        if (!socket->OwnText)
            return FormatOne(ResStr("Socket Error # %d"), "%d", std::to_string(socket->LastError)) +
                   "\r\n" + Translated(SocketErrorDescription(socket->LastError));
    }
    const std::string text = error.what();
    if (dynamic_cast<const EConvertError*>(&error) && text.size() > NotAnInteger.size() &&
        text.front() == '\'' && text.compare(text.size() - NotAnInteger.size(), std::string::npos, NotAnInteger) == 0)
    {
        const std::string value = text.substr(1, text.size() - NotAnInteger.size() - 1);
        return FormatOne(ResStr("'%s' is not a valid integer value"), "%s", value);
    }
    return Translated(text);
}
