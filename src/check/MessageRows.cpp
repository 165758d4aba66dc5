#include "check/MessageRows.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QApplication>
#include <QTextDocument>
#include <QPalette>
#include <QTreeWidget>

#include <memory>

std::string TMessageRows::SubItem(int index, int k) const
{
    const TMessageRow row = Row(index);
    return k >= 0 && k < static_cast<int>(row.SubItems.size()) ? row.SubItems[k] : std::string();
}

int FirstRowOf(const TMessageRows& rows, const std::string& caption)
{
    const int count = rows.Count();
    for (int i = 0; i < count; ++i)
        if (rows.Caption(i) == caption)
            return i;
    return -1;
}

int AccountNumberOfRow(const TMessageRows& rows, const std::vector<std::string>& accountCaptions,
                       int index)
{
    const std::string caption = rows.Caption(index);
    for (std::size_t i = 0; i < accountCaptions.size(); ++i)
        if (accountCaptions[i] == caption)
            return static_cast<int>(i) + 1;
    return static_cast<int>(accountCaptions.size()) + 1;
}

int MessageNumberOfRow(const TMessageRows& rows, int index)
{
    return index - FirstRowOf(rows, rows.Caption(index)) + 1 + rows.Offset(index);
}

TRowMessage RowMessageOf(const TMessageRows& rows, int index)
{
    return {rows.SubItem(index, 0), rows.SubItem(index, 1), rows.SubItem(index, 2), ServerIdOfRow(rows.Id(index))};
}

