#pragma once

#include "check/MessageList.h"

#include <QIcon>
#include <QList>
#include <QSize>
#include <QWidget>

#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QTreeWidget;
class TAnimate;
class TMessageListRenderer;

// The notification window: the list of waiting messages. Created hidden at
// start and only ever hidden and shown. Its rows are built by the check cycle.
class TfrmNewMail : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmNewMail(QWidget* parent = nullptr);
    ~TfrmNewMail() override;

    // Heights of the fixed parts of the window as designed; they grow where
    // the font or the language needs more.
    static constexpr int TitleHeight = 65;
    static constexpr int CommentHeight = 110;
    static constexpr QSize DesignedMinimum{380, TitleHeight + CommentHeight};
    // The size it opens at, the details shown, unless its texts need more.
    static constexpr int DesignedWidth = 382;
    static constexpr int DesignedDetailsHeight = 143;

    QWidget* panTitle;
    QFrame* shpTitle;
    QLabel* lblNewMessage;
    TAnimate* aniNotify;
    QFrame* bvlTitleSeparator;
    QWidget* panComment;
    QLabel* lblComment;
    QPushButton* btnOk;
    QPushButton* btnRead;
    QPushButton* btnDetails;
    QWidget* panDetails;
    QFrame* bvlSeparator;
    QTreeWidget* lvwMessages;
    // Row pictures: 0 error row, 1 listed message, 2 row of the running check.
    QList<QIcon> imlMessages;

    QAction* actDetails;
    QAction* actRead;
    QAction* actDelete;
    QAction* actRefresh;
    QAction* actMailbox;

    QMenu* PopupMenu;
    QAction* mnuRead;
    QAction* mnuMailbox;
    QAction* mnuDelete;
    QAction* mnuRefresh;

    QTimer* timShowing;

    // The message list the window shows in lvwMessages: edited by the check
    // cycle and by the window's actions.
    TMessageList& Rows() { return FMessages; }
    // How the list is shown, and which of its entries are selected.
    TMessageListRenderer& View() { return *FView; }

    void setVisible(bool visible) override;
    // The designed size, or what the texts need beyond it, once. Measuring
    // texts loads the font system, so it waits for the first showing (or a
    // change of size before it): a program resting in the tray does without.
    void EnsureSized();
    // Hides the details, the window shorter by their height; before the
    // first showing it only hides them, and the window is sized without.
    void FoldDetails();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The panels stacked top to bottom; the buttons anchored right.
    void LayControls();
    // The title and the comment at a window width.
    int FixedPartsHeight(int width) const;
    // Never smaller than the title and comment need, nor than designed.
    void KeepMinimumSize();
    void FormCreate();

    TMessageList FMessages;
    std::unique_ptr<TMessageListRenderer> FView;
    bool FSized = false;
};
