#include "check/SessionOpen.h"

#include "check/AccountSession.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"

TSessionOpened LogInSession(TIdIMAP4& client, const std::string& login, const TIdStrings& needs)
{
    // A refused login raises nothing; the state tells.
    client.Connect(true);
    if (client.ConnectionState != TIdIMAP4ConnectionState::Authenticated)
        return TSessionOpened::LoginRefused;
    RememberCredentialCharset(login, client.CredentialCharset);
    for (const std::string& need : needs)
        if (!client.HasCapability(need))
            return TSessionOpened::Lacking;
    return TSessionOpened::Ready;
}

TSessionOpened OpenSession(TIdIMAP4& client, const std::string& login, const std::string& mailbox,
                           const TIdStrings& needs)
{
    const TSessionOpened opened = LogInSession(client, login, needs);
    if (opened != TSessionOpened::Ready)
        return opened;
    return client.SelectMailbox(mailbox) ? TSessionOpened::Ready : TSessionOpened::MailboxRefused;
}

void OpenSession(TIdPOP3& client, const std::string& login)
{
    client.Connect();
    RememberCredentialCharset(login, client.CredentialCharset);
}
