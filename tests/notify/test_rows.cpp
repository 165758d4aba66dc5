// The message list as the notification window's QTreeWidget shows it.

#include "notify/MessageListRenderer.h"

#include "mail/MessagePreview.h"

#include <QAbstractItemModel>
#include <QPalette>
#include <QTextDocument>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace
{

class TreeRowsTest : public ::testing::Test
{
protected:
    TreeRowsTest()
    {
        list.setColumnCount(6);
    }

    QTreeWidget list;
    TMessageList rows;
    TMessageListRenderer view{list, rows, [](int image) {
                                  QPixmap p(16, 16);
                                  p.fill(image == 0 ? Qt::red : Qt::blue);
                                  return QIcon(p);
                              }};
};

TEST_F(TreeRowsTest, EightBitTextsComeBackByteForByte)
{
    // A lone 0x81 is no UTF-8; the row still keeps it.
    const std::string from = "Jos\xc3\xa9 \x81<jose@example.org>";
    rows.Append({"Home", {from, "Caf\xc3\xa9", "1.5 KB"}, riInserted, false, "", "", ""});
    const TMessageRow row = rows.Row(0);
    EXPECT_EQ(row.Caption, "Home");
    EXPECT_EQ(row.SubItems, (std::vector<std::string>{from, "Caf\xc3\xa9", "1.5 KB"}));
    EXPECT_EQ(row.ImageIndex, riInserted);
    EXPECT_FALSE(row.Cut);
    EXPECT_EQ(list.topLevelItem(0)->text(2), QString::fromUtf8("Caf\xc3\xa9"));
    EXPECT_EQ(list.topLevelItem(0)->text(3), "1.5 KB");
    EXPECT_EQ(list.topLevelItem(0)->text(0), "Home");

    // A message away from the inbox shows its folder beside the account.
    TMessageRow filed{"Home", {from, "x", "1 KB"}, riMessage, false, "", "", ""};
    filed.Mailbox = "Lists/d\xc3\xa9v";
    rows.Append(filed);
    EXPECT_EQ(list.topLevelItem(1)->text(0), QString::fromUtf8("Home / Lists/d\xc3\xa9v"));
}

TEST_F(TreeRowsTest, InsertDeleteAndOrder)
{
    rows.Append({"A", {"1"}, riMessage, false, "", "", ""});
    rows.Append({"A", {"3"}, riMessage, false, "", "", ""});
    rows.Insert(1, {"A", {"2"}, riMessage, false, "", "", ""});
    rows.Insert(0, {"Z", {}, riError, false, "Connection refused.", "", ""});
    ASSERT_EQ(rows.Count(), 4);
    EXPECT_EQ(rows.SubItem(1, 0), "1");
    EXPECT_EQ(rows.SubItem(2, 0), "2");
    EXPECT_EQ(rows.SubItem(3, 0), "3");
    EXPECT_EQ(rows.SubItem(0, 0), "");
    rows.Delete(2);
    EXPECT_EQ(rows.SubItem(2, 0), "3");
    EXPECT_THROW(rows.Delete(3), std::exception);
    EXPECT_THROW(rows.Insert(5, {}), std::exception);
    rows.Clear();
    EXPECT_EQ(rows.Count(), 0);
}

// A block of new rows and a run of gone ones reach the window where the
// list has them.
TEST_F(TreeRowsTest, BlocksGoInAndOutWhereTheListHasThem)
{
    rows.Append({"A", {"1"}, riMessage, false, "", "", ""});
    rows.Append({"A", {"4"}, riMessage, false, "", "", ""});
    rows.InsertBlock(1, {{"A", {"2"}, riMessage, false, "", "", ""}, {"A", {"3"}, riMessage, true, "", "", ""}});
    const auto shown = [this] {
        std::vector<std::string> texts;
        for (int i = 0; i < list.topLevelItemCount(); ++i)
            texts.push_back(list.topLevelItem(i)->text(1).toStdString());
        return texts;
    };
    EXPECT_EQ(shown(), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(list.topLevelItem(2)->foreground(1), list.palette().brush(QPalette::Disabled, QPalette::Text));
    rows.Delete(1, 2);
    EXPECT_EQ(shown(), (std::vector<std::string>{"1", "4"}));
    EXPECT_THROW(rows.Delete(1, 2), std::exception);
    EXPECT_EQ(rows.Count(), 2);
}

TEST_F(TreeRowsTest, ErrorRowTellsWhyInItsTooltip)
{
    rows.Append({"Work", {}, riError, false, "Socket Error # 10061\nConnection refused.", "", ""});
    EXPECT_EQ(list.topLevelItem(0)->toolTip(0), "Socket Error # 10061\nConnection refused.");
    EXPECT_EQ(list.topLevelItem(0)->toolTip(1), "Socket Error # 10061\nConnection refused.");
    EXPECT_EQ(rows.Row(0).Hint, "Socket Error # 10061\nConnection refused.");
}

// What a tooltip shows: the toolkit renders a text that looks like markup.
QString ShownAsTooltip(const QString& tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument doc;
    doc.setHtml(tip);
    return doc.toPlainText();
}

TEST_F(TreeRowsTest, ServerErrorInTooltipIsShownAsPlainText)
{
    const char* const hints[] = {
        "-ERR <h1><font color=red>x</font></h1>",
        "<img src=file:///etc/passwd>",
        "<b>bold</b> & <i>x</i>",
        "-ERR a < b > c",
    };
    for (const char* hint : hints)
    {
        SCOPED_TRACE(hint);
        rows.Clear();
        rows.Append({"Work", {}, riError, false, hint, "", ""});
        for (int c = 0; c < list.columnCount(); ++c)
            EXPECT_EQ(ShownAsTooltip(list.topLevelItem(0)->toolTip(c)), QString::fromLatin1(hint));
        EXPECT_EQ(rows.Row(0).Hint, hint);
    }
}

// A message's preview becomes its tooltip when first asked for, made then
// from its kept bytes, as plain text, for the row the item stands for now.
TEST_F(TreeRowsTest, PreviewBecomesTheTooltipWhenAskedFor)
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    TMessageRow row{"Work", {"Ann", "a", "1 KB"}};
    row.Preview = TPreview::Of("", "<b>Hi</b> &\r\n  you");
    rows.Append(row);
    rows.Insert(0, {"Work", {"Bob", "b", "1 KB"}});
    EXPECT_FALSE(rows.Row(1).Preview.Made());
    EXPECT_EQ(list.topLevelItem(0)->toolTip(0), "");
    for (int c = 0; c < list.columnCount(); ++c)
        EXPECT_EQ(ShownAsTooltip(list.topLevelItem(1)->toolTip(c)), "<b>Hi</b> & you");
    EXPECT_TRUE(rows.Row(1).Preview.Made());
    EXPECT_EQ(rows.Row(1).Preview.HeldBytes(), 0u);
}

TEST_F(TreeRowsTest, CutRowsAreDrawnDimmed)
{
    rows.Append({"A", {"x", "y", "z"}, riMessage, false, "", "", ""});
    QTreeWidgetItem* item = list.topLevelItem(0);
    const QBrush normal = item->foreground(1);
    const QImage bright = item->icon(0).pixmap(16, 16).toImage();
    rows.SetCut(0, true);
    EXPECT_TRUE(rows.Cut(0));
    EXPECT_EQ(item->foreground(1), list.palette().brush(QPalette::Disabled, QPalette::Text));
    EXPECT_NE(item->icon(0).pixmap(16, 16).toImage(), bright);
    rows.SetCut(0, false);
    EXPECT_EQ(item->foreground(1), normal);
    EXPECT_EQ(item->icon(0).pixmap(16, 16).toImage(), bright);
    rows.SetImageIndex(0, riError);
    EXPECT_EQ(rows.ImageIndex(0), riError);
    EXPECT_NE(item->icon(0).pixmap(16, 16).toImage(), bright);
}

// Every repeat check dims every listed row again: the dimmed picture is made
// once and shared, and made anew when the picture list changes.
TEST(TreeRowsPictures, CutRowsShareOneDimmedPictureThatFollowsThePicture)
{
    const auto solid = [](Qt::GlobalColor colour) {
        QPixmap p(16, 16);
        p.fill(colour);
        return QIcon(p);
    };
    QTreeWidget list;
    list.setColumnCount(6);
    QList<QIcon> pictures{solid(Qt::red), solid(Qt::blue), solid(Qt::yellow)};
    TMessageList rows;
    TMessageListRenderer view{list, rows, [&pictures](int image) { return pictures.value(image); }};
    rows.Append({"A", {"x", "y", "z"}, riMessage, true, "", "", ""});
    rows.Append({"A", {"x", "y", "z"}, riMessage, true, "", "", ""});
    const auto picture = [&list](int r) { return list.topLevelItem(r)->icon(0); };
    EXPECT_EQ(picture(0).cacheKey(), picture(1).cacheKey());
    const QImage blueDimmed = picture(0).pixmap(16, 16).toImage();

    pictures[riMessage] = solid(Qt::green);
    rows.SetCut(0, false);
    rows.SetCut(0, true);
    EXPECT_NE(picture(0).pixmap(16, 16).toImage(), blueDimmed);
    EXPECT_EQ(picture(0).pixmap(16, 16).toImage(),
              pictures[riMessage].pixmap(16, 16, QIcon::Disabled).toImage());
}

TEST_F(TreeRowsTest, RepaintingSuspendedWhileUpdating)
{
    {
        TRowsUpdateGuard outer(rows);
        EXPECT_FALSE(list.updatesEnabled());
        {
            TRowsUpdateGuard inner(rows);
        }
        EXPECT_FALSE(list.updatesEnabled());
    }
    EXPECT_TRUE(list.updatesEnabled());
}

// A repeat check sets every listed row again; only real changes may reach
// the view, or a long list is laid out again row by row.
TEST_F(TreeRowsTest, SettingTheSameValueLeavesTheViewAlone)
{
    rows.Append({"A", {"x", "y", "z"}, riMessage, true, "", "", ""});
    int changes = 0;
    QObject::connect(list.model(), &QAbstractItemModel::dataChanged, [&changes] { ++changes; });
    rows.SetCut(0, true);
    rows.SetImageIndex(0, riMessage);
    EXPECT_EQ(changes, 0);
    rows.SetCut(0, false);
    EXPECT_GT(changes, 0);
    const int afterCut = changes;
    rows.SetImageIndex(0, riError);
    EXPECT_GT(changes, afterCut);
}

} // namespace
