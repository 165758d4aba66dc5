#include "check/MessageList.h"

#include "check/Account.h"
#include "check/Announced.h"
#include "platform/Exception.h"

#include <iterator>
#include <utility>

namespace
{

[[noreturn]] void OutOfBounds(int index)
{
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace

const TMessageRow& TMessageList::Row(int index) const
{
    if (index < 0 || index >= Count())
        OutOfBounds(index);
    return FRows[static_cast<std::size_t>(index)];
}

TMessageRow& TMessageList::At(int index)
{
    Row(index); // range check
    return FRows[static_cast<std::size_t>(index)];
}

// A repeat check sets every listed entry again; one that keeps its value is
// not told, so the window has nothing to draw again.
template <typename TValue>
void TMessageList::SetField(int index, TValue TMessageRow::*field, TValue value)
{
    TMessageRow& row = At(index);
    if (row.*field == value)
        return;
    row.*field = value;
    if (FView)
        FView->Changed(index);
}

void TMessageList::SetImageIndex(int index, int image)
{
    SetField(index, &TMessageRow::ImageIndex, image);
}

void TMessageList::SetCut(int index, bool cut)
{
    SetField(index, &TMessageRow::Cut, cut);
}

void TMessageList::SetOffset(int index, int offset)
{
    SetField(index, &TMessageRow::Offset, offset);
}

TRowPlace TMessageList::Place(int index) const
{
    const TMessageRow& row = Row(index);
    return {row.Key, row.Caption, row.Mailbox};
}

std::string TMessageList::SubItem(int index, int k) const
{
    const TMessageRow& row = Row(index);
    return k >= 0 && k < static_cast<int>(row.SubItems.size()) ? row.SubItems[k] : std::string();
}

void TMessageList::Insert(int index, TMessageRow row)
{
    if (index < 0 || index > Count())
        OutOfBounds(index);
    FRows.insert(FRows.begin() + index, std::move(row));
    if (FView)
        FView->Inserted(index, 1);
}

void TMessageList::InsertBlock(int index, std::vector<TMessageRow> rows)
{
    if (index < 0 || index > Count())
        OutOfBounds(index);
    if (rows.empty())
        return;
    FRows.insert(FRows.begin() + index, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    if (FView)
        FView->Inserted(index, static_cast<int>(rows.size()));
}

void TMessageList::Delete(int index, int count)
{
    if (count <= 0)
        return;
    Row(index); // range check
    Row(index + count - 1);
    FRows.erase(FRows.begin() + index, FRows.begin() + index + count);
    if (FView)
        FView->Deleted(index, count);
}

void TMessageList::Clear()
{
    FRows.clear();
    if (FView)
        FView->Cleared();
}

void TMessageList::BeginUpdate()
{
    if (FUpdateDepth++ == 0 && FView)
        FView->BatchBegun();
}

void TMessageList::EndUpdate()
{
    if (FUpdateDepth > 0 && --FUpdateDepth == 0 && FView)
        FView->BatchEnded();
}

TRowPlace PlaceOfAccount(const Account& account)
{
    return {TAnnounced::KeyOf(account), account.Caption, InboxName};
}

std::vector<TRowPlace> AccountPlaces(const std::vector<Account>& accounts)
{
    std::vector<TRowPlace> places;
    places.reserve(accounts.size());
    for (const Account& account : accounts)
        places.push_back(PlaceOfAccount(account));
    return places;
}

bool SameAccount(const TRowPlace& row, const TRowPlace& account)
{
    return row.Key == account.Key && row.Caption == account.Caption;
}

bool SameAccount(const TMessageRow& row, const TRowPlace& account)
{
    return row.Key == account.Key && row.Caption == account.Caption;
}

int FirstRowOf(const TMessageList& rows, const TRowPlace& place)
{
    const int count = rows.Count();
    for (int i = 0; i < count; ++i)
    {
        const TMessageRow& row = rows.Row(i);
        if (row.Key == place.Key && row.Caption == place.Caption && row.Mailbox == place.Mailbox)
            return i;
    }
    return -1;
}

int AccountNumberOfRow(const TMessageList& rows, const std::vector<TRowPlace>& accounts, int index)
{
    const TMessageRow& row = rows.Row(index);
    for (std::size_t i = 0; i < accounts.size(); ++i)
        if (SameAccount(row, accounts[i]))
            return static_cast<int>(i) + 1;
    return static_cast<int>(accounts.size()) + 1;
}

int MessageNumberOfRow(const TMessageList& rows, int index)
{
    return index - FirstRowOf(rows, rows.Place(index)) + 1 + rows.Offset(index);
}

TRowMessage RowMessageOf(const TMessageList& rows, int index, bool preview)
{
    TRowMessage shown{rows.SubItem(index, 0), rows.SubItem(index, 1), rows.SubItem(index, 2), rows.Id(index)};
    if (preview)
        shown.Preview = rows.Row(index).Preview.Text();
    shown.MessageId = rows.Row(index).MessageId;
    return shown;
}
