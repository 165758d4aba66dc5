#pragma once

#include "check/AccountSession.h"
#include "notify/DeleteClient.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class TIdIMAP4;

// Delete for IMAP4 accounts. A row that carries its message's UID (with the
// mailbox's UIDVALIDITY) is deleted by that UID while the message is still
// unseen; a row without one stands for the unseen messages of the inbox in
// search order, so its number is mapped to a UID by a UID search for UNSEEN; a message is marked \Deleted by UID and, when the server
// has UIDPLUS, expunged by UID alone. Without UIDPLUS it stays marked: a
// plain EXPUNGE or CLOSE would also remove what someone else marked.
class TImap4DeleteClient : public TAccountSession<TDeleteClient, TIdIMAP4>
{
public:
    using TAccountSession::TAccountSession;

    // Login, the inbox selected and the UIDs of the unseen messages read; a
    // refused step raises.
    void Connect() override;
    // Another folder selected and its unseen messages' UIDs read.
    void OpenFolder(const std::string& mailbox) override;
    bool StillShows(int number, const TRowMessage& row) override;
    void DeleteMessage(int number) override;
    void MarkRead(int number) override;
    void Disconnect() override;
    void Abandon() noexcept override;
    bool LeftMarked() const override { return FMarked; }

private:
    // Selects `mailbox` (as it goes on the wire) and reads its unseen UIDs.
    void Search(const std::string& mailbox);
    // The UID of the row's message, 0 when the search has no such hit.
    std::uint32_t UidOf(int number) const;
    // The UID StillShows found for the row, else UidOf.
    std::uint32_t FoundUid(int number) const;

    std::vector<std::uint32_t> FUids;
    // By row number: the UID StillShows found for the row's message.
    std::map<int, std::uint32_t> FFound;
    bool FMarked = false;
};
