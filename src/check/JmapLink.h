#pragma once

#include "check/AccountSession.h"
#include "check/JmapMemory.h"
#include "mail/HttpLine.h"
#include "mail/JmapWire.h"

#include <memory>
#include <string>
#include <vector>

// A JMAP account's way to its server: the session resource, found from the
// account's host or URL and remembered for the running program, and the
// API requests, each one HTTP request with the account's credentials (the
// password as Basic, an API token or an OAuth2 access token as Bearer).
class TJmapLink
{
public:
    TJmapLink(const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort);

    void SetAccount(const Account& account);
    const Account& Aimed() const { return FAccount; }
    // The key the memory keeps this account under.
    const std::string& Login() const { return FLogin; }

    // The memory this account left, or a fresh one; its session resource
    // read where it holds none.
    TJmapAccountMemory Open();
    // Puts back what a check ends with.
    void Keep(TJmapAccountMemory memory);
    // Forgets the account's memory, so its next check starts afresh.
    void Forget();

    // One API request.
    TJmapResponse Call(const TJmapSession& session, const std::vector<TJmapCall>& calls);
    // Every mailbox of the account (id, name, parent, role), in one request;
    // `state` gets the Mailbox state.
    std::vector<TJmapMailbox> Mailboxes(const TJmapSession& session, std::string& state);
    // The Authorization header's value; `refused` asks an OAuth2 account's
    // token afresh.
    std::string AuthorizationHeader(bool refused) { return Authorization(refused); }
    // The HTTP requests made since SetAccount.
    int Requests() const { return FRequests; }

private:
    TJmapSession ReadSession(const std::string& url);
    THttpReply Send(THttpRequest request);
    std::string Authorization(bool refused);

    TSessionLimits FLimits;
    std::shared_ptr<TIdLineAbort> FAbort;
    Account FAccount;
    std::string FLogin;
    int FRequests = 0;
};

// Where an account's session resource is: its host given as an http(s)
// URL as it stands, else "https://host/.well-known/jmap".
std::string JmapSessionUrl(const Account& account);
