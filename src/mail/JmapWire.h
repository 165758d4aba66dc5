#pragma once

#include "mail/IdExceptions.h"

#include <QJsonObject>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// JMAP (RFC 8620, mail in RFC 8621) as text: the session resource, the
// requests a check sends and the answers it reads, free of the network.
// Every reader is bounded: a document past MaxJmapAnswer, nested past
// MaxJsonDepth, with more items than asked for or a member of the wrong type
// raises EJmapMalformed.

constexpr std::size_t MaxJmapAnswer = 16 * 1024 * 1024;
constexpr const char* JmapCoreCapability = "urn:ietf:params:jmap:core";
constexpr const char* JmapMailCapability = "urn:ietf:params:jmap:mail";

class EJmapMalformed : public EIdProtocolError
{
public:
    explicit EJmapMalformed(const std::string& problem);
    std::string Problem; // English, for logs and tests
};

// The session resource offers no mail account.
class EJmapNoMail : public EIdException
{
public:
    EJmapNoMail();
};

// A method answered with an error (RFC 8620 3.6.2): `Type` is its type,
// "cannotCalculateChanges" among them.
class EJmapMethodError : public EIdProtocolError
{
public:
    EJmapMethodError(const std::string& method, const std::string& type);
    std::string Method;
    std::string Type;
};

struct TJmapSession
{
    std::string ApiUrl;         // absolute
    std::string EventSourceUrl; // absolute URL template; empty: none
    std::string AccountId;      // the primary mail account
    std::string State;
    int MaxObjectsInGet = 500;
    int MaxCallsInRequest = 16;
};

// `sessionUrl` is where the resource was read; the URLs in it are made
// absolute against it.
TJmapSession ReadJmapSession(std::string_view body, const std::string& sessionUrl);

// A JMAP Id (RFC 8620 1.2): 1 to 255 characters of the URL-safe base64
// alphabet. Only such ids are taken from a server: they end up in row
// identities, command lines and the memory of what was told.
bool IsJmapId(std::string_view id);

// One method call of a request.
struct TJmapCall
{
    std::string Name;
    QJsonObject Arguments;
    std::string CallId;
};

// The request's JSON: the core and mail capabilities and the calls.
std::string JmapRequestText(const std::vector<TJmapCall>& calls);
// A back-reference (RFC 8620 3.7) to what call `callId` named `name` gave
// at `path`.
QJsonObject JmapResultOf(const std::string& callId, const std::string& name, const std::string& path);

// The method answers of a response, by call id.
class TJmapResponse
{
public:
    explicit TJmapResponse(std::string_view body);
    // The arguments of the answer to `callId`, which must be `method`;
    // raises EJmapMethodError where the server answered with an error, and
    // EJmapMalformed where it did not answer the call.
    const QJsonObject& Answer(const std::string& callId, const std::string& method) const;

private:
    struct TAnswer
    {
        std::string Name;
        QJsonObject Arguments;
        std::string CallId;
    };
    std::vector<TAnswer> FAnswers;
};

struct TJmapMailbox
{
    std::string Id;
    std::string Name;
    std::string ParentId; // empty at the top
    std::string Role;     // "inbox", "trash", …; empty: none
};

// Mailbox/get's list, at most `maxItems`; `state` gets its state.
std::vector<TJmapMailbox> ReadJmapMailboxes(const QJsonObject& answer, std::size_t maxItems, std::string& state);

// The Email properties a check reads.
extern const char* const JmapEmailProperties[];

struct TJmapEmail
{
    std::string Id;
    std::vector<std::string> MailboxIds;
    bool Seen = false;
    std::string From;      // "Name <address>" of each sender, ", " between, UTF-8
    std::string Subject;   // UTF-8
    std::string MessageId; // "<id>", the first of the header's; empty: none
    long long Size = -1;
    std::string ReceivedAt; // UTCDate as sent
    std::string Preview;    // UTF-8, the server's
    std::string Priority;   // the X-Priority field's text
    std::string ListId;     // the List-Id field's text, UTF-8
};

// Email/get's list, at most `maxItems`; `state` gets its state. An email
// without an id is refused; its other members may be null.
std::vector<TJmapEmail> ReadJmapEmails(const QJsonObject& answer, std::size_t maxItems, std::string& state);

// Email/query's ids (at most `maxItems`) and total (-1: not given).
struct TJmapQuery
{
    std::vector<std::string> Ids;
    long long Total = -1;
};
TJmapQuery ReadJmapQuery(const QJsonObject& answer, std::size_t maxItems);

// Foo/changes (RFC 8620 5.2), each list at most `maxItems`.
struct TJmapChanges
{
    std::string OldState;
    std::string NewState;
    bool HasMoreChanges = false;
    std::vector<std::string> Created;
    std::vector<std::string> Updated;
    std::vector<std::string> Destroyed;
};
TJmapChanges ReadJmapChanges(const QJsonObject& answer, std::size_t maxItems);

// Email/set's answer: the ids it did not destroy or update, with why.
std::vector<std::pair<std::string, std::string>> ReadJmapSetFailures(const QJsonObject& answer);

// Whether a push StateChange (RFC 8620 7.1) names a change of the mail of
// `accountId`: its Email, Mailbox or EmailDelivery state. False for any
// other document.
bool JmapStateChanged(std::string_view data, const std::string& accountId);

// Seconds since 1970 of a UTCDate ("2026-12-10T04:20:33Z"); -1 when it is
// not one.
long long JmapUtcSeconds(const std::string& utcDate);
