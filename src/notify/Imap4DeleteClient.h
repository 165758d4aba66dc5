#pragma once

#include "check/Imap4CheckClient.h"
#include "notify/NewMailController.h"

#include <string>
#include <vector>

class TIdIMAP4;

// Delete for IMAP4 accounts. The rows stand for the unseen messages of
// "inbox" in search order, so each row's number is mapped to a UID by a UID
// search for UNSEEN; a message is marked \Deleted by UID and, when the server
// has UIDPLUS, expunged by UID alone. Without UIDPLUS it stays marked: a
// plain EXPUNGE or CLOSE would also remove what someone else marked.
class TImap4DeleteClient : public TDeleteClient
{
public:
    explicit TImap4DeleteClient(TIdIMAP4& client) : FClient(client) {}

    void SetAccount(const std::string& userName, const std::string& password, const std::string& host,
                    int port) override;
    void SetSecurity(TAccountSecurity security) override;
    // Login, "inbox" selected and the UIDs of the unseen messages read; a
    // refused step raises.
    void Connect() override;
    bool StillShows(int number, const TRowMessage& row) override;
    void DeleteMessage(int number) override;
    void Disconnect() override;
    void Abandon() noexcept override;
    bool LeftMarked() const override { return FMarked; }

    // Taken by SetAccount, in milliseconds.
    int ConnectTimeout = Imap4ConnectTimeout;
    int ReadTimeout = Imap4ReadTimeout;

private:
    // The UID of the row's message, 0 when the search has no such hit.
    int UidOf(int number) const;

    TIdIMAP4& FClient;
    std::vector<int> FUids;
    bool FMarked = false;
};
