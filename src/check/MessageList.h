#pragma once

#include "check/RowId.h"
#include "check/RowMessage.h"
#include "mail/MessagePreview.h"

#include <string>
#include <utility>
#include <vector>

struct Account;

// Image indexes of a message row.
enum TRowImage : int
{
    riError = 0,     // the account could not be checked
    riMessage = 1,   // a listed message
    riInserted = 2,  // inserted by the account check in progress
};

// One entry of the message list. Texts are 8-bit desktop text.
struct TMessageRow
{
    std::string Caption;             // the account's caption
    std::vector<std::string> SubItems; // sender, subject, size text; none for an error row
    int ImageIndex = riMessage;
    bool Cut = false;                // already listed before the account's latest check
    std::string Hint;                // tooltip; why the account failed, on an error row
    // The message's identity on its server (TRowId), or its fingerprint
    // where the server has none, and its fingerprint.
    std::string Id;
    std::string Print;
    // Its Message-ID without the angle brackets, as a mail client looks the
    // message up; "" when it has none.
    std::string MessageId{};
    // The account's messages before the listed ones, left out past the
    // bound: a row's number counts them too.
    int Offset = 0;
    // The account's key (TAnnounced::KeyOf) and the mailbox.
    std::string Key{};
    std::string Mailbox = InboxName;
    // The start of the message's text, desktop text, made when first shown;
    // empty when none was read.
    TPreview Preview{};
    // What a rule said of it: told even while quiet, as critical; or
    // listed and never told.
    bool Important = false;
    bool QuietByRule = false;
};

// What is told of the list's changes as they are made, so that a window
// can show it. An index is the entry's place in the list as the change
// leaves it; a deleted entry's, where it stood.
class TMessageListView
{
public:
    virtual ~TMessageListView() = default;

    // `count` entries from `index` on.
    virtual void Inserted(int index, int count) = 0;
    virtual void Deleted(int index, int count) = 0;
    // The image, the cut mark or the offset of an entry changed.
    virtual void Changed(int index) = 0;
    virtual void Cleared() = 0;
    // A batch of changes begins or ends; batches nest, and only the
    // outermost is told.
    virtual void BatchBegun() = 0;
    virtual void BatchEnded() = 0;
};

// The message list: per account and mailbox a block of entries, the
// messages in the server's order, the blocks in the account list's order;
// after them the accounts' error and note entries. Plain data, edited by
// the check cycle and by the notification window's actions, on the
// user-interface thread.
class TMessageList
{
public:
    TMessageList() = default;
    TMessageList(const TMessageList&) = delete;
    TMessageList& operator=(const TMessageList&) = delete;

    int Count() const { return static_cast<int>(FRows.size()); }
    const TMessageRow& Row(int index) const;
    const std::string& Caption(int index) const { return Row(index).Caption; }
    int ImageIndex(int index) const { return Row(index).ImageIndex; }
    void SetImageIndex(int index, int image);
    bool Cut(int index) const { return Row(index).Cut; }
    void SetCut(int index, bool cut);
    const std::string& Id(int index) const { return Row(index).Id; }
    const std::string& Print(int index) const { return Row(index).Print; }
    int Offset(int index) const { return Row(index).Offset; }
    void SetOffset(int index, int offset);
    TRowPlace Place(int index) const;
    // Sub-item k (0 sender, 1 subject, 2 size) of an entry, empty when it has none.
    std::string SubItem(int index, int k) const;

    // Inserts before index; index == Count() appends. A block goes in at
    // once: entry by entry, a long list would be moved along for each.
    void Insert(int index, TMessageRow row);
    void InsertBlock(int index, std::vector<TMessageRow> rows);
    void Append(TMessageRow row) { Insert(Count(), std::move(row)); }
    void Delete(int index, int count = 1);
    void Clear();

    void BeginUpdate();
    void EndUpdate();

    // The one view told of every change, or none.
    void SetView(TMessageListView* view) { FView = view; }

private:
    TMessageRow& At(int index);
    template <typename TValue>
    void SetField(int index, TValue TMessageRow::*field, TValue value);

    std::vector<TMessageRow> FRows;
    TMessageListView* FView = nullptr;
    int FUpdateDepth = 0;
};

// Keeps a batch open for a scope, also when it is left by an error.
class TRowsUpdateGuard
{
public:
    explicit TRowsUpdateGuard(TMessageList& rows) : FRows(rows) { FRows.BeginUpdate(); }
    ~TRowsUpdateGuard() { FRows.EndUpdate(); }
    TRowsUpdateGuard(const TRowsUpdateGuard&) = delete;
    TRowsUpdateGuard& operator=(const TRowsUpdateGuard&) = delete;

private:
    TMessageList& FRows;
};

// Where an account's entries live.
TRowPlace PlaceOfAccount(const Account& account);
// The places of an account list, in its order, as AccountNumberOfRow takes them.
std::vector<TRowPlace> AccountPlaces(const std::vector<Account>& accounts);

// Whether an entry at `row` belongs to the account at `account`: the same
// key and caption, whatever the mailbox.
bool SameAccount(const TRowPlace& row, const TRowPlace& account);
bool SameAccount(const TMessageRow& row, const TRowPlace& account);

// Index of the first entry of this account and mailbox, or -1.
int FirstRowOf(const TMessageList& rows, const TRowPlace& place);

// 1-based position in the account list of the entry's account; the number
// of accounts + 1 when none is its.
int AccountNumberOfRow(const TMessageList& rows, const std::vector<TRowPlace>& accounts, int index);

// The entry's message number on its server: its 1-based place within its
// account's block, after the messages the block leaves out.
int MessageNumberOfRow(const TMessageList& rows, int index);

// What entry `index` shows, its identity as its server gave it; with
// `preview`, the start of its text too (made now if it is not yet).
TRowMessage RowMessageOf(const TMessageList& rows, int index, bool preview = false);
