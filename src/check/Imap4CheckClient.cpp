#include "check/Imap4CheckClient.h"

#include "check/FurtherPreviews.h"
#include "check/RowId.h"
#include "check/SessionGuard.h"
#include "check/SessionOpen.h"
#include "i18n/Translate.h"
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

void TImap4CheckClient::Connect()
{
    FStalled = false;
    FMailbox.clear();
    // A refused login raises nothing here; the select after it fails on the
    // connection state.
    GuardSession(FStalled, [this] { LogInSession(FClient, FLogin); });
}

int TImap4CheckClient::MessageCount()
{
    return GuardSession(FStalled, [this] {
        // The inbox alone: a refused mailbox fails the search on the
        // connection state. A folder: that folder fails.
        if (!FClient.SelectMailbox(FMailbox.empty() ? std::string(InboxName) : FMailbox) && !FMailbox.empty())
        {
            const TIdStrings& side = FClient.LastReplyIMAP4().SideLines;
            throw EFolderRefused(side.empty() ? FClient.LastReply().Code : side.front());
        }
        TIdIMAP4SearchRec unseen;
        unseen.SearchKey = skUnseen;
        try
        {
            if (!FClient.UIDSearchMailbox({unseen}))
                return 0;
        }
        catch (const EIdReadLnMaxLineLengthExceeded&)
        {
            // The hits come on one line, bounded like any other.
            FStalled = true;
            throw EIdException(ResStr("The mailbox holds more unseen messages than can be checked."));
        }
        return static_cast<int>(FClient.MailBox.SearchHits.size());
    });
}

std::vector<std::string> TImap4CheckClient::MessageIds(int first, int count)
{
    std::vector<std::string> ids;
    const uint32_t validity = FClient.MailBox.UIDValidity;
    const std::vector<std::uint32_t>& hits = FClient.MailBox.SearchHits;
    if (validity == 0 || first < 1 || first - 1 + count > static_cast<int>(hits.size()))
        return ids;
    ids.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = first - 1; i < first - 1 + count; ++i)
        ids.push_back(TRowId::Imap4(validity, hits[i]).Text);
    return ids;
}

std::uint32_t TImap4CheckClient::Hit(int i) const
{
    return FClient.MailBox.SearchHits.at(static_cast<std::size_t>(i - 1));
}

TFetchedHeader TImap4CheckClient::FetchHeader(int i)
{
    // The body's start comes with the batched fetch's items: one message is
    // asked that way, in one command as before.
    if (ReadPreviews)
        return FetchMessages({i}).front().Header;
    return GuardSession(FStalled, [this, i] {
        TIdMessage message;
        message.CheckFieldsOnly = true;
        FClient.UIDFetchHeader(Hit(i), message);
        return FetchedHeaderOf(message);
    });
}

std::vector<TFetchedMessage> TImap4CheckClient::FetchMessages(const std::vector<int>& numbers)
{
    return GuardSession(FStalled, [this, &numbers] {
        std::vector<std::uint32_t> uids;
        uids.reserve(numbers.size());
        for (int i : numbers)
            uids.push_back(Hit(i));
        // Asked in the command's order; handed back in the hits' order.
        std::vector<TIdIMAP4FetchedHeader> answered;
        FClient.CheckFieldsOnly = true;
        FClient.FetchPreviews = ReadPreviews;
        if (!uids.empty() && !FClient.UIDFetchHeadersAndSizes(uids, answered))
            throw EIdServerRefusal("The server refused to send the messages' headers.");
        // A server answers in the order asked, as a rule: then the answers
        // stand where the UIDs do and need no index.
        bool inOrder = answered.size() == uids.size();
        for (std::size_t k = 0; inOrder && k < uids.size(); ++k)
            inOrder = answered[k].UID == uids[k];
        std::unordered_map<std::uint32_t, TIdIMAP4FetchedHeader*> byUid;
        if (!inOrder)
            for (TIdIMAP4FetchedHeader& a : answered)
                byUid.emplace(a.UID, &a);
        std::vector<TFetchedMessage> fetched;
        fetched.reserve(uids.size());
        for (std::size_t k = 0; k < uids.size(); ++k)
        {
            TIdIMAP4FetchedHeader* answer = nullptr;
            if (inOrder)
                answer = &answered[k];
            else if (const auto it = byUid.find(uids[k]); it != byUid.end())
                answer = it->second;
            if (!answer)
                throw EIdException("The server did not send the header of message UID " + std::to_string(uids[k]) +
                                   ".");
            TFetchedMessage m;
            m.Header = FetchedHeaderOf(answer->Message);
            m.Header.Preview = std::move(answer->Preview);
            m.Header.Preview.AsDesktopText();
            const long long size = answer->Size;
            m.Size = size >= 0 && size <= std::numeric_limits<int>::max() ? static_cast<int>(size) : -1;
            fetched.push_back(std::move(m));
        }
        if (ReadPreviews)
            if (const std::vector<std::size_t> further = PreviewsToReadFurther(fetched, ShownPreviews); !further.empty())
            {
                std::vector<std::uint32_t> again;
                for (std::size_t k : further)
                    again.push_back(uids[k]);
                std::vector<std::string> texts;
                FClient.UIDFetchTextStarts(again, PreviewFurtherBytes, texts);
                ReadPreviewsFurther(fetched, further, std::move(texts));
            }
        return fetched;
    });
}

int TImap4CheckClient::MessageSize(int i)
{
    return GuardSession(FStalled, [this, i] { return FClient.UIDMessageSize(Hit(i)); });
}

std::vector<TFolderStatus> TImap4CheckClient::FolderStates(const std::vector<std::string>& mailboxes)
{
    return GuardSession(FStalled, [this, &mailboxes] {
        std::vector<TIdIMAP4MailboxStatus> found;
        FClient.FolderStates(mailboxes, found);
        std::vector<TFolderStatus> states;
        for (const TIdIMAP4MailboxStatus& f : found)
        {
            TFolderStatus& status = states.emplace_back();
            status.Found = f.Found;
            status.Refusal = f.Refusal;
            const TIdIMAP4FolderState& s = f.State;
            if (f.Found && s.UIDValidity != 0 && s.UIDNext != 0)
                status.Stamp = std::to_string(s.UIDValidity) + ':' + std::to_string(s.UIDNext) + ':' +
                               std::to_string(s.Unseen) + ':' + std::to_string(s.Messages);
        }
        return states;
    });
}

void TImap4CheckClient::OpenFolder(const std::string& mailbox)
{
    FMailbox = mailbox;
}

void TImap4CheckClient::Disconnect()
{
    GuardSession(FStalled, [this] { FClient.Disconnect(); });
}

void TImap4CheckClient::DisconnectAfterFailure() noexcept
{
    try
    {
        if (FStalled)
        {
            // Every further command would wait out another time-out.
            FClient.Disconnect(false);
            return;
        }
        if (!FClient.Connected())
        {
            FClient.Disconnect(false);
            return;
        }
        if (FClient.ConnectionState == TIdIMAP4ConnectionState::Selected)
            FClient.CloseMailbox();
        FClient.Disconnect();
    }
    catch (...)
    {
        // The account has failed already; its error row says why. The socket
        // must not stay open for the next account.
        FClient.Disconnect(false);
    }
}
