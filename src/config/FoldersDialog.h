#pragma once

#include "check/FolderList.h"
#include "platform/WorkerPool.h"

#include <QDialog>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;
class TIdLineAbort;

// The folders of an IMAP4 account with a check box each, read from its
// server beside the windows as the dialog opens. Special-use folders are
// shown but ticked only as the account stores them; folders that cannot be
// opened are shown dimmed. OK keeps the ticks (Chosen).
class TfrmFolders : public QDialog
{
public:
    TfrmFolders(QWidget* owner, const Account& account, int port, const TSessionLimits& limits = {});
    ~TfrmFolders() override;

    // The account's folder list as the rows are ticked now.
    std::vector<TAccountFolder> Chosen() const;
    // Whether the server's list has come (or its failure).
    bool Loaded() const { return FLoaded; }

    QLabel* lblFolders = nullptr;
    QTreeWidget* lvwFolders = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void ShowFolders(const TServerFolders& found);

    std::vector<TAccountFolder> FStored;
    std::vector<TFolderChoice> FChoices;
    bool FLoaded = false;
    TWorkerPool FPool{1, this};
};
