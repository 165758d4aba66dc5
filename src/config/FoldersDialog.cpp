#include "config/FoldersDialog.h"

#include "check/CheckRules.h"
#include "desktop/FormParts.h"
#include "desktop/WindowTexts.h"
#include "i18n/Translate.h"
#include "mail/IdLineAbort.h"
#include "platform/CodePage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TfrmFolders::TfrmFolders(QWidget* owner, const Account& account, int port, const TSessionLimits& limits)
    : QDialog(owner), FStored(account.Folders)
{
    setObjectName("frmFolders");
    setWindowTitle(QStringLiteral("Folders"));
    lblFolders = Captioned<QLabel>(this, "lblFolders", "Reading the folder list...");
    // A folder's name is the server's text, never markup.
    lblFolders->setTextFormat(Qt::PlainText);
    lblFolders->setWordWrap(true);
    lvwFolders = Named(new QTreeWidget(this), "lvwFolders");
    lvwFolders->setHeaderHidden(true);
    lvwFolders->setRootIsDecorated(false);
    btnOk = Captioned<QPushButton>(this, "btnOk", "&Ok");
    btnCancel = Captioned<QPushButton>(this, "btnCancel", "&Cancel");
    btnOk->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblFolders);
    layout->addWidget(lvwFolders, 1);
    layout->addLayout(buttons);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    TranslateComponent(this);

    auto abort = std::make_shared<TIdLineAbort>();
    auto found = std::make_shared<TServerFolders>();
    TWorkerPool::TJob job;
    job.Work = [account, port, limits, abort, found] { *found = ListServerFolders(account, port, limits, abort); };
    job.Done = [this, found] { ShowFolders(*found); };
    job.Abort = [abort] { abort->Abort(); };
    FPool.Run(std::move(job));
}

TfrmFolders::~TfrmFolders()
{
    FPool.AbortAll();
    FPool.Join(1000);
}

void TfrmFolders::ShowFolders(const TServerFolders& found)
{
    FLoaded = true;
    if (!found.Error.empty())
    {
        lblFolders->setText(
            FromCodePage(FormatOne(ResStr("The folder list could not be read: %1"), "%1", found.Error)));
        return;
    }
    lblFolders->setText(FromCodePage(ResStr("Folders to check for new mail:")));
    FChoices = FolderChoices(found.Folders, FStored);
    for (const TFolderChoice& c : FChoices)
    {
        auto* item = new QTreeWidgetItem(lvwFolders);
        item->setText(0, FromCodePage(c.Name));
        item->setCheckState(0, c.Watched ? Qt::Checked : Qt::Unchecked);
        if (!c.Selectable || !c.OnServer)
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
    }
    btnOk->setEnabled(true);
}

std::vector<TAccountFolder> TfrmFolders::Chosen() const
{
    std::vector<TFolderChoice> choices = FChoices;
    for (std::size_t i = 0; i < choices.size() && static_cast<int>(i) < lvwFolders->topLevelItemCount(); ++i)
        if (choices[i].Selectable && choices[i].OnServer)
            choices[i].Watched = lvwFolders->topLevelItem(static_cast<int>(i))->checkState(0) == Qt::Checked;
    return ChosenFolders(choices);
}
