#include "notify/NewMailForm.h"

#include "check/MessageRows.h"

#include "i18n/Translate.h"
#include "desktop/Animate.h"
#include "desktop/Artwork.h"
#include "desktop/FormParts.h"

#include <QAction>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QTreeWidget>

namespace
{

QFrame* Bevel(QWidget* parent, const char* name)
{
    auto* bevel = Named(new QFrame(parent), name);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    return bevel;
}

QAction* Action(QWidget* owner, const char* name, const char* caption)
{
    auto* action = Named(new QAction(QString::fromUtf8(caption), owner), name);
    // Shortcuts work anywhere in the window.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    owner->addAction(action);
    return action;
}

} // namespace

TfrmNewMail::TfrmNewMail(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmNewMail"));
    setWindowTitle(QStringLiteral("You have got a mail!"));
    // No system menu, hence no caption buttons; above other windows by default.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    // The desktop's font, which the layouts below measure.
    const QFont font = QWidget::font();
    setMinimumSize(380, 175);

    panTitle = Named(new QWidget(this), "panTitle");
    panTitle->setAutoFillBackground(true);
    panTitle->setBackgroundRole(QPalette::Base);
    shpTitle = Named(new QFrame(panTitle), "shpTitle");
    shpTitle->setStyleSheet(QStringLiteral("background: white; border: 1px solid white;"));
    lblNewMessage = Captioned<QLabel>(panTitle, "lblNewMessage", "There is a new message");
    QFont bold = font;
    bold.setBold(true);
    if (bold.pointSizeF() > 0)
        bold.setPointSizeF(bold.pointSizeF() + 1);
    lblNewMessage->setFont(bold);
    lblNewMessage->setTextFormat(Qt::PlainText);
    lblNewMessage->setAttribute(Qt::WA_TranslucentBackground);
    aniNotify = Named(new TAnimate(panTitle), "aniNotify");
    aniNotify->Center = false;
    aniNotify->StopFrame = 8;
    bvlTitleSeparator = Bevel(panTitle, "bvlTitleSeparator");

    panComment = Named(new QWidget(this), "panComment");
    lblComment = WrappedLabel(panComment, "lblComment",
                              "Please, click Read to launch your mail application and see "
                              "the new message(s). You can also see the message(s) also "
                              "by double-clicking into tray icon.");

    actDetails = Action(this, "actDetails", "&Details");
    actDetails->setCheckable(true);
    actDetails->setChecked(true);
    actRead = Action(this, "actRead", "Quick &View");
    actRead->setVisible(false);
    actRead->setEnabled(false);
    actDelete = Action(this, "actDelete", "&Delete");
    actDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    actRefresh = Action(this, "actRefresh", "&Refresh");
    actRefresh->setShortcut(QKeySequence(Qt::Key_F5));
    actMailbox = Action(this, "actMailbox", "&Read");

    btnOk = Captioned<QPushButton>(panComment, "btnOk", "&Ok");
    btnOk->setDefault(true);
    btnRead = Named(new QPushButton(actMailbox->text(), panComment), "btnRead");
    btnDetails = Named(new QPushButton(actDetails->text(), panComment), "btnDetails");
    btnDetails->setCheckable(true);
    connect(btnRead, &QPushButton::clicked, actMailbox, &QAction::trigger);
    connect(btnDetails, &QPushButton::clicked, actDetails, &QAction::trigger);
    connect(btnOk, &QPushButton::clicked, this, &QWidget::close);

    panDetails = Named(new QWidget(this), "panDetails");
    bvlSeparator = Bevel(panDetails, "bvlSeparator");
    lvwMessages = Named(new QTreeWidget(panDetails), "lvwMessages");
    lvwMessages->setFrameShape(QFrame::NoFrame);
    lvwMessages->setRootIsDecorated(false);
    // Every row is one line high: the view need not ask each row for its size.
    lvwMessages->setUniformRowHeights(true);
    lvwMessages->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView* header = lvwMessages->header();
    // A shown header measures its captions, and a section size left to the
    // style is measured too: either loads the fonts, which a window resting
    // hidden in the tray does not need. The header shows with the window.
    header->hide();
    header->setMinimumSectionSize(0);
    lvwMessages->setColumnCount(6);
    lvwMessages->setHeaderLabels({QStringLiteral("Account"), QStringLiteral("From"),
                                  QStringLiteral("Subject"), QStringLiteral("Size"), QString(),
                                  QString()});
    header->setSectionsClickable(false);
    header->setStretchLastSection(false);
    const int widths[] = {100, 100, 150, 100, 0, 0};
    for (int i = 0; i < 6; ++i)
        header->resizeSection(i, widths[i]);
    QFont listFont = font;
    // The rows a little smaller than the window's text, as designed.
    if (listFont.pointSizeF() > 0)
        listFont.setPointSizeF(std::max(7.0, listFont.pointSizeF() - 2));
    lvwMessages->setFont(listFont);
    for (int i = 0; i < 3; ++i)
        imlMessages.append(MessageListIcon(i));
    lvwMessages->setIconSize(QSize(16, 16));

    PopupMenu = Named(new QMenu(this), "PopupMenu");
    mnuRead = actRead;
    mnuMailbox = actMailbox;
    mnuDelete = actDelete;
    mnuRefresh = actRefresh;
    PopupMenu->addActions({mnuRead, mnuMailbox, mnuDelete, mnuRefresh});
    PopupMenu->setDefaultAction(mnuMailbox);
    lvwMessages->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvwMessages, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu->popup(lvwMessages->viewport()->mapToGlobal(at));
    });

    timShowing = Named(new QTimer(this), "timShowing");

    resize(382, TitleHeight + CommentHeight + 143);
    AlignControls();
    CenterOnScreen(*this);

    FRows = std::make_unique<TTreeWidgetRows>(*lvwMessages, [this](int image) {
        return image >= 0 && image < imlMessages.size() ? imlMessages[image] : QIcon();
    });
    FormCreate();
}

