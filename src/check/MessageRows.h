#pragma once

#include "check/RowMessage.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QHash>
#include <QIcon>

class QTreeWidget;
class QTreeWidgetItem;

// Image indexes of a message row.
enum TRowImage : int
{
    riError = 0,     // the account could not be checked
    riMessage = 1,   // a listed message
    riInserted = 2,  // inserted by the account check in progress
};

// One line of the notification list. Texts are 8-bit desktop text.
struct TMessageRow
{
    std::string Caption;             // the account's caption
    std::vector<std::string> SubItems; // sender, subject, size text; none for an error row
    int ImageIndex = riMessage;
    bool Cut = false;                // already listed before the account's latest check
    std::string Hint;                // tooltip; why the account failed, on an error row
    // Not shown: the message's identity on its server (or its fingerprint,
    // where the server has none) and its fingerprint.
    std::string Id;
    std::string Print;
    // The account's messages before the listed ones, left out past the
    // bound: a row's number counts them too.
    int Offset = 0;
};

// The message list as the check cycle and the notification window edit it.
class TMessageRows
{
public:
    virtual ~TMessageRows() = default;

    virtual int Count() const = 0;
    virtual TMessageRow Row(int index) const = 0;
    virtual std::string Caption(int index) const = 0;
    virtual int ImageIndex(int index) const = 0;
    virtual void SetImageIndex(int index, int image) = 0;
    virtual bool Cut(int index) const = 0;
    virtual void SetCut(int index, bool cut) = 0;
    virtual std::string Id(int index) const = 0;
    virtual std::string Print(int index) const = 0;
    virtual int Offset(int index) const = 0;
    virtual void SetOffset(int index, int offset) = 0;

    // Inserts before index; index == Count() appends.
    virtual void Insert(int index, const TMessageRow& row) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;

    // Repainting is suspended between the two calls; they nest.
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;

    // Sub-item k (0 sender, 1 subject, 2 size) of a row, empty when it has none.
    std::string SubItem(int index, int k) const;
    void Append(const TMessageRow& row) { Insert(Count(), row); }
};

// Keeps repainting suspended for a scope, also when it is left by an error.
class TRowsUpdateGuard
{
public:
    explicit TRowsUpdateGuard(TMessageRows& rows) : FRows(rows) { FRows.BeginUpdate(); }
    ~TRowsUpdateGuard() { FRows.EndUpdate(); }
    TRowsUpdateGuard(const TRowsUpdateGuard&) = delete;
    TRowsUpdateGuard& operator=(const TRowsUpdateGuard&) = delete;

private:
    TMessageRows& FRows;
};

// Index of the first row with this caption (exact, case-sensitive), or -1.
int FirstRowOf(const TMessageRows& rows, const std::string& caption);

// 1-based position in the account list of the first account whose caption is
// the row's; the number of accounts + 1 when none matches.
int AccountNumberOfRow(const TMessageRows& rows, const std::vector<std::string>& accountCaptions,
                       int index);

// The captions of an account list, in its order, as AccountNumberOfRow takes them.
template <typename TAccount>
std::vector<std::string> AccountCaptions(const std::vector<TAccount>& accounts)
{
    std::vector<std::string> captions;
    captions.reserve(accounts.size());
    for (const TAccount& account : accounts)
        captions.push_back(account.Caption);
    return captions;
}

// A row's identity as its server gave it: the row's Id without the account's
// key before it.
std::string ServerIdOfRow(const std::string& rowId);

// The row's message number on its server: its 1-based place within its
// account's block, after the messages the block leaves out.
int MessageNumberOfRow(const TMessageRows& rows, int index);

// What message row `index` shows, its identity as its server gave it.
TRowMessage RowMessageOf(const TMessageRows& rows, int index);

// The rows of the notification window's QTreeWidget (six columns: account,
// sender, subject, size and two empty ones). The 8-bit texts, the image index
// and the cut mark travel in data roles of column 0, so they come back byte
// for byte whatever the display conversion did; a cut row is drawn dimmed.
class TTreeWidgetRows : public TMessageRows
{
public:
    using TIconOf = std::function<QIcon(int imageIndex)>;

    explicit TTreeWidgetRows(QTreeWidget& list, TIconOf iconOf = {});

    int Count() const override;
    TMessageRow Row(int index) const override;
    std::string Caption(int index) const override;
    int ImageIndex(int index) const override;
    void SetImageIndex(int index, int image) override;
    bool Cut(int index) const override;
    void SetCut(int index, bool cut) override;
    std::string Id(int index) const override;
    std::string Print(int index) const override;
    int Offset(int index) const override;
    void SetOffset(int index, int offset) override;
    void Insert(int index, const TMessageRow& row) override;
    void Delete(int index) override;
    void Clear() override;
    void BeginUpdate() override;
    void EndUpdate() override;

    // The data roles of column 0.
    static constexpr int CaptionRole = 0x0100 + 1;  // QByteArray, 8-bit caption
    static constexpr int SubItemsRole = 0x0100 + 2; // QList<QByteArray>
    static constexpr int ImageRole = 0x0100 + 3;    // int
    static constexpr int CutRole = 0x0100 + 4;      // bool
    static constexpr int HintRole = 0x0100 + 5;     // QByteArray, 8-bit hint as given
    static constexpr int IdRole = 0x0100 + 6;       // QByteArray
    static constexpr int PrintRole = 0x0100 + 7;    // QByteArray
    static constexpr int OffsetRole = 0x0100 + 8;   // int

private:
    QTreeWidgetItem& Item(int index) const;
    void Paint(QTreeWidgetItem& item) const;

    QTreeWidget& FList;
    TIconOf FIconOf;
    int FUpdateDepth = 0;
    // By image index: the cache key of the picture last dimmed, and its
    // dimmed form.
    mutable QHash<int, std::pair<qint64, QIcon>> FDimmedIcons;
};
