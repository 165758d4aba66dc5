#include "notify/NewMailForm.h"

#include "i18n/Translate.h"
#include "desktop/Animate.h"
#include "desktop/Artwork.h"
#include "desktop/FormParts.h"
#include "desktop/WindowTexts.h"
#include "notify/MessageListRenderer.h"

#include <QAction>
#include <QBoxLayout>
#include <QEvent>
#include <QGridLayout>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

namespace
{

QFrame* Bevel(QWidget* parent, const char* name)
{
    auto* bevel = Named(new QFrame(parent), name);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setFixedHeight(2);
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
    setMinimumSize(DesignedMinimum);

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

    LayControls();

    FView = std::make_unique<TMessageListRenderer>(*lvwMessages, FMessages, [this](int image) {
        return image >= 0 && image < imlMessages.size() ? imlMessages[image] : QIcon();
    });
    FormCreate();
}

void TfrmNewMail::EnsureSized()
{
    if (FSized)
        return;
    FSized = true;
    // A size given before (the caller's resize) is kept, as the toolkit
    // keeps it at a first showing; otherwise the designed one.
    if (!testAttribute(Qt::WA_Resized))
    {
        const int width = std::max(DesignedWidth, layout()->totalMinimumSize().width());
        resize(width, FixedPartsHeight(width) + (panDetails->isHidden() ? 0 : DesignedDetailsHeight));
    }
    KeepMinimumSize();
    layout()->activate();
    if (!testAttribute(Qt::WA_Moved))
        CenterOnScreen(*this);
}

void TfrmNewMail::FoldDetails()
{
    if (panDetails->isHidden())
        return;
    const int panel = panDetails->height();
    panDetails->hide();
    if (FSized)
        resize(width(), height() - panel);
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

void TfrmNewMail::LayControls()
{
    // The title: the headline and the animation on the white shape, the
    // bevel along its bottom.
    panTitle->setMinimumHeight(TitleHeight);
    auto* title = new QGridLayout(panTitle);
    title->setContentsMargins(0, 0, 0, 0);
    title->setSpacing(0);
    title->addWidget(shpTitle, 0, 0, 2, 1);
    auto* headline = new QHBoxLayout;
    headline->setContentsMargins(8, 0, 0, 0);
    headline->addWidget(lblNewMessage, 1, Qt::AlignVCenter);
    // The animation is a picture: its box keeps the designed pixels.
    aniNotify->setMinimumSize(73, 63);
    headline->addWidget(aniNotify, 0, Qt::AlignRight | Qt::AlignTop);
    title->addLayout(headline, 0, 0);
    title->addWidget(bvlTitleSeparator, 1, 0);

    // The comment beside its buttons, which keep to the right edge.
    panComment->setMinimumHeight(CommentHeight);
    auto* comment = new QHBoxLayout(panComment);
    comment->setContentsMargins(10, 10, 10, 10);
    comment->setSpacing(21);
    comment->addWidget(lblComment, 1);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(5);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnRead);
    buttons->addWidget(btnDetails);
    buttons->addStretch(1);
    comment->addLayout(buttons);

    // The details take what is left, down to nothing.
    panDetails->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    auto* details = new QVBoxLayout(panDetails);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(0);
    details->addWidget(bvlSeparator);
    details->addWidget(lvwMessages, 1);

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(0);
    form->addWidget(panTitle);
    form->addWidget(panComment);
    form->addWidget(panDetails, 1);
}

int TfrmNewMail::FixedPartsHeight(int width) const
{
    int height = 0;
    for (const QWidget* panel : {panTitle, panComment})
    {
        const int hint = panel->hasHeightForWidth() ? panel->heightForWidth(width) : panel->sizeHint().height();
        height += std::max(panel->minimumHeight(), hint);
    }
    return height;
}

void TfrmNewMail::KeepMinimumSize()
{
    if (!FSized)
        return;
    const QSize needs = QSize(layout()->totalMinimumSize().width(), FixedPartsHeight(width()));
    const QSize grown = minimumSize().expandedTo(needs);
    if (grown == minimumSize())
        return;
    // A fixed frame (details folded) stays fixed, at the size the texts need.
    if (maximumWidth() < grown.width() || maximumHeight() < grown.height())
        setMaximumSize(maximumSize().expandedTo(grown));
    setMinimumSize(grown);
}

void TfrmNewMail::setVisible(bool visible)
{
    // Before the window maps, so its first layout already leaves the header room.
    if (visible)
    {
        lvwMessages->header()->show();
        if (FSized)
            KeepMinimumSize();
        else
            EnsureSized();
    }
    QWidget::setVisible(visible);
}

void TfrmNewMail::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A narrower window wraps the comment onto more lines.
    KeepMinimumSize();
}

bool TfrmNewMail::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // A new headline or translation may need more room than the window has.
    if (event->type() == QEvent::LayoutRequest)
        KeepMinimumSize();
    return handled;
}