TfrmNewMail::~TfrmNewMail() = default;

void TfrmNewMail::FormCreate()
{
    TranslateComponent(this);
    btnRead->setText(actMailbox->text());
    btnDetails->setText(actDetails->text());
    // The details button stays down while the details are shown.
    btnDetails->setChecked(actDetails->isChecked());
    connect(actDetails, &QAction::toggled, btnDetails, &QPushButton::setChecked);
}

void TfrmNewMail::AlignControls()
{
    const int w = width();
    panTitle->setGeometry(0, 0, w, TitleHeight);
    shpTitle->setGeometry(0, 0, w, TitleHeight);
    lblNewMessage->setGeometry(8, 24, 289, 16);
    aniNotify->setGeometry(w - 73, 1, 73, 63);
    bvlTitleSeparator->setGeometry(0, TitleHeight - 2, w, 2);

    panComment->setGeometry(0, TitleHeight, w, CommentHeight);
    const int buttonsLeft = w - 86; // 296 at the designed width, anchored right
    lblComment->setGeometry(10, 10, std::max(0, buttonsLeft - 10 - 21), CommentHeight - 20);
    btnOk->setGeometry(buttonsLeft, 11, 75, 25);
    btnRead->setGeometry(buttonsLeft, 41, 75, 25);
    btnDetails->setGeometry(buttonsLeft, 72, 75, 25);

    const int top = TitleHeight + CommentHeight;
    panDetails->setGeometry(0, top, w, std::max(0, height() - top));
    bvlSeparator->setGeometry(0, 0, w, 2);
    lvwMessages->setGeometry(0, 2, w, std::max(0, panDetails->height() - 2));
}

void TfrmNewMail::setVisible(bool visible)
{
    // Before the window maps, so its first layout already leaves the header room.
    if (visible)
        lvwMessages->header()->show();
    QWidget::setVisible(visible);
}

void TfrmNewMail::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    AlignControls();
}
