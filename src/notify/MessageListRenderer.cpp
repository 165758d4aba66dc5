#include "notify/MessageListRenderer.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QPalette>
#include <QTextDocument>
#include <QTreeWidget>

#include <memory>

TMessageListRenderer::TMessageListRenderer(QTreeWidget& widget, TMessageList& list, TIconOf iconOf)
    : FWidget(widget), FList(list), FIconOf(std::move(iconOf))
{
    FWidget.clear();
    Inserted(0, FList.Count());
    FList.SetView(this);
}

TMessageListRenderer::~TMessageListRenderer()
{
    FList.SetView(nullptr);
}

QTreeWidgetItem& TMessageListRenderer::Item(int index) const
{
    QTreeWidgetItem* item = FWidget.topLevelItem(index);
    if (!item)
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    return *item;
}

bool TMessageListRenderer::Selected(int index) const
{
    const QTreeWidgetItem* item = FWidget.topLevelItem(index);
    return item != nullptr && item->isSelected();
}

std::vector<int> TMessageListRenderer::SelectedRows() const
{
    std::vector<int> selected;
    for (int i = 0; i < FWidget.topLevelItemCount(); ++i)
        if (FWidget.topLevelItem(i)->isSelected())
            selected.push_back(i);
    return selected;
}

void TMessageListRenderer::Inserted(int index, int count)
{
    if (count <= 0)
        return;
    // Into the widget at once: it lays the block out once, not row by row.
    QList<QTreeWidgetItem*> items;
    items.reserve(count);
    for (int i = index; i < index + count; ++i)
        items.push_back(ItemOf(FList.Row(i)));
    FWidget.insertTopLevelItems(index, items); // the widget owns them now
}

namespace
{

// An item whose tooltip, the start of its message's text, is made when it
// is first asked for: a long list does not decode every message it shows.
class TPreviewItem final : public QTreeWidgetItem
{
public:
    explicit TPreviewItem(const TMessageList& list) : FList(list) {}

    QVariant data(int column, int role) const override
    {
        if (role != Qt::ToolTipRole)
            return QTreeWidgetItem::data(column, role);
        if (!FMade)
        {
            QTreeWidget* widget = treeWidget();
            const int index = widget ? widget->indexOfTopLevelItem(const_cast<TPreviewItem*>(this)) : -1;
            if (index < 0 || index >= FList.Count())
                return {};
            // The start of a mail's text, from anyone: always escaped, and
            // as rich text so that the tooltip wraps it.
            const std::string& text = FList.Row(index).Preview.Text();
            if (!text.empty())
                FTip = Qt::convertFromPlainText(FromCodePage(text), Qt::WhiteSpaceNormal);
            FMade = true;
        }
        return FTip.isEmpty() ? QVariant() : QVariant(FTip);
    }

private:
    const TMessageList& FList;
    mutable bool FMade = false;
    mutable QString FTip;
};

} // namespace

QTreeWidgetItem* TMessageListRenderer::ItemOf(const TMessageRow& row) const
{
    std::unique_ptr<QTreeWidgetItem> item;
    if (row.Hint.empty() && !row.Preview.Blank())
        item = std::make_unique<TPreviewItem>(FList);
    else
        item = std::make_unique<QTreeWidgetItem>();
    // A message filed away from the inbox says where it lies.
    item->setText(0, FromCodePage(row.Mailbox == InboxName ? row.Caption : row.Caption + " / " + row.Mailbox));
    for (std::size_t k = 0; k < row.SubItems.size(); ++k)
        item->setText(static_cast<int>(k) + 1, FromCodePage(row.SubItems[k]));
    if (!row.Hint.empty())
    {
        // The hint is a server's error text; a tooltip that looks like markup
        // is rendered as such, so that one is escaped.
        QString hint = FromCodePage(row.Hint);
        if (Qt::mightBeRichText(hint))
            hint = Qt::convertFromPlainText(hint, Qt::WhiteSpaceNormal);
        for (int c = 0; c < FWidget.columnCount(); ++c)
            item->setToolTip(c, hint);
    }
    Paint(*item, row, true);
    return item.release();
}

void TMessageListRenderer::Deleted(int index, int count)
{
    for (int i = index + count - 1; i >= index; --i)
        delete FWidget.takeTopLevelItem(i);
}

void TMessageListRenderer::Changed(int index)
{
    Paint(Item(index), FList.Row(index), false);
}

void TMessageListRenderer::Cleared()
{
    FWidget.clear();
}

void TMessageListRenderer::BatchBegun()
{
    FWidget.setUpdatesEnabled(false);
}

void TMessageListRenderer::BatchEnded()
{
    FWidget.setUpdatesEnabled(true);
}

// `fresh`: an item not yet in the widget, in the list's own colours.
void TMessageListRenderer::Paint(QTreeWidgetItem& item, const TMessageRow& row, bool fresh) const
{
    QIcon icon = FIconOf ? FIconOf(row.ImageIndex) : QIcon();
    if (row.Cut && !icon.isNull())
    {
        // Made once per picture: every repeat check dims every listed row
        // again, and one shared picture is lighter than one per row.
        std::pair<qint64, QIcon>& dimmed = FDimmedIcons[row.ImageIndex];
        if (dimmed.second.isNull() || dimmed.first != icon.cacheKey())
            dimmed = {icon.cacheKey(), QIcon(icon.pixmap(16, 16, QIcon::Disabled))};
        icon = dimmed.second;
    }
    item.setIcon(0, icon);
    if (fresh && !row.Cut)
        return;
    // A row that is not cut keeps the list's own colours.
    const QVariant brush =
        row.Cut ? QVariant(FWidget.palette().brush(QPalette::Disabled, QPalette::Text)) : QVariant();
    for (int c = 0; c < FWidget.columnCount(); ++c)
        item.setData(c, Qt::ForegroundRole, brush);
}
