#include "find/Autoconfig.h"

#include "platform/AsciiText.h"
#include "platform/Numbers.h"

#include <QXmlStreamReader>

using namespace AsciiText;

namespace
{

struct TServerText
{
    std::string Type, Host, Port, Socket, User;
    bool PasswordAuth = false;
    bool OAuth2 = false;
};

// Any error, including the reader's own, ends the read: nothing half-read counts.
class TConfigReader
{
public:
    explicit TConfigReader(std::string_view text)
        : Reader(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())))
    {
    }

    bool Next()
    {
        Reader.readNext();
        if (Reader.tokenType() == QXmlStreamReader::DTD)
            Fail("the file declares a document type");
        else if (Reader.tokenType() == QXmlStreamReader::EntityReference)
            Fail("the file refers to an entity");
        else if (Reader.hasError() && Problem.empty())
            Fail("the file is not well-formed XML (" + Reader.errorString().toStdString() + ")");
        return Problem.empty() && !Reader.atEnd();
    }

    // The text of the current element, which must hold nothing else.
    std::string ElementText()
    {
        std::string text;
        while (Next())
        {
            if (Reader.isCharacters())
                text += Reader.text().toString().toStdString();
            else if (Reader.isEndElement())
                return Trim(text);
            else if (Reader.isStartElement())
                Skip();
        }
        return {};
    }

    void Skip()
    {
        for (int depth = 1; depth > 0 && Next();)
        {
            if (Reader.isStartElement())
                ++depth;
            else if (Reader.isEndElement())
                --depth;
        }
    }

    bool IsElement(const char* name) const { return Reader.isStartElement() && Reader.name() == QLatin1String(name); }
    std::string Attribute(const char* name) const { return Reader.attributes().value(QLatin1String(name)).toString().toStdString(); }
    void Fail(std::string problem) { if (Problem.empty()) Problem = std::move(problem); }

    QXmlStreamReader Reader;
    std::string Problem;
};

// incomingServer := <incomingServer type="imap|pop3"> hostname port socketType username authentication* </incomingServer>
TServerText ReadServer(TConfigReader& reader)
{
    TServerText server;
    server.Type = LowerCase(reader.Attribute("type"));
    while (reader.Next() && !reader.Reader.isEndElement())
    {
        if (!reader.Reader.isStartElement())
            continue;
        if (reader.IsElement("hostname"))
            server.Host = reader.ElementText();
        else if (reader.IsElement("port"))
            server.Port = reader.ElementText();
        else if (reader.IsElement("socketType"))
            server.Socket = reader.ElementText();
        else if (reader.IsElement("username"))
            server.User = reader.ElementText();
        else if (reader.IsElement("authentication"))
        {
            const std::string kind = reader.ElementText();
            server.OAuth2 = server.OAuth2 || SameText(kind, "OAuth2");
            server.PasswordAuth = server.PasswordAuth || SameText(kind, "password-cleartext")
                                  || SameText(kind, "password-encrypted") || SameText(kind, "plain");
        }
        else
            reader.Skip();
    }
    return server;
}

bool ToFound(const TServerText& text, const TAddressParts& address, TFoundServer& found)
{
    if (text.Type != "imap" && text.Type != "pop3")
        return false;
    found.IMAP4 = text.Type == "imap";
    found.Host = CleanHostName(ExpandUserName(text.Host, address));
    int port = 0;
    if (found.Host.empty() || !TryDecimalToInt(text.Port, port) || port < 1 || port > 65535)
        return false;
    found.Port = port;
    if (SameText(text.Socket, "SSL") || SameText(text.Socket, "TLS"))
        found.Security = asImplicitTLS;
    else if (SameText(text.Socket, "STARTTLS"))
        found.Security = asStartTLS;
    else
        return false; // never a plain-text server chosen without the user
    found.UserName = text.User.empty() ? address.Address : ExpandUserName(text.User, address);
    // Where a password is offered too, the user may still type one.
    found.NeedsOAuth2 = text.OAuth2 && !text.PasswordAuth;
    return true;
}

} // namespace

TAutoconfigResult ParseAutoconfig(std::string_view text, const TAddressParts& address, const std::string& domain)
{
    TAutoconfigResult result;
    if (text.size() > AutoconfigMaxBytes)
    {
        result.Problem = "the file is longer than 1 MB";
        return result;
    }
    TConfigReader reader(text);
    std::vector<TServerText> servers;
    std::string issuer;
    bool inProvider = false, inOAuth2 = false, sawRoot = false;
    while (reader.Next())
    {
        if (reader.Reader.isEndElement())
        {
            if (reader.Reader.name() == QLatin1String("emailProvider"))
                inProvider = false;
            else if (reader.Reader.name() == QLatin1String("oAuth2"))
                inOAuth2 = false;
            continue;
        }
        if (!reader.Reader.isStartElement())
            continue;
        if (!sawRoot)
        {
            sawRoot = true;
            if (!reader.IsElement("clientConfig"))
                reader.Fail("the file is not a mail configuration");
        }
        else if (reader.IsElement("emailProvider"))
            inProvider = true;
        else if (reader.IsElement("oAuth2"))
            inOAuth2 = true;
        else if (inProvider && reader.IsElement("incomingServer"))
            servers.push_back(ReadServer(reader));
        else if (inOAuth2 && reader.IsElement("issuer"))
            issuer = reader.ElementText();
        else
            reader.Skip();
    }
    if (!reader.Problem.empty())
    {
        result.Problem = reader.Problem;
        return result;
    }
    if (!sawRoot)
    {
        result.Problem = "the file is empty";
        return result;
    }
    for (const TServerText& server : servers)
    {
        TFoundServer found;
        if (!ToFound(server, address, found))
            continue;
        if (found.NeedsOAuth2)
            found.OAuth2Issuer = OAuth2IssuerFor(issuer, found.Host);
        found.Source = fsAutoconfig;
        found.SourceName = domain;
        result.Servers.push_back(std::move(found));
    }
    return result;
}
