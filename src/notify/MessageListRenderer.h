#pragma once

#include "check/MessageList.h"

#include <QHash>
#include <QIcon>

#include <functional>
#include <utility>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

// Shows the message list in the notification window's QTreeWidget, one item
// per entry in the list's order (six columns: account, sender, subject, size
// and two empty ones), and follows every change made to it. A cut entry is
// drawn dimmed; an entry's hint, or else its preview, is its tooltip, as
// plain text.
class TMessageListRenderer : public TMessageListView
{
public:
    using TIconOf = std::function<QIcon(int imageIndex)>;

    TMessageListRenderer(QTreeWidget& widget, TMessageList& list, TIconOf iconOf = {});
    ~TMessageListRenderer() override;
    TMessageListRenderer(const TMessageListRenderer&) = delete;
    TMessageListRenderer& operator=(const TMessageListRenderer&) = delete;

    // Whether entry `index` is selected in the window.
    bool Selected(int index) const;
    // The selected entries, in the list's order.
    std::vector<int> SelectedRows() const;

    void Inserted(int index, int count) override;
    void Deleted(int index, int count) override;
    void Changed(int index) override;
    void Cleared() override;
    void BatchBegun() override;
    void BatchEnded() override;

private:
    QTreeWidgetItem& Item(int index) const;
    void Paint(QTreeWidgetItem& item, const TMessageRow& row, bool fresh) const;
    QTreeWidgetItem* ItemOf(const TMessageRow& row) const;

    QTreeWidget& FWidget;
    TMessageList& FList;
    TIconOf FIconOf;
    // By image index: the cache key of the picture last dimmed, and its
    // dimmed form.
    mutable QHash<int, std::pair<qint64, QIcon>> FDimmedIcons;
};