namespace
{

QByteArray Bytes(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromBytes(const QByteArray& bytes)
{
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

TTreeWidgetRows::TTreeWidgetRows(QTreeWidget& list, TIconOf iconOf)
    : FList(list), FIconOf(std::move(iconOf))
{
}

QTreeWidgetItem& TTreeWidgetRows::Item(int index) const
{
    QTreeWidgetItem* item =
        index >= 0 && index < FList.topLevelItemCount() ? FList.topLevelItem(index) : nullptr;
    if (!item)
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    return *item;
}

int TTreeWidgetRows::Count() const
{
    return FList.topLevelItemCount();
}

TMessageRow TTreeWidgetRows::Row(int index) const
{
    const QTreeWidgetItem& item = Item(index);
    TMessageRow row;
    row.Caption = FromBytes(item.data(0, CaptionRole).toByteArray());
    for (const QVariant& v : item.data(0, SubItemsRole).toList())
        row.SubItems.push_back(FromBytes(v.toByteArray()));
    row.ImageIndex = item.data(0, ImageRole).toInt();
    row.Cut = item.data(0, CutRole).toBool();
    row.Hint = FromBytes(item.data(0, HintRole).toByteArray());
    row.Id = FromBytes(item.data(0, IdRole).toByteArray());
    row.Print = FromBytes(item.data(0, PrintRole).toByteArray());
    row.Offset = item.data(0, OffsetRole).toInt();
    return row;
}

int TTreeWidgetRows::Offset(int index) const
{
    return Item(index).data(0, OffsetRole).toInt();
}

void TTreeWidgetRows::SetOffset(int index, int offset)
{
    QTreeWidgetItem& item = Item(index);
    if (item.data(0, OffsetRole).toInt() != offset)
        item.setData(0, OffsetRole, offset);
}

std::string TTreeWidgetRows::Id(int index) const
{
    return FromBytes(Item(index).data(0, IdRole).toByteArray());
}

std::string TTreeWidgetRows::Print(int index) const
{
    return FromBytes(Item(index).data(0, PrintRole).toByteArray());
}

std::string TTreeWidgetRows::Caption(int index) const
{
    return FromBytes(Item(index).data(0, CaptionRole).toByteArray());
}

int TTreeWidgetRows::ImageIndex(int index) const
{
    return Item(index).data(0, ImageRole).toInt();
}

// A repeat check sets every listed row again; a cell that keeps its value is
// not touched, so the view has nothing to lay out again.
void TTreeWidgetRows::SetImageIndex(int index, int image)
{
    QTreeWidgetItem& item = Item(index);
    if (item.data(0, ImageRole).toInt() == image)
        return;
    item.setData(0, ImageRole, image);
    Paint(item);
}

bool TTreeWidgetRows::Cut(int index) const
{
    return Item(index).data(0, CutRole).toBool();
}

void TTreeWidgetRows::SetCut(int index, bool cut)
{
    QTreeWidgetItem& item = Item(index);
    if (item.data(0, CutRole).toBool() == cut)
        return;
    item.setData(0, CutRole, cut);
    Paint(item);
}

void TTreeWidgetRows::Insert(int index, const TMessageRow& row)
{
    if (index < 0 || index > Count())
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    auto item = std::make_unique<QTreeWidgetItem>();
    item->setText(0, FromCodePage(row.Caption));
    QVariantList subItems;
    for (std::size_t k = 0; k < row.SubItems.size(); ++k)
    {
        item->setText(static_cast<int>(k) + 1, FromCodePage(row.SubItems[k]));
        subItems.push_back(Bytes(row.SubItems[k]));
    }
    item->setData(0, CaptionRole, Bytes(row.Caption));
    item->setData(0, SubItemsRole, subItems);
    item->setData(0, ImageRole, row.ImageIndex);
    item->setData(0, CutRole, row.Cut);
    if (!row.Id.empty())
        item->setData(0, IdRole, Bytes(row.Id));
    if (!row.Print.empty())
        item->setData(0, PrintRole, Bytes(row.Print));
    if (row.Offset != 0)
        item->setData(0, OffsetRole, row.Offset);
    if (!row.Hint.empty())
    {
        item->setData(0, HintRole, Bytes(row.Hint));
        // The hint is a server's error text; a tooltip that looks like markup
        // is rendered as such, so that one is escaped.
        QString hint = FromCodePage(row.Hint);
        if (Qt::mightBeRichText(hint))
            hint = Qt::convertFromPlainText(hint, Qt::WhiteSpaceNormal);
        for (int c = 0; c < FList.columnCount(); ++c)
            item->setToolTip(c, hint);
    }
    Paint(*item);
    FList.insertTopLevelItem(index, item.release()); // the list owns it now
}

void TTreeWidgetRows::Delete(int index)
{
    Item(index); // range check
    delete FList.takeTopLevelItem(index);
}

void TTreeWidgetRows::Clear()
{
    FList.clear();
}

void TTreeWidgetRows::BeginUpdate()
{
    if (FUpdateDepth++ == 0)
        FList.setUpdatesEnabled(false);
}

void TTreeWidgetRows::EndUpdate()
{
    if (FUpdateDepth > 0 && --FUpdateDepth == 0)
        FList.setUpdatesEnabled(true);
}

void TTreeWidgetRows::Paint(QTreeWidgetItem& item) const
{
    const bool cut = item.data(0, CutRole).toBool();
    const int image = item.data(0, ImageRole).toInt();
    QIcon icon = FIconOf ? FIconOf(image) : QIcon();
    if (cut && !icon.isNull())
    {
        // Made once per picture: every repeat check dims every listed row
        // again, and one shared picture is lighter than one per row.
        std::pair<qint64, QIcon>& dimmed = FDimmedIcons[image];
        if (dimmed.second.isNull() || dimmed.first != icon.cacheKey())
            dimmed = {icon.cacheKey(), QIcon(icon.pixmap(16, 16, QIcon::Disabled))};
        icon = dimmed.second;
    }
    item.setIcon(0, icon);
    // A row that is not cut keeps the list's own colours.
    const QVariant brush =
        cut ? QVariant(FList.palette().brush(QPalette::Disabled, QPalette::Text)) : QVariant();
    for (int c = 0; c < FList.columnCount(); ++c)
        item.setData(c, Qt::ForegroundRole, brush);
}

std::string ServerIdOfRow(const std::string& rowId)
{
    const std::size_t cut = rowId.rfind('\n');
    return cut == std::string::npos ? rowId : rowId.substr(cut + 1);
}
