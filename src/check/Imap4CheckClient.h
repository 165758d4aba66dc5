#pragma once

#include "check/AccountSession.h"

#include <cstdint>
#include <string>
#include <vector>

// The IMAP4 client as the check cycle drives it: the unseen messages of
// the inbox, or of each folder it is aimed at, by their UIDs, listed in the
// order of the search hits. A refused search counts as
// no messages. A server that stops answering costs one time-out.
class TImap4CheckClient : public TAccountSession<TCheckClient, TIdIMAP4>
{
public:
    using TAccountSession::TAccountSession;

    void Connect() override;
    int MessageCount() override;
    TFetchedHeader FetchHeader(int i) override;
    int MessageSize(int i) override;
    // "i:", the mailbox's UIDVALIDITY, ":" and each hit's UID; none when the
    // server gave no UIDVALIDITY.
    std::vector<std::string> MessageIds(int first, int count) override;
    // All of them with one "UID FETCH" per chunk of UIDs. A message the
    // server leaves out (expunged meanwhile, or a broken answer) fails the
    // check rather than leave a row without its message.
    std::vector<TFetchedMessage> FetchMessages(const std::vector<int>& numbers) override;
    // UIDVALIDITY, UIDNEXT, UNSEEN and MESSAGES as the stamp; none where
    // the server leaves UIDVALIDITY or UIDNEXT out.
    std::vector<TFolderStatus> FolderStates(const std::vector<std::string>& mailboxes) override;
    void OpenFolder(const std::string& mailbox) override;
    void Disconnect() override;
    void DisconnectAfterFailure() noexcept override;

private:
    std::uint32_t Hit(int i) const;

    bool FStalled = false;
    std::string FMailbox;
};
