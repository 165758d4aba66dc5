#pragma once

#include "mail/HeaderKeeper.h"
#include "mail/IdEMailAddress.h"
#include "mail/IdExceptions.h"
#include "mail/IdHeaderList.h"

#include <cstdint>
#include <string>
#include <vector>

// The header of one fetched message: the raw lines as the server sent them and
// the fields decoded from them. Bodies are never read.

// Stored in one byte as read: "X-Priority: 0" gives 255 and "6" gives 5; such
// levels are kept and compared as they are.
enum TIdMessagePriority : std::uint8_t
{
    mpHighest = 0,
    mpHigh = 1,
    mpNormal = 2,
    mpLow = 3,
    mpLowest = 4,
};

enum TIdMessageEncoding
{
    meDefault = 0,
    meMIME = 1,
    mePlainText = 2,
};

// Local date and time as days since 1899-12-30, the time of day as the
// fraction; 0 stands for "no date".
using TIdDateTime = double;

class TIdMessage
{
public:
    TIdMessage() = default;

    // Resets every member, HeaderLines included, to its empty state.
    void ClearMessage();
    void Clear() { ClearMessage(); }

    // Fills every member but HeaderLines from HeaderLines. A field that
    // cannot be decoded or parsed does not stop the others: a subject keeps
    // its raw text, a sender list becomes one item holding the raw text as
    // its name, other address lists stay empty.
    void LoadFromHeaderLines();
    // When set, LoadFromHeaderLines fills only what a mail check shows
    // (Subject, the sender and Priority, the list rules match) and what a message is known by
    // (Message-ID, else Date), and leaves the rest cleared: most of the
    // cost of a header is in fields a check never reads. A setting, kept by
    // ClearMessage.
    bool CheckFieldsOnly = false;

    // The first sender; an empty one is added first when there is none.
    TIdEMailAddressItem& From();
    // What a list shows as the sender: UnparsedFrom when set, else From's text.
    std::string FromText();

    TIdHeaderList HeaderLines;
    std::string Subject;
    // The mailing list it came through ("List-Id"), decoded; rules match it.
    std::string ListId;
    TIdEMailAddressList FromList;
    // The sender's text, decoded where it could be, when it could not be
    // parsed as addresses (FromList is empty then); empty otherwise.
    std::string UnparsedFrom;
    TIdMessagePriority Priority = mpNormal;
    std::string ContentType;
    std::string CharSet;
    std::string ContentTransferEncoding;
    std::string ContentDisposition;
    std::string MessageId;
    std::vector<std::string> NewsGroups;
    TIdEMailAddressList Recipients;
    TIdEMailAddressList CCList;
    TIdEMailAddressList BccList;
    std::string Organization;
    TIdEMailAddressItem ReceiptRecipient;
    std::string References;
    TIdEMailAddressList ReplyTo;
    TIdDateTime Date = 0;
    TIdEMailAddressItem Sender;
    TIdMessageEncoding Encoding = meDefault;
    // Boundary parameter of a multipart Content-Type (kept, never used to split).
    std::string Boundary;

private:
    void ClearFields();
    void LoadSenderAndSubject();
    void LoadPriority();
    // Message-ID, and the Date where there is none.
    void LoadIdentity();
};

// Level from a "Priority" or "X-Priority" value: anything with "urgent" is
// high, "non-priority" low, otherwise the leading number minus one in one byte.
TIdMessagePriority PriorityFromHeader(const std::string& value);

// An RFC 822 date-time with its zone, as local time; 0 when it cannot be read.
TIdDateTime DateTimeFromHeader(const std::string& value);

// Reads raw header lines through `connection.ReadLine()` into the message's
// HeaderLines, then loads the fields. It stops at the line equal to
// `terminator` (POP3: "."); with an empty terminator, at the empty line that
// ends a header or at a lone ".". With a terminator, empty lines are skipped.
// Returns the line that stopped the reading. A header past MaxReplyLines
// lines or MaxReplyBytes bytes is read to its end and kept in part, as
// THeaderKeeper keeps it; one far past them raises EIdReplyTooLarge, the
// message emptied.
template <typename Connection>
std::string ReadHeaderLines(Connection& connection, TIdMessage& message, const std::string& terminator)
{
    std::string line;
    THeaderKeeper keeper(message.HeaderLines);
    try
    {
        while (true)
        {
            line = connection.ReadLine();
            if ((terminator.empty() && line == ".") || line == terminator)
                break;
            if (line.empty())
                keeper.Skip();
            else
                keeper.Add(std::move(line));
        }
    }
    catch (const EIdReplyTooLarge&)
    {
        message.ClearMessage();
        throw;
    }
    keeper.Finish();
    message.LoadFromHeaderLines();
    return line;
}
